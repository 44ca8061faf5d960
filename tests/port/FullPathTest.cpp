#include "port/FullPath.h"
#include "port/LastError.h"
#include "tests/support/Files.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace port;

TEST(FullPath, CompletesAndFoldsPaths) {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    std::string here = cwd;
    std::string parent = here.substr(0, here.rfind('/'));
    if (parent.empty())
        parent = "/";
    struct Case {
        const char* in;
        std::string out;
    };
    const Case cases[] = {
        {"/img/a.iso", "/img/a.iso"},
        {"a.iso", here + "/a.iso"},
        {"./no-such-folder-7f3/../a.iso", here + "/no-such-folder-7f3/../a.iso"},
        {"..", parent},
        {"//img///b//./c.iso", "/img/b/c.iso"},
        {"/../../a", "/a"},
        {"/img/", "/img/"},
        {"/", "/"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FullPath(c.in).value_or("<none>"), c.out) << c.in;
    EXPECT_FALSE(FullPath(""));
}

// ".." after a link leads to the parent of the link's target, as the
// kernel resolves it; where the path so far names no folder it stays.
TEST(FullPath, FoldsDotDotAsTheKernelResolvesIt) {
    const spindle_test::TempDir tmp("spindle-fullpath");
    const std::string& t = tmp.path();
    ASSERT_EQ(mkdir((t + "/real").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((t + "/real/sub").c_str(), 0755), 0);
    ASSERT_EQ(symlink((t + "/real/sub").c_str(), (t + "/lnk").c_str()), 0);
    ASSERT_EQ(symlink("real/sub", (t + "/rel").c_str()), 0);
    std::fclose(std::fopen((t + "/file").c_str(), "w"));
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {t + "/lnk/../a.iso", t + "/real/a.iso"},
        {t + "/rel/../../a.iso", t + "/a.iso"},
        {t + "/real/sub/./../a.iso", t + "/real/a.iso"},
        {t + "/missing/../a.iso", t + "/missing/../a.iso"},
        {t + "/file/../a.iso", t + "/file/../a.iso"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FullPath(c.in).value_or("<none>"), c.out) << c.in;
}

TEST(FullPath, WideCallReportsTheLengthNeededWhenTheBufferIsShort) {
    char16_t buf[16];
    char16_t* file = nullptr;
    EXPECT_EQ(GetFullPathNameW(u"/img/a.iso", 16, buf, &file), 10u);
    EXPECT_EQ(std::u16string(buf), u"/img/a.iso");
    EXPECT_EQ(std::u16string(file), u"a.iso");
    std::fill(std::begin(buf), std::end(buf), u'#');
    EXPECT_EQ(GetFullPathNameW(u"/img/a.iso", 10, buf, nullptr), 11u);
    EXPECT_EQ(buf[0], u'#');
    EXPECT_EQ(GetFullPathNameW(u"", 16, buf, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
}
