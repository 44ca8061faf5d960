// The spindle executable as a user starts it: one instance per user. Runs
// under Xvfb with private runtime and config folders.
#include "CloseWindow.h"
#include "port/DosDevices.h"
#include "port/Utf.h"
#include "tests/support/DriverProcess.h"
#include "vdrive/VirtualDrive.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/spindle-process-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        setenv("SPINDLE_RUNTIME_DIR", (m_dir / "run").c_str(), 1);
        setenv("SPINDLE_CONFIG_DIR", (m_dir / "config").c_str(), 1);
    }
    void TearDown() override {
        for (pid_t pid : m_started)
            if (kill(pid, 0) == 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
        fs::remove_all(m_dir);
    }

    pid_t Launch(const char* programDir = nullptr) {
        pid_t pid = fork();
        if (pid == 0) {
            if (programDir)
                setenv("SPINDLE_PROGRAM_DIR", programDir, 1);
            execl(SPINDLE_BINARY, SPINDLE_BINARY, static_cast<char*>(nullptr));
            _exit(127);
        }
        m_started.push_back(pid);
        return pid;
    }

    // Exit status of pid, or -1 when it is still running after timeout.
    static int WaitExit(pid_t pid, std::chrono::milliseconds timeout) {
        auto end = std::chrono::steady_clock::now() + timeout;
        do {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid)
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            std::this_thread::sleep_for(20ms);
        } while (std::chrono::steady_clock::now() < end);
        return -1;
    }

    // Top-level windows titled like the main window on the X server.
    static int MainWindows() {
        FILE* pipe = popen("xwininfo -root -children 2>/dev/null", "r");
        if (!pipe)
            return -1;
        int count = 0;
        std::array<char, 1024> line{};
        while (fgets(line.data(), line.size(), pipe))
            if (std::string(line.data()).find("\"Spindle\": (") != std::string::npos)
                ++count;
        pclose(pipe);
        return count;
    }

    static bool WaitForMainWindows(int n, std::chrono::milliseconds timeout) {
        auto end = std::chrono::steady_clock::now() + timeout;
        while (MainWindows() != n) {
            if (std::chrono::steady_clock::now() >= end)
                return false;
            std::this_thread::sleep_for(50ms);
        }
        return true;
    }

    fs::path m_dir;
    std::vector<pid_t> m_started;
};

TEST_F(ProcessTest, SecondInstanceEndsAtOnceAndAFreshStartWorksAfterTheFirst) {
    ASSERT_EQ(MainWindows(), 0);
    pid_t first = Launch();
    ASSERT_TRUE(WaitForMainWindows(1, 30s)) << "the first instance shows no window";

    pid_t second = Launch();
    EXPECT_EQ(WaitExit(second, 15s), 0) << "the second instance must end at once with status 0";
    EXPECT_EQ(MainWindows(), 1);
    EXPECT_EQ(WaitExit(first, 0ms), -1) << "the first instance must be unaffected";

    // Closing the first (the session asks it to end) releases the name.
    kill(first, SIGTERM);
    EXPECT_EQ(WaitExit(first, 15s), 0);
    EXPECT_TRUE(WaitForMainWindows(0, 5s));

    pid_t third = Launch();
    EXPECT_TRUE(WaitForMainWindows(1, 30s)) << "a new start after the first ended shows its window";
    EXPECT_EQ(WaitExit(third, 0ms), -1);
    kill(third, SIGTERM);
    EXPECT_EQ(WaitExit(third, 15s), 0);
}

TEST_F(ProcessTest, MissingResourcesAreNamedAndAPartialSetStillStarts) {
    // A copy of the binary with none of its resources says so and ends.
    fs::create_directories(m_dir / "empty");
    pid_t pid = Launch((m_dir / "empty").c_str());
    EXPECT_EQ(WaitExit(pid, 15s), 1) << "a program without resources must end with status 1";
    // A broken installation (an empty res folder, no language file) still
    // gives a window that closes cleanly. With no language file the title is
    // empty, so look for the process still running.
    fs::create_directories(m_dir / "broken" / "res");
    pid = Launch((m_dir / "broken").c_str());
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(WaitExit(pid, 0ms), -1) << "the program ended on its own";
    kill(pid, SIGTERM);
    EXPECT_EQ(WaitExit(pid, 15s), 0);
}

// The real program closed through its window leaves the list of mounted
// drives beside itself, in the agreed format byte for byte.
TEST_F(ProcessTest, ClosingTheWindowWritesTheMountedDriveList) {
    if (!spindle_test::FuseAvailable())
        GTEST_SKIP() << "/dev/fuse is missing: no FUSE on this machine";
    const fs::path run = m_dir / "run", program = m_dir / "program";
    fs::create_directories(run / "dosdevices"); // an empty drive table
    fs::permissions(run, fs::perms::owner_all);
    port::PushDosDevice("C:", "/");
    // The program's folder: its language files and layouts, and room for
    // the list.
    fs::create_directories(program);
    const fs::path bin = fs::path(SPINDLE_BINARY).parent_path();
    for (const char* item : {"languiu.ini", "langburu.ini", "res"})
        fs::create_symlink(bin / item, program / item);
    fs::create_directories(m_dir / "src");
    std::ofstream(m_dir / "src" / "a.txt") << "a\n";
    const std::string iso = (m_dir / "a b.iso").string();
    ASSERT_EQ(std::system(("genisoimage -quiet -J -R -o '" + iso + "' '" + (m_dir / "src").string() + "'").c_str()), 0);

    fs::create_directories(m_dir / "config");
    std::ofstream(m_dir / "config" / "drives.conf") << "media = off\n"; // nothing in the real home
    spindle_test::DriverProcess driver;
    ASSERT_TRUE(driver.ready());
    vdrive::MountRequest request;
    request.imagePath = port::ToUtf16(iso);
    port::ErrorCode error = 0;
    ASSERT_TRUE(vdrive::MountImage(u'K', request, error)) << error;

    // Starts the program, closes it through its window, returns the list.
    auto runAndClose = [&]() -> std::string {
        fs::remove(program / "drives.ini");
        pid_t pid = Launch(program.c_str());
        if (!WaitForMainWindows(1, 30s) || !CloseWindowTitled("Spindle"))
            return "<no window to close>";
        EXPECT_EQ(WaitExit(pid, 15s), 0);
        std::ifstream in(program / "drives.ini", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(runAndClose(), "[DRIVES]\r\ndrive0 = K\r\nfile0 = " + iso + "\r\n");
    ASSERT_TRUE(vdrive::DismountDrive(u'K').ok);
    EXPECT_EQ(runAndClose(), "[DRIVES]\r\n");
}

} // namespace
