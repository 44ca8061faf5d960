#include "vdrive/DrivesFile.h"

#include "port/FileOps.h"
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
        if (port::ReplaceFile(dir + kFileName, text, 0644))
            return dir + kFileName;
    }
    return {};
}

} // namespace vdrive
