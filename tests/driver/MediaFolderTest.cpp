// Where drives are shown to the desktop: the folder names, the choice of the
// media folder, GIO's listing rule, the mount table, and the checks that keep
// drive folders from being made or removed through a planted link.
#include "driver/MediaFolder.h"
#include "driver/Mounts.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace driver;
using spindle_test::TempDir;

TEST(MediaFolder, DriveFolderNames) {
    const struct {
        const char* label;
        char letter;
        bool cd;
        const char* want;
    } cases[] = {
        {"HOLIDAY 2026                    ", 'K', true, "HOLIDAY 2026 (K:)"},
        {"  padded  ", 'A', true, "padded (A:)"},
        {"", 'D', true, "CD Drive (D:)"},
        {"   ", 'E', false, "Drive (E:)"},
        {"a/b\tc\x7f", 'F', true, "a_b_c_ (F:)"},
        {".hidden", 'G', true, "_hidden (G:)"},
        {"Grüße", 'H', true, "Grüße (H:)"},
        // Latin-1, a cut sequence, an overlong '/', a surrogate, past U+10FFFF.
        {"Caf\xe9 \xc3", 'I', true, "Caf_ _ (I:)"},
        {"\xc0\xafx\xed\xa0\x80y\xf4\x90\x80\x80", 'J', true, "__x___y____ (J:)"},
        {"\xf0\x9f\x92\xbf disc", 'K', true, "\xf0\x9f\x92\xbf disc (K:)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DriveFolderName(c.label, c.letter, c.cd), c.want) << c.label;
    // A long label is cut between UTF-8 sequences.
    std::string lng(199, 'x');
    EXPECT_EQ(DriveFolderName(lng + "é" + "yyy", 'K', true), lng + " (K:)");
}

TEST(MediaFolder, ChoiceOfTheFolderAndWhetherFileManagersListIt) {
    const struct {
        const char* setting;
        bool runMedia;
        const char* want;
    } choices[] = {
        {"", true, "/run/media/ann"},
        {"", false, "/home/ann/Spindle"},
        {"off", true, ""},
        {"~/Discs/", true, "/home/ann/Discs"},
        {"/srv/discs", false, "/srv/discs"},
    };
    for (const auto& c : choices)
        EXPECT_EQ(ChooseMediaFolder(c.setting, "ann", "/home/ann", c.runMedia), c.want)
            << c.setting;
    EXPECT_EQ(ChooseMediaFolder("", "ann", "", false), "");

    const struct {
        const char* path;
        bool shown;
    } rules[] = {
        {"/run/media/ann/X (K:)", true},
        {"/run/media/bob/X (K:)", false},
        {"/media/X (K:)", true},
        {"/media/ann/X (K:)", true},
        {"/media/bob/X (K:)", false},
        {"/home/ann/Spindle/X (K:)", true},
        {"/home/annex/X (K:)", false},
        {"/home/ann/.cache/X (K:)", false},
        {"/home/ann/Spindle/.X (K:)", false},
        {"/srv/discs/X (K:)", false},
    };
    for (const auto& r : rules)
        EXPECT_EQ(ShownByDesktop(r.path, "ann", "/home/ann"), r.shown) << r.path;
}

TEST(MediaFolder, MountInfoLines) {
    const std::string text =
        "45 27 0:40 / /run/user/1000/spindle/drives ro,nosuid - fuse.spindle spindle ro,user_id=0\n"
        "46 27 0:41 / /home/ann/Spindle/MY\\040DISC\\040(K:) ro shared:7 master:1 - fuse.spindle "
        "spindle:K ro\n"
        "broken line\n"
        "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n";
    auto mounts = ParseMountInfo(text);
    ASSERT_EQ(mounts.size(), 3u);
    EXPECT_EQ(mounts[1].point, "/home/ann/Spindle/MY DISC (K:)");
    EXPECT_EQ(mounts[1].type, "fuse.spindle");
    EXPECT_EQ(mounts[1].dev, makedev(0, 41));
    EXPECT_EQ(mounts[2].point, "/");
    EXPECT_EQ(mounts[2].type, "ext4");
}

TEST(MediaFolder, RefusesLinksAndFoldersOthersCanWrite) {
    TempDir tmp;
    MediaFolder media;
    // Created when missing, and its drive folders come and go inside it.
    driver::SetupFault fault = media.Open(tmp / "media");
    ASSERT_TRUE(fault.ok()) << driver::Describe(fault);
    EXPECT_EQ(media.path(), tmp / "media");
    ASSERT_TRUE(media.MakeDriveFolder("A (K:)"));
    EXPECT_TRUE(media.MakeDriveFolder("A (K:)")); // empty and ours: taken again
    media.RemoveDriveFolder("A (K:)");
    EXPECT_FALSE(spindle_test::Exists(tmp / "media/A (K:)"));

    // A drive folder name held by a link, a file or a folder with things in it.
    std::filesystem::create_directory(tmp / "elsewhere");
    symlink((tmp / "elsewhere").c_str(), (tmp / "media/L (L:)").c_str());
    spindle_test::WriteFile(tmp / "media/F (F:)", "x");
    std::filesystem::create_directory(tmp / "media/M (M:)");
    spindle_test::WriteFile(tmp / "media/M (M:)/keep.txt", "keep");
    for (const char* name : {"L (L:)", "F (F:)", "M (M:)"}) {
        EXPECT_FALSE(media.MakeDriveFolder(name)) << name;
        media.RemoveDriveFolder(name);
        EXPECT_TRUE(spindle_test::Exists(tmp / ("media/" + std::string(name)))) << name;
    }
    EXPECT_EQ(spindle_test::ReadFile(tmp / "media/M (M:)/keep.txt"), "keep");

    // The media folder itself: a link, or a folder anyone may write to.
    symlink((tmp / "elsewhere").c_str(), (tmp / "link").c_str());
    MediaFolder other;
    fault = other.Open(tmp / "link");
    EXPECT_EQ(fault.error, driver::SetupError::MediaFolderOpen);
    EXPECT_EQ(fault.osError, ENOTDIR);
    chmod((tmp / "elsewhere").c_str(), 0777);
    fault = other.Open(tmp / "elsewhere");
    EXPECT_EQ(fault.error, driver::SetupError::MediaFolderNotOwn);
    EXPECT_EQ(driver::Describe(fault),
              "the media folder " + tmp / "elsewhere" + " is not this user's own");
}
