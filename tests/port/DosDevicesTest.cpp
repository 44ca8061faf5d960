#include "port/DosDevices.h"
#include "port/LastError.h"
#include "tests/support/TempEnv.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace port;
using spindle_test::TempEnv;

namespace {

std::u16string Query(const char16_t* name, std::uint32_t max, std::uint32_t* stored) {
    std::u16string buf(max, u'#');
    *stored = QueryDosDeviceW(name, buf.data(), max);
    return buf.substr(0, *stored);
}

} // namespace

TEST(DosDevices, DefinitionsStackAndPopNewestFirst) {
    TempEnv env;
    env.EmptyTable();
    ASSERT_TRUE(DefineDosDeviceW(DDD_RAW_TARGET_PATH, u"K:", u"/first"));
    ASSERT_TRUE(DefineDosDeviceW(DDD_RAW_TARGET_PATH, u"k:", u"\\Device\\FileDisk\\FileDiskCd0"));
    std::uint32_t n = 0;
    EXPECT_EQ(Query(u"K:", 260, &n),
              std::u16string(u"\\Device\\FileDisk\\FileDiskCd0\0/first\0\0", 37));
    EXPECT_EQ(n, 37u);

    ASSERT_TRUE(DefineDosDeviceW(DDD_REMOVE_DEFINITION, u"K:", nullptr));
    EXPECT_EQ(FirstDosDeviceTarget("K:"), "/first");
    ASSERT_TRUE(DefineDosDeviceW(DDD_REMOVE_DEFINITION, u"K:", nullptr));
    EXPECT_EQ(QueryDosDeviceW(u"K:", nullptr, 0), 0u);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(DefineDosDeviceW(DDD_REMOVE_DEFINITION, u"K:", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(DosDeviceNames().empty());
}

TEST(DosDevices, RemovesAMatchingDefinitionBelowTheTop) {
    TempEnv env;
    env.EmptyTable();
    PushDosDevice("M:", "/a");
    PushDosDevice("M:", "\\Device\\FileDisk\\FileDiskCd3");
    PushDosDevice("M:", "/b");
    EXPECT_FALSE(DefineDosDeviceW(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, u"M:",
                                  u"\\Device\\FileDisk\\FileDiskCd"));
    ASSERT_TRUE(DefineDosDeviceW(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, u"M:",
                                 u"\\Device\\FileDisk\\FileDiskCd3"));
    EXPECT_EQ(*DosDeviceTargets("M:"), (std::vector<std::string>{"/b", "/a"}));
}

TEST(DosDevices, ShortBufferFailsWith122AndWritesNothing) {
    TempEnv env;
    env.EmptyTable();
    PushDosDevice("Q:", "/abc"); // needs 4 + 1 + 1 units
    std::u16string buf(6, u'#');
    EXPECT_EQ(QueryDosDeviceW(u"Q:", buf.data(), 5), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(buf, u"######");
    EXPECT_EQ(QueryDosDeviceW(u"Q:", buf.data(), 6), 6u);
}

TEST(DosDevices, RefusesMalformedNamesAndTargets) {
    TempEnv env;
    env.EmptyTable();
    struct Case {
        const char16_t* name;
        const char16_t* target;
        ErrorCode error;
    };
    const Case cases[] = {
        {u"", u"/x", ERROR_INVALID_NAME},
        {u"../K:", u"/x", ERROR_INVALID_NAME},
        {u".lock", u"/x", ERROR_INVALID_NAME},
        {u"K:", u"", ERROR_INVALID_PARAMETER},
        {u"K:", u"/x\n/y", ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(DefineDosDeviceW(DDD_RAW_TARGET_PATH, c.name, c.target));
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_TRUE(DosDeviceNames().empty());
}

TEST(DosDevices, ListsEveryNameWithoutADeviceName) {
    TempEnv env;
    env.EmptyTable();
    PushDosDevice("Z:", "/z");
    PushDosDevice("D:", "/d");
    std::uint32_t n = 0;
    EXPECT_EQ(Query(nullptr, 100, &n), std::u16string(u"D:\0Z:\0\0", 7));
}

TEST(DosDevices, SeedsSystemVolumeAndUserDrivesOnFirstUse) {
    TempEnv env;
    env.Write("cfg/drives.conf",
              "# stand-ins\nR = stdio:/tmp/disc.iso\n  s: = /srv \nbad line\nC = /data\n1 = /x\n");
    EXPECT_EQ(*DosDeviceTargets("C:"), (std::vector<std::string>{"/data", "/"}));
    EXPECT_EQ(FirstDosDeviceTarget("R:"), "stdio:/tmp/disc.iso");
    EXPECT_EQ(FirstDosDeviceTarget("S:"), "/srv");
    // Seeding happens once: a removed drive stays removed.
    RemoveDosDevice("R:", std::nullopt, false);
    EXPECT_EQ(FirstDosDeviceTarget("R:"), "");
    EXPECT_EQ(DrivesConfProblems(),
              (std::vector<std::string>{
                  "drives.conf line 4: no '=' between a drive letter and its target",
                  "drives.conf line 6: '1' is not a drive letter (A to Z)"}));
    // A changed drives.conf adds the letters the table lacks and leaves the
    // defined ones alone, without a new table.
    PushDosDevice("S:", "/mine");
    EXPECT_EQ(DrivesConfMedia(), "");
    env.Write("cfg/drives.conf",
              "S = /other\nT = stdio:/tmp/new.iso\nU =\nMedia = ~/Discs\nmedia = disks\n");
    EXPECT_EQ(FirstDosDeviceTarget("T:"), "stdio:/tmp/new.iso");
    EXPECT_EQ(*DosDeviceTargets("S:"), (std::vector<std::string>{"/mine", "/srv"}));
    EXPECT_EQ(FirstDosDeviceTarget("R:"), "");
    EXPECT_EQ(
        DrivesConfProblems(),
        (std::vector<std::string>{
            "drives.conf line 3: the target of U: is empty or too long",
            "drives.conf line 5: media = 'disks' is neither 'off' nor a folder (/... or ~/...)"}));
    // The driver's line: the last one that can be read.
    EXPECT_EQ(DrivesConfMedia(), "~/Discs");
    env.Write("cfg/drives.conf", "media = /srv/discs\nmedia = off\n");
    EXPECT_EQ(DrivesConfMedia(), "off");
    EXPECT_TRUE(DrivesConfProblems().empty());
}

// Many processes changing the table at once lose no update.
TEST(DosDevices, ConcurrentUpdatesFromProcessesAreAtomic) {
    TempEnv env;
    env.EmptyTable();
    constexpr int kProcs = 4, kEach = 40;
    for (int p = 0; p < kProcs; ++p) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            bool ok = true;
            for (int i = 0; i < kEach; ++i)
                ok = PushDosDevice("X:", "/p" + std::to_string(p) + "/" + std::to_string(i)) && ok;
            for (int i = 0; i < kEach / 2; ++i)
                ok = RemoveDosDevice("X:", "/p" + std::to_string(p) + "/" + std::to_string(i),
                                     true) &&
                     ok;
            _exit(ok ? 0 : 1);
        }
    }
    for (int p = 0; p < kProcs; ++p) {
        int status = 0;
        wait(&status);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(DosDeviceTargets("X:")->size(), static_cast<size_t>(kProcs * kEach / 2));
}
