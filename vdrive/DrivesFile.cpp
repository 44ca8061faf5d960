#include "vdrive/DrivesFile.h"

#include "port/Paths.h"
#include "port/Utf.h"
#include "vdrive/VirtualDrive.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vdrive {

namespace {

constexpr char kFileName[] = "drives.ini";

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes text to a new file in dir and renames it over dir + name.
bool ReplaceFile(const std::string& dir, const std::string& name, const std::string& text) {
    std::string temp = dir + "." + name + ".XXXXXX";
    int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = fchmod(fd, 0644) == 0 && WriteAll(fd, text) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok && std::rename(temp.c_str(), (dir + name).c_str()) == 0)
        return true;
    unlink(temp.c_str());
    return false;
}

} // namespace

std::vector<ListedDrive> ListDriverDrives() {
    std::vector<ListedDrive> drives;
    for (char16_t letter = u'C'; letter <= u'Z'; ++letter) {
        if (auto info = QueryMountedImage(letter))
            drives.push_back({letter, info->imageName});
    }
    return drives;
}

std::string FormatDrivesFile(const std::vector<ListedDrive>& drives) {
    std::string text = "[DRIVES]\r\n";
    int n = 0;
    for (const ListedDrive& d : drives) {
        std::u16string_view name = d.imageName;
        std::u16string path(name.substr(0, 4) == u"\\??\\" ? FromNtPath(name) : name);
        text += "drive" + std::to_string(n) + " = " + static_cast<char>(d.letter) + "\r\n";
        text += "file" + std::to_string(n) + " = " + port::ToUtf8(path) + "\r\n";
        ++n;
    }
    return text;
}

std::string WriteDrivesFile() {
    const std::string text = FormatDrivesFile(ListDriverDrives());
    for (const std::string& dir : {port::ProgramDir(), port::ConfigDir() + "/"}) {
        if (ReplaceFile(dir, kFileName, text))
            return dir + kFileName;
    }
    return {};
}

} // namespace vdrive
