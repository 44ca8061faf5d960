// spindle-cli build-iso: images, errors and Ctrl-C, run as a user would.
#include "tests/support/Iso.h"
#include "tests/support/TempEnv.h"
#include "tests/support/Terminal.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>

using spindle_test::Exists;
using spindle_test::Q;
using TempDir = spindle_test::TempConfigDir;
using spindle_test::WriteFile;

namespace {

// Runs spindle-cli build-iso, its output caught in files of `dir`.
int Cli(const std::string& args, std::string* err, const std::string& dir) {
    const spindle_test::Outcome run =
        spindle_test::RunCaught(std::string(SPINDLE_CLI) + " build-iso " + args, dir);
    if (err)
        *err = run.err;
    return run.status;
}

bool HasTempFile(const std::string& dir) {
    bool found = false;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            found = found || std::strncmp(e->d_name, ".spindle-image-", 15) == 0;
        ::closedir(d);
    }
    return found;
}

// Whether process `pid` holds the image it is writing in `dir` open: an
// unnamed file ("... (deleted)") or a hidden temporary one.
bool WritingImage(pid_t pid, const std::string& dir) {
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    bool found = false;
    if (DIR* d = ::opendir(fds.c_str())) {
        while (dirent* e = ::readdir(d)) {
            char target[4096];
            ssize_t n = ::readlink((fds + "/" + e->d_name).c_str(), target, sizeof target - 1);
            if (n <= 0)
                continue;
            std::string t(target, static_cast<std::size_t>(n));
            found = found || (t.rfind(dir + "/", 0) == 0 &&
                              (t.find("(deleted)") != std::string::npos ||
                               t.find(".spindle-image-") != std::string::npos));
        }
        ::closedir(d);
    }
    return found;
}

// Starts a build of `source` into `image` with stderr discarded.
pid_t StartBuild(const std::string& image, const std::string& source) {
    pid_t pid = ::fork();
    if (pid == 0) {
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        ::execl(SPINDLE_CLI, SPINDLE_CLI, "build-iso", image.c_str(), source.c_str(), nullptr);
        ::_exit(127);
    }
    return pid;
}

} // namespace

TEST(BuildIsoCli, FoldersGoUnderTheRootAndFilesToIt) {
    TempDir tmp;
    std::string src = tmp / "Photos 2024";
    ::mkdir(src.c_str(), 0755);
    ::mkdir((src + "/empty").c_str(), 0755);
    WriteFile(src + "/a.jpg", "jpeg");
    WriteFile(tmp / "notes.txt", "notes");
    std::string image = tmp / "Holiday.iso";

    std::string err;
    ASSERT_EQ(Cli("--label 'My Disc' " + Q(image) + " " + Q(src) + " " + Q(tmp / "notes.txt"), &err,
                  tmp.path()),
              0)
        << err;
    EXPECT_EQ(spindle_test::ImageTree(image),
              "'/'\n'/Photos 2024'\n'/Photos 2024/a.jpg'\n'/Photos 2024/empty'\n'/notes.txt'\n");
    EXPECT_EQ(spindle_test::VolumeId(image), "My Disc");

    // A link that leads nowhere has no content to store: it is left out
    // with a word on it, and the rest of the folder is built.
    ASSERT_EQ(::symlink("gone.jpg", (src + "/dangling.jpg").c_str()), 0);
    ASSERT_EQ(Cli(Q(image) + " " + Q(src), &err, tmp.path()), 0) << err;
    EXPECT_NE(err.find("dangling.jpg"), std::string::npos) << err;
    EXPECT_EQ(spindle_test::ImageTree(image),
              "'/'\n'/Photos 2024'\n'/Photos 2024/a.jpg'\n'/Photos 2024/empty'\n");
    ::unlink((src + "/dangling.jpg").c_str());

    // Without --label the image is named after its file.
    ASSERT_EQ(Cli(Q(image) + " " + Q(tmp / "notes.txt"), &err, tmp.path()), 0) << err;
    EXPECT_EQ(spindle_test::VolumeId(image), "Holiday");
    EXPECT_EQ(spindle_test::ImageTree(image), "'/'\n'/notes.txt'\n");

    // A second notes.txt at the root takes a free name, and the word on it
    // names the file's place in the image with "/", as a mounted image shows it.
    ::mkdir((tmp / "more").c_str(), 0755);
    WriteFile(tmp / "more/notes.txt", "more");
    ASSERT_EQ(Cli(Q(image) + " " + Q(tmp / "notes.txt") + " " + Q(tmp / "more/notes.txt"), &err,
                  tmp.path()),
              0)
        << err;
    const std::size_t said = err.find("more/notes.txt is stored as /");
    EXPECT_NE(said, std::string::npos) << err;
    EXPECT_EQ(err.find('\\'), std::string::npos) << err;
}

TEST(BuildIsoCli, FailuresExitNonZeroWithAReasonAndNoImage) {
    TempDir tmp;
    WriteFile(tmp / "ok.txt", "ok");
    // A host name that is not UTF-8 cannot be handed to the engine.
    ::mkdir((tmp / "latin1").c_str(), 0755);
    WriteFile(tmp / "latin1/caf\xE9.txt", "latin-1 name");
    struct Case {
        std::string args;
        int status;
        std::string image;
        std::string says;
    } cases[] = {
        {Q(tmp / "a.iso") + " " + Q(tmp / "missing.txt"), 1, tmp / "a.iso", "missing.txt"},
        {Q(tmp / "no/b.iso") + " " + Q(tmp / "ok.txt"), 1, tmp / "no/b.iso", "no/b.iso"},
        {"--label " + std::string(128, 'x') + " " + Q(tmp / "c.iso") + " " + Q(tmp / "ok.txt"), 1,
         tmp / "c.iso", "127"},
        {"--label", 2, tmp / "d.iso", "--label"},
        {"--bogus " + Q(tmp / "e.iso"), 2, tmp / "e.iso", "--bogus"},
        {"", 2, tmp / "f.iso", "usage"},
        {Q(tmp / "h.iso"), 2, tmp / "h.iso", "no SOURCE"},
        {Q(tmp / "g.iso") + " " + Q(tmp / "latin1"), 1, tmp / "g.iso", "not UTF-8"},
    };
    for (const Case& c : cases) {
        std::string err;
        EXPECT_EQ(Cli(c.args, &err, tmp.path()), c.status) << c.args;
        EXPECT_NE(err.find(c.says), std::string::npos) << c.args << ": " << err;
        EXPECT_FALSE(Exists(c.image)) << c.args;
    }
    EXPECT_FALSE(HasTempFile(tmp.path()));

    // Asking for help is no failure.
    int status = -1;
    std::string help = spindle_test::Run(std::string(SPINDLE_CLI) + " build-iso --help", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(help.rfind("usage: spindle-cli build-iso", 0), 0u) << help;
}

TEST(BuildIsoCli, InterruptOrKillLeavesNoFileAndALateInterruptKeepsTheImage) {
    TempDir tmp;
    // A large sparse file keeps the build busy for seconds without using disk.
    std::string big = tmp / "big.bin";
    ASSERT_TRUE(spindle_test::MakeSparseFile(big, 64ull << 30));
    std::string image = tmp / "stop.iso";
    for (int signal : {SIGINT, SIGKILL}) {
        SCOPED_TRACE(signal);
        pid_t pid = StartBuild(image, big);
        ASSERT_GT(pid, 0);
        ASSERT_TRUE(spindle_test::WaitUntil([&] { return WritingImage(pid, tmp.path()); },
                                            std::chrono::seconds(30)));
        ::kill(pid, signal);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        if (signal == SIGINT) {
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), 130);
        }
        // Not even a killed build leaves its temporary file behind.
        EXPECT_FALSE(Exists(image));
        EXPECT_FALSE(HasTempFile(tmp.path()));
    }

    // Ctrl-C once the image is in place stops nothing: the image stays and
    // the command says it succeeded.
    std::string mid = tmp / "mid.bin";
    ASSERT_TRUE(spindle_test::MakeSparseFile(mid, 1ull << 30));
    pid_t pid = StartBuild(image, mid);
    ASSERT_TRUE(spindle_test::WaitOnChanges([&] { return Exists(image); }, std::chrono::seconds(60),
                                            {tmp.path()}));
    ::kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(Exists(image));
}

TEST(BuildIsoCli, WhatAnImageCannotHoldIsSkippedWithAWordAndOutputsAreKeptUnlessForced) {
    TempDir tmp;
    std::string src = tmp / "src";
    ::mkdir(src.c_str(), 0755);
    WriteFile(src + "/ok.txt", "ok");
    ASSERT_EQ(::symlink("loop", (src + "/loop").c_str()), 0);                // a link loop
    ASSERT_EQ(::symlink(".", (src + "/self").c_str()), 0);                   // a folder loop
    ASSERT_EQ(::symlink("/proc/self/status", (src + "/status").c_str()), 0); // no size, content
    std::string image = tmp / "out.iso", err;
    ASSERT_EQ(Cli(Q(image) + " " + Q(src), &err, tmp.path()), 0) << err;
    for (const char* word :
         {"loop: the link leads round", "self: it links back", "status: a kernel file"})
        EXPECT_NE(err.find(word), std::string::npos) << word << " in " << err;
    EXPECT_EQ(spindle_test::ImageTree(image), "'/'\n'/src'\n'/src/ok.txt'\n");

    // An image written into its own source leaves itself out, and the image
    // of an earlier build there, whether met by name or through a link.
    const std::string inside = src + "/in.iso";
    ASSERT_EQ(::symlink("in.iso", (src + "/link.iso").c_str()), 0);
    for (int build = 1; build <= 2; ++build) {
        ASSERT_EQ(Cli(Q(inside) + " " + Q(src), &err, tmp.path()), 0) << err;
        EXPECT_EQ(spindle_test::ImageTree(inside), "'/'\n'/src'\n'/src/ok.txt'\n") << build;
    }
    EXPECT_NE(err.find(inside + ": it is the image being built"), std::string::npos) << err;
    EXPECT_NE(err.find(src + "/link.iso: it is the image"), std::string::npos) << err;
    ::unlink(inside.c_str());
    ::unlink((src + "/link.iso").c_str());

    // An output that is a link or a read-only file is refused unless forced;
    // forced, the link itself is replaced and what it pointed at is kept.
    WriteFile(tmp / "precious", "precious");
    ASSERT_EQ(::symlink("precious", (tmp / "link.iso").c_str()), 0);
    WriteFile(tmp / "ro.iso", "read-only");
    ::chmod((tmp / "ro.iso").c_str(), 0444);
    struct Case {
        std::string out, says;
    } cases[] = {{tmp / "link.iso", "symbolic link"}, {tmp / "ro.iso", "read-only"}};
    for (const Case& c : cases) {
        EXPECT_EQ(Cli(Q(c.out) + " " + Q(src + "/ok.txt"), &err, tmp.path()), 1) << c.out;
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
        EXPECT_EQ(Cli("--force " + Q(c.out) + " " + Q(src + "/ok.txt"), &err, tmp.path()), 0)
            << err;
        EXPECT_EQ(spindle_test::ImageTree(c.out), "'/'\n'/ok.txt'\n") << c.out;
    }
    EXPECT_EQ(spindle_test::ReadFile(tmp / "precious"), "precious");
}

TEST(BuildIsoCli, OnATerminalAProgressBarIsDrawnAndClearedAtTheEnd) {
    TempDir tmp;
    std::string big = tmp / "big.bin";
    ASSERT_TRUE(spindle_test::MakeSparseFile(big, 6ull << 30));
    std::string image = tmp / "bar.iso";

    const spindle_test::Outcome run =
        spindle_test::RunOnTerminal({SPINDLE_CLI, "build-iso", image, big});
    const std::string& screen = run.out;
    EXPECT_EQ(run.status, 0) << screen;
    EXPECT_NE(screen.find("\r[#"), std::string::npos) << screen;
    EXPECT_NE(screen.find("%"), std::string::npos) << screen;
    // Nothing follows the bar (its percent, or the time left once known) but
    // the blanks that wipe it off its line.
    std::size_t last = screen.find_last_not_of(" \r");
    ASSERT_NE(last, std::string::npos);
    EXPECT_TRUE(screen[last] == '%' || screen.compare(last - 3, 4, "left") == 0) << screen;
    EXPECT_NE(screen.find('\r', last), std::string::npos) << screen;
    EXPECT_TRUE(Exists(image));
}
