#include "port/FileOps.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>
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

    // A lock file planted as a link is not opened (nor created at its target).
    ASSERT_EQ(symlink((tmp / "elsewhere").c_str(), (tmp / "lock").c_str()), 0);
    EXPECT_FALSE(port::FileLock(tmp / "lock").ok());
    EXPECT_FALSE(spindle_test::Exists(tmp / "elsewhere"));
    EXPECT_TRUE(port::FileLock(tmp / "real.lock").ok());
}

TEST(FileOps, ReadsAnswerAtOnceForWhatIsNoRegularFileOfItsSize) {
    TempDir tmp;
    ASSERT_EQ(mkfifo((tmp / "fifo").c_str(), 0600), 0);
    ASSERT_EQ(mkdir((tmp / "folder").c_str(), 0700), 0);
    // Holes: a large size that costs no disk, refused by its size alone.
    WriteFile(tmp / "large", "");
    ASSERT_EQ(truncate((tmp / "large").c_str(), off_t(1) << 40), 0);
    struct Case {
        std::string path;
        std::size_t maxBytes;
        int err;
    } cases[] = {
        {tmp / "fifo", 1 << 20, EINVAL},
        {tmp / "folder", 1 << 20, EISDIR},
        {"/dev/zero", port::kMaxSettingsFileBytes, EINVAL},
        {"/dev/null", 1 << 20, EINVAL},
        {tmp / "large", port::kMaxSettingsFileBytes, EFBIG},
    };
    const char* scale = std::getenv("SPINDLE_TEST_TIME_SCALE");
    const auto bound = std::chrono::seconds(5) * (scale ? std::max(1, std::atoi(scale)) : 1);
    for (const Case& c : cases) {
        auto read = std::async(std::launch::async, [&] {
            auto data = port::ReadWholeFile(c.path, c.maxBytes);
            return data ? 0 : errno;
        });
        if (read.wait_for(bound) != std::future_status::ready) {
            ADD_FAILURE() << c.path << " holds the reader";
            // Lets a reader held by the FIFO go: a writer comes and goes.
            close(open((tmp / "fifo").c_str(), O_WRONLY | O_NONBLOCK));
        }
        EXPECT_EQ(read.get(), c.err) << c.path;
    }
}
