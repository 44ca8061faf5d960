// spindle-cli copy-disc run as a user would: from a script (no terminal)
// and on a terminal with its question, progress bar and Ctrl-C.
#include "port/DosDevices.h"
#include "tests/disccopy/CopySupport.h"
#include "tests/support/DriverProcess.h"
#include "tests/support/TempEnv.h"
#include "tests/support/Terminal.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace copytest;

namespace {

constexpr std::size_t kChunk = engine::kDiscChunkBytes;

struct CliRun {
    int status = -1;
    std::string err;
};

CliRun Cli(const spindle_test::TempEnv& env, const std::string& args) {
    const spindle_test::Outcome run =
        spindle_test::RunCaught(std::string(SPINDLE_CLI) + " copy-disc " + args, env.root());
    return {run.status, run.err};
}

// Runs the command on a terminal; `talk` sees everything printed so far and
// may answer or signal. Returns the exit status and the screen.
CliRun OnTerminal(const std::vector<std::string>& args, const spindle_test::TerminalTalk& talk) {
    std::vector<std::string> argv{SPINDLE_CLI, "copy-disc"};
    argv.insert(argv.end(), args.begin(), args.end());
    const spindle_test::Outcome run = spindle_test::RunOnTerminal(argv, talk);
    return {run.status, run.out};
}

TEST(CopyDiscCli, CopiesAndRefusesAsAScriptSeesIt) {
    spindle_test::TempEnv env;
    env.EmptyTable();
    const std::string disc = env.Write("disc.bin", RandomBytes(2 * kChunk + 777, 21));
    port::PushDosDevice("R:", "stdio:" + disc);
    port::PushDosDevice("C:", "/");
    const std::string out = env.root() + "/out.iso";
    struct Case {
        const char* name;
        std::string args;
        int status;
        const char* says;
        bool fresh = false; // OUT removed first
    } cases[] = {
        {"copied", "r: '" + out + "'", 0, "", true},
        {"a label where there is no volume", "--label NEW R: '" + out + "'", 1,
         "the label could not be written", true},
        {"image exists", "R '" + out + "'", 1, "already exists; not replaced"},
        {"no optical drive", "C: x.iso", 1, "C: is no optical drive"},
        {"not a letter", "12 x.iso", 2, "is not a drive letter"},
        {"missing argument", "R", 2, "usage:"},
        {"unknown option", "--fast R x.iso", 2, "unknown option --fast"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.fresh)
            std::filesystem::remove(out);
        CliRun run = Cli(env, c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_TRUE(SameBytes(disc, out));
    }
}

class ScratchedDiscCli : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access("/dev/fuse", R_OK | W_OK) != 0)
            GTEST_SKIP() << "no FUSE here";
        env.EmptyTable();
        source = env.Write("source.bin", RandomBytes(3 * kChunk, 22));
        std::filesystem::create_directories(env.root() + "/mnt");
        disc = std::make_unique<BadSectorDisc>(source, env.root() + "/mnt",
                                               std::vector<std::int64_t>{10, 11, 600});
        ASSERT_TRUE(disc->Ready());
        port::PushDosDevice("R:", "stdio:" + disc->File());
        std::string sparse = env.root() + "/sparse.bin";
        WriteFile(sparse, "");
        ASSERT_EQ(::truncate(sparse.c_str(), 6ll << 30), 0);
        port::PushDosDevice("S:", "stdio:" + sparse);
    }

    std::string Expected() {
        std::string data = ReadFile(source);
        for (std::size_t s : {10, 11, 600})
            data.replace(s * 2048, 2048, 2048, '\0');
        return data;
    }

    spindle_test::TempEnv env;
    std::string source;
    std::unique_ptr<BadSectorDisc> disc;
};

TEST_F(ScratchedDiscCli, ReadErrorsFailUnlessIgnoredOrAnsweredYes) {
    const std::string out = env.root() + "/out.iso";
    CliRun refused = Cli(env, "R '" + out + "'");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("--ignore-read-errors"), std::string::npos) << refused.err;
    EXPECT_EQ(ReadFile(out, ""), "") << "sector 10 lies in the first chunk";

    std::filesystem::remove(out);
    CliRun ignored = Cli(env, "--ignore-read-errors R '" + out + "'");
    EXPECT_EQ(ignored.status, 3) << "a salvaged copy has its own status: " << ignored.err;
    EXPECT_NE(ignored.err.find("3 sectors could not be read"), std::string::npos) << ignored.err;
    EXPECT_EQ(ReadFile(out), Expected());
    EXPECT_EQ(ReadFile(out + ".badsectors"), "10-11\n600\n");

    std::filesystem::remove(out);
    bool asked = false;
    CliRun answered = OnTerminal({"R", out}, [&](pid_t, int master, const std::string& screen) {
        if (!asked && screen.find("[y/N]") != std::string::npos) {
            asked = true;
            (void)!::write(master, "y\n", 2);
        }
    });
    EXPECT_TRUE(asked) << answered.err;
    EXPECT_EQ(answered.status, 3) << answered.err;
    EXPECT_EQ(ReadFile(out), Expected());
}

TEST_F(ScratchedDiscCli, CtrlCOrSigtermStopsTheCopyAndKeepsThePartialImageBesideTheOld) {
    const std::string out = env.root() + "/big.iso";
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        WriteFile(out, "old image");
        std::filesystem::remove(out + ".part");
        bool answered = false, interrupted = false;
        CliRun run = OnTerminal({"S", out}, [&](pid_t pid, int master, const std::string& screen) {
            if (!answered && screen.find("[y/N]") != std::string::npos) {
                answered = true;
                (void)!::write(master, "y\n", 2); // replace it
            }
            if (!interrupted && screen.find("\r[") != std::string::npos) {
                interrupted = true;
                ::kill(pid, signal);
            }
        });
        EXPECT_TRUE(interrupted) << run.err;
        EXPECT_EQ(run.status, 130) << run.err;
        EXPECT_NE(run.err.find("the partial image " + out + ".part is kept"), std::string::npos)
            << run.err;
        EXPECT_EQ(ReadFile(out), "old image");
        EXPECT_LT(std::filesystem::file_size(out + ".part"), 6ull << 30);
    }
}

// The copy reads what the drive serves, and never writes over it: not onto a
// stand-in's own file, nor onto the image a virtual drive holds; an image
// replaced under its drive (by a file or a FIFO) is refused, not copied.
TEST(CopyDiscCli, NeverCopiesOntoItsSourceNorAnImageReplacedUnderItsDrive) {
    SPINDLE_REQUIRE_FUSE();
    spindle_test::TempEnv env;
    env.EmptyTable();
    spindle_test::DriverProcess driver;
    ASSERT_TRUE(driver.ready());
    env.Write("tree/a.txt", RandomBytes(300000, 23));
    auto makeIso = [&](const std::string& name, const std::string& label) {
        const std::string iso = env.root() + "/" + name;
        EXPECT_TRUE(Shell("genisoimage -quiet -V " + label + " -o '" + iso + "' '" + env.root() +
                          "/tree'"));
        return iso;
    };
    const std::string out = env.root() + "/out.iso";
    struct Case {
        const char* name;
        std::string source; // the image in the drive, checked unchanged afterwards
        std::string drive;
        std::string target;
        const char* says;
    };
    const std::string standIn = makeIso("standin.iso", "STANDIN");
    port::PushDosDevice("R:", "stdio:" + standIn);
    const std::string mounted = makeIso("mounted.iso", "MOUNTED");
    ASSERT_EQ(
        std::system((std::string(SPINDLE_CLI) + " mount '" + mounted + "' M >/dev/null").c_str()),
        0);
    // N's image is renamed over by another one, O's by a FIFO, while mounted.
    const std::string renamed = makeIso("renamed.iso", "RENAMED");
    const std::string fifoed = makeIso("fifoed.iso", "FIFOED");
    for (auto [letter, path] : {std::pair{"N", renamed}, std::pair{"O", fifoed}})
        ASSERT_EQ(std::system(
                      (std::string(SPINDLE_CLI) + " mount '" + path + "' " + letter + " >/dev/null")
                          .c_str()),
                  0);
    const std::string other = makeIso("other.iso", "OTHER");
    ASSERT_EQ(::rename(other.c_str(), renamed.c_str()), 0);
    ASSERT_EQ(::unlink(fifoed.c_str()), 0);
    ASSERT_EQ(::mkfifo(fifoed.c_str(), 0600), 0);
    const Case cases[] = {
        {"onto a stand-in's own file", standIn, "R", standIn, "is the disc being copied"},
        {"onto a virtual drive's own image", mounted, "M", mounted, "is the disc being copied"},
        {"an image renamed over while mounted", renamed, "N", out, "the medium changed"},
        {"a FIFO put in the image's place", "", "O", out, "the medium changed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string before = c.source.empty() ? "" : ReadFile(c.source);
        // A user who answers yes to every question.
        CliRun run =
            OnTerminal({c.drive, c.target}, [&](pid_t, int master, const std::string& screen) {
                if (screen.ends_with("[y/N] "))
                    (void)!::write(master, "y\n", 2);
            });
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        if (!c.source.empty()) {
            EXPECT_TRUE(ReadFile(c.source) == before) << "the source changed";
        }
        EXPECT_FALSE(std::filesystem::exists(out));
        EXPECT_FALSE(std::filesystem::exists(c.target + ".part"));
    }
    for (const char* letter : {"M", "N", "O"})
        std::system(
            (std::string(SPINDLE_CLI) + " dismount " + letter + " >/dev/null 2>&1").c_str());
}

} // namespace
