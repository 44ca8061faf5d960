#include "pages/RecentPaths.h"
#include "port/Profile.h"
#include "tests/support/TempEnv.h"

#include <gtest/gtest.h>

using namespace ui;

namespace {

using Paths = std::vector<std::string>;

Paths StoredKeys(const std::string& section) {
    Paths values;
    for (int i = 0; i < 10; ++i)
        values.push_back(port::GetProfileString(section, "hist" + std::to_string(i), "<unset>"));
    return values;
}

TEST(RecentPaths, SaveMovesThePathToTheTopAndWritesTenKeys) {
    struct Case {
        const char* name;
        Paths items;
        std::string path;
        Paths expected;
    };
    Paths ten;
    for (int i = 0; i < 10; ++i)
        ten.push_back("/i/" + std::to_string(i) + ".iso");
    Paths elevenAfter = ten;
    elevenAfter.insert(elevenAfter.begin(), "/new.iso");
    const Case cases[] = {
        {"new path on top", {"/p.iso"}, "/q.iso", {"/q.iso", "/p.iso"}},
        {"known path moves up", {"/q.iso", "/p.iso"}, "/p.iso", {"/p.iso", "/q.iso"}},
        {"equal regardless of case", {"D:\\A.ISO", "/x.iso"}, "D:\\a.iso", {"D:\\a.iso", "/x.iso"}},
        {"non-ASCII case", {"/ŁÓDŹ.iso"}, "/łódź.ISO", {"/łódź.ISO"}},
        {"eleventh path", ten, "/new.iso", elevenAfter},
    };
    for (const Case& c : cases) {
        spindle_test::TempEnv env;
        CRecentPaths list("Mount");
        EXPECT_EQ(list.Save(c.items, c.path), c.expected) << c.name;
        Paths keys = c.expected;
        keys.resize(10);
        EXPECT_EQ(StoredKeys("Mount"), keys) << c.name;
        Paths loaded = c.expected;
        if (loaded.size() > 10)
            loaded.resize(10);
        EXPECT_EQ(list.Load(), loaded) << c.name;
    }
}

TEST(RecentPaths, LoadSkipsEmptyKeysAndKeepsSectionsApart) {
    spindle_test::TempEnv env;
    ASSERT_TRUE(port::WriteProfileString("New", "hist4", "/only4.iso"));
    ASSERT_TRUE(port::WriteProfileString("New", "other", "kept"));
    EXPECT_EQ(CRecentPaths("New").Load(), Paths{"/only4.iso"});
    EXPECT_TRUE(CRecentPaths("Mount").Load().empty());

    CRecentPaths("New").Save({"/only4.iso"}, "/b.iso");
    EXPECT_EQ(port::GetProfileString("New", "other"), "kept");
    EXPECT_EQ(port::GetProfileString("New", "hist4"), "");
    EXPECT_EQ(CRecentPaths("New").Load(), (Paths{"/b.iso", "/only4.iso"}));
    // An empty path changes nothing.
    EXPECT_EQ(CRecentPaths("New").Save({"/z.iso"}, ""), Paths{"/z.iso"});
    EXPECT_EQ(port::GetProfileString("New", "hist0"), "/b.iso");
}

TEST(RecentPaths, CaseBlindComparison) {
    EXPECT_TRUE(CRecentPaths::SameWithoutCase("ÄÖÜ/Straße", "äöü/STRAßE"));
    EXPECT_TRUE(CRecentPaths::SameWithoutCase("ДИСК", "диск"));
    EXPECT_FALSE(CRecentPaths::SameWithoutCase("/a.iso", "/a.iso2"));
    EXPECT_FALSE(CRecentPaths::SameWithoutCase("/a.iso", "/b.iso"));
    // Malformed bytes compare as themselves, never equal to another byte.
    EXPECT_FALSE(CRecentPaths::SameWithoutCase("\xC3", "\xC4"));
    EXPECT_TRUE(CRecentPaths::SameWithoutCase("\xC3", "\xC3"));
}

} // namespace
