// The option record: its defaults, their meaning, and the INI store.
#include "burner/Options.h"
#include "engine/Engine.h"
#include "tests/support/TempEnv.h"

#include <gtest/gtest.h>

#include <cstring>

using TempDir = spindle_test::TempConfigDir;

namespace {

engine::EngineOptions OddRecord() {
    engine::EngineOptions o = burner::DefaultOptions();
    // Every kind of byte a label may hold: quote, backslash, control
    // characters, Latin-1 letters, 0xFF.
    const char label[] = "A \"q\" \\x\n\t\xE9\xFF end";
    std::memcpy(o.VolumeLabel, label, sizeof label);
    const char16_t temp[] = u"/tmp/\u0141\u00F3d\u017A \"x\"";
    std::memcpy(o.TempFolder, temp, sizeof temp);
    o.WriteSpeed = 2822;
    o.CloseDisc = 0;
    o.Simulate = 1;
    o.Verify = 7;
    o.Joliet = 0;
    o.RockRidge = 0xFF;
    o.UnderrunProtection = 0;
    o.IsoLevel = -2147483647 - 1;
    o.Reserved664 = 0x42;
    o.EjectWhenDone = 1;
    o.Copies = 2147483647;
    return o;
}

} // namespace

TEST(Options, RecordRoundTripsThroughTheStoreAndKeepsOtherSections) {
    TempDir tmp;
    std::string file = tmp / "opts.ini";
    engine::EngineOptions a = OddRecord(), b = burner::DefaultOptions();
    b.IsoLevel = 2;
    ASSERT_EQ(burner::SaveOptions(file, "HKEY_CURRENT_USER\\Software\\A\\", a), 0u);
    ASSERT_EQ(burner::SaveOptions(file, "HKEY_CURRENT_USER\\Software\\B\\", b), 0u);
    a.Copies = 5; // saving A again replaces only A
    ASSERT_EQ(burner::SaveOptions(file, "HKEY_CURRENT_USER\\Software\\A\\", a), 0u);

    engine::EngineOptions ra, rb;
    std::memset(&ra, 0x5A, sizeof ra);
    std::memset(&rb, 0x5A, sizeof rb);
    ASSERT_EQ(burner::LoadOptions(file, "HKEY_CURRENT_USER\\Software\\A\\", ra), 0u);
    ASSERT_EQ(burner::LoadOptions(file, "HKEY_CURRENT_USER\\Software\\B\\", rb), 0u);
    EXPECT_STREQ(ra.VolumeLabel, a.VolumeLabel);
    EXPECT_EQ(std::u16string(ra.TempFolder), std::u16string(a.TempFolder));
    EXPECT_EQ(ra.WriteSpeed, 2822);
    EXPECT_EQ(ra.Verify, 7);
    EXPECT_EQ(ra.RockRidge, 0xFF);
    EXPECT_EQ(ra.IsoLevel, a.IsoLevel);
    EXPECT_EQ(ra.Reserved664, 0x42);
    EXPECT_EQ(ra.Copies, 5);
    EXPECT_EQ(rb.IsoLevel, 2);
    EXPECT_EQ(rb.Copies, -1);
    EXPECT_EQ(rb.VolumeLabel[0], '\0');

    // A section name the file cannot hold is refused; the file stays readable.
    EXPECT_EQ(burner::SaveOptions(file, "HKEY_CURRENT_USER\\Bad]\n[B]", a),
              port::ERROR_INVALID_PARAMETER);
    ASSERT_EQ(burner::LoadOptions(file, "HKEY_CURRENT_USER\\Software\\B\\", rb), 0u);
    EXPECT_EQ(rb.Copies, -1);
}

TEST(Options, MissingStoreOrSectionLeavesTheRecordAlone) {
    TempDir tmp;
    engine::EngineOptions o = OddRecord(), before = o;
    EXPECT_EQ(burner::LoadOptions(tmp / "none.ini", "X", o), port::ERROR_FILE_NOT_FOUND);
    spindle_test::WriteFile(tmp / "other.ini", "[Y]\nCopies=3\n");
    EXPECT_EQ(burner::LoadOptions(tmp / "other.ini", "X", o), port::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(std::memcmp(&o, &before, sizeof o), 0);
}

TEST(Options, DamagedValuesTakeTheirDefaultsAndLongLabelsAreCut) {
    TempDir tmp;
    std::string label(200, 'x');
    // U+0141 and U+0179 keep their low 8 bits, U+00D3 stays.
    spindle_test::WriteFile(tmp / "bad.ini", "[S]\nCopies=lots\nIsoLevel=99999999999\n"
                                             "Verify=300\nVolumeLabel=\"\xC5\x81\xC3\x93"
                                             "D\xC5\xB9" +
                                                 label + "\"\nTempFolder=/" + label + label + "\n");
    engine::EngineOptions o = OddRecord();
    ASSERT_EQ(burner::LoadOptions(tmp / "bad.ini", "S", o), 0u);
    EXPECT_EQ(o.Copies, -1);
    EXPECT_EQ(o.IsoLevel, -1);
    EXPECT_EQ(o.Verify, 0xFF);
    EXPECT_EQ(o.TempFolder[0], u'\0');
    EXPECT_EQ(std::strlen(o.VolumeLabel), 127u);
    EXPECT_EQ(std::string(o.VolumeLabel, 4), "A\xD3"
                                             "Dy");
}

TEST(Options, DefaultsResolveToTheDocumentedMeanings) {
    burner::ResolvedOptions r = burner::Resolve(burner::DefaultOptions());
    EXPECT_EQ(r.volumeLabel, "");
    EXPECT_EQ(r.writeSpeedKBs, 0);
    EXPECT_TRUE(r.closeDisc);
    EXPECT_FALSE(r.simulate);
    EXPECT_FALSE(r.tempFolder.empty());
    EXPECT_FALSE(r.verify);
    EXPECT_TRUE(r.joliet);
    EXPECT_TRUE(r.rockRidge);
    EXPECT_TRUE(r.underrunProtection);
    EXPECT_EQ(r.isoLevel, 3);
    EXPECT_FALSE(r.ejectWhenDone);
    EXPECT_EQ(r.copies, 1);

    // What the pages set: the burn page's 1s and the build's label.
    engine::EngineOptions o = burner::DefaultOptions();
    o.CloseDisc = o.Verify = o.UnderrunProtection = o.EjectWhenDone = 1;
    std::strcpy(o.VolumeLabel, "M\xC9LANGE");
    o.IsoLevel = 7; // out of range: default
    o.Copies = 0;   // out of range: default
    r = burner::Resolve(o);
    EXPECT_TRUE(r.verify && r.ejectWhenDone && r.closeDisc && r.underrunProtection);
    EXPECT_EQ(r.volumeLabel, "M\xC3\x89LANGE"); // Latin-1 byte as UTF-8
    EXPECT_EQ(r.isoLevel, 3);
    EXPECT_EQ(r.copies, 1);
}

TEST(Options, EngineKeepsWhatItIsGivenAndNeverReadsPastTheFields) {
    TempDir tmp;
    engine::EngineOptions o;
    std::memset(&o, 'x', sizeof o); // no terminator anywhere
    engine::SetOptions(o);
    engine::EngineOptions got;
    engine::GetOptions(&got);
    EXPECT_EQ(std::strlen(got.VolumeLabel), 127u);
    EXPECT_EQ(got.TempFolder[259], u'\0');

    engine::EngineOptions saved = OddRecord();
    engine::SetOptions(saved);
    ASSERT_EQ(engine::SaveOptionsToRegistry(u"HKEY_CURRENT_USER", u"\\Software\\Spindle\\"), 0);
    engine::SetOptions(burner::DefaultOptions());
    ASSERT_EQ(engine::SetOptionsFromRegistry(u"HKEY_CURRENT_USER", u"\\Software\\Spindle\\"), 0);
    engine::GetOptions(&got);
    EXPECT_EQ(std::memcmp(got.VolumeLabel, saved.VolumeLabel, std::strlen(saved.VolumeLabel) + 1),
              0);
    EXPECT_EQ(got.Copies, saved.Copies);
    EXPECT_EQ(got.Reserved664, saved.Reserved664);
    EXPECT_NE(engine::SetOptionsFromRegistry(u"HKEY_CURRENT_USER", u"\\Software\\Nobody\\"), 0);
    engine::SetOptions(burner::DefaultOptions());
}
