// spindle-cli burn, erase, eject, close-tray and devices, run as a user would
// run them, on a file that drives.conf makes recorder R:.
#include "tests/support/TempEnv.h"
#include "tests/support/Wait.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>

using spindle_test::TempEnv;

#if defined(__SANITIZE_ADDRESS__)
#define SPINDLE_ADDRESS_SANITIZER
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SPINDLE_ADDRESS_SANITIZER
#endif
#endif

namespace {

using Result = spindle_test::Outcome;
using spindle_test::ReadFile;
using spindle_test::TimeScale;

const std::string kCli = std::string(SPINDLE_BIN_DIR) + "/spindle-cli ";

// Runs a shell command line with its output and errors caught.
Result Sh(const TempEnv& env, const std::string& line) {
    return spindle_test::RunCaught(line, env.root());
}

Result Cli(const TempEnv& env, const std::string& args) {
    return Sh(env, kCli + args);
}

// R: is a stdio: file of the test's own.
std::string MakeRecorder(const TempEnv& env) {
    const std::string disc = env.root() + "/disc";
    std::filesystem::create_directories(env.config());
    spindle_test::WriteFile(env.config() + "/drives.conf", "R = stdio:" + disc + "\n");
    return disc;
}

} // namespace

TEST(BurnCli, BurnsVerifiesErasesAndListsThePseudoRecorder) {
    TempEnv env;
    const std::string disc = MakeRecorder(env);
    std::string payload(2048 * 500, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>(i * 131 + i / 2048);
    const std::string iso = env.Write("a.iso", payload);

    Result r = Cli(env, "devices");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "R:\tYOYODYNE\tWARP DRIVE\tstdio:" + disc + "\n");

    r = Cli(env, "burn --verify --copies 2 " + iso + " r:");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Verifying (copy 2 of 2)"), std::string::npos) << r.err;
    EXPECT_TRUE(ReadFile(disc) == payload);

    // A MODE1/2352 BIN, found beside its sheet whatever the working folder.
    std::string raw;
    for (std::size_t at = 0; at < payload.size(); at += 2048) {
        std::string s(2352, '\0');
        s.replace(1, 10, std::string(10, '\xFF'));
        s[15] = 1;
        s.replace(16, 2048, payload.substr(at, 2048));
        raw += s;
    }
    env.Write("img/track.bin", raw);
    const std::string cue =
        env.Write("img/disc.cue",
                  "FILE \"track.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n");
    EXPECT_EQ(Cli(env, "erase R").status, 0);
    EXPECT_EQ(ReadFile(disc, ""), "");
    r = Cli(env, "burn --cue " + cue + " R");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(ReadFile(disc) == payload);

    // Refused before the recorder is touched; a wrong letter; usage.
    env.Write("bad.cue", "FILE gone.bin BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:00\n");
    r = Cli(env, "burn " + env.root() + "/bad.cue R");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("\"gone.bin\" named by the cue sheet was not found"), std::string::npos)
        << r.err;
    EXPECT_TRUE(ReadFile(disc) == payload);
    EXPECT_EQ(Cli(env, "burn " + iso + " Q").status, 1);
    EXPECT_EQ(Cli(env, "burn --copies 0 " + iso + " R").status, 2);
    EXPECT_EQ(Cli(env, "eject R").status, 0);
    EXPECT_EQ(Cli(env, "close-tray R").status, 0);
}

// A test run says that nothing was written; on a terminal its bar starts at 0%.
TEST(BurnCli, ASimulatedBurnSaysNothingWasWritten) {
    TempEnv env;
    const std::string disc = MakeRecorder(env);
    spindle_test::WriteFile(disc, "untouched");
    const std::string iso = env.Write("a.iso", std::string(2048 * 64, 'i'));
    // script(1) gives the command a terminal, so that the bar is drawn.
    Result r = Sh(env, "script -qec " + spindle_test::Q(kCli + "burn --simulate " + iso + " R") +
                           " /dev/null");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("The test run succeeded. Nothing was written to the disc."),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("disc was burned"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("[........................................]   0%"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("-1%"), std::string::npos) << r.out;
    EXPECT_EQ(ReadFile(disc), "untouched");
}

// A "sheet" that is a device, a FIFO or far too large is refused from its
// type and size before anything is read: at once, and in little memory
// (the address-space limit is left out under the address sanitizer, which
// reserves more than that up front).
TEST(BurnCli, CueSheetsThatAreNoSmallRegularFilesAreRefusedUnread) {
    TempEnv env;
    const std::string disc = MakeRecorder(env);
    const std::string fifo = env.root() + "/fifo.cue", big = env.root() + "/big.cue";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::truncate(env.Write("big.cue", "").c_str(), 300 << 20), 0);
#if defined(SPINDLE_ADDRESS_SANITIZER)
    const std::string limit;
#else
    const std::string limit = "ulimit -v 262144; ";
#endif
    const struct {
        std::string path, said;
    } rows[] = {
        {"/dev/zero", "\"/dev/zero\" is not a cue sheet (it is not a regular file)"},
        {fifo, "\"" + fifo + "\" is not a cue sheet (it is not a regular file)"},
        {big, "\"" + big + "\" is too large to be a cue sheet"},
    };
    const auto bound = std::chrono::duration<double>(10 * TimeScale());
    for (const auto& row : rows) {
        const auto start = std::chrono::steady_clock::now();
        Result r = Sh(env, limit + "timeout -s KILL " +
                               std::to_string(static_cast<int>(60 * TimeScale())) + " " + kCli +
                               "burn --cue " + row.path + " R");
        EXPECT_LT(std::chrono::steady_clock::now() - start, bound) << row.path;
        EXPECT_EQ(r.status, 1) << row.path << ": " << r.err;
        EXPECT_NE(r.err.find(row.said), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(disc));
}
