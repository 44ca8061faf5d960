#include "driver/Daemon.h"

#include "driver/DesktopDrives.h"
#include "driver/DeviceTable.h"
#include "driver/FuseFs.h"
#include "driver/Mounts.h"
#include "driver/SavedDrives.h"
#include "driver/Server.h"
#include "driver/StopGuard.h"
#include "port/DosDevices.h"
#include "port/DriveFiles.h"
#include "port/DriverWire.h"
#include "port/FileDiskRecords.h"
#include "port/FileOps.h"
#include "port/Paths.h"
#include "port/Utf.h"
#include "vdrive/VirtualDrive.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace driver {

namespace {

void Fail(const std::string& msg) {
    std::fprintf(stderr, "spindle-driver: %s\n", msg.c_str());
}

// Removes every binding of a letter to one of the driver's devices. At start
// they are left by a driver that ended without a clean stop (its mounts did
// not survive it); at a clean stop its mounts end.
void RemoveDriverLetters() {
    struct stat st {};
    if (lstat(port::DosDeviceDir().c_str(), &st) != 0)
        return; // no table yet: nothing bound
    const std::string prefix = port::ToUtf8(vdrive::kDevicePrefix);
    for (const std::string& name : port::DosDeviceNames()) {
        auto targets = port::DosDeviceTargets(name);
        if (!targets)
            continue;
        for (const std::string& t : *targets)
            if (t.starts_with(prefix))
                port::RemoveDosDevice(name, t, true);
    }
}

// How long a stop may take once the loop was told to end: the loop's own
// end, the list of drives, and the sessions and mounts, each bounded at a
// few seconds of its own, fit well inside.
constexpr std::chrono::seconds kStopLimit(20);

// The end of a stop that did not finish in time. The drives folder is
// detached lazily (files still open there stay readable until closed), the
// letters and the socket go, and the process ends as a stop would. The
// drives' own mounts in the media folder end with the process; the next
// driver detaches what is left of them.
[[noreturn]] void AbandonStop(const std::string& drives, const std::string& socketPath) {
    std::fprintf(stderr,
                 "spindle-driver: the stop did not end within %lld s; the drives are detached\n",
                 static_cast<long long>(kStopLimit.count()));
    DetachStaleMount(drives);
    unlink(socketPath.c_str());
    RemoveDriverLetters();
    _exit(kExitOk);
}

// Whether `letter` still points at the device in the drive table.
bool LetterPointsAt(char letter, DeviceId dev) {
    return port::FirstDosDeviceTarget(std::string(1, letter) + ":") == DeviceName(dev);
}

// Writes one status byte to the parent waiting in --daemon mode.
void Report(int fd, int status) {
    if (fd < 0)
        return;
    auto b = static_cast<unsigned char>(status);
    while (write(fd, &b, 1) < 0 && errno == EINTR) {
    }
    close(fd);
}

// The runtime folder as an absolute path (a daemon leaves its working folder).
bool ResolveRuntime(std::string& runtime) {
    if (!port::PrivateRuntimeDir(runtime)) {
        Fail(port::RuntimeDirProblem(runtime, errno));
        return false;
    }
    char buf[PATH_MAX];
    if (!realpath(runtime.c_str(), buf)) {
        Fail("cannot resolve the runtime folder " + runtime + ": " + strerror(errno));
        return false;
    }
    runtime = buf;
    return true;
}

// Takes the runtime folder's lock and writes this process's number into it:
// the lock's descriptor, or -1 with `status` set.
int TakeLock(const std::string& runtime, int& status) {
    status = kExitFailure;
    // A driver answering on the socket is running, even if its lock file
    // was deleted under it.
    if (DriverStatus() == 0) {
        Fail("another spindle-driver is already running for " + runtime);
        status = kExitAlreadyRunning;
        return -1;
    }
    const std::string lockPath = runtime + "/driver.lock";
    // Never through a link, and only a file of our own: the PID is written
    // into it.
    int lockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    struct stat lockStat {};
    if (lockFd >= 0 && (fstat(lockFd, &lockStat) != 0 || !S_ISREG(lockStat.st_mode) ||
                        lockStat.st_uid != getuid() || lockStat.st_nlink != 1)) {
        close(lockFd);
        Fail(lockPath + " is not a file of this user's own; the driver does not start");
        return -1;
    }
    if (lockFd < 0 || flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        if (lockFd >= 0 && errno == EWOULDBLOCK) {
            Fail("another spindle-driver is already running for " + runtime);
            status = kExitAlreadyRunning;
        } else {
            Fail("cannot lock " + lockPath + ": " + strerror(errno));
        }
        if (lockFd >= 0)
            close(lockFd);
        return -1;
    }
    // The lock file names the running driver's process.
    std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(lockFd, 0) == 0) {
        ssize_t written = pwrite(lockFd, pid.data(), pid.size(), 0);
        (void)written; // only informative
    }
    return lockFd;
}

// The drives folder, empty of whatever an earlier driver left mounted there.
bool PrepareDrivesFolder(const std::string& drives) {
    if (!DetachStaleMount(drives)) {
        Fail("a stale mount at " + drives + " cannot be detached");
        return false;
    }
    struct stat drivesStat {};
    if (!port::MakeDirs(drives, 0755) || lstat(drives.c_str(), &drivesStat) != 0 ||
        !S_ISDIR(drivesStat.st_mode)) {
        Fail("cannot create the folder " + drives + ": " +
             strerror(S_ISLNK(drivesStat.st_mode) ? ELOOP : errno));
        return false;
    }
    return true;
}

// A drive is in use while a process works in one of its folders, in the
// drives folder or in its own mount, or holds one open.
DeviceTable::UseCheck InUseCheck(const std::string& drives, DesktopDrives& desktop) {
    return [&drives, &desktop](const Mount& m) {
        const std::string own = desktop.MountPointOf(m.serial);
        dev_t drivesDev = 0, ownDev = 0;
        for (const MountEntry& e : CurrentMounts()) {
            if (e.point == drives)
                drivesDev = e.dev;
            else if (!own.empty() && e.point == own)
                ownDev = e.dev;
        }
        return ProcessesUse([&](dev_t dev, std::uint64_t ino) {
            // Inode numbers of the drives folder carry their mount's serial.
            return (drivesDev != 0 && dev == drivesDev && (ino >> 32) == m.serial) ||
                   (ownDev != 0 && dev == ownDev);
        });
    };
}

// Tells the waiting parent (or test) that the driver is ready; a daemon
// lets go of the terminal first.
void BecomeReady(const DaemonOptions& opts, int readyFd) {
    if (readyFd < 0)
        return;
    if (opts.daemon && !opts.verbose) {
        int devnull = open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            dup2(devnull, STDIN_FILENO);
            dup2(devnull, STDOUT_FILENO);
            dup2(devnull, STDERR_FILENO);
            close(devnull);
        }
    }
    Report(readyFd, kExitOk);
}

int Serve(const DaemonOptions& opts, const std::string& runtime, int readyFd) {
    int status = kExitFailure;
    const int lockFd = TakeLock(runtime, status);
    if (lockFd < 0)
        return status;
    {
        // A mount that a racing request began before this driver answered
        // holds the lock until it has failed and taken its letter back.
        port::FileLock mounts(vdrive::MountLockPath());
        RemoveDriverLetters();
    }
    const std::string drives = runtime + "/drives";
    if (!PrepareDrivesFolder(drives))
        return kExitFailure;

    DeviceTable table;
    table.SetBindingCheck(LetterPointsAt);
    FuseFs fs(table, opts.verbose, opts.allowOther);
    if (const SetupFault fault = fs.Mount(drives); !fault.ok()) {
        Fail(Describe(fault));
        return kExitNoFuse;
    }
    // Each drive also gets a mount of its own where file managers look.
    MediaFolder media;
    OpenMediaFolder(media);
    DesktopDrives desktop(table, &fs, media, opts.verbose, opts.allowOther);
    desktop.KeepLinksIn(runtime + "/desktop");
    Server server(table);
    const std::string socketPath = runtime + "/" + port::wire::kSocketName;
    if (!server.Listen(socketPath)) {
        Fail("cannot listen on " + socketPath + ": " + strerror(errno));
        return kExitFailure;
    }
    table.SetUseCheck(InUseCheck(drives, desktop));
    table.SetObserver(&desktop);
    fs.CatchSignals();
    // A stop that has not ended within this time (a request that never
    // returns holds the loop) detaches the mounts and ends the process: a
    // driver that was told to stop never stays.
    StopGuard guard([&fs] { return fs.Exited(); }, kStopLimit,
                    [&drives, socketPath] { AbandonStop(drives, socketPath); });
    server.Start();
    // Restoring mounts through the socket and the file system, so it runs
    // beside the loop; the driver is ready once it is done.
    std::optional<DriveRestorer> restorer;
    if (opts.restore)
        restorer.emplace([&opts, readyFd] { BecomeReady(opts, readyFd); });
    else
        BecomeReady(opts, readyFd);
    fs.Loop();
    // A stop during the restore keeps the list: some drives were not tried.
    if (!restorer || restorer->Finish(std::chrono::seconds(3)))
        SaveDrives(table, LetterPointsAt);

    table.SetObserver(nullptr);
    bool stopped = server.Stop(std::chrono::seconds(3));
    stopped = desktop.StopAll(std::chrono::seconds(3)) && stopped;
    fs.Unmount();
    restorer.reset(); // a restore still held by the file system ends with it
    RemoveDriverLetters();
    if (!stopped)
        _exit(kExitOk); // a connection or a drive's mount still busy: not waited for
    close(lockFd);
    return kExitOk;
}

} // namespace

int RunDriver(const DaemonOptions& opts) {
    std::string runtime;
    if (opts.readyFd >= 0)
        fcntl(opts.readyFd, F_SETFD, FD_CLOEXEC); // not for the helpers it runs
    if (!opts.daemon) {
        int status = ResolveRuntime(runtime) ? Serve(opts, runtime, opts.readyFd) : kExitFailure;
        // Reached on failure before readiness (the byte says so), or at the
        // end of a normal run (the descriptor is long closed).
        if (status != kExitOk)
            Report(opts.readyFd, status);
        return status;
    }
    if (!ResolveRuntime(runtime))
        return kExitFailure;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        Fail(std::string("pipe: ") + strerror(errno));
        return kExitFailure;
    }
    pid_t pid = fork();
    if (pid < 0) {
        Fail(std::string("fork: ") + strerror(errno));
        return kExitFailure;
    }
    if (pid == 0) {
        close(pipeFds[0]);
        setsid();
        int rc = chdir("/");
        (void)rc; // "/" is always there; nothing depends on it
        int status = Serve(opts, runtime, pipeFds[1]);
        // Reached on failure before readiness (the byte tells the parent),
        // or at the end of a normal run (the pipe is long closed).
        Report(status == kExitOk ? -1 : pipeFds[1], status);
        _exit(status);
    }
    close(pipeFds[1]);
    unsigned char b = 0;
    ssize_t n;
    while ((n = read(pipeFds[0], &b, 1)) < 0 && errno == EINTR) {
    }
    close(pipeFds[0]);
    if (n == 1)
        return b;
    // The child died without a word.
    int status = 0;
    waitpid(pid, &status, 0);
    Fail("the driver ended before it was ready");
    return kExitFailure;
}

int DriverStatus() {
    return port::DriverAnswers() ? 0 : 1;
}

} // namespace driver
