// Window-free start-up rules and the per-user stores the shell keeps:
// colour depth, bounded title, application profile, single-instance lock.
#include "app/StartupRules.h"
#include "app/StartArguments.h"
#include "port/Profile.h"
#include "port/SingleInstance.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace ui;

namespace fs = std::filesystem;

namespace {

TEST(ColorDepth, StepsAndCommonControlsRule) {
    struct Case {
        int screenBits;
        ComCtlVersion version;
        int expected;
    };
    const Case cases[] = {
        {32, {5, 80}, 16}, {32, {6, 0}, 32}, {32, {6, 10}, 32}, {48, {6, 0}, 32}, {24, {5, 80}, 24},
        {24, {6, 0}, 24},  {31, {4, 0}, 24}, {16, {6, 0}, 16},  {15, {6, 0}, 8},  {8, {6, 0}, 8},
        {7, {6, 0}, 4},    {4, {6, 0}, 4},   {3, {6, 0}, 0},    {0, {6, 0}, 0},   {-1, {6, 0}, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ToolbarColorDepth(c.screenBits, c.version), c.expected)
            << c.screenBits << " bpp, " << c.version.major << "." << c.version.minor;
    // An unknown version counts as 4.0, and the toolkit counts as 6.0.
    EXPECT_EQ(ToolbarColorDepth(32, ComCtlVersion{}), 16);
    EXPECT_EQ(ToolbarColorDepth(32, GetComCtlVersion()), 32);
}

TEST(WindowTitle, BoundedTo199Units) {
    std::u16string text(150, u't');
    EXPECT_EQ(MakeWindowTitle(text.c_str()), text);
    text.assign(199, u't');
    EXPECT_EQ(MakeWindowTitle(text.c_str()), text);
    text.assign(254, u't');
    EXPECT_EQ(MakeWindowTitle(text.c_str()), std::u16string(199, u't'));
    // A surrogate pair across the bound is dropped whole.
    text = std::u16string(198, u't') + u"\U0001F4BF" + u"tail";
    EXPECT_EQ(MakeWindowTitle(text.c_str()), std::u16string(198, u't'));
    EXPECT_EQ(MakeWindowTitle(u""), u"");
}

// Runs each test with a private config and runtime folder.
class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = m_tmp.path();
        setenv("SPINDLE_CONFIG_DIR", (m_dir / "config").c_str(), 1);
        setenv("SPINDLE_RUNTIME_DIR", (m_dir / "run").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("SPINDLE_CONFIG_DIR");
        unsetenv("SPINDLE_RUNTIME_DIR");
    }
    spindle_test::TempDir m_tmp{"spindle-app"};
    fs::path m_dir;
};

using ProfileTest = StoreTest;

TEST_F(ProfileTest, ValuesReadBackUnchanged) {
    const std::string values[] = {
        "/home/me/disc.iso", "C:\\temp\\new.iso", "  blanks  ",      "\"quoted\"", "'single'",
        "50%.iso",           "%0A literal",       "line\nbreak\r\n", "a=b;c[d]",   "",
        "Ünïcødé.iso",
    };
    int i = 0;
    for (const std::string& v : values) {
        std::string key = "hist" + std::to_string(i++);
        ASSERT_TRUE(port::WriteProfileString("Mount", key, v)) << v;
    }
    i = 0;
    for (const std::string& v : values)
        EXPECT_EQ(port::GetProfileString("Mount", "hist" + std::to_string(i++), "default"), v);
    // The file stays one entry a line.
    std::ifstream in(port::ProfilePath());
    int lines = 0;
    for (std::string line; std::getline(in, line);)
        ++lines;
    EXPECT_EQ(lines, 1 + static_cast<int>(std::size(values)));
}

TEST_F(ProfileTest, SectionsKeysAndDefaults) {
    EXPECT_EQ(port::GetProfileString("New", "hist0", "none"), "none"); // no file yet
    ASSERT_TRUE(port::WriteProfileString("New", "hist0", "/a.iso"));
    ASSERT_TRUE(port::WriteProfileString("Mount", "hist0", "/b.iso"));
    ASSERT_TRUE(port::WriteProfileString("new", "HIST1", "/c.iso")); // names without case
    ASSERT_TRUE(port::WriteProfileString("New", "hist0", "/d.iso")); // replaced in place
    EXPECT_EQ(port::GetProfileString("NEW", "Hist0"), "/d.iso");
    EXPECT_EQ(port::GetProfileString("New", "hist1"), "/c.iso");
    EXPECT_EQ(port::GetProfileString("Mount", "hist0"), "/b.iso");
    EXPECT_EQ(port::GetProfileString("Mount", "hist1", "dflt"), "dflt");
    // Names that cannot be stored are refused, and nothing is written.
    EXPECT_FALSE(port::WriteProfileString("Bad]", "k", "v"));
    EXPECT_FALSE(port::WriteProfileString("S", "k=1", "v"));
    EXPECT_FALSE(port::WriteProfileString("S", "", "v"));
    EXPECT_FALSE(port::WriteProfileString("S", "line\nbreak", "v"));
    EXPECT_EQ(port::GetProfileString("S", "k", "none"), "none");
}

TEST_F(ProfileTest, HandWrittenFileIsRead) {
    fs::create_directories(m_dir / "config");
    std::ofstream(m_dir / "config" / "spindle.ini")
        << "; my settings\n[Mount]\n  hist0 =  /x y.iso  "
           "\nhist0=/second.iso\n[Mount]\nhist1=/z.iso\n";
    EXPECT_EQ(port::GetProfileString("mount", "HIST0"), "/x y.iso");
    EXPECT_EQ(port::GetProfileString("Mount", "hist1"), ""); // only the first section counts
    ASSERT_TRUE(port::WriteProfileString("Mount", "hist2", "/new.iso"));
    EXPECT_EQ(port::GetProfileString("Mount", "hist2"), "/new.iso");
    EXPECT_EQ(port::GetProfileString("Mount", "hist0"), "/x y.iso"); // comment and rest kept
}

TEST_F(ProfileTest, FileSavedWithByteOrderMarkIsUpdatedInPlace) {
    // Editors may save the file with a UTF-8 byte order mark before its first
    // section; a write must land in that section, where reads look.
    fs::create_directories(m_dir / "config");
    spindle_test::WriteFile(m_dir / "config" / "spindle.ini",
                            "\xEF\xBB\xBF[Mount]\nhist0=/old.iso\n");
    ASSERT_TRUE(port::WriteProfileString("Mount", "hist0", "/new.iso"));
    EXPECT_EQ(port::GetProfileString("Mount", "hist0"), "/new.iso");
    ASSERT_TRUE(port::WriteProfileSection(port::ProfilePath(), "Mount", {{"hist1", "/b.iso"}}));
    port::ProfileEntries entries;
    ASSERT_TRUE(port::ReadProfileSection(port::ProfilePath(), "Mount", entries));
    EXPECT_EQ(entries, (port::ProfileEntries{{"hist1", "/b.iso"}}));
}

TEST_F(ProfileTest, UpdateKeepsTheFilesLinkAndPermissions) {
    // A profile kept elsewhere through a link (a settings repository) is
    // updated where it lies, and a private file stays private.
    fs::create_directories(m_dir / "config");
    fs::create_directories(m_dir / "dotfiles");
    const fs::path real = m_dir / "dotfiles" / "spindle.ini";
    spindle_test::WriteFile(real, "[Mount]\nhist0=/old.iso\n");
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink(real, m_dir / "config" / "spindle.ini");

    ASSERT_TRUE(port::WriteProfileString("Mount", "hist1", "/new.iso"));
    EXPECT_TRUE(fs::is_symlink(m_dir / "config" / "spindle.ini"));
    port::ProfileEntries entries;
    ASSERT_TRUE(port::ReadProfileSection(real.string(), "Mount", entries));
    EXPECT_EQ(entries, (port::ProfileEntries{{"hist0", "/old.iso"}, {"hist1", "/new.iso"}}));
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(ProfileTest, ExistingFileThatCannotBeReadIsNeverReplaced) {
    // A profile that exists but cannot be read must not be rewritten from an
    // empty reading: that would throw every other setting away. A link that
    // points at itself cannot be opened even by root.
    fs::create_directories(m_dir / "config");
    fs::create_symlink("spindle.ini", m_dir / "config" / "spindle.ini");
    EXPECT_FALSE(port::WriteProfileString("Mount", "hist0", "/a.iso"));
    EXPECT_TRUE(fs::is_symlink(m_dir / "config" / "spindle.ini"));
    EXPECT_FALSE(fs::exists(m_dir / "config" / "spindle.ini.tmp"));

    fs::create_symlink("loop.ini", m_dir / "loop.ini");
    EXPECT_FALSE(port::WriteProfileSection((m_dir / "loop.ini").string(), "S", {{"k", "v"}}));
    EXPECT_TRUE(fs::is_symlink(m_dir / "loop.ini"));
}

using SingleInstanceTest = StoreTest;

// Whether a separate process finds the lock taken (exit status 1) or free (0).
int OtherProcessSeesLock(const char* name) {
    pid_t pid = fork();
    if (pid == 0) {
        port::SingleInstanceLock lock(name);
        _exit(lock.AlreadyExists() ? 1 : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(SingleInstanceTest, HeldWhileAliveReleasedAfter) {
    {
        port::SingleInstanceLock first("PreventSecondInstance");
        ASSERT_FALSE(first.AlreadyExists());
        EXPECT_EQ(OtherProcessSeesLock("PreventSecondInstance"), 1);
        EXPECT_EQ(OtherProcessSeesLock("SomeOtherName"), 0);
    }
    EXPECT_EQ(OtherProcessSeesLock("PreventSecondInstance"), 0);

    // A holder that dies without cleaning up leaves the name free.
    pid_t pid = fork();
    if (pid == 0) {
        static port::SingleInstanceLock held("PreventSecondInstance");
        _exit(held.AlreadyExists() ? 1 : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    port::SingleInstanceLock again("PreventSecondInstance");
    EXPECT_FALSE(again.AlreadyExists());
}

TEST_F(SingleInstanceTest, UnusableRuntimeFolderNeverBlocksTheStart) {
    spindle_test::WriteFile(m_dir / "file", "x");
    setenv("SPINDLE_RUNTIME_DIR", (m_dir / "file" / "sub").c_str(), 1);
    port::SingleInstanceLock lock("PreventSecondInstance");
    EXPECT_FALSE(lock.AlreadyExists());
}

} // namespace

namespace {

TEST(StartArgumentsTable, ActionsPathsAndErrors) {
    using A = StartAction;
    struct Case {
        std::vector<std::string> args;
        A action;
        std::string path;
    };
    const Case cases[] = {
        {{}, A::kWindow, ""},
        {{"/m/a b ä.iso"}, A::kOpen, "/m/a b ä.iso"},
        {{"--mount", "x.iso"}, A::kMount, "x.iso"},
        {{"x.iso", "--burn"}, A::kBurn, "x.iso"},
        {{"--", "--mount"}, A::kOpen, "--mount"},
        {{"--mount", "--", "-x.iso"}, A::kMount, "-x.iso"},
        {{"-"}, A::kOpen, "-"},
        {{"--version"}, A::kVersion, ""},
        {{"--help"}, A::kHelp, ""},
        {{"--mount"}, A::kWindow, ""}, // the desktop entry's action without a file
        {{"--burn"}, A::kBurn, ""},
        {{"--burn", "--mount", "x"}, A::kError, ""},
        {{"a.iso", "b.iso"}, A::kError, ""},
        {{"--open", "a.iso"}, A::kError, ""},
        {{"--version", "a.iso"}, A::kError, ""},
        {{""}, A::kError, ""},
        {{"--language", "Deutsch"}, A::kLanguage, "Deutsch"},
        {{"--language"}, A::kError, ""},
        {{"x.iso", "--language", "auto"}, A::kError, ""},
    };
    for (const Case& c : cases) {
        const StartArguments got = ParseStartArguments(c.args);
        std::string shown;
        for (const std::string& a : c.args)
            shown += "[" + a + "]";
        EXPECT_EQ(got.action, c.action) << shown;
        EXPECT_EQ(got.path, c.path) << shown;
        EXPECT_EQ(got.error.empty(), c.action != A::kError) << shown;
        // A start of the window handed over reads back as the same start.
        if (got.action == A::kWindow || got.action == A::kOpen || got.action == A::kBurn) {
            const StartArguments back = ParseStartArguments(HandOverArguments(got));
            EXPECT_EQ(back.action, got.action) << shown;
            EXPECT_EQ(back.path, got.path) << shown;
        }
    }
    EXPECT_TRUE(OpensOnBurnPage("/a/b.CUE"));
    EXPECT_FALSE(OpensOnBurnPage("/a/b.iso"));
    EXPECT_FALSE(OpensOnBurnPage("cue"));
}

} // namespace
