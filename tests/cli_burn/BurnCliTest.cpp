// spindle-cli burn, erase, eject, close-tray and devices, run as a user would
// run them, on a file that drives.conf makes recorder R:.
#include "tests/support/TempEnv.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>

using spindle_test::TempEnv;

namespace {

struct Result {
    int status = -1;
    std::string out, err;
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

Result Cli(const TempEnv& env, const std::string& args) {
    std::string out = env.root() + "/cli.out", err = env.root() + "/cli.err";
    std::string cmd = std::string(SPINDLE_BIN_DIR) + "/spindle-cli " + args + " >'" + out +
                      "' 2>'" + err + "' </dev/null";
    int rc = std::system(cmd.c_str());
    Result r;
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.out = Slurp(out);
    r.err = Slurp(err);
    return r;
}

} // namespace

TEST(BurnCli, BurnsVerifiesErasesAndListsThePseudoRecorder) {
    TempEnv env;
    const std::string disc = env.root() + "/disc";
    std::filesystem::create_directories(env.config());
    std::ofstream(env.config() + "/drives.conf") << "R = stdio:" + disc + "\n";
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
    EXPECT_TRUE(Slurp(disc) == payload);

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
    EXPECT_EQ(Slurp(disc), "");
    r = Cli(env, "burn --cue " + cue + " R");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Slurp(disc) == payload);

    // Refused before the recorder is touched; a wrong letter; usage.
    env.Write("bad.cue", "FILE gone.bin BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:00\n");
    r = Cli(env, "burn " + env.root() + "/bad.cue R");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("\"gone.bin\" named by the cue sheet was not found"), std::string::npos)
        << r.err;
    EXPECT_TRUE(Slurp(disc) == payload);
    EXPECT_EQ(Cli(env, "burn " + iso + " Q").status, 1);
    EXPECT_EQ(Cli(env, "burn --copies 0 " + iso + " R").status, 2);
    EXPECT_EQ(Cli(env, "eject R").status, 0);
    EXPECT_EQ(Cli(env, "close-tray R").status, 0);
}
