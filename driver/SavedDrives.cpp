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
#include <optional>
#include <pthread.h>
#include <sys/stat.h>

namespace driver {

namespace {

// A list larger than this is no list the driver wrote: it writes one pair
// of lines a drive, a few hundred bytes each.
constexpr std::size_t kMaxListBytes = 64 << 10;
// Nor does it list more drives than there are letters.
constexpr std::size_t kMaxListedDrives = 26;

void Say(const std::string& sentence) {
    std::fprintf(stderr, "spindle-driver: %s\n", sentence.c_str());
}

std::string DriveText(char16_t letter) {
    return std::string("drive ") + static_cast<char>(letter) + ":";
}

enum class Restored { Yes, No, ImageMissing };

// Mounts one listed drive as the mount page does (read-only, a CD device);
// says why when it cannot, except for an image that is not there (yet).
Restored Restore(const vdrive::ListedDrive& drive) {
    const std::string path = port::PathToUtf8(drive.imageName);
    const std::string what = DriveText(drive.letter);
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR))
        return Restored::ImageMissing;
    vdrive::MountRequest request;
    request.imagePath = drive.imageName;
    port::ErrorCode error = port::ERROR_SUCCESS;
    if (vdrive::MountImage(drive.letter, request, error)) {
        Say(what + " is restored from " + path);
        return Restored::Yes;
    }
    if (error == port::ERROR_BUSY)
        Say(what + " is not restored from " + path + ": the letter is taken now");
    else
        Say(what + " is not restored from " + path + ": " + port::DescribeError(error) +
            " (error " + std::to_string(error) + ")");
    return Restored::No;
}

// The drives of the list, no more than there are letters; nothing (said
// when it is not merely missing) when the list cannot be read.
std::optional<std::vector<vdrive::ListedDrive>> ReadList() {
    const std::string path = SavedDrivesPath();
    auto text = port::ReadWholeFile(path, kMaxListBytes);
    if (!text) {
        if (errno != ENOENT)
            Say("cannot read the list of drives to restore, " + path + ": " +
                port::ReadFailureText(errno, kMaxListBytes));
        return std::nullopt;
    }
    std::vector<vdrive::ListedDrive> drives = vdrive::ParseDrivesFile(*text);
    if (drives.size() > kMaxListedDrives) {
        Say("the list of drives to restore, " + path + ", names " + std::to_string(drives.size()) +
            " drives; only the first " + std::to_string(kMaxListedDrives) + " are restored");
        drives.resize(kMaxListedDrives);
    }
    return drives;
}

// Tries every drive of the list unless told to stop; true when all were tried.
// An image may lie inside another listed drive, whatever the order of their
// letters: one that is missing is tried again after a round that restored
// some drive, until a round restores none.
bool RestoreAll(const std::atomic<bool>& stop) {
    auto pending = ReadList();
    if (!pending)
        return true;
    bool progress = true;
    while (!pending->empty() && progress) {
        progress = false;
        std::vector<vdrive::ListedDrive> missing;
        for (const vdrive::ListedDrive& drive : *pending) {
            if (stop)
                return false;
            Restored r = Restore(drive);
            progress = progress || r == Restored::Yes;
            if (r == Restored::ImageMissing)
                missing.push_back(drive);
        }
        *pending = std::move(missing);
    }
    for (const vdrive::ListedDrive& drive : *pending)
        Say(DriveText(drive.letter) + " is not restored: its image " +
            port::PathToUtf8(drive.imageName) + " no longer exists");
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
        drives.push_back({static_cast<char16_t>(letter), port::PathToUtf16(mount->ntName)});
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
        bool complete = RestoreAll(m_stop);
        {
            std::lock_guard lock(m_mutex);
            m_complete = complete;
            m_done = true;
        }
        m_ended.notify_all();
        done();
    });
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

DriveRestorer::~DriveRestorer() {
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

bool DriveRestorer::Finish(std::chrono::milliseconds wait) {
    m_stop = true;
    std::unique_lock lock(m_mutex);
    return m_ended.wait_for(lock, wait, [this] { return m_done; }) && m_complete;
}

} // namespace driver
