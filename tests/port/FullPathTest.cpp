#include "port/FullPath.h"
#include "port/LastError.h"

#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

using namespace port;

TEST(FullPath, CompletesAndFoldsPaths) {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    std::string here = cwd;
    std::string parent = here.substr(0, here.rfind('/'));
    if (parent.empty())
        parent = "/";
    struct Case { const char* in; std::string out; };
    const Case cases[] = {
        {"/img/a.iso", "/img/a.iso"},
        {"a.iso", here + "/a.iso"},
        {"./x/../a.iso", here + "/a.iso"},
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
