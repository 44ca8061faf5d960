// The spindle executable as a user starts it: one instance per user. Runs
// under Xvfb with private runtime and config folders.
#include "CloseWindow.h"
#include "port/DosDevices.h"
#include "port/Utf.h"
#include "tests/support/DriverProcess.h"
#include "tests/support/Files.h"
#include "tests/support/Iso.h"
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

using spindle_test::Scaled;

class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(HoldXConnection()) << "no X display";
        m_dir = m_tmp.path();
        setenv("SPINDLE_RUNTIME_DIR", (m_dir / "run").c_str(), 1);
        setenv("SPINDLE_CONFIG_DIR", (m_dir / "config").c_str(), 1);
    }
    void TearDown() override {
        // A driver a mount started in the background ends with the test.
        spindle_test::StopDriverOf((m_dir / "run").string());
        for (pid_t pid : m_started)
            if (kill(pid, 0) == 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
    }

    pid_t Launch(const char* programDir = nullptr, const char* file = nullptr) {
        pid_t pid = fork();
        if (pid == 0) {
            if (programDir)
                setenv("SPINDLE_PROGRAM_DIR", programDir, 1);
            execl(SPINDLE_BINARY, SPINDLE_BINARY, file, static_cast<char*>(nullptr));
            _exit(127);
        }
        m_started.push_back(pid);
        return pid;
    }

    // What spindle --mount needs here: a runtime folder with C: bound to /,
    // the image `iso` of one small file, a stand-in for xdg-open in bin/ (no
    // file manager opens) and drives kept out of the media folder.
    void PrepareMount(const std::string& iso) {
        const fs::path run = m_dir / "run", bin = m_dir / "bin";
        fs::create_directories(run / "dosdevices");
        fs::permissions(run, fs::perms::owner_all);
        port::PushDosDevice("C:", "/");
        fs::create_directories(m_dir / "src");
        spindle_test::WriteFile(m_dir / "src" / "a.txt", "a\n");
        ASSERT_TRUE(spindle_test::MakeIso("genisoimage -quiet", "-J -R", m_dir / "src", iso));
        fs::create_directories(bin);
        spindle_test::WriteFile(bin / "xdg-open", "#!/bin/sh\nexit 0\n");
        fs::permissions(bin / "xdg-open", fs::perms::owner_all);
        fs::create_directories(m_dir / "config");
        spindle_test::WriteFile(m_dir / "config" / "drives.conf", "media = off\n");
    }

    // spindle --mount `iso`, with bin/ first on the PATH.
    pid_t LaunchMount(const std::string& iso) {
        pid_t pid = fork();
        if (pid == 0) {
            setenv("PATH", ((m_dir / "bin").string() + ":" + std::getenv("PATH")).c_str(), 1);
            execl(SPINDLE_BINARY, SPINDLE_BINARY, "--mount", iso.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        m_started.push_back(pid);
        return pid;
    }

    // Exit status of pid, or -1 when it is still running after timeout.
    static int WaitExit(pid_t pid, std::chrono::milliseconds timeout) {
        return spindle_test::WaitChild(pid, timeout);
    }

    // Top-level windows titled like the main window on the X server.
    static int MainWindows() { return WindowsTitled("Spindle"); }

    static int WindowsTitled(const std::string& title) {
        FILE* pipe = popen("xwininfo -root -children 2>/dev/null", "r");
        if (!pipe)
            return -1;
        int count = 0;
        std::array<char, 1024> line{};
        while (fgets(line.data(), line.size(), pipe))
            if (std::string(line.data()).find("\"" + title + "\": (") != std::string::npos)
                ++count;
        pclose(pipe);
        return count;
    }

    static bool WaitForMainWindows(int n, std::chrono::milliseconds timeout) {
        return spindle_test::WaitUntil([n] { return MainWindows() == n; }, timeout);
    }

    spindle_test::TempDir m_tmp{"spindle-process"};
    fs::path m_dir;
    std::vector<pid_t> m_started;
};

TEST_F(ProcessTest, SecondInstanceEndsAtOnceAndAFreshStartWorksAfterTheFirst) {
    ASSERT_EQ(MainWindows(), 0);
    pid_t first = Launch();
    ASSERT_TRUE(WaitForMainWindows(1, 30s)) << "the first instance shows no window";

    // A later start hands its file to the first (tests/app/MainDlgGuiTest
    // shows where it lands) and ends once it is taken.
    for (const char* file : {static_cast<const char*>(nullptr), "/no/such.cue"}) {
        pid_t second = Launch(nullptr, file);
        EXPECT_EQ(WaitExit(second, 30s), 0) << "a later start must end with status 0";
        EXPECT_EQ(MainWindows(), 1);
    }
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
    // gives a window, and the toolkit names the missing layouts in an error
    // window over it. A session end ends it promptly at any moment of the
    // start: ended at growing delays until both windows were up (a modal
    // dialog running over the main window). Before the program has taken the
    // signal over, the signal itself ends it.
    fs::create_directories(m_dir / "broken" / "res");
    for (auto delay = 50ms;; delay = delay * 3 / 2) {
        pid = Launch((m_dir / "broken").c_str());
        // Not a wait for something: the delay picks the moment of the start
        // at which the session ends, and grows until the windows are up.
        std::this_thread::sleep_for(delay);
        const bool shown = ShownWindowsOf(pid) >= 2;
        ASSERT_EQ(WaitExit(pid, 0ms), -1)
            << "the program ended on its own within " << delay.count() << " ms";
        kill(pid, SIGTERM);
        // With both up (the error window is the toolkit's native message
        // box), the session's end closes it and the process is gone
        // within two seconds.
        const int status = WaitExit(pid, shown ? 2s : 15s);
        if (shown) {
            EXPECT_EQ(status, 0) << "ended while its windows were up";
            break;
        }
        ASSERT_TRUE(status == 0 || status == 128 + SIGTERM)
            << "ended " << delay.count() << " ms after the start: status " << status;
        ASSERT_LT(delay, Scaled(30s)) << "no main and error window";
    }
}

// A session end while the toolkit's native message box is open over the
// main window (here its report of the one layout the installation lacks):
// the box is answered with its cancel answer and the process is gone within
// two seconds.
TEST_F(ProcessTest, ASessionEndWithANativeMessageBoxOpenEndsTheProcess) {
    const fs::path program = m_dir / "program", bin = fs::path(SPINDLE_BINARY).parent_path();
    fs::create_directories(program / "res");
    for (const char* item : {"languiu.ini", "langburu.ini"})
        fs::create_symlink(bin / item, program / item);
    for (const fs::directory_entry& entry : fs::directory_iterator(bin / "res"))
        if (entry.path().filename() != "burn.xrc")
            fs::create_symlink(entry.path(), program / "res" / entry.path().filename());
    pid_t pid = Launch(program.c_str());
    int ended = -1;
    const bool shown = spindle_test::WaitUntil(
        [&] {
            ended = WaitExit(pid, 0ms);
            return ended != -1 || (WindowsTitled("Spindle Error") >= 1 && MainWindows() >= 1);
        },
        30s);
    ASSERT_EQ(ended, -1) << "the program ended on its own";
    ASSERT_TRUE(shown) << "no main window with the error box over it";
    kill(pid, SIGTERM);
    EXPECT_EQ(WaitExit(pid, 2s), 0) << "still running 2 s after the session's end";
}

// spindle --language keeps the choice in the config folder and says what
// the window will speak; a name the language file lacks is refused.
TEST_F(ProcessTest, LanguageOptionKeepsTheChoice) {
    auto run = [](const std::string& args, std::string& out) {
        int status = 0;
        out = spindle_test::Run("LC_ALL= LC_MESSAGES= LANGUAGE= LANG=de_DE.UTF-8 " +
                                    spindle_test::Q(SPINDLE_BINARY) + " " + args + " 2>&1",
                                &status);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    std::string out;
    EXPECT_EQ(run("--language english", out), 0) << out;
    EXPECT_NE(out.find("is English from the next start"), std::string::npos) << out;
    const std::string stored = spindle_test::ReadFile(m_dir / "config" / "spindle.ini");
    EXPECT_NE(stored.find("Language=English"), std::string::npos) << stored;

    EXPECT_EQ(run("--language Klingon", out), 2);
    EXPECT_NE(out.find("choose one of English, Deutsch, or auto"), std::string::npos) << out;
    EXPECT_EQ(run("--language auto", out), 0);
    EXPECT_NE(out.find("locale again (now Deutsch)"), std::string::npos) << out;
}

// The real program closed through its window leaves the list of mounted
// drives beside itself, in the agreed format byte for byte.
TEST_F(ProcessTest, ClosingTheWindowWritesTheMountedDriveList) {
    SPINDLE_REQUIRE_FUSE();
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
    spindle_test::WriteFile(m_dir / "src" / "a.txt", "a\n");
    const std::string iso = (m_dir / "a b.iso").string();
    ASSERT_TRUE(spindle_test::MakeIso("genisoimage -quiet", "-J -R", m_dir / "src", iso));

    fs::create_directories(m_dir / "config");
    spindle_test::WriteFile(m_dir / "config" / "drives.conf",
                            "media = off\n"); // nothing in the real home
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
        return spindle_test::ReadFile(program / "drives.ini");
    };
    EXPECT_EQ(runAndClose(), "[DRIVES]\r\ndrive0 = K\r\nfile0 = " + iso + "\r\n");
    ASSERT_TRUE(vdrive::DismountDrive(u'K').ok);
    EXPECT_EQ(runAndClose(), "[DRIVES]\r\n");
}

// spindle --mount with no driver running starts one in the background (the
// spindle-driver beside the program) and mounts; the driver stays after the
// program has ended, so the drive stays.
TEST_F(ProcessTest, MountOptionStartsTheDriverWhenNoneRuns) {
    SPINDLE_REQUIRE_FUSE();
    const fs::path run = m_dir / "run";
    const std::string iso = (m_dir / "a.iso").string();
    ASSERT_NO_FATAL_FAILURE(PrepareMount(iso));
    ASSERT_EQ(spindle_test::DriversOf(run.string()), 0);

    ASSERT_EQ(WaitExit(LaunchMount(iso), 60s), 0);
    EXPECT_EQ(spindle_test::DriversOf(run.string()), 1);
    const auto mounted = vdrive::QueryMountedImage(u'D');
    ASSERT_TRUE(mounted);
    EXPECT_EQ(port::PathToUtf8(mounted->imageName), "\\??\\" + iso);
    EXPECT_EQ(spindle_test::ReadFile((run / "drives" / "D" / "a.txt").string()), "a\n");
    EXPECT_EQ(spindle_test::StopDriverOf(run.string()), 1);
}

// spindle --mount with a file whose name is not UTF-8 (Latin-1 here) mounts
// that very file on the first free letter.
TEST_F(ProcessTest, MountOptionTakesANameThatIsNotUtf8) {
    SPINDLE_REQUIRE_FUSE();
    const std::string iso = m_dir.string() + "/caf\xE9.iso";
    ASSERT_NO_FATAL_FAILURE(PrepareMount(iso));
    spindle_test::DriverProcess driver;
    ASSERT_TRUE(driver.ready());

    ASSERT_EQ(WaitExit(LaunchMount(iso), 30s), 0);
    const auto mounted = vdrive::QueryMountedImage(u'D');
    ASSERT_TRUE(mounted);
    EXPECT_EQ(port::PathToUtf8(mounted->imageName), "\\??\\" + iso);
    EXPECT_TRUE(vdrive::DismountDrive(u'D').ok);
}

} // namespace
