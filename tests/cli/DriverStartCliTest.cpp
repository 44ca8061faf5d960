// spindle-cli mount with no driver running starts spindle-driver in the
// background for its runtime folder: once, even when mounts race; a start
// that fails is said in one sentence.
#include "tests/support/DriverProcess.h"
#include "tests/support/TempEnv.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <sys/stat.h>

namespace {

using spindle_test::TempEnv;

TEST(DriverStartCli, RacingMountsStartOneDriverAndAFailedStartSaysWhy) {
    SPINDLE_REQUIRE_FUSE();
    TempEnv env;
    env.EmptyTable();
    env.Write("cfg/drives.conf", "media = off\n");
    env.Write("src/hello.txt", "hello\n");
    const std::string iso = env.root() + "/disc.iso";
    ASSERT_TRUE(spindle_test::Shell("genisoimage -quiet -J -R -o " + spindle_test::Q(iso) + " " +
                                    spindle_test::Q(env.root() + "/src")));
    // The program's folder holds a stand-in driver that counts its starts and
    // runs the real one.
    const std::string program = env.root() + "/program/";
    env.Write("program/spindle-driver",
              "#!/bin/sh\necho started >> " + spindle_test::Q(env.root() + "/starts") + "\nexec " +
                  spindle_test::Q(SPINDLE_BIN_DIR "/spindle-driver") + " \"$@\"\n");
    chmod((program + "spindle-driver").c_str(), 0755);
    const std::string cli = "SPINDLE_PROGRAM_DIR=" + spindle_test::Q(program) + " " +
                            SPINDLE_BIN_DIR "/spindle-cli mount " + spindle_test::Q(iso);

    // Four mounts at once, with no driver running.
    ASSERT_EQ(spindle_test::DriversOf(env.runtime()), 0);
    std::string race;
    for (int i = 0; i < 4; ++i) {
        const std::string n = env.root() + "/" + std::to_string(i);
        race += "(" + cli + "; echo $? >&2) >" + n + ".out 2>" + n + ".err & ";
    }
    ASSERT_TRUE(spindle_test::Shell(race + "wait"));
    std::set<std::string> letters;
    std::string outs;
    for (int i = 0; i < 4; ++i) {
        const std::string n = env.root() + "/" + std::to_string(i);
        const std::string out = spindle_test::ReadFile(n + ".out");
        EXPECT_EQ(spindle_test::ReadFile(n + ".err"), "0\n") << out;
        letters.insert(out.substr(0, 2));
        outs += out + spindle_test::ReadFile(n + ".err");
        const std::string folder = out.substr(3, out.size() > 4 ? out.size() - 4 : 0);
        EXPECT_EQ(spindle_test::ReadFile(folder + "/hello.txt"), "hello\n") << out;
    }
    EXPECT_EQ(letters.size(), 4u) << "each mount on a letter of its own:\n" << outs;
    EXPECT_EQ(spindle_test::ReadFile(env.root() + "/starts"), "started\n");
    EXPECT_EQ(spindle_test::DriversOf(env.runtime()), 1);
    EXPECT_EQ(spindle_test::StopDriverOf(env.runtime()), 1);
    EXPECT_EQ(spindle_test::DriversOf(env.runtime()), 0);

    // Starts that fail: no driver program anywhere, and a driver that cannot
    // make its drives folder. Each says why in one line, and mounts nothing.
    const std::string noDriver = "SPINDLE_PROGRAM_DIR=" + spindle_test::Q(env.root()) +
                                 " PATH=/nonexistent " SPINDLE_BIN_DIR "/spindle-cli mount " +
                                 spindle_test::Q(iso);
    struct Case {
        std::string command, says;
    } cases[] = {
        {noDriver, "none could be started: spindle-driver is neither in " + env.root() +
                       "/ nor on the PATH (error 3)\n"},
        {cli, "none could be started: spindle-driver did not start: cannot create the folder " +
                  env.runtime() + "/drives: "},
    };
    std::filesystem::remove(env.runtime() + "/drives");
    env.Write("run/drives", "a file where the driver's folder belongs");
    for (const Case& c : cases) {
        const spindle_test::Outcome r = spindle_test::RunCaught(c.command, env.root());
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(
            r.err.rfind("spindle-cli: mount: no spindle-driver runs for " + env.runtime() + " and ",
                        0),
            0u)
            << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
    // A driver that failed has said so before it ends: give it time to end.
    EXPECT_TRUE(spindle_test::WaitUntil([&] { return spindle_test::DriversOf(env.runtime()) == 0; },
                                        std::chrono::seconds(10)));
}

} // namespace
