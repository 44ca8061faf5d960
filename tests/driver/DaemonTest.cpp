// spindle-driver as a real daemon: its socket, its FUSE folder, files read
// back byte for byte, closing a drive with a file held open, random messages,
// start and stop. Each test runs its own driver in a temporary runtime folder.
#include "port/DriverWire.h"
#include "port/Errors.h"
#include "port/Utf.h"
#include "tests/support/DiscWrap.h"
#include "tests/support/DriverProcess.h"
#include "tests/support/Iso.h"
#include "vdrive/DriveRecords.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>
#include <random>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace spindle_test;
using namespace port;
namespace w = port::wire;

namespace {

const char* kCd0 = "\\Device\\FileDisk\\FileDiskCd0";
const char* kCd1 = "\\Device\\FileDisk\\FileDiskCd1";

// Exit status of a command run with the test's environment.
int Status(const std::string& cmd) {
    int rc = std::system((cmd + " 2>/dev/null").c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// One handle of a drive: a connection to the driver.
class Client {
public:
    Client(const std::string& socketPath, const std::string& device, char16_t letter) {
        m_fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        socketPath.copy(addr.sun_path, sizeof addr.sun_path - 1);
        timeval tv{20, 0};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        if (connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            return;
        auto reply = Exchange(w::Encode(w::Hello{letter, device}));
        auto hello = w::DecodeHelloReply(reply.data(), reply.size());
        hello_ = hello ? hello->error : ERROR_GEN_FAILURE;
    }
    ~Client() {
        if (m_fd >= 0)
            close(m_fd);
    }
    ErrorCode hello() const { return hello_; }

    std::vector<std::uint8_t> Exchange(const std::vector<std::uint8_t>& msg) {
        if (send(m_fd, msg.data(), msg.size(), MSG_NOSIGNAL) < 0)
            return {};
        std::vector<std::uint8_t> buf(w::kWireMaxMessage + 16);
        ssize_t n = recv(m_fd, buf.data(), buf.size(), 0);
        buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return buf;
    }
    ErrorCode Call(std::uint32_t code, std::vector<std::uint8_t> in = {}, std::uint32_t cap = 0,
                   std::vector<std::uint8_t>* out = nullptr) {
        auto bytes = Exchange(w::Encode(w::Request{code, cap, std::move(in)}));
        auto reply = w::DecodeReply(bytes.data(), bytes.size());
        if (!reply)
            return ERROR_BROKEN_PIPE;
        if (out)
            *out = reply->output;
        return reply->error;
    }
    ErrorCode Open(const std::string& path) {
        auto rec = vdrive::BuildAttachRecordW(u"\\??\\" + ToUtf16(path), 0, 0, true);
        return Call(vdrive::IOCTL_FILEDISK_OPEN_FILE_W,
                    {rec->bytes.begin(), rec->bytes.begin() + rec->sentSize});
    }
    ErrorCode Close() { return Call(vdrive::IOCTL_FILEDISK_CLOSE_FILE); }
    ErrorCode Dismount() { return Call(vdrive::FSCTL_DISMOUNT_VOLUME); }
    ErrorCode Query(std::vector<std::uint8_t>* out = nullptr) {
        return Call(vdrive::IOCTL_FILEDISK_QUERY_FILE, {}, 276, out);
    }

private:
    int m_fd = -1;
    ErrorCode hello_ = ERROR_PATH_NOT_FOUND;
};

// Whether a driver can mount its folder here at all: asked once, of a
// driver in the test's runtime folder (exit status 3 means no FUSE).
bool FuseWorks() {
    static const bool works = access("/dev/fuse", R_OK | W_OK) == 0 && DriverProcess().ready();
    return works;
}

class DaemonTest : public testing::Test {
protected:
    void SetUp() override {
        runtime = tmp.path() + "/rt";
        drives = runtime + "/drives";
        socketPath = runtime + "/driver.sock";
        setenv("SPINDLE_RUNTIME_DIR", runtime.c_str(), 1);
        setenv("SPINDLE_CONFIG_DIR", (tmp.path() + "/config").c_str(), 1);
        setenv("SPINDLE_STATE_DIR", (tmp.path() + "/state").c_str(), 1);
        setenv("SPINDLE_PROGRAM_DIR", (tmp.path() + "/program").c_str(), 1);
        setenv("HOME", tmp.path().c_str(), 1); // drives are shown in <home>/Spindle
        if (!FuseWorks()) {
            runtime.clear();
            GTEST_SKIP() << "FUSE is not available here (no /dev/fuse, or mounting is refused)";
        }
    }
    void TearDown() override {
        if (runtime.empty())
            return;
        Stop();
    }

    // --daemon returns once the socket answers.
    void StartDaemon() { ASSERT_EQ(Status(std::string(SPINDLE_DRIVER_EXE) + " --daemon"), 0); }

    // The driver in the foreground, as a child of the test.
    std::unique_ptr<DriverProcess> StartForeground() {
        auto driver = std::make_unique<DriverProcess>();
        EXPECT_TRUE(driver->ready());
        return driver;
    }

    pid_t DaemonPid() {
        return static_cast<pid_t>(std::atoi(ReadFile(runtime + "/driver.lock").c_str()));
    }

    // Ends the running driver (if any) with SIGTERM and waits, bounded, for it.
    void Stop() {
        pid_t pid = DaemonPid();
        if (pid > 0 && kill(pid, SIGTERM) == 0)
            WaitForExit(pid, 5000);
    }

    std::string MakeImage(IsoTool tool = IsoTool::Xorriso) {
        std::string src = tmp.path() + "/src";
        if (!Exists(src))
            files = MakeSampleTree(src);
        std::string iso = tmp.path() + "/" + ToolName(tool) + ".iso";
        EXPECT_TRUE(BuildIso(tool, src, iso));
        return iso;
    }

    // Starts the driver, mounts MakeImage() on K: and runs `check` on each
    // of the image's two data files (its path in the image), a large one and
    // one deep in folders.
    using FileCheck = std::function<void(const std::string& iso, const std::string& rel)>;
    void ForEachFileOnK(const FileCheck& check) {
        StartDaemon();
        const std::string iso = MakeImage();
        Client k(socketPath, kCd0, u'K');
        ASSERT_EQ(k.Open(iso), ERROR_SUCCESS);
        for (const std::string rel : {"big.bin", "a folder/deeper/still deeper/data.bin"}) {
            SCOPED_TRACE(rel);
            check(iso, rel);
        }
    }

    TempDir tmp;
    std::string runtime, drives, socketPath;
    std::vector<std::string> files;
};

} // namespace

TEST_F(DaemonTest, OneDriverPerRuntimeFolderAndAStatusAnswer) {
    EXPECT_EQ(Status(std::string(SPINDLE_DRIVER_EXE) + " --status"), 1);
    StartDaemon();
    EXPECT_EQ(Status(std::string(SPINDLE_DRIVER_EXE) + " --status"), 0);
    EXPECT_TRUE(Mounted(drives));
    EXPECT_EQ(Status(std::string(SPINDLE_DRIVER_EXE)), 2);
    EXPECT_EQ(Status(std::string(SPINDLE_DRIVER_EXE) + " --daemon"), 2);
    EXPECT_EQ(Status(std::string(SPINDLE_DRIVER_EXE) + " --bogus"), 1);
    // Even with its lock file gone, a running driver is not pushed aside.
    std::string pid = ReadFile(runtime + "/driver.lock");
    ASSERT_EQ(unlink((runtime + "/driver.lock").c_str()), 0);
    EXPECT_EQ(Status(std::string(SPINDLE_DRIVER_EXE)), 2);
    WriteFile(runtime + "/driver.lock", pid);
    // The first one is untouched.
    EXPECT_TRUE(Mounted(drives));
    Client c(socketPath, kCd0, u'K');
    EXPECT_EQ(c.hello(), ERROR_SUCCESS);
}

TEST_F(DaemonTest, ImagesFromEveryToolReadBackThroughTheirDrives) {
    StartDaemon();
    const IsoTool tools[] = {IsoTool::Genisoimage, IsoTool::Xorriso, IsoTool::Libisofs};
    const char letters[] = {'K', 'L', 'M'};
    std::vector<std::unique_ptr<Client>> clients;
    for (size_t t = 0; t < std::size(tools); ++t) {
        std::string iso = MakeImage(tools[t]);
        clients.push_back(std::make_unique<Client>(
            socketPath, "\\Device\\FileDisk\\FileDiskCd" + std::to_string(t),
            static_cast<char16_t>(letters[t])));
        ASSERT_EQ(clients.back()->hello(), ERROR_SUCCESS);
        ASSERT_EQ(clients.back()->Open(iso), ERROR_SUCCESS) << ToolName(tools[t]);
        std::vector<std::uint8_t> out;
        ASSERT_EQ(clients.back()->Query(&out), ERROR_SUCCESS);
        EXPECT_EQ(vdrive::ParseQueryRecord(out.data(), out.size()).imageName,
                  u"\\??\\" + ToUtf16(iso));
    }
    for (size_t t = 0; t < std::size(tools); ++t) {
        std::string root = drives + "/" + letters[t];
        for (const auto& rel : files) {
            SCOPED_TRACE(std::string(ToolName(tools[t])) + ": " + rel);
            EXPECT_EQ(ReadFile(root + "/" + rel), ReadFile(tmp.path() + "/src/" + rel));
        }
        // cp reads with its own buffer sizes.
        ASSERT_TRUE(Shell("cp '" + root + "/big.bin' '" + tmp.path() + "/copy.bin'"));
        EXPECT_EQ(ReadFile(tmp.path() + "/copy.bin"), ReadFile(tmp.path() + "/src/big.bin"));
        // Read-only for everyone.
        errno = 0;
        EXPECT_LT(open((root + "/readme.txt").c_str(), O_WRONLY), 0);
        EXPECT_EQ(errno, EROFS);
        EXPECT_NE(mkdir((root + "/new").c_str(), 0755), 0);
        EXPECT_NE(unlink((root + "/readme.txt").c_str()), 0);
    }
    EXPECT_TRUE(Exists(drives + "/K/empty folder"));
    EXPECT_FALSE(Exists(drives + "/N"));

    // Closing one drive leaves the others.
    EXPECT_EQ(clients[1]->Close(), ERROR_SUCCESS);
    EXPECT_EQ(clients[1]->Dismount(), ERROR_SUCCESS);
    EXPECT_FALSE(Exists(drives + "/L"));
    EXPECT_EQ(clients[1]->Query(), ERROR_NOT_READY);
    EXPECT_TRUE(Exists(drives + "/K/readme.txt"));
    EXPECT_TRUE(Exists(drives + "/M/readme.txt"));
}

TEST_F(DaemonTest, DismountWithAFileOrFolderInUseFailsAndTheDriveKeepsWorking) {
    StartDaemon();
    std::string iso = MakeImage();
    Client k(socketPath, kCd0, u'K');
    ASSERT_EQ(k.Open(iso), ERROR_SUCCESS);
    std::string path = drives + "/K/big.bin";
    int fd = open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    char first[16] = {};
    ASSERT_EQ(pread(fd, first, sizeof first, 0), 16);

    EXPECT_EQ(k.Close(), ERROR_SUCCESS);
    EXPECT_EQ(k.Dismount(), ERROR_BUSY);
    // The reader and the drive are untouched.
    std::string want = ReadFile(tmp.path() + "/src/big.bin");
    std::string got(want.size(), '\0');
    EXPECT_EQ(pread(fd, got.data(), got.size(), 0), static_cast<ssize_t>(want.size()));
    EXPECT_EQ(got, want);
    EXPECT_EQ(ReadFile(drives + "/K/readme.txt"), "hello\n");
    EXPECT_EQ(k.Query(), ERROR_SUCCESS);

    // Another handle trying meanwhile fails the same way.
    {
        Client other(socketPath, kCd0, u'K');
        EXPECT_EQ(other.Close(), ERROR_SUCCESS);
        EXPECT_EQ(other.Dismount(), ERROR_BUSY);
    }
    close(fd);

    // A process working in a folder of the drive (in the drives folder or
    // in the drive's own mount), or holding one open, uses it as much.
    char desktop[4096] = {};
    ASSERT_GT(readlink((runtime + "/desktop/K").c_str(), desktop, sizeof desktop - 1), 0);
    const struct {
        std::string folder;
        bool open; // held open instead of worked in
    } holders[] = {
        {drives + "/K/empty folder", false},
        {std::string(desktop), false},
        {drives + "/K", true},
        {std::string(desktop) + "/empty folder", true},
    };
    for (const auto& h : holders) {
        SCOPED_TRACE(h.folder + (h.open ? " open" : " working folder"));
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        pid_t child = fork();
        if (child == 0) {
            int held =
                h.open ? open(h.folder.c_str(), O_RDONLY | O_DIRECTORY) : chdir(h.folder.c_str());
            if (held >= 0 && write(ready[1], "x", 1) == 1)
                pause(); // until killed
            _exit(1);
        }
        close(ready[1]);
        char c;
        ASSERT_EQ(read(ready[0], &c, 1), 1);
        close(ready[0]);
        EXPECT_EQ(k.Close(), ERROR_SUCCESS);
        EXPECT_EQ(k.Dismount(), ERROR_BUSY);
        EXPECT_EQ(k.Query(), ERROR_SUCCESS);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    EXPECT_EQ(k.Close(), ERROR_SUCCESS);
    EXPECT_EQ(k.Dismount(), ERROR_SUCCESS);
    EXPECT_FALSE(Exists(drives + "/K"));
    EXPECT_FALSE(Exists(path));
}

TEST_F(DaemonTest, RandomAndTruncatedMessagesNeverStopTheDriver) {
    StartDaemon();
    std::string iso = MakeImage();
    std::mt19937 rng(4242);
    auto hello = w::Encode(w::Hello{u'K', kCd0});
    auto valid = vdrive::BuildAttachRecordW(u"\\??\\" + ToUtf16(iso), 0, 0, true);
    const std::uint32_t codes[] = {
        vdrive::IOCTL_FILEDISK_OPEN_FILE_W, vdrive::IOCTL_FILEDISK_OPEN_FILE,
        vdrive::IOCTL_FILEDISK_CLOSE_FILE,  vdrive::IOCTL_FILEDISK_QUERY_FILE,
        vdrive::FSCTL_DISMOUNT_VOLUME,      0x12345678};
    const auto start = std::chrono::steady_clock::now();
    int answered = 0;
    for (int round = 0;
         round < 300 && std::chrono::steady_clock::now() - start < std::chrono::seconds(15);
         ++round) {
        Client c(socketPath, "", u'K'); // a Hello refused...
        EXPECT_EQ(c.hello(), ERROR_FILE_NOT_FOUND);
        Client raw(socketPath, kCd0, u'K'); // ...and one accepted
        ASSERT_EQ(raw.hello(), ERROR_SUCCESS);
        for (int i = 0; i < 10; ++i) {
            std::vector<std::uint8_t> msg;
            switch (rng() % 4) {
            case 0: // random bytes, any length up to past the message limit
                msg.resize(rng() % 3 == 0 ? w::kWireMaxMessage + 1 + rng() % 100 : rng() % 300);
                for (auto& b : msg)
                    b = static_cast<std::uint8_t>(rng());
                break;
            case 1: { // a valid open record, mutated and cut
                std::vector<std::uint8_t> in(valid->bytes.begin(),
                                             valid->bytes.begin() + valid->sentSize);
                in[rng() % in.size()] = static_cast<std::uint8_t>(rng());
                in.resize(rng() % (in.size() + 4));
                msg = w::Encode(
                    w::Request{codes[rng() % 2], static_cast<std::uint32_t>(rng() % 1000), in});
                break;
            }
            case 2: { // a well-framed request with random input
                std::vector<std::uint8_t> in(rng() % 700);
                for (auto& b : in)
                    b = static_cast<std::uint8_t>(rng());
                msg = w::Encode(w::Request{codes[rng() % std::size(codes)],
                                           static_cast<std::uint32_t>(rng()), in});
                break;
            }
            default: // a truncated frame
                msg = w::Encode(w::Request{codes[rng() % std::size(codes)], 276, {1, 2, 3, 4}});
                msg.resize(rng() % msg.size());
                break;
            }
            auto reply = raw.Exchange(msg);
            ASSERT_TRUE(w::DecodeReply(reply.data(), reply.size()))
                << "round " << round << " message " << i;
            ++answered;
        }
        // A bare Hello sent as a request and a request sent as the Hello.
        Client swapped(socketPath, kCd1, u'L');
        EXPECT_EQ(swapped.Call(vdrive::IOCTL_FILEDISK_QUERY_FILE, std::vector<std::uint8_t>(hello)),
                  ERROR_INVALID_PARAMETER);
        raw.Close();
        raw.Dismount();
    }
    EXPECT_GT(answered, 100);
    // Still serving, and still sane.
    EXPECT_EQ(Status(std::string(SPINDLE_DRIVER_EXE) + " --status"), 0);
    Client k(socketPath, kCd0, u'K');
    ASSERT_EQ(k.Open(iso), ERROR_SUCCESS);
    EXPECT_EQ(ReadFile(drives + "/K/readme.txt"), "hello\n");
}

TEST_F(DaemonTest, SigtermUnmountsAndRemovesTheSocket) {
    auto driver = StartForeground();
    std::string iso = MakeImage();
    {
        Client k(socketPath, kCd0, u'K');
        ASSERT_EQ(k.Open(iso), ERROR_SUCCESS);
    }
    ASSERT_TRUE(Exists(drives + "/K/readme.txt"));
    EXPECT_EQ(driver->Stop(SIGTERM), 0);
    EXPECT_FALSE(Mounted(drives));
    EXPECT_FALSE(Exists(socketPath));
    EXPECT_EQ(Status(std::string(SPINDLE_DRIVER_EXE) + " --status"), 1);
}

TEST_F(DaemonTest, AStaleMountOfAKilledDriverIsDetachedAtStart) {
    ASSERT_EQ(StartForeground()->Stop(SIGKILL), 128 + SIGKILL);
    ASSERT_TRUE(Mounted(drives)); // left behind, "transport endpoint not connected"
    StartDaemon();
    std::string iso = MakeImage();
    Client k(socketPath, kCd0, u'K');
    ASSERT_EQ(k.Open(iso), ERROR_SUCCESS);
    EXPECT_EQ(ReadFile(drives + "/K/readme.txt"), "hello\n");
}

TEST_F(DaemonTest, WithoutFuseTheDriverSaysSoAndFails) {
    // /dev hidden behind an empty tmpfs in a mount namespace of its own.
    if (!Shell("unshare -m true"))
        GTEST_SKIP() << "cannot make a mount namespace here";
    std::string err = tmp.path() + "/err.txt";
    int rc = std::system(("unshare -m sh -c 'mount -t tmpfs none /dev && exec " +
                          std::string(SPINDLE_DRIVER_EXE) + "' 2>" + err)
                             .c_str());
    rc = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    EXPECT_EQ(rc, 3);
    EXPECT_NE(ReadFile(err).find("FUSE is not available"), std::string::npos) << ReadFile(err);
}

TEST_F(DaemonTest, AFileOverFourGiBReadsCorrectlyAcrossItsExtents) {
    // 4.5 GiB: two extents (the first one ends at 0xFFFFF800). Random marks
    // near the start, across the end of the first extent, at 4 GiB and at
    // the very end; zeros elsewhere, so the image stays sparse.
    GeneratedFile huge;
    huge.name = "huge file.bin";
    huge.size = (9ull << 29) + 12345;
    for (std::uint64_t at : {std::uint64_t{0}, std::uint64_t{0xFFFFF800} - 5000,
                             std::uint64_t{1} << 32, huge.size - 7000})
        huge.marks.emplace_back(at, RandomBytes(10000, static_cast<std::uint32_t>(at)));
    std::string iso = tmp.path() + "/big.iso";
    ASSERT_TRUE(BuildIsoWithGeneratedFile(huge, iso));
    StartDaemon();
    Client k(socketPath, kCd0, u'K');
    ASSERT_EQ(k.Open(iso), ERROR_SUCCESS);

    std::string path = drives + "/K/huge file.bin";
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(static_cast<std::uint64_t>(st.st_size), huge.size);
    int fd = open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    // 1 MiB windows around every mark, crossing the extent boundary, and
    // reads that run past the end.
    for (const auto& [at, data] : huge.marks) {
        std::uint64_t from = at > (1 << 19) ? at - (1 << 19) : 0;
        std::string want = huge.Bytes(from, 1 << 20);
        std::string got(1 << 20, '\1');
        ssize_t n = pread(fd, got.data(), got.size(), static_cast<off_t>(from));
        ASSERT_EQ(n, static_cast<ssize_t>(want.size())) << at;
        got.resize(want.size());
        size_t diff = 0;
        while (diff < want.size() && want[diff] == got[diff])
            ++diff;
        EXPECT_EQ(diff, want.size())
            << "data differs at offset " << from + diff << " near mark " << at;
    }
    char c;
    EXPECT_EQ(pread(fd, &c, 1, static_cast<off_t>(huge.size)), 0);
    close(fd);
}

TEST_F(DaemonTest, FilesMapSharedAndPrivateAndReadAtAnyOffset) {
    // A large and a small file: both must map either way and read at
    // unaligned offsets.
    ForEachFileOnK([&](const std::string&, const std::string& rel) {
        std::string want = ReadFile(tmp.path() + "/src/" + rel);
        int fd = open((drives + "/K/" + rel).c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        for (int flags : {MAP_SHARED, MAP_PRIVATE}) {
            void* p = mmap(nullptr, want.size(), PROT_READ, flags, fd, 0);
            ASSERT_NE(p, MAP_FAILED)
                << (flags == MAP_SHARED ? "shared: " : "private: ") << strerror(errno);
            EXPECT_EQ(std::memcmp(p, want.data(), want.size()), 0);
            munmap(p, want.size());
        }
        // Odd sizes at odd offsets, across the first MiB and past the end.
        const std::pair<size_t, size_t> reads[] = {
            {1, 4095}, {(1 << 20) - 1, 3}, {4097, (1 << 20) + 5}, {want.size() - 10, 100}};
        for (auto [off, len] : reads) {
            std::string got(len, '\1');
            ssize_t n = pread(fd, got.data(), len, static_cast<off_t>(off));
            std::string expect = off < want.size() ? want.substr(off, len) : "";
            ASSERT_EQ(n, static_cast<ssize_t>(expect.size())) << off;
            got.resize(expect.size());
            EXPECT_EQ(got, expect) << off;
        }
        close(fd);
    });
}

TEST_F(DaemonTest, AFileOfAnImageChangedWhileMountedIsReadAfresh) {
    // The kernel keeps what it read of a file across opens; once the image's
    // bytes change under it, the next open must not serve the old ones.
    ForEachFileOnK([&](const std::string& iso, const std::string& rel) {
        const std::string path = drives + "/K/" + rel;
        const std::string old = ReadFile(tmp.path() + "/src/" + rel);
        ASSERT_EQ(ReadFile(path), old);
        ASSERT_EQ(ReadFile(path), old); // a second open, served from the cache
        // The file's data, rewritten in place in the image.
        const std::size_t at = ReadFile(iso).find(old.substr(0, 4096));
        ASSERT_NE(at, std::string::npos);
        const std::string fresh = RandomBytes(old.size(), 99);
        int fd = open(iso.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(pwrite(fd, fresh.data(), fresh.size(), static_cast<off_t>(at)),
                  static_cast<ssize_t>(fresh.size()));
        close(fd);
        EXPECT_TRUE(ReadFile(path) == fresh);
    });
}

namespace {

// Threads of a process that are inside open() (openat), from /proc: a
// thread stuck opening a FIFO stays there.
int ThreadsInOpen(pid_t pid) {
    int n = 0;
    std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    if (DIR* d = opendir(tasks.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.' &&
                ReadFile(tasks + "/" + e->d_name + "/syscall").starts_with("257 "))
                ++n;
        closedir(d);
    }
    return n;
}

// A second user for the length of a test (root only): made with useradd
// when it can be, else a bare uid no account uses.
class OtherUser {
public:
    OtherUser() : m_name("spindletest" + std::to_string(getpid() % 100000)) {
        m_made = Shell("useradd -M -r -s /usr/sbin/nologin " + m_name);
        std::string id = spindle_test::Run("id -u " + m_name + " 2>/dev/null");
        m_uid = m_made && !id.empty() ? static_cast<uid_t>(std::atoi(id.c_str())) : 54321;
    }
    ~OtherUser() {
        if (m_made)
            Shell("userdel " + m_name);
    }
    uid_t uid() const { return m_uid; }

private:
    std::string m_name;
    bool m_made = false;
    uid_t m_uid = 0;
};

// Connects to the socket as `uid` and sends a Hello; the error of the reply,
// -errno when the connection itself failed, -1000 for no answer.
int HelloAs(uid_t uid, const std::string& socketPath) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return -1001;
    pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        int result = -1000;
        if (setgid(uid) == 0 && setuid(uid) == 0) {
            Client c(socketPath, kCd0, u'K');
            result = static_cast<int>(c.hello());
        }
        if (write(pipeFds[1], &result, sizeof result) != sizeof result)
            _exit(1);
        _exit(0);
    }
    close(pipeFds[1]);
    int result = -1000;
    if (read(pipeFds[0], &result, sizeof result) != sizeof result)
        result = -1000;
    close(pipeFds[0]);
    waitpid(pid, nullptr, 0);
    return result;
}

// Every node under `root`, sorted: path, kind, and a file's bytes or a link's
// target. Permissions are left out: drives show everything read-only.
std::string Listing(const std::string& root) {
    namespace fs = std::filesystem;
    std::vector<std::string> lines;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        std::string rel = fs::relative(e.path(), root).string();
        switch (e.symlink_status().type()) {
        case fs::file_type::directory:
            lines.push_back(rel + " dir");
            break;
        case fs::file_type::regular:
            lines.push_back(rel + " file " + ReadFile(e.path().string()));
            break;
        case fs::file_type::symlink:
            lines.push_back(rel + " link " + fs::read_symlink(e.path()).string());
            break;
        case fs::file_type::fifo:
            lines.push_back(rel + " fifo");
            break;
        default:
            lines.push_back(rel + " other");
            break;
        }
    }
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const auto& l : lines)
        out += l + "\n";
    return out;
}

} // namespace

namespace {

// The RIFF/WAVE header of `bytes` of 16-bit stereo samples at 44.1 kHz.
std::string WavHeader(std::uint32_t bytes) {
    auto le = [](std::uint32_t v, int n) {
        std::string out;
        for (int i = 0; i < n; ++i)
            out += static_cast<char>(v >> (8 * i));
        return out;
    };
    return "RIFF" + le(36 + bytes, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(2, 2) +
           le(44100, 4) + le(44100 * 4, 4) + le(4, 2) + le(16, 2) + "data" + le(bytes, 4);
}

} // namespace

TEST_F(DaemonTest, ImagesOfEveryFormatMountAsTheSourceTreeAndTheirAudioAsWavFiles) {
    using spindle_test::WrapDisc;
    using vdrive::SectorForm;
    StartDaemon();
    const std::string iso = ReadFile(MakeImage());
    const std::string samples = RandomBytes(2352 * 40, 5);
    const WrapDisc plain{{{SectorForm::Mode1_2048, iso}}};
    const WrapDisc mode1{{{SectorForm::Mode1_2352, iso}, {SectorForm::Audio, samples, 0, 150}}};
    const WrapDisc mode2{{{SectorForm::Mode2_2352, iso}, {SectorForm::Audio, samples, 2, 0}}};
    const WrapDisc audio{{{SectorForm::Audio, samples}}};
    // A Video CD's way: MPEGAV/AVSEQ01.DAT stored in Form 2 sectors, its XA
    // record saying so, reads as their 2324-byte payloads back to back.
    const std::string vcdSrc = tmp.path() + "/vcdsrc", vcdIso = tmp.path() + "/vcd.iso";
    const std::string payload = RandomBytes(2324 * 5 - 100, 9);
    ASSERT_TRUE(
        Shell("cp -r '" + tmp.path() + "/src' '" + vcdSrc + "' && mkdir '" + vcdSrc + "/MPEGAV'"));
    WriteFile(vcdSrc + "/MPEGAV/AVSEQ01.DAT", std::string(5 * 2048, '\0'));
    // (Joliet names: libisofs finds no Rock Ridge behind XA records.)
    ASSERT_TRUE(spindle_test::MakeIso("genisoimage -quiet",
                                      "-input-charset utf-8 -XA -J -joliet-long", vcdSrc, vcdIso));
    WrapDisc vcd{{{SectorForm::Mode2_2352, ReadFile(vcdIso)}}};
    const auto form2 = spindle_test::MarkForm2(vcd.tracks[0].data, "MPEGAV/AVSEQ01.DAT");
    ASSERT_TRUE(form2 && form2->second == 5);
    vcd.tracks[0].form2First = form2->first;
    vcd.tracks[0].form2 = payload;
    WrapDisc vcd2336 = vcd;
    vcd2336.tracks[0].form = SectorForm::Mode2_2336;
    // A CD-Extra: audio, then the data in a session of its own whose volume
    // names blocks by their disc address, 11,400 blocks of session gap
    // (which no BIN holds) after its track's start in the sheet.
    WrapDisc extra{{{SectorForm::Audio, samples}, {SectorForm::Mode1_2352, "", 150, 0}}};
    const std::string extraIso = tmp.path() + "/extra.iso";
    ASSERT_TRUE(spindle_test::MakeIso("genisoimage -quiet",
                                      "-input-charset utf-8 -R -J -joliet-long -C 0," +
                                          std::to_string(extra.Starts()[1] + 11400),
                                      tmp.path() + "/src", extraIso));
    extra.tracks[1].data = ReadFile(extraIso);
    struct Case {
        const char* what;
        std::function<std::string(const std::string& dir)> write;
        const char* wav; // the audio track's file, if any
        bool data = true;
        bool form2 = false; // the Video CD tree
    };
    const Case cases[] = {
        {"cue MODE1/2048", [&](auto& d) { return spindle_test::WriteCue(plain, d, "disc"); },
         nullptr},
        {"cue MODE1/2352 + AUDIO, a FILE per track",
         [&](auto& d) {
             return spindle_test::WriteCue(mode1, d, "disc", {true, false});
         },
         "Track02.wav"},
        {"cue MODE2/2352 + big-endian AUDIO",
         [&](auto& d) {
             return spindle_test::WriteCue(mode2, d, "disc", {false, true});
         },
         "Track02.wav"},
        {"cue AUDIO only", [&](auto& d) { return spindle_test::WriteCue(audio, d, "disc"); },
         "Track01.wav", false},
        {"CloneCD with .sub",
         [&](auto& d) { return spindle_test::WriteCloneCd(mode1, d, "disc", true); },
         "Track02.wav"},
        {"Nero, old footer, DAO",
         [&](auto& d) {
             return spindle_test::WriteNero(mode1, d, "disc", {false, false});
         },
         "Track02.wav"},
        {"Nero, new footer, TAO",
         [&](auto& d) {
             return spindle_test::WriteNero(mode2, d, "disc", {true, true});
         },
         "Track02.wav"},
        {"Alcohol with subchannel data",
         [&](auto& d) { return spindle_test::WriteAlcohol(mode1, d, "disc", true); },
         "Track02.wav"},
        {"Alcohol MODE2", [&](auto& d) { return spindle_test::WriteAlcohol(mode2, d, "disc"); },
         "Track02.wav"},
        {"cue AUDIO + MODE1/2352, a CD-Extra",
         [&](auto& d) { return spindle_test::WriteCue(extra, d, "disc"); }, "Track01.wav"},
        {"cue MODE2/2352 with a Form 2 file",
         [&](auto& d) { return spindle_test::WriteCue(vcd, d, "disc"); }, nullptr, true, true},
        {"cue MODE2/2336 with a Form 2 file",
         [&](auto& d) { return spindle_test::WriteCue(vcd2336, d, "disc"); }, nullptr, true, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dir = tmp.path() + "/image" + std::to_string(++n);
        const std::string expect = dir + "/expected";
        const std::string src = c.form2 ? vcdSrc : tmp.path() + "/src";
        ASSERT_TRUE(Shell("mkdir -p '" + expect + "'" +
                          (c.data ? " && cp -r '" + src + "/.' '" + expect + "'" : "")));
        if (c.form2) // the last sector's payload is read whole
            WriteFile(expect + "/MPEGAV/AVSEQ01.DAT", payload + std::string(100, '\0'));
        if (c.wav)
            WriteFile(expect + "/" + c.wav,
                      WavHeader(static_cast<std::uint32_t>(samples.size())) + samples);
        const std::string picked = c.write(dir);
        Client k(socketPath, kCd0, u'K');
        ASSERT_EQ(k.Open(picked), ERROR_SUCCESS);
        EXPECT_TRUE(Listing(drives + "/K") == Listing(expect));
        EXPECT_EQ(k.Close(), ERROR_SUCCESS);
    }
}

TEST_F(DaemonTest, OnlyAPrivateRuntimeFolderOfOurOwnIsUsed) {
    // Each planted folder refuses the start (status 1) and stays as it was.
    std::string victim = tmp.path() + "/victim.txt";
    WriteFile(victim, "precious\n");
    std::string target = tmp.path() + "/elsewhere";
    ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
    struct Case {
        const char* what;
        std::function<void()> plant;
    };
    auto folder = [&](mode_t mode) {
        EXPECT_EQ(mkdir(runtime.c_str(), 0700), 0);
        EXPECT_EQ(chmod(runtime.c_str(), mode), 0);
    };
    const Case cases[] = {
        {"a link to a folder", [&] { EXPECT_EQ(symlink(target.c_str(), runtime.c_str()), 0); }},
        {"a folder others may write to", [&] { folder(0777); }},
        {"driver.lock linked to another file",
         [&] {
             folder(0700);
             EXPECT_EQ(symlink(victim.c_str(), (runtime + "/driver.lock").c_str()), 0);
         }},
        {"another user's folder",
         [&] {
             folder(0700);
             EXPECT_EQ(chown(runtime.c_str(), 54321, 54321), 0);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (std::string(c.what) == "another user's folder" && getuid() != 0)
            continue; // giving a folder away needs root
        Shell("rm -rf '" + runtime + "'");
        c.plant();
        DriverProcess driver;
        EXPECT_EQ(driver.startStatus(), 1);
        EXPECT_FALSE(Mounted(drives));
        EXPECT_EQ(ReadFile(victim), "precious\n");
        EXPECT_FALSE(Exists(target + "/driver.lock"));
    }
    Shell("rm -rf '" + runtime + "'");
}

TEST_F(DaemonTest, OnlyTheDriversOwnUserIsServed) {
    // The socket is private whatever the umask, and the drive folders are
    // not opened to other users unless asked for.
    mode_t mask = umask(0);
    auto driver = StartForeground();
    umask(mask);
    struct stat st {};
    ASSERT_EQ(lstat(socketPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::string mountinfo = ReadFile("/proc/self/mountinfo");
    size_t at = mountinfo.find(" " + drives + " ");
    ASSERT_NE(at, std::string::npos);
    std::string line = mountinfo.substr(at, mountinfo.find('\n', at) - at);
    EXPECT_EQ(line.find("allow_other"), std::string::npos) << line;
    if (getuid() != 0)
        GTEST_SKIP() << "connecting as another user needs root";
    OtherUser other;
    // Through a folder and socket opened up by hand, the other user reaches
    // the driver and is refused by it.
    chmod(tmp.path().c_str(), 0711);
    chmod(runtime.c_str(), 0711);
    chmod(socketPath.c_str(), 0666);
    EXPECT_EQ(HelloAs(other.uid(), socketPath), static_cast<int>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(HelloAs(getuid(), socketPath), static_cast<int>(ERROR_SUCCESS));
}

TEST_F(DaemonTest, AFifoAsTheImageFailsAtOnceAndLeavesNoThreadInOpen) {
    auto driver = StartForeground();
    std::string fifo = tmp.path() + "/pipe.iso";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i) {
        Client k(socketPath, kCd0, u'K');
        EXPECT_EQ(k.Open(fifo), ERROR_UNRECOGNIZED_VOLUME);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(ThreadsInOpen(driver->pid()), 0);
    // A normal image still mounts on the same device.
    Client k(socketPath, kCd0, u'K');
    ASSERT_EQ(k.Open(MakeImage()), ERROR_SUCCESS);
    EXPECT_EQ(ReadFile(drives + "/K/readme.txt"), "hello\n");
}

TEST_F(DaemonTest, IdleConnectionsDoNotLockOthersOut) {
    auto driver = StartForeground();
    std::string iso = MakeImage();
    auto served = [&] {
        auto start = std::chrono::steady_clock::now();
        Client k(socketPath, kCd0, u'K');
        EXPECT_EQ(k.hello(), ERROR_SUCCESS);
        EXPECT_EQ(k.Open(iso), ERROR_SUCCESS);
        EXPECT_EQ(k.Query(), ERROR_SUCCESS);
        EXPECT_EQ(k.Close(), ERROR_SUCCESS);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10) * TimeScale());
    };
    // More clients that said Hello and then nothing than the driver has
    // places for: the one idle the longest makes room for each newcomer.
    {
        std::vector<std::unique_ptr<Client>> greeted;
        for (int i = 0; i < 300; ++i) {
            greeted.push_back(std::make_unique<Client>(socketPath, kCd1, u'L'));
            ASSERT_EQ(greeted.back()->hello(), ERROR_SUCCESS) << i;
        }
        served();
        EXPECT_EQ(greeted.front()->Query(), ERROR_BROKEN_PIPE);
        EXPECT_EQ(greeted.back()->Query(), ERROR_NOT_READY);
    }
    // More silent clients than places.
    std::vector<int> idle;
    for (int i = 0; i < 300; ++i) {
        int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        socketPath.copy(addr.sun_path, sizeof addr.sun_path - 1);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << i;
        idle.push_back(fd);
    }
    served();
    // The silent ones are closed by the driver once their time is up.
    pollfd p{idle.back(), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 8000 * TimeScale()), 1);
    char c;
    EXPECT_EQ(recv(idle.back(), &c, 1, MSG_DONTWAIT), 0);
    for (int fd : idle)
        close(fd);
}

// A drive shows what xorriso extracts: the El Torito boot catalog with its
// bytes, a FIFO, a symbolic link, and a file hidden from the ISO 9660 tree
// (left out by xorriso, marked hidden by genisoimage).
TEST_F(DaemonTest, BootableImagesReadBackAsXorrisoExtractsThem) {
    std::string src = tmp.path() + "/boot-src";
    Shell("mkdir -p '" + src + "/boot' && mkfifo '" + src + "/fifo' && ln -s a.txt '" + src +
          "/link'");
    WriteFile(src + "/boot/boot.img", RandomBytes(4096, 21));
    WriteFile(src + "/a.txt", "a\n");
    WriteFile(src + "/hidden.txt", "h\n");
    const std::pair<const char*, const char*> makers[] = {
        {"xorriso -as mkisofs -quiet -hide hidden.txt", "boot.catalog"},
        {"genisoimage -quiet -hidden hidden.txt", "boot.cat"},
    };
    StartDaemon();
    for (const auto& [maker, catalog] : makers) {
        SCOPED_TRACE(maker);
        std::string iso = tmp.path() + "/boot.iso", out = tmp.path() + "/extracted";
        ASSERT_TRUE(Shell(std::string(maker) + " -R -J -b boot/boot.img -no-emul-boot -c " +
                          catalog + " -o '" + iso + "' '" + src + "'"));
        ASSERT_TRUE(Shell("rm -rf '" + out + "' && xorriso -osirrox on -indev '" + iso +
                          "' -extract / '" + out + "'"));
        Client k(socketPath, kCd0, u'K');
        ASSERT_EQ(k.Open(iso), ERROR_SUCCESS);
        std::string want = Listing(out);
        EXPECT_NE(want.find(std::string(catalog) + " file \x01"), std::string::npos) << want;
        EXPECT_EQ(Listing(drives + "/K"), want);
        EXPECT_EQ(k.Close(), ERROR_SUCCESS);
        EXPECT_EQ(k.Dismount(), ERROR_SUCCESS);
    }
}

// The driver reads the image file it opened: one replaced by rename keeps
// serving the mounted files, and one cut short gives I/O errors, never a
// short file.
TEST_F(DaemonTest, AReplacedImageKeepsItsFilesAndAShrunkOneGivesIoErrors) {
    StartDaemon();
    std::string iso = MakeImage(), kept = tmp.path() + "/kept.iso",
                other = tmp.path() + "/other.iso";
    Client k(socketPath, kCd0, u'K');
    ASSERT_EQ(k.Open(iso), ERROR_SUCCESS);
    std::string otherSrc = tmp.path() + "/other-src";
    Shell("mkdir -p '" + otherSrc + "'");
    WriteFile(otherSrc + "/readme.txt", "another image\n");
    ASSERT_TRUE(BuildIso(IsoTool::Xorriso, otherSrc, other));
    ASSERT_EQ(link(iso.c_str(), kept.c_str()), 0);
    ASSERT_EQ(rename(other.c_str(), iso.c_str()), 0);
    EXPECT_EQ(ReadFile(drives + "/K/readme.txt"), "hello\n");

    ASSERT_EQ(truncate(kept.c_str(), 64 << 10), 0);
    for (const char* rel : {"big.bin", "a folder/deeper/still deeper/data.bin"}) {
        SCOPED_TRACE(rel);
        int fd = open((drives + "/K/" + rel).c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        std::string buf(1 << 20, '\0');
        errno = 0;
        EXPECT_EQ(read(fd, buf.data(), buf.size()), -1);
        EXPECT_EQ(errno, EIO);
        close(fd);
    }
}
