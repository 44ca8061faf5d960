// spindle-cli and spindle-driver follow the shell's conventions: help on
// every subcommand, one error style with exit statuses a script can tell
// apart, JSON that parses, and a driver that stops on request.
#include "tests/support/DriverProcess.h"
#include "tests/support/TempEnv.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>

namespace fs = std::filesystem;
using spindle_test::DriverProcess;
using spindle_test::TempEnv;

namespace {

using spindle_test::Outcome;

// Runs a program of the build's bin folder in the test's folder.
Outcome Shell(const TempEnv& env, const std::string& program, const std::string& args,
              const std::string& pipe = "") {
    return spindle_test::RunCaught("cd '" + env.root() + "' && " + SPINDLE_BIN_DIR + "/" + program +
                                       " " + args + pipe,
                                   env.root());
}

Outcome Cli(const TempEnv& env, const std::string& args) {
    return Shell(env, "spindle-cli", args);
}

// Every line of stderr in the one style: "spindle-cli: SUB: ..." or the usage.
void ExpectStyle(const std::string& sub, const std::string& err) {
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.rfind("spindle-cli: " + sub + ": ", 0) == 0 ||
                    line.rfind("usage: spindle-cli " + sub, 0) == 0)
            << line;
}

const char* const kSubcommands[] = {"mount", "dismount",  "list",       "drives",
                                    "label", "build-iso", "copy-disc",  "burn",
                                    "erase", "eject",     "close-tray", "devices"};

} // namespace

TEST(CliConventions, HelpAndVersionNeverTouchAFileOrDrive) {
    TempEnv env;
    env.EmptyTable();
    for (const char* sub : kSubcommands) {
        // Before, after and among operands that would otherwise be a letter
        // or an output file: help is printed, nothing is done.
        for (const std::string& args :
             {std::string(sub) + " --help", std::string(sub) + " out.iso K -h"}) {
            Outcome r = Cli(env, args);
            EXPECT_EQ(r.status, 0) << args;
            EXPECT_EQ(r.out.rfind(std::string("usage: spindle-cli ") + sub, 0), 0u)
                << args << r.out;
            EXPECT_EQ(r.err, "") << args;
        }
    }
    EXPECT_FALSE(fs::exists(env.root() + "/out.iso"));
    // After "--" a "-h" is an operand again.
    EXPECT_EQ(Cli(env, "label -- -h").status, 1);

    Outcome top = Cli(env, "--help");
    EXPECT_EQ(top.status, 0);
    for (const char* code : {"\n  0 ", "\n  1 ", "\n  2 ", "\n  130 "})
        EXPECT_NE(top.out.find(code), std::string::npos) << code;
    for (const char* program : {"spindle-cli", "spindle-driver"}) {
        Outcome r = Shell(env, program, "--version");
        EXPECT_EQ(r.status, 0) << program;
        EXPECT_EQ(r.out.rfind(std::string(program) + " ", 0), 0u) << r.out;
    }
}

TEST(CliConventions, OneErrorStyleAndExitStatusForEverySubcommand) {
    TempEnv env;
    env.EmptyTable();
    env.Write("src/a.txt", "a");
    // Unreadable drives.conf lines are reported by number on commands of the
    // drive table, and the good lines still count.
    env.Write("cfg/drives.conf", "# mine\nR = stdio:/nowhere.bin\nR stdio:/x\n");
    struct Case {
        std::string sub, args;
        int status;
        std::string says;
    } cases[] = {
        {"label", "missing.iso", 1, "missing.iso: file not found (error 2)"},
        {"mount", "missing.iso K", 1, "missing.iso: file not found (error 2)"}, // no driver started
        {"mount", "\"$(printf 'bad\\ndrive9 = Q.iso')\" K", 1,
         "bad\\ndrive9 = Q.iso: a path with a line break cannot be mounted"},
        {"list", "", 0, "no spindle-driver runs for"},
        {"drives", "", 0, "drives.conf line 3: no '='"},
        {"dismount", "9", 2, "'9' is not a drive letter"},
        {"list", "extra", 2, "usage: spindle-cli list"},
        {"devices", "--bogus", 2, "usage: spindle-cli devices"},
        {"burn", "x.iso", 2, "usage: spindle-cli burn"},
        {"burn", "--speed 0 x.iso R", 2, "--speed takes a number"},
        {"erase", "--fast R", 2, "unknown option --fast"},
        {"eject", "", 2, "usage: spindle-cli eject"},
        {"eject", "C", 1, "C: is not a recorder"},
        {"build-iso", "", 2, "usage: spindle-cli build-iso"},
        {"build-iso", "out.iso missing", 1, "missing"},
        {"copy-disc", "R", 2, "usage: spindle-cli copy-disc"},
    };
    for (const Case& c : cases) {
        Outcome r = Cli(env, c.sub + " " + c.args);
        EXPECT_EQ(r.status, c.status) << c.sub << " " << c.args << ": " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.sub << " " << c.args << ": " << r.err;
        ExpectStyle(c.sub, r.err);
    }
    EXPECT_EQ(Cli(env, "drives").out, "R:\tcdrom\tstdio:/nowhere.bin\n");
    EXPECT_FALSE(fs::exists(env.root() + "/out.iso"));
    EXPECT_EQ(Cli(env, "frobnicate").status, 2);

    // build-iso says what it builds, unless --quiet.
    Outcome loud = Cli(env, "build-iso loud.iso src");
    EXPECT_EQ(loud.status, 0) << loud.err;
    EXPECT_NE(loud.err.find("build-iso: building loud.iso (label \"loud\") from src"),
              std::string::npos)
        << loud.err;
    Outcome quiet = Cli(env, "build-iso --quiet quiet.iso src");
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");
    EXPECT_TRUE(fs::exists(env.root() + "/quiet.iso"));
}

// Every command that takes a drive letter reads it by one rule: a letter in
// either case, then optionally ":" and one "\\" or "/". A refused spelling is
// a usage error (2) before anything is touched; an accepted one goes on to
// the command's own failure (1): an image path no drive list can keep, a
// letter this empty table does not have, a missing image.
TEST(CliConventions, EveryCommandReadsDriveLettersByOneRule) {
    TempEnv env;
    env.EmptyTable();
    const std::string commands[] = {"mount \"$(printf 'a\\nb.iso')\" @",
                                    "dismount @",
                                    "copy-disc @ out.iso",
                                    "burn missing.iso @",
                                    "erase @",
                                    "eject @",
                                    "close-tray @"};
    const char* const accepted[] = {"q", "Q", "Q:", "'Q:\\'", "Q:/"};
    const char* const refused[] = {"Q:x", "QQ", "9", "Q::", "'Q\\'", ":", "'Q:\\\\'", "Ä"};
    for (const std::string& command : commands) {
        const std::string sub = command.substr(0, command.find(' '));
        const std::size_t at = command.find('@');
        for (const char* letter : accepted) {
            Outcome r = Cli(env, std::string(command).replace(at, 1, letter));
            EXPECT_EQ(r.status, 1) << command << " " << letter << ": " << r.err;
            EXPECT_EQ(r.err.find("is not a drive letter"), std::string::npos) << r.err;
        }
        for (const char* letter : refused) {
            Outcome r = Cli(env, std::string(command).replace(at, 1, letter));
            EXPECT_EQ(r.status, 2) << command << " " << letter << ": " << r.err;
            EXPECT_NE(r.err.find("is not a drive letter"), std::string::npos) << r.err;
            ExpectStyle(sub, r.err);
        }
    }
    EXPECT_FALSE(fs::exists(env.root() + "/out.iso"));
}

TEST(CliConventions, JsonListsParseAndTheDriverStopsOnRequest) {
    SPINDLE_REQUIRE_FUSE();
    TempEnv env;
    env.EmptyTable();
    env.Write("src/hello.txt", "hello\n");
    // A name that JSON must escape: quotes, a backslash, a tab, non-ASCII.
    const std::string name = "we \"said\" \\ \t caf\xc3\xa9.iso";
    const std::string iso = env.root() + "/" + name;
    ASSERT_EQ(Cli(env, "build-iso --quiet 'plain.iso' src").status, 0);
    // A label with quotes, a line break, a tab and a terminal's escape: the
    // JSON gives it exactly, the text lists keep it on one line and column.
    ASSERT_EQ(Cli(env, "label plain.iso \"$(printf 'A \"B\"\\nC\\tD\\033[2J')\"").status, 0);
    const std::string shownLabel = "A \"B\"\\nC\\tD\\x1b[2J";
    EXPECT_EQ(Cli(env, "label plain.iso").out, shownLabel + "\n");
    fs::rename(env.root() + "/plain.iso", iso);
    const std::string parse = " | python3 -c 'import json,sys; d=json.load(sys.stdin); "
                              "print(len(d)); [print(x[\"letter\"], x[\"image\"], "
                              "ascii(x[\"label\"]), x.get(\"access\"), sep=\"|\") for x in d]'";
    DriverProcess driver;
    ASSERT_TRUE(driver.ready());
    Outcome mount = Cli(env, "mount '" + iso + "' K");
    ASSERT_EQ(mount.status, 0) << mount.err;
    Outcome list = Shell(env, "spindle-cli", "list --json", parse);
    EXPECT_EQ(list.out, "1\nK:|" + iso + "|'A \"B\"\\nC\\tD\\x1b[2J'|read-only\n") << list.err;
    const std::string shownIso = env.root() + "/we \"said\" \\ \\t caf\xc3\xa9.iso";
    Outcome text = Cli(env, "list");
    EXPECT_EQ(text.out.substr(0, text.out.find('\t', 3 + shownIso.size() + 1)),
              "K:\t" + shownIso + "\tread-only")
        << text.out;
    EXPECT_TRUE(text.out.ends_with("\t" + shownLabel + "\n")) << text.out;
    EXPECT_EQ(std::count(text.out.begin(), text.out.end(), '\n'), 1) << text.out;
    Outcome devices = Shell(env, "spindle-cli", "devices --json", parse);
    ASSERT_FALSE(devices.out.empty()) << devices.err; // a JSON array, empty without recorders
    EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(devices.out[0]))) << devices.out;

    // --stop ends this folder's driver and waits for it; a second one finds none.
    Outcome stop = Shell(env, "spindle-driver", "--stop");
    EXPECT_EQ(stop.status, 0) << stop.err;
    EXPECT_NE(stop.out.find("stopped the spindle-driver of"), std::string::npos) << stop.out;
    EXPECT_TRUE(spindle_test::WaitForExit(driver.pid(), 5000));
    stop = Shell(env, "spindle-driver", "--stop");
    EXPECT_EQ(stop.status, 0);
    EXPECT_NE(stop.out.find("no spindle-driver runs"), std::string::npos) << stop.out;
    EXPECT_EQ(Shell(env, "spindle-cli", "list --json", parse).out, "0\n");
}
