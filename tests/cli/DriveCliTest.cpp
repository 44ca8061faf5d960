// spindle-cli's drive subcommands, run as a user would run them.
#include "port/DosDevices.h"
#include "port/OpenFolder.h"
#include "tests/support/DriverProcess.h"
#include "tests/support/Iso.h"
#include "tests/support/TempEnv.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <poll.h>
#include <sstream>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using spindle_test::DriverProcess;
using spindle_test::Mounted;
using spindle_test::TempEnv;

namespace {

using Result = spindle_test::Outcome;

Result Cli(const TempEnv& env, const std::string& args, const std::string& prefix = "") {
    return spindle_test::RunCaught(prefix + SPINDLE_BIN_DIR + "/spindle-cli " + args, env.root());
}

std::string MakeIso(const TempEnv& env, const std::string& label) {
    env.Write("src/hello.txt", "hello\n");
    std::string iso = env.root() + "/disc.iso";
    return spindle_test::MakeIso("genisoimage -quiet", "-J -R -V " + spindle_test::Q(label),
                                 env.root() + "/src", iso)
               ? iso
               : std::string();
}

// Waits up to 10 s for `done`, checked again at each change of the mount
// table or of the drive table.
bool WaitUntil(const TempEnv& env, const std::function<bool()>& done) {
    return spindle_test::WaitOnChanges(done, std::chrono::seconds(10),
                                       {env.runtime() + "/dosdevices"}, true);
}

// What `gio mount -li` says of the mount named `name`: its lines, or empty
// when GIO lists no such mount.
std::string GioMountInfo(const std::string& name) {
    std::istringstream lines(spindle_test::Run("gio mount -li 2>&1"));
    std::string info, line;
    bool in = false;
    while (std::getline(lines, line)) {
        if (line.rfind("Mount(", 0) == 0)
            in = line.find("): " + name + " -> ") != std::string::npos;
        else if (line.rfind("  ", 0) != 0)
            in = false;
        if (in)
            info += line + "\n";
    }
    return info;
}

} // namespace

TEST(DriveCli, LabelReadsAndRewrites) {
    TempEnv env;
    std::string iso = MakeIso(env, "First");
    ASSERT_FALSE(iso.empty());
    Result r = Cli(env, "label " + iso);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "First\n"); // without the record's padding blanks
    EXPECT_EQ(Cli(env, "label " + iso + " 'Zweite Fassung'").status, 0);
    EXPECT_EQ(Cli(env, "label " + iso).out, "Zweite Fassung\n");

    std::string text = env.Write("notes.txt", std::string(50000, 'n'));
    for (const char* newLabel : {"", " New"}) {
        // Neither read nor written: a file that is no image has no label.
        r = Cli(env, "label " + text + newLabel);
        EXPECT_EQ(r.status, 1) << newLabel;
        EXPECT_EQ(r.out, "") << newLabel;
        EXPECT_NE(r.err.find("(error 1005)"), std::string::npos) << r.err;
    }
    r = Cli(env, "label " + env.root());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("(error 5)"), std::string::npos) << r.err;

    // A FIFO is no image either, and is refused at once instead of waiting
    // for a writer.
    std::string fifo = env.root() + "/pipe.iso";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    r = Cli(env, "label " + fifo, "timeout 10 ");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("(error 5)"), std::string::npos) << r.err;

    r = Cli(env, "label " + env.root() + "/missing.iso");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("(error 2)"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(env.root() + "/missing.iso"));
}

TEST(DriveCli, ReportsErrorsByNumberAndBadUsage) {
    TempEnv env;
    env.EmptyTable();
    env.Write("cfg/drives.conf", "");
    spindle_test::WriteFile(env.runtime() + "/dosdevices/C:", "/\n");
    std::string iso = MakeIso(env, "X");
    env.Write("gone.cue", "FILE gone.bin BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:00\n");
    env.Write("mode.cue", "FILE disc.iso BINARY\nTRACK 01 MODE1/2340\nINDEX 01 00:00:00\n");
    struct Case {
        std::string args;
        int status;
        std::string err;
    };
    const Case cases[] = {
        // Image descriptions that cannot be used: refused before any driver is asked.
        {"mount " + env.root() + "/gone.cue K", 1,
         "mount: " + env.root() +
             "/gone.bin, line 1 (FILE): The file \"gone.bin\" named by the cue "
             "sheet was not found (error 2)"},
        {"mount " + env.root() + "/mode.cue K", 1,
         "mount: " + env.root() +
             "/mode.cue, line 2 (TRACK): Line 2 of the cue sheet: track mode "
             "MODE1/2340 is not supported (error 50)"},
        {"dismount K", 1, "dismount: K: is not a drive (error 2)"},
        {"dismount C", 1, "C: is not a virtual drive (error 1)"},
        {"mount", 2, "usage"},
        {"mount " + iso + " KK", 2, "'KK' is not a drive letter"},
        {"mount " + iso + " 1", 2, "usage"},
        {"dismount 9", 2, "'9' is not a drive letter"},
        {"dismount", 2, "usage"},
        {"list extra", 2, "usage"},
    };
    for (const Case& c : cases) {
        Result r = Cli(env, c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.args << ": " << r.err;
    }
    // A name in another encoding than UTF-8 cannot travel to the driver or
    // be opened again: said as such, not as a missing file.
    std::string latin1 = env.root() + "/caf\xe9.iso";
    fs::copy_file(iso, latin1);
    for (const std::string& args :
         {"mount '" + latin1 + "' K", "label '" + latin1 + "'", "label '" + latin1 + "' New"}) {
        Result r = Cli(env, args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_NE(r.err.find("(error 123)"), std::string::npos) << args << ": " << r.err;
    }
    // The failed mount left no letter behind.
    EXPECT_EQ(Cli(env, "drives").out, "C:\tfolder\t/\n");
    // A driver letter that no driver answers for is not listed in silence.
    spindle_test::WriteFile(env.runtime() + "/dosdevices/L:", "\\Device\\FileDisk\\FileDiskCd0\n");
    Result r = Cli(env, "list");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("spindle-cli: list: L: the driver could not be reached (error 3)"),
              std::string::npos)
        << r.err;
    // A runtime folder others may write to is not used, and the user is told.
    fs::permissions(env.runtime(), fs::perms::all);
    const std::string commands[] = {"drives", "list", "dismount L", "mount " + iso + " K"};
    for (const std::string& command : commands) {
        r = Cli(env, command);
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_NE(r.err.find("others may write to it; it is not used"), std::string::npos) << r.err;
    }
}

TEST(DriveCli, MountListDismountAcrossProcesses) {
    SPINDLE_REQUIRE_FUSE();
    TempEnv env;
    env.EmptyTable();
    std::string iso = MakeIso(env, "Spindle");
    ASSERT_FALSE(iso.empty());
    spindle_test::WriteFile(env.runtime() + "/dosdevices/C:", "/\n");
    DriverProcess driver;
    ASSERT_TRUE(driver.ready());

    // The first free letter after C:; the mount outlives the command.
    std::string folder = env.runtime() + "/drives/D";
    Result r = Cli(env, "mount " + iso);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "D:\t" + folder + "\n");
    EXPECT_EQ(spindle_test::ReadFile(folder + "/hello.txt"), "hello\n");

    r = Cli(env, "list");
    EXPECT_EQ(r.out,
              "D:\t" + iso + "\tread-only\t" + std::to_string(fs::file_size(iso)) + "\tSpindle\n");
    r = Cli(env, "drives");
    // Read in Linux words; the table keeps the device's own name.
    EXPECT_EQ(r.out, "C:\tfolder\t/\nD:\tcdrom\tspindle-driver:cd0\n");
    EXPECT_EQ(port::FirstDosDeviceTarget("D:"), "\\Device\\FileDisk\\FileDiskCd0");

    r = Cli(env, "mount " + iso + " d:");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(iso + " on drive D: the drive letter is in use (error 170)"),
              std::string::npos)
        << r.err;

    {
        std::ifstream held(folder + "/hello.txt");
        r = Cli(env, "dismount D");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("in use"), std::string::npos) << r.err;
        EXPECT_EQ(spindle_test::ReadFile(folder + "/hello.txt"), "hello\n");
    }
    EXPECT_EQ(Cli(env, "dismount D").status, 0);
    EXPECT_EQ(Cli(env, "list").out, "");
    EXPECT_FALSE(fs::exists(folder));

    // A relative image path is completed against the working directory.
    r = Cli(env, "mount disc.iso e", "cd '" + env.root() + "' && ");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Cli(env, "list").out.substr(0, 4 + iso.size()), "E:\t" + iso + "\t");
    EXPECT_EQ(Cli(env, "dismount E:").status, 0);

    // A: and B: are drive letters like the others: a drive mounted there is listed.
    r = Cli(env, "mount " + iso + " a");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Cli(env, "list").out.substr(0, 3 + iso.size()), "A:\t" + iso);
    EXPECT_EQ(Cli(env, "dismount A").status, 0);
    EXPECT_EQ(Cli(env, "list").out, "");
}

TEST(DriveCli, MountsStartedAtOnceWithoutALetterTakeOneEach) {
    SPINDLE_REQUIRE_FUSE();
    TempEnv env;
    env.EmptyTable();
    std::string iso = MakeIso(env, "Spindle");
    ASSERT_FALSE(iso.empty());
    DriverProcess driver;
    ASSERT_TRUE(driver.ready());
    // Four at once: a letter another one took first is no reason to fail.
    std::string cmd;
    for (int i = 0; i < 4; ++i)
        cmd += std::string(SPINDLE_BIN_DIR) + "/spindle-cli mount '" + iso + "' >'" + env.root() +
               "/out" + std::to_string(i) + "' 2>&1 & ";
    ASSERT_EQ(std::system(("cd / && " + cmd + "wait").c_str()), 0);
    std::string letters;
    for (int i = 0; i < 4; ++i) {
        std::string out = spindle_test::ReadFile(env.root() + "/out" + std::to_string(i));
        EXPECT_EQ(out.substr(1, 2), ":\t") << out;
        letters += out.substr(0, 1);
    }
    std::sort(letters.begin(), letters.end());
    EXPECT_EQ(letters, "CDEF");
    std::string list = Cli(env, "list").out;
    EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 4) << list;
    for (char c : letters)
        EXPECT_EQ(Cli(env, std::string("dismount ") + c).status, 0) << c;
}

// A mounted drive shows where file managers look (GIO's own view, `gio mount
// -l`) under its label and letter, as an optical disc where the desktop's
// volume monitor is installed (else as GIO's default, a hard disk), that can
// be unmounted there. Unmounted there, the drive is dismounted
// and its letter freed while the driver runs on; with a file of it open the
// drive stays and shows again. A clean stop, and the start after a killed
// driver, leave no mount there.
TEST(DriveCli, DrivesShowToTheDesktopAndAnUnmountThereDismounts) {
    SPINDLE_REQUIRE_FUSE();
    TempEnv env;
    env.EmptyTable();
    std::string iso = MakeIso(env, "Holiday 2026");
    ASSERT_FALSE(iso.empty());
    const std::string media = env.home() + "/Spindle", k = media + "/Holiday 2026 (K:)";
    const std::string driveK = env.runtime() + "/dosdevices/K:";
    {
        DriverProcess driver;
        ASSERT_TRUE(driver.ready());
        ASSERT_EQ(Cli(env, "mount " + iso + " K").status, 0);
        ASSERT_EQ(Cli(env, "mount " + iso + " L").status, 0);
        std::string gio = spindle_test::Run("gio mount -l 2>&1");
        EXPECT_NE(gio.find("Holiday 2026 (K:) -> file://" + media + "/Holiday%202026%20(K:)"),
                  std::string::npos)
            << gio;
        EXPECT_NE(gio.find("Holiday 2026 (L:) -> "), std::string::npos) << gio;
        const std::string info = GioMountInfo("Holiday 2026 (K:)");
        const bool optical = fs::exists("/usr/share/gvfs/remote-volume-monitors/udisks2.monitor");
        EXPECT_NE(info.find(optical ? "themed icons:  [media-optical]"
                                    : "themed icons:  [drive-harddisk]"),
                  std::string::npos)
            << info;
        if (!optical) { // no eject offered that could not work
            EXPECT_NE(info.find("can_eject=0"), std::string::npos) << info;
        }
        EXPECT_NE(info.find("can_unmount=1"), std::string::npos) << info;
        EXPECT_EQ(spindle_test::ReadFile(k + "/hello.txt"), "hello\n");
        EXPECT_EQ(port::DesktopFolder(u'K'), k + "/"); // what a mount opens

        ASSERT_TRUE(spindle_test::Shell("gio mount -u " + spindle_test::Q(k)));
        ASSERT_TRUE(WaitUntil(env, [&] { return !fs::exists(driveK); }));
        Result r = Cli(env, "list");
        EXPECT_EQ(r.out.substr(0, 3 + iso.size()), "L:\t" + iso) << r.out;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
        EXPECT_FALSE(fs::exists(k));
        EXPECT_EQ(port::DesktopFolder(u'K'), port::DriveFolder(u'K'));
        EXPECT_EQ(spindle_test::Run("gio mount -l 2>&1").find("(K:)"), std::string::npos);
        EXPECT_EQ(kill(driver.pid(), 0), 0);
        EXPECT_EQ(spindle_test::ReadFile(env.runtime() + "/drives/L/hello.txt"), "hello\n");

        // The letter is free again; a file held open in drives/K/ keeps the
        // drive through another unmount there, and its mount comes back.
        ASSERT_EQ(Cli(env, "mount " + iso + " K").status, 0) << Cli(env, "list").out;
        {
            std::ifstream held(env.runtime() + "/drives/K/hello.txt");
            ASSERT_TRUE(held.is_open());
            ASSERT_TRUE(spindle_test::Shell("gio mount -u " + spindle_test::Q(k)));
            EXPECT_TRUE(WaitUntil(env, [&] { return Mounted(k); }));
            EXPECT_TRUE(fs::exists(driveK));
            EXPECT_EQ(spindle_test::ReadFile(k + "/hello.txt"), "hello\n");
        }
        EXPECT_EQ(driver.Stop(), 0);
        EXPECT_FALSE(Mounted(k));
        EXPECT_TRUE(fs::is_empty(media));
    }
    DriverProcess killed;
    ASSERT_TRUE(killed.ready());
    ASSERT_EQ(Cli(env, "mount " + iso + " K").status, 0);
    // Looked at, as a file manager does: the kernel keeps what it saw.
    ASSERT_TRUE(fs::is_directory(k));
    ASSERT_EQ(killed.Stop(SIGKILL), 128 + SIGKILL);
    ASSERT_TRUE(Mounted(k));
    DriverProcess next;
    ASSERT_TRUE(next.ready());
    EXPECT_FALSE(Mounted(k));
    EXPECT_TRUE(fs::is_empty(media));
}
