#include "driver/DesktopDrives.h"

#include "driver/FuseFs.h"
#include "driver/Mounts.h"
#include "port/DosDevices.h"
#include "port/Paths.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace driver {

namespace {

// How long an eject from the desktop waits for files closed just before it.
constexpr std::chrono::milliseconds kCloseGrace(500);

void BlockSignals() {
    sigset_t set;
    sigfillset(&set);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

std::string UserName() {
    const passwd* pw = getpwuid(getuid());
    return pw ? pw->pw_name : "";
}

// The volume monitor that desktops with a file manager run (GIO asks it over
// D-Bus when it is installed).
constexpr const char* kDesktopMonitor = "/usr/share/gvfs/remote-volume-monitors/udisks2.monitor";

// The drive's source in the mount table. GIO tells a disc from a hard disk
// only by the source: one under /dev/cd shows with the optical disc icon. No
// such device exists, and the type stays fuse.spindle, so nothing takes it
// for a block device. Where the desktop's volume monitor runs, the file
// manager's eject button unmounts such a mount (that monitor offers no eject
// for a mount without a disk behind it), which dismounts the drive (see
// Ended). GIO's own monitor would offer an eject as well, which runs
// eject(1) on that source and fails, or aborts the program when eject(1) is
// missing: without the desktop's monitor the drive keeps the plain source,
// whose only offer is the unmount.
std::string SourceName(char letter, Family family) {
    static const bool optical = access(kDesktopMonitor, F_OK) == 0;
    return (family == Family::Cd && optical ? "/dev/cd-spindle-" : "spindle:") +
           std::string(1, letter);
}

} // namespace

bool OpenMediaFolder(MediaFolder& media) {
    const std::string user = UserName(), home = port::HomeDir();
    const std::string runMedia = "/run/media/" + user;
    struct stat st {};
    bool runMediaUsable = !user.empty() && lstat(runMedia.c_str(), &st) == 0 &&
                          S_ISDIR(st.st_mode) && access(runMedia.c_str(), W_OK | X_OK) == 0;
    std::string path = ChooseMediaFolder(port::DrivesConfMedia(), user, home, runMediaUsable);
    if (path.empty())
        return false;
    if (const SetupFault fault = media.Open(path); !fault.ok()) {
        std::fprintf(stderr, "spindle-driver: %s; drives are not shown to the desktop\n",
                     Describe(fault).c_str());
        return false;
    }
    // Done before the driver reports ready: a drive mounted next must not
    // find its folder still taken by a dead driver's mount.
    std::vector<std::string> stuck;
    media.DetachStale(DesktopDrives::kFsType, &stuck);
    for (const std::string& point : stuck)
        std::fprintf(
            stderr, "spindle-driver: the mount %s left by a driver that ended cannot be detached\n",
            point.c_str());
    if (!ShownByDesktop(media.path() + "/", user, home))
        std::fprintf(stderr, "spindle-driver: file managers do not list drives in %s\n",
                     media.path().c_str());
    return true;
}

struct DesktopDrives::Shown {
    std::uint32_t serial = 0;
    char letter = 0;
    DeviceId device;
    std::string name; // of the folder in the media folder
    std::unique_ptr<FuseFs> fs;
    bool hiding = false; // unmounted by the driver itself
};

DesktopDrives::DesktopDrives(DeviceTable& table, DeviceTable::Observer* next, MediaFolder& media,
                             bool verbose, bool allowOther)
    : m_table(table), m_next(next), m_media(media), m_verbose(verbose), m_allowOther(allowOther) {}

DesktopDrives::~DesktopDrives() {
    StopAll(std::chrono::seconds(2));
    if (m_linkFd >= 0)
        close(m_linkFd);
}

void DesktopDrives::KeepLinksIn(const std::string& folder) {
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return;
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    if (DIR* d = fdopendir(dup(fd))) {
        while (dirent* e = readdir(d))
            if (std::strlen(e->d_name) == 1 && e->d_name[0] >= 'A' && e->d_name[0] <= 'Z')
                unlinkat(fd, e->d_name, 0);
        closedir(d);
    }
    std::lock_guard lock(m_mutex);
    m_linkFd = fd;
}

void DesktopDrives::Link(char letter, const std::string& target) {
    if (m_linkFd < 0)
        return;
    const char name[2] = {letter, 0};
    unlinkat(m_linkFd, name, 0);
    symlinkat(target.c_str(), m_linkFd, name);
}

void DesktopDrives::Unlink(char letter) {
    if (m_linkFd < 0)
        return;
    const char name[2] = {letter, 0};
    unlinkat(m_linkFd, name, 0);
}

void DesktopDrives::DriveChanged(char letter) {
    if (m_next)
        m_next->DriveChanged(letter);
    if (!m_media.open())
        return;
    auto m = m_table.ByLetter(letter);
    std::lock_guard lock(m_mutex);
    if (m_stopping)
        return;
    auto it = m_shown.find(letter);
    if (it != m_shown.end() && (!m || it->second->serial != m->serial)) {
        HideLocked(it->second);
        m_shown.erase(it);
    }
    if (m && !m_shown.count(letter))
        ShowLocked(m);
}

void DesktopDrives::ShowLocked(const std::shared_ptr<Mount>& m) {
    auto s = std::make_shared<Shown>();
    s->serial = m->serial;
    s->letter = m->letter;
    s->device = m->device;
    s->name = DriveFolderName(m->image->volumeId(), m->letter, m->device.family == Family::Cd);
    if (!m_media.MakeDriveFolder(s->name)) {
        if (m_verbose)
            std::fprintf(stderr,
                         "spindle-driver: %s/%s is taken; drive %c: is not shown to the desktop\n",
                         m_media.path().c_str(), s->name.c_str(), s->letter);
        return;
    }
    s->fs = std::make_unique<FuseFs>(m_table, m_verbose, m_allowOther);
    s->fs->ServeOneDrive(s->serial, SourceName(s->letter, s->device.family));
    if (const SetupFault fault = s->fs->Mount(m_media.path() + "/" + s->name); !fault.ok()) {
        s->fs.reset();
        m_media.RemoveDriveFolder(s->name);
        if (m_verbose)
            std::fprintf(stderr, "spindle-driver: %s\n", Describe(fault).c_str());
        return;
    }
    m_shown[s->letter] = s;
    Link(s->letter, m_media.path() + "/" + s->name);
    ++m_running;
    std::thread([this, s]() mutable {
        BlockSignals(); // signals are for the drives folder's loop
        s->fs->Loop();
        Ended(std::move(s));
    }).detach();
}

void DesktopDrives::HideLocked(const std::shared_ptr<Shown>& s) {
    s->hiding = true;
    Unlink(s->letter);
    // Lazily: a folder still open in a file manager goes from view now, and
    // the session ends once it is let go.
    DetachStaleMount(m_media.path() + "/" + s->name);
    m_media.RemoveDriveFolder(s->name);
}

void DesktopDrives::Ended(std::shared_ptr<Shown> s) {
    // The connection is gone: this frees the session without another unmount.
    s->fs->Unmount();
    bool fromOutside = false;
    {
        std::lock_guard lock(m_mutex);
        if (!s->hiding && !m_stopping) {
            fromOutside = true;
            s->hiding = true;
            Unlink(s->letter);
            auto it = m_shown.find(s->letter);
            if (it != m_shown.end() && it->second == s)
                m_shown.erase(it);
        }
    }
    if (fromOutside) {
        m_media.RemoveDriveFolder(s->name);
        DismountFromDesktop(*s);
    }
    s.reset(); // the last reference: freed before StopAll may return
    std::lock_guard lock(m_mutex);
    --m_running;
    m_ended.notify_all();
}

void DesktopDrives::DismountFromDesktop(const Shown& s) {
    auto m = m_table.BySerial(s.serial);
    if (!m)
        return; // dismounted meanwhile
    // As a client's dismount does it: the image first, then the letter.
    if (m_table.TryRemove(m, kCloseGrace)) {
        port::RemoveDosDevice(std::string(1, s.letter) + ":", DeviceName(s.device), true);
        return;
    }
    // A file of the drive is open (in drives/K): the drive stays in use, and
    // so it is shown again.
    std::lock_guard lock(m_mutex);
    if (!m_stopping && !m_shown.count(s.letter) && m_table.BySerial(s.serial))
        ShowLocked(m);
}

std::string DesktopDrives::MountPointOf(std::uint32_t serial) {
    std::lock_guard lock(m_mutex);
    for (const auto& [letter, s] : m_shown)
        if (s->serial == serial)
            return m_media.path() + "/" + s->name;
    return {};
}

bool DesktopDrives::StopAll(std::chrono::milliseconds wait) {
    std::unique_lock lock(m_mutex);
    m_stopping = true;
    for (auto& [letter, s] : m_shown)
        HideLocked(s);
    m_shown.clear();
    return m_ended.wait_for(lock, wait, [this] { return m_running == 0; });
}

} // namespace driver
