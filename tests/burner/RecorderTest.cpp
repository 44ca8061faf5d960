// The engine's drive side against drives of the drive table: files standing
// in for recorders, and letters that are no optical drive.
#include "burner/Recorder.h"
#include "engine/Engine.h"
#include "port/DosDevices.h"
#include "port/Errors.h"
#include "tests/support/TempEnv.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace {

using TempDir = spindle_test::TempConfigDir;

TEST(Recorder, AddressOfATarget) {
    const struct {
        const char* target;
        const char* address;
    } cases[] = {
        {"/dev/sr0", "/dev/sr0"},
        {"/dev/sr12", "/dev/sr12"},
        {"/dev/scd1", "/dev/scd1"},
        {"stdio:/home/me/d.iso", "stdio:/home/me/d.iso"},
        {"stdio:", ""},
        {"/dev/sda", ""},
        {"/dev/sr0x", ""},
        {"/dev/sr", ""},
        {"/", ""},
        {"\\Device\\FileDisk\\FileDiskCd0", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(burner::RecorderAddressOf(c.target), c.address) << c.target;
}

TEST(Recorder, DescribesPseudoDrivesAndRefusesOtherLetters) {
    TempDir dir;
    std::filesystem::create_directories(dir / "runtime/dosdevices");
    spindle_test::WriteFile(dir / "disc.iso", std::string(4096, 'x'));
    ASSERT_TRUE(port::PushDosDevice("C:", "/"));
    ASSERT_TRUE(port::PushDosDevice("K:", "\\Device\\FileDisk\\FileDiskCd0"));
    ASSERT_TRUE(port::PushDosDevice("R:", "stdio:" + (dir / "disc.iso")));
    ASSERT_TRUE(port::PushDosDevice("S:", "stdio:" + (dir / "blank.iso"))); // no file yet
    ASSERT_EQ(engine::Initialize(), 1);

    for (char16_t letter : {u'R', u'S'}) {
        ASSERT_EQ(engine::SetDevice(letter), 0);
        char fields[33];
        std::memset(fields, '#', sizeof fields);
        ASSERT_EQ(engine::GetDeviceInformation(fields, fields + 8, fields + 24), 0);
        // Blank-padded, not terminated: the byte after the fields is untouched.
        EXPECT_EQ(std::string(fields, 33), "YOYODYNEWARP DRIVE      FX01    #");
        EXPECT_EQ(engine::EjectDevice(), 0);
        EXPECT_EQ(engine::CloseDevice(), 0);
    }
    EXPECT_FALSE(spindle_test::Exists(dir / "blank.iso")) << "describing a drive creates no file";
    EXPECT_EQ(burner::CurrentRecorderAddress(), "stdio:" + (dir / "blank.iso"));

    for (char16_t letter : {u'C', u'K', u'Z', u'\0', u'\x4E00'}) {
        EXPECT_EQ(engine::SetDevice(letter), port::ERROR_INVALID_DRIVE);
        char vendor[8], product[16], revision[8];
        EXPECT_NE(engine::GetDeviceInformation(vendor, product, revision), 0);
        EXPECT_NE(engine::EjectDevice(), 0);
        EXPECT_NE(engine::CloseDevice(), 0);
        EXPECT_EQ(burner::CurrentRecorderAddress(), "");
    }
    engine::DeInitialize();
}

} // namespace
