#include "vdrive/VirtualDrive.h"

#include "FakeDriver.h"
#include "port/DosDevices.h"
#include "port/LastError.h"
#include "port/Utf.h"
#include "tests/support/TempEnv.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace vdrive;
using port::wire::Reply;
using spindle_test::DriverCall;
using spindle_test::FakeDriver;
using spindle_test::TempEnv;

namespace {

std::string Cd(int n) {
    return "\\Device\\FileDisk\\FileDiskCd" + std::to_string(n);
}

Reply Ok() {
    return Reply{};
}

MountRequest Raw(const std::u16string& ntName) {
    MountRequest r;
    r.imagePath = ntName;
    r.convertPath = false;
    return r;
}

} // namespace

TEST(DeviceScan, MarksOnlyDeviceNumbersInRange) {
    TempEnv env;
    env.EmptyTable();
    port::PushDosDevice("C:", "/");
    port::PushDosDevice("E:", "\\Device\\FileDisk\\FileDisk5");
    port::PushDosDevice("F:", Cd(12));
    port::PushDosDevice("G:", Cd(40));
    port::PushDosDevice("H:", "\\Device\\FileDisk\\FileDiskCd"); // no digits: 0
    port::PushDosDevice("I:", "\\Device\\FileDisk\\FileDiskCd-1");
    port::PushDosDevice("J:", "\\Device\\FileDisk\\FileDisk31x");
    port::PushDosDevice("K:", Cd(7));
    port::PushDosDevice("K:", "/");     // only the first target counts
    port::PushDosDevice("LPT1", Cd(9)); // not a drive letter

    DeviceUseTable t = ScanFileDiskDevices();
    std::vector<int> cd, disk;
    for (int i = 0; i < 32; ++i) {
        if (t.cd[i])
            cd.push_back(i);
        if (t.disk[i])
            disk.push_back(i);
    }
    EXPECT_EQ(cd, (std::vector<int>{0, 12}));
    EXPECT_EQ(disk, (std::vector<int>{5, 31}));
}

TEST(DeviceScan, LetterIsUsedWhenDefinedEvenIfTooLongToRead) {
    TempEnv env;
    env.EmptyTable();
    port::PushDosDevice("D:", "/");
    port::PushDosDevice("E:", "/" + std::string(300, 'x'));
    EXPECT_TRUE(IsDriveLetterUsed(u'D'));
    EXPECT_TRUE(IsDriveLetterUsed(u'E'));
    EXPECT_FALSE(IsDriveLetterUsed(u'F'));
}

TEST(NtPaths, ConvertBothWays) {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    std::u16string here = port::ToUtf16(cwd);
    struct Case {
        std::u16string in, out;
    };
    const Case to[] = {
        {u"\\\\srv\\share\\a.iso", u"\\??\\UNC\\srv\\share\\a.iso"},
        {u"a.iso", u"\\??\\" + here + u"/a.iso"},
        {u"/tmp/../tmp/a.iso", u"\\??\\/tmp/a.iso"},
        {u"\\a.iso", u"\\a.iso"},
        {u"/" + std::u16string(270, u'x'), u"\\??\\/" + std::u16string(270, u'x')},
        {u"/" + std::u16string(271, u'x'), u"\\??\\"}, // full path past 272 units
    };
    for (const Case& c : to)
        EXPECT_EQ(ToNtPath(c.in), c.out) << port::ToUtf8(c.in);
    const Case from[] = {
        {u"\\??\\UNC\\srv\\share\\a.iso", u"\\\\srv\\share\\a.iso"},
        {u"\\??\\C:\\img\\a.iso", u"C:\\img\\a.iso"},
        {u"\\??\\/img/a.iso", u"/img/a.iso"},
        {u"C:\\a.iso", u"C:\\a.iso"},
        {u"\\??", u"\\??"},
    };
    for (const Case& c : from)
        EXPECT_EQ(FromNtPath(c.in), c.out) << port::ToUtf8(c.in);
}

TEST(Mount, SendsTheWideRecordThenFallsBackToTheClassicOne) {
    struct Case {
        std::uint32_t wideError, classicError;
        bool ok;
        port::ErrorCode error;
        std::size_t calls;
    };
    const Case cases[] = {
        {0, 0, true, 0, 1},
        {50, 0, true, 0, 2},
        {50, 1005, false, 1005, 2},
    };
    for (const Case& c : cases) {
        TempEnv env;
        env.EmptyTable();
        FakeDriver driver(env.runtime(), [&](const DriverCall& call) {
            return Reply{call.code == IOCTL_FILEDISK_OPEN_FILE_W ? c.wideError : c.classicError,
                         {}};
        });
        port::ErrorCode error = 99;
        EXPECT_EQ(MountImage(u'k', Raw(u"\\??\\C:\\a.iso"), error), c.ok);
        EXPECT_EQ(error, c.error);
        auto calls = driver.Calls();
        ASSERT_EQ(calls.size(), c.calls);
        EXPECT_EQ(calls[0].code, IOCTL_FILEDISK_OPEN_FILE_W);
        EXPECT_EQ(calls[0].input.size(), 70u);
        EXPECT_EQ(calls[0].device, Cd(0));
        EXPECT_EQ(calls[0].letter, u'K');
        if (c.calls == 2) {
            EXPECT_EQ(calls[1].code, IOCTL_FILEDISK_OPEN_FILE);
            EXPECT_EQ(calls[1].input.size(), 28u);
            EXPECT_EQ(calls[1].input[10], 13);
        }
        EXPECT_EQ(port::FirstDosDeviceTarget("K:"), c.ok ? Cd(0) : "");
    }
}

TEST(Mount, TakesTheLowestFreeDeviceOfTheFamily) {
    TempEnv env;
    env.EmptyTable();
    for (int n : {0, 1, 3})
        port::PushDosDevice(std::string(1, static_cast<char>('L' + n)) + ":", Cd(n));
    FakeDriver driver(env.runtime(), [](const DriverCall&) { return Ok(); });
    port::ErrorCode error = 0;
    ASSERT_TRUE(MountImage(u'X', Raw(u"\\??\\/a.iso"), error));
    EXPECT_EQ(port::FirstDosDeviceTarget("X:"), Cd(2));

    MountRequest disk = Raw(u"\\??\\/b.iso");
    disk.deviceKind = kDeviceKindDisk;
    disk.readOnly = false;
    ASSERT_TRUE(MountImage(u'Y', disk, error));
    EXPECT_EQ(port::FirstDosDeviceTarget("Y:"), "\\Device\\FileDisk\\FileDisk0");
    EXPECT_EQ(driver.Calls().back().input[36], 0);  // a disk keeps the request's flag
    EXPECT_EQ(driver.Calls().front().input[36], 1); // a CD is always read-only
}

TEST(Mount, LetterInUseIsRefusedBeforeAnythingChanges) {
    TempEnv env;
    env.EmptyTable();
    port::PushDosDevice("C:", "/");
    port::PushDosDevice("K:", Cd(5));
    FakeDriver driver(env.runtime(), [](const DriverCall&) { return Ok(); });
    for (char16_t letter : {u'C', u'K'}) {
        port::ErrorCode error = 0;
        EXPECT_FALSE(MountImage(letter, Raw(u"\\??\\/a.iso"), error));
        EXPECT_EQ(error, port::ERROR_BUSY);
    }
    EXPECT_EQ(*port::DosDeviceTargets("C:"), std::vector<std::string>{"/"});
    EXPECT_EQ(*port::DosDeviceTargets("K:"), std::vector<std::string>{Cd(5)});
    EXPECT_TRUE(driver.Calls().empty());
}

TEST(Mount, AllDevicesBoundGivesInvalidDriveAndDefinesNothing) {
    TempEnv env;
    env.EmptyTable();
    FakeDriver driver(env.runtime(), [](const DriverCall&) { return Ok(); });
    DeviceUseTable used;
    used.cd.fill(true);
    port::ErrorCode error = 0;
    EXPECT_FALSE(MountImageWithDevices(u'K', Raw(u"\\??\\/a.iso"), used, error));
    EXPECT_EQ(error, port::ERROR_INVALID_DRIVE);
    EXPECT_FALSE(IsDriveLetterUsed(u'K'));
    EXPECT_TRUE(driver.Hellos().empty());
    // The other family is still free.
    MountRequest disk = Raw(u"\\??\\/a.iso");
    disk.deviceKind = kDeviceKindDisk;
    EXPECT_TRUE(MountImageWithDevices(u'K', disk, used, error));
    used.cd[17] = false;
    EXPECT_EQ(FreeDevice(used, DeviceFamily::Cd), 17u);
}

TEST(Mount, NoDriverGivesPathNotFoundAndLeavesNoLetter) {
    TempEnv env;
    env.EmptyTable();
    port::ErrorCode error = 0;
    EXPECT_FALSE(MountImage(u'K', Raw(u"\\??\\/a.iso"), error));
    EXPECT_EQ(error, port::ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(IsDriveLetterUsed(u'K'));
}

TEST(Mount, PathsThatDoNotFitTheRecordsAreRefusedUntouched) {
    TempEnv env;
    env.EmptyTable();
    FakeDriver driver(env.runtime(), [](const DriverCall&) { return Ok(); });
    MountRequest tooLong;
    tooLong.imagePath = u"/" + std::u16string(300, u'x');
    MountRequest rawTooLong = Raw(u"\\??\\/" + std::u16string(272, u'x'));
    // Names the driver's query could not give back whole (261 units, or
    // 265 bytes of UTF-8): the drive could not be listed with its image.
    MountRequest pastQuery = Raw(u"\\??\\/" + std::u16string(256, u'x'));
    MountRequest pastQueryBytes = Raw(u"\\??\\/" + std::u16string(87, u'\u65e5'));
    for (const MountRequest& r : {tooLong, rawTooLong, pastQuery, pastQueryBytes}) {
        port::ErrorCode error = 0;
        EXPECT_FALSE(MountImage(u'K', r, error));
        EXPECT_EQ(error, port::ERROR_FILENAME_EXCED_RANGE);
    }
    // A line break would split the drive lists' lines.
    MountRequest lineBreak;
    lineBreak.imagePath = u"/img/bad\ndrive9 = Q.iso";
    for (const MountRequest& r : {lineBreak, Raw(u"\\??\\/img/cr\r.iso")}) {
        port::ErrorCode error = 0;
        EXPECT_FALSE(MountImage(u'K', r, error));
        EXPECT_EQ(error, port::ERROR_INVALID_NAME);
    }
    port::ErrorCode error = 0;
    EXPECT_FALSE(MountImage(u'1', Raw(u"\\??\\/a.iso"), error));
    EXPECT_EQ(error, port::ERROR_INVALID_DRIVE);
    EXPECT_TRUE(driver.Hellos().empty());
    EXPECT_FALSE(IsDriveLetterUsed(u'K'));
    // Just inside both bounds.
    EXPECT_TRUE(MountImage(u'K', Raw(u"\\??\\/" + std::u16string(255, u'x')), error));
    EXPECT_TRUE(MountImage(u'L', Raw(u"\\??\\/" + std::u16string(86, u'\u65e5') + u"x"), error));
}

TEST(Query, AnswersOnlyForTheDriversLetters) {
    TempEnv env;
    env.EmptyTable();
    port::PushDosDevice("C:", "/");
    port::PushDosDevice("K:", Cd(0));
    port::PushDosDevice("M:", Cd(1));
    FakeDriver driver(env.runtime(), [](const DriverCall& call) {
        if (call.code != IOCTL_FILEDISK_QUERY_FILE || call.device != Cd(0))
            return Reply{21, {}};
        std::vector<std::uint8_t> rec(276, 0);
        rec[0] = 0x00;
        rec[1] = 0xF2;
        rec[2] = 0x05;
        rec[3] = 0x2A;
        rec[4] = 0x01; // 5000000000
        rec[8] = 1;
        std::string name = "\\??\\/img/a.iso";
        rec[10] = static_cast<std::uint8_t>(name.size());
        std::copy(name.begin(), name.end(), rec.begin() + 12);
        return Reply{0, rec};
    });
    auto k = QueryMountedImage(u'k');
    ASSERT_TRUE(k);
    EXPECT_EQ(k->imageName, u"\\??\\/img/a.iso");
    EXPECT_EQ(k->fileSize, 5000000000);
    EXPECT_EQ(k->readOnly, 1u);
    EXPECT_EQ(driver.Calls().back().outCapacity, 276u);
    EXPECT_FALSE(QueryMountedImage(u'M')); // device holds nothing
    EXPECT_FALSE(QueryMountedImage(u'C'));
    EXPECT_FALSE(QueryMountedImage(u'Q'));
    EXPECT_EQ(driver.Hellos().size(), 2u); // C: and Q: were never opened
}

TEST(Dismount, ClosesThenDismountsAndTellsTheInUseCaseApart) {
    struct Case {
        const char* what;
        std::uint32_t closeError;
        int busyDismounts; // refusals before the driver agrees
        bool ok, inUse;
    };
    const Case cases[] = {
        {"free", 0, 0, true, false},
        {"a file closed a moment ago", 0, 2, true, false},
        {"a file held open", 0, 1000, false, true},
        {"close refused", 5, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempEnv env;
        env.EmptyTable();
        port::PushDosDevice("K:", "/under");
        port::PushDosDevice("K:", Cd(3));
        int busy = c.busyDismounts;
        FakeDriver driver(env.runtime(), [&](const DriverCall& call) {
            if (call.code == IOCTL_FILEDISK_CLOSE_FILE)
                return Reply{c.closeError, {}};
            return Reply{busy-- > 0 ? port::ERROR_BUSY : 0u, {}};
        });
        DismountResult r = DismountDrive(u'K');
        EXPECT_EQ(r.ok, c.ok);
        EXPECT_EQ(r.driveInUse, c.inUse);
        EXPECT_EQ(r.error, c.ok ? 0u : c.closeError ? c.closeError : port::ERROR_BUSY);
        auto calls = driver.Calls();
        ASSERT_FALSE(calls.empty());
        // Each attempt closes the image and then dismounts the volume.
        for (size_t i = 0; i < calls.size(); ++i)
            EXPECT_EQ(calls[i].code, i % 2 ? FSCTL_DISMOUNT_VOLUME : IOCTL_FILEDISK_CLOSE_FILE);
        EXPECT_LE(calls.size(), 12u);
        // Only the driver's binding goes; what lay under it comes back.
        EXPECT_EQ(port::FirstDosDeviceTarget("K:"), c.ok ? "/under" : Cd(3));
    }
}

TEST(Dismount, ADriveThatIsNotTheDriversIsLeftAlone) {
    TempEnv env;
    env.EmptyTable();
    port::PushDosDevice("C:", "/");
    DismountResult r = DismountDrive(u'C');
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.driveInUse);
    EXPECT_EQ(r.error, port::ERROR_INVALID_FUNCTION);
    EXPECT_EQ(port::FirstDosDeviceTarget("C:"), "/");
    EXPECT_EQ(DismountDrive(u'Q').error, port::ERROR_FILE_NOT_FOUND);
}

TEST(Dismount, ABindingLeftWithoutADriverIsFreed) {
    TempEnv env;
    env.EmptyTable();
    port::PushDosDevice("K:", "/under");
    port::PushDosDevice("K:", Cd(2));
    DismountResult r = DismountDrive(u'K');
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(port::FirstDosDeviceTarget("K:"), "/under");
}
