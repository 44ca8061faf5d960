#include "port/Paths.h"
#include "tests/support/TempEnv.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

using spindle_test::TempEnv;

namespace {

mode_t Mode(const std::string& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st.st_mode & 0777;
}

} // namespace

TEST(Paths, PrivateDirIsMadeOrTakenBackFromOthers) {
    TempEnv env;
    const std::string fresh = env.root() + "/fresh";
    EXPECT_EQ(port::FirstPrivateDir(fresh), fresh);
    EXPECT_EQ(Mode(fresh), 0700u);

    // A folder of ours that others may enter is closed to them and used; one
    // they may write to (where they could have planted anything) is not.
    const std::string open = env.root() + "/open";
    ASSERT_EQ(mkdir(open.c_str(), 0755), 0);
    chmod(open.c_str(), 0755);
    EXPECT_EQ(port::FirstPrivateDir(open), open);
    EXPECT_EQ(Mode(open), 0700u);
    const std::string shared = env.root() + "/shared";
    ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
    chmod(shared.c_str(), 0777);
    EXPECT_EQ(port::FirstPrivateDir(shared), shared + ".1");
    EXPECT_EQ(Mode(shared), 0777u);
}

TEST(Paths, PrivateDirPassesOverLinksAndFilesPlantedByOthers) {
    TempEnv env;
    const std::string link = env.root() + "/link";
    ASSERT_EQ(symlink(env.runtime().c_str(), link.c_str()), 0);
    EXPECT_EQ(port::FirstPrivateDir(link), link + ".1");

    const std::string file = env.Write("file", "x");
    EXPECT_EQ(port::FirstPrivateDir(file), file + ".1");

    // Every name taken: the answer is a name the check refuses, never a
    // folder someone else planted.
    const std::string taken = env.root() + "/taken";
    ASSERT_EQ(symlink(env.runtime().c_str(), taken.c_str()), 0);
    for (int n = 1; n < 100; ++n)
        env.Write("taken." + std::to_string(n), "");
    EXPECT_FALSE(port::MakePrivateDir(port::FirstPrivateDir(taken)));
    EXPECT_EQ(errno, ELOOP);

    if (getuid() != 0)
        GTEST_SKIP() << "giving a folder to another user needs root";
    const std::string foreign = env.root() + "/foreign";
    ASSERT_EQ(mkdir(foreign.c_str(), 0777), 0);
    ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
    EXPECT_EQ(port::FirstPrivateDir(foreign), foreign + ".1");
    EXPECT_EQ(Mode(foreign + ".1"), 0700u);
}
