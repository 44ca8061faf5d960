// The driver as its systemd user unit runs it: the drives of the last clean
// stop come back at the next start, those that cannot come back are passed
// over with a word, and a killed driver leaves the list as it was.
#include "port/Utf.h"
#include "tests/support/DriverProcess.h"
#include "tests/support/Iso.h"
#include "tests/support/TempEnv.h"
#include "vdrive/VirtualDrive.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <sys/stat.h>

using namespace spindle_test;

namespace {

// The arguments of the unit's ExecStart line (from the unit the build
// configured), provided it starts an installed spindle-driver; the test runs
// them with the build's driver in its place.
std::optional<std::vector<std::string>> UnitArguments() {
    std::ifstream in(SPINDLE_UNIT_FILE);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.starts_with("ExecStart="))
            continue;
        std::istringstream words(line.substr(10));
        std::string program, word;
        words >> program;
        if (!program.ends_with("/spindle-driver"))
            return std::nullopt;
        std::vector<std::string> args;
        while (words >> word)
            args.push_back(word);
        return args;
    }
    return std::nullopt;
}

bool Mount(char16_t letter, const std::string& image) {
    vdrive::MountRequest request;
    request.imagePath = port::PathToUtf16(image);
    port::ErrorCode error = 0;
    return vdrive::MountImage(letter, request, error);
}

std::string Served(char16_t letter) {
    auto info = vdrive::QueryMountedImage(letter);
    return info ? port::PathToUtf8(vdrive::FromNtPath(info->imageName)) : "(none)";
}

} // namespace

TEST(Restore, DrivesOfACleanStopComeBackWhereTheyStillCan) {
    SPINDLE_REQUIRE_FUSE();
    auto unit = UnitArguments();
    ASSERT_TRUE(unit) << "no ExecStart with spindle-driver in " << SPINDLE_UNIT_FILE;
    TempEnv env;
    env.EmptyTable();
    // Each image holds a file naming it; names not UTF-8 (Latin-1), with a
    // blank, and beyond ASCII.
    const std::string names[] = {"a\xe9", "b b", "c \xc3\xbc"};
    std::string iso[3];
    for (int i = 0; i < 3; ++i) {
        env.Write("src" + std::to_string(i) + "/which.txt", names[i]);
        iso[i] = env.root() + "/" + names[i] + ".iso";
        ASSERT_TRUE(
            BuildIso(IsoTool::Genisoimage, env.root() + "/src" + std::to_string(i), iso[i]));
    }
    auto content = [&](char letter) {
        return ReadFile(env.runtime() + "/drives/" + letter + "/which.txt");
    };
    const std::string list = env.root() + "/state/drives.ini";
    const std::string err = env.root() + "/driver.err";

    {
        DriverProcess driver;
        ASSERT_TRUE(driver.ready());
        ASSERT_TRUE(Mount(u'K', iso[0]));
        ASSERT_TRUE(Mount(u'M', iso[1]));
        EXPECT_EQ(driver.Stop(SIGTERM), 0);
    }
    EXPECT_EQ(ReadFile(list), "[DRIVES]\r\ndrive0 = K\r\nfile0 = " + iso[0] +
                                  "\r\ndrive1 = M\r\nfile1 = " + iso[1] + "\r\n");

    // Started as the unit starts it: both drives are back before it is ready.
    {
        DriverProcess driver(*unit, err);
        ASSERT_TRUE(driver.ready());
        EXPECT_EQ(Served(u'K'), iso[0]);
        EXPECT_EQ(Served(u'M'), iso[1]);
        EXPECT_EQ(content('K'), names[0]);
        EXPECT_EQ(content('M'), names[1]);
        ASSERT_TRUE(Mount(u'P', iso[2]));
        EXPECT_TRUE(Shell(std::string(SPINDLE_DRIVER_EXE) + " --stop >/dev/null"));
        // --stop returns once the lock is free; the process ends a moment later.
        EXPECT_TRUE(spindle_test::WaitForExit(driver.pid(), 30000));
        EXPECT_EQ(driver.Stop(), 0);
    }
    const std::string threeDrives = ReadFile(list);
    EXPECT_NE(threeDrives.find("drive2 = P\r\nfile2 = " + iso[2] + "\r\n"), std::string::npos)
        << threeDrives;

    // The third image is gone and another drive took M: K alone comes back;
    // the other two are named on stderr, each in one sentence.
    ASSERT_EQ(unlink(iso[2].c_str()), 0);
    WriteFile(env.runtime() + "/dosdevices/M:", "/\n");
    WriteFile(err, "");
    {
        DriverProcess driver(*unit, err);
        ASSERT_TRUE(driver.ready());
        EXPECT_EQ(Served(u'K'), iso[0]);
        EXPECT_EQ(content('K'), names[0]);
        EXPECT_EQ(Served(u'M'), "(none)");
        EXPECT_EQ(ReadFile(env.runtime() + "/dosdevices/M:"), "/\n");
        EXPECT_EQ(Served(u'P'), "(none)");
        EXPECT_FALSE(vdrive::IsDriveLetterUsed(u'P'));
        EXPECT_EQ(ReadFile(err), "spindle-driver: drive K: is restored from " + iso[0] +
                                     "\nspindle-driver: drive M: is not restored from " + iso[1] +
                                     ": the letter is taken now\n"
                                     "spindle-driver: drive P: is not restored: its image " +
                                     iso[2] + " no longer exists\n");
        // Killed, not stopped: the list of the last clean stop stays.
        EXPECT_EQ(driver.Stop(SIGKILL), 128 + SIGKILL);
    }
    EXPECT_EQ(ReadFile(list), threeDrives);
}

TEST(Restore, ListsAndSettingsThatAreNoFilesOfTheirSizeNeverHoldTheDriver) {
    SPINDLE_REQUIRE_FUSE();
    TempEnv env;
    env.EmptyTable();
    const std::string list = env.root() + "/state/drives.ini";
    const std::string err = env.root() + "/driver.err";
    std::string padded = "[DRIVES]\r\n";
    while (padded.size() <= (64 << 10))
        padded += "; " + std::string(62, '-') + "\r\n";
    std::string many = "[DRIVES]\r\n";
    for (int n = 0; n < 40; ++n)
        many += "drive" + std::to_string(n) + " = " + static_cast<char>('A' + n % 26) + "\r\nfile" +
                std::to_string(n) + " = /nowhere/" + std::to_string(n) + ".iso\r\n";
    struct Case {
        const char* what;
        std::string path;
        const char* text; // nullptr: a FIFO
        std::string says;
        int notRestored; // "is not restored" sentences
    } cases[] = {
        {"a FIFO as the list", list, nullptr,
         "cannot read the list of drives to restore, " + list + ": it is not a regular file", 0},
        {"a FIFO as drives.conf", env.config() + "/drives.conf", nullptr, "", 0},
        {"a list past any the driver writes", list, padded.c_str(), "is larger than 65536 bytes",
         0},
        {"more drives than letters", list, many.c_str(),
         "names 40 drives; only the first 26 are restored", 26},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::create_directories(std::filesystem::path(c.path).parent_path());
        if (c.text)
            WriteFile(c.path, c.text);
        else
            ASSERT_EQ(mkfifo(c.path.c_str(), 0600), 0);
        WriteFile(err, "");
        DriverProcess driver({"--restore"}, err);
        EXPECT_TRUE(driver.ready());
        EXPECT_TRUE(Shell(std::string(SPINDLE_DRIVER_EXE) + " --stop >/dev/null"));
        EXPECT_TRUE(spindle_test::WaitForExit(driver.pid(), 30000));
        driver.Stop(SIGKILL);
        const std::string said = ReadFile(err);
        EXPECT_NE(said.find(c.says), std::string::npos) << said;
        int notRestored = 0;
        for (std::size_t at = 0; (at = said.find("is not restored", at)) != std::string::npos; ++at)
            ++notRestored;
        EXPECT_EQ(notRestored, c.notRestored) << said;
        std::filesystem::remove(c.path);
    }
}

TEST(Restore, ADriveWhoseImageLiesInAnotherComesBackWhateverTheOrderOfTheirLetters) {
    SPINDLE_REQUIRE_FUSE();
    TempEnv env;
    env.EmptyTable();
    env.Write("inner/which.txt", "inner");
    env.Write("outer/which.txt", "outer");
    ASSERT_TRUE(
        BuildIso(IsoTool::Genisoimage, env.root() + "/inner", env.root() + "/outer/inner.iso"));
    const std::string outer = env.root() + "/outer.iso";
    ASSERT_TRUE(BuildIso(IsoTool::Genisoimage, env.root() + "/outer", outer));
    // K's image is on M, and K is listed (and sorts) first.
    const std::string inner = env.runtime() + "/drives/M/inner.iso";
    env.Write("state/drives.ini", "[DRIVES]\r\ndrive0 = K\r\nfile0 = " + inner +
                                      "\r\ndrive1 = M\r\nfile1 = " + outer + "\r\n");
    DriverProcess driver({"--restore"}, env.root() + "/driver.err");
    ASSERT_TRUE(driver.ready());
    EXPECT_EQ(Served(u'M'), outer);
    EXPECT_EQ(Served(u'K'), inner);
    EXPECT_EQ(ReadFile(env.runtime() + "/drives/K/which.txt"), "inner");
    EXPECT_EQ(ReadFile(env.runtime() + "/drives/M/which.txt"), "outer");
    // The inner drive goes first, so that the outer one is free to go.
    EXPECT_TRUE(vdrive::DismountDrive(u'K').ok);
}
