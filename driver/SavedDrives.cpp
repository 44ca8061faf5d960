#include "driver/SavedDrives.h"

#include "port/Errors.h"
#include "port/FileOps.h"
#include "port/Paths.h"
#include "port/Utf.h"
#include "vdrive/DrivesFile.h"
#include "vdrive/VirtualDrive.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <sys/stat.h>

namespace driver {

namespace {

// A list larger than this is no list the driver wrote (64 drives at most).
constexpr std::size_t kMaxListBytes = 1 << 20;

void Say(const std::string& sentence) {
    std::fprintf(stderr, "spindle-driver: %s\n", sentence.c_str());
}

std::string DriveText(char16_t letter) {
    return std::string("drive ") + static_cast<char>(letter) + ":";
}

// Mounts one listed drive as the mount page does (read-only, a CD device);
// says why when it cannot.
void Restore(const vdrive::ListedDrive& drive) {
    const std::string path = port::ToUtf8(drive.imageName);
    const std::string what = DriveText(drive.letter);
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
        Say(what + " is not restored: its image " + path + " no longer exists");
        return;
    }
    vdrive::MountRequest request;
    request.imagePath = drive.imageName;
    port::ErrorCode error = port::ERROR_SUCCESS;
    if (vdrive::MountImage(drive.letter, request, error))
        Say(what + " is restored from " + path);
    else if (error == port::ERROR_BUSY)
        Say(what + " is not restored from " + path + ": the letter is taken now");
    else
        Say(what + " is not restored from " + path + ": " + port::DescribeError(error) +
            " (error " + std::to_string(error) + ")");
}

// Tries every drive of the list unless told to stop; true when all were tried.
bool RestoreAll(const std::atomic<bool>& stop) {
    const std::string path = SavedDrivesPath();
    auto text = port::ReadWholeFile(path, kMaxListBytes);
    if (!text) {
        if (errno != ENOENT)
            Say("cannot read the list of drives to restore, " + path + ": " + strerror(errno));
        return true;
    }
    for (const vdrive::ListedDrive& drive : vdrive::ParseDrivesFile(*text)) {
        if (stop)
            return false;
        Restore(drive);
    }
    return true;
}

} // namespace

std::string SavedDrivesPath() {
    return port::StateDir() + "/drives.ini";
}

bool SaveDrives(const DeviceTable& table, const DeviceTable::BindingCheck& bound) {
    std::vector<vdrive::ListedDrive> drives;
    for (const auto& [letter, serial] : table.Drives()) {
        auto mount = table.ByLetter(letter);
        if (!mount || (bound && !bound(letter, mount->device)))
            continue;
        if (mount->ntName.find_first_of("\r\n") != std::string::npos) {
            Say(DriveText(static_cast<char16_t>(letter)) +
                " is left out of the list of drives to restore: its image name holds a line break");
            continue;
        }
        drives.push_back({static_cast<char16_t>(letter), port::ToUtf16(mount->ntName)});
    }
    const std::string path = SavedDrivesPath();
    if (!port::MakeDirs(port::StateDir(), 0700) ||
        !port::ReplaceFile(path, vdrive::FormatDrivesFile(drives), 0600)) {
        Say("cannot write the list of drives to restore, " + path + ": " + strerror(errno));
        return false;
    }
    return true;
}

DriveRestorer::DriveRestorer(std::function<void()> done) {
    // Signals are for the FUSE loop's threads: the thread starts with every
    // signal blocked, so SIGTERM always reaches a thread that ends the loop.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    m_thread = std::thread([this, done = std::move(done)] {
        m_complete = RestoreAll(m_stop);
        done();
    });
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

DriveRestorer::~DriveRestorer() {
    Finish();
}

bool DriveRestorer::Finish() {
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    return m_complete;
}

} // namespace driver
