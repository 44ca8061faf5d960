#include "port/FileOps.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

using spindle_test::ReadFile;
using spindle_test::TempDir;
using spindle_test::WriteFile;

namespace {

std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.' || e->d_name[1] > '.')
                names.emplace_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(FileOps, ReplaceKeepsModeLeavesNothingBesideAndNeverWritesThroughALink) {
    TempDir tmp;
    std::string file = tmp / "table";
    WriteFile(file, "old");
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    ASSERT_TRUE(port::ReplaceFile(file, "new"));
    EXPECT_EQ(ReadFile(file), "new");
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(Names(tmp.path()), std::vector<std::string>{"table"});

    // The name's link is replaced, the file it pointed at is left alone.
    std::string victim = tmp / "victim";
    WriteFile(victim, "precious");
    ASSERT_EQ(symlink(victim.c_str(), (tmp / "link").c_str()), 0);
    ASSERT_TRUE(port::ReplaceFile(tmp / "link", "x", 0600));
    EXPECT_EQ(ReadFile(victim), "precious");
    EXPECT_EQ(ReadFile(tmp / "link"), "x");

    // A folder that cannot take the file: false, errno set, nothing left.
    EXPECT_FALSE(port::ReplaceFile(tmp / "missing/table", "x"));
    EXPECT_EQ(errno, ENOENT);
}

TEST(FileOps, ReadsAndLocksRefuseWhatTheyMust) {
    TempDir tmp;
    WriteFile(tmp / "data", std::string(40000, 'd'));
    EXPECT_EQ(port::ReadWholeFile(tmp / "data").value_or(""), std::string(40000, 'd'));
    EXPECT_FALSE(port::ReadWholeFile(tmp / "data", 39999));
    EXPECT_EQ(errno, EFBIG);
    ASSERT_EQ(symlink((tmp / "data").c_str(), (tmp / "link").c_str()), 0);
    EXPECT_FALSE(port::ReadWholeFile(tmp / "link", 1 << 20, O_NOFOLLOW));
    EXPECT_EQ(errno, ELOOP);
    ASSERT_EQ(mkfifo((tmp / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(port::ReadWholeFile(tmp / "fifo", 100, O_NONBLOCK).value_or("?"), "");

    // A lock file planted as a link is not opened (nor created at its target).
    ASSERT_EQ(symlink((tmp / "elsewhere").c_str(), (tmp / "lock").c_str()), 0);
    EXPECT_FALSE(port::FileLock(tmp / "lock").ok());
    EXPECT_FALSE(spindle_test::Exists(tmp / "elsewhere"));
    EXPECT_TRUE(port::FileLock(tmp / "real.lock").ok());
}
