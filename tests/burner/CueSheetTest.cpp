// Cue sheets: the layouts a good sheet gives, and a clear refusal for each
// kind of malformed one.
#include "burner/CueSheet.h"
#include "burner/BurnJob.h"
#include "tests/support/TempEnv.h"

#include <gtest/gtest.h>

namespace {

using burner::TrackMode;

TEST(CueSheet, LaysTracksOutInTheirFilesRelativeToTheSheetsFolder) {
    spindle_test::TempConfigDir tmp;
    ::mkdir((tmp / "sub").c_str(), 0755);
    spindle_test::WriteFile(tmp / "sub/data.bin", std::string(2352 * 10 + 2352 * 5, 'x'));
    spindle_test::WriteFile(tmp / "sub/two.bin", std::string(2048 * 3, 'y'));
    spindle_test::WriteFile(tmp / "sub/disc.cue", "\xEF\xBB\xBFREM made by hand\r\n"
                                                  "FILE \"data.bin\" BINARY\r\n"
                                                  "  TRACK 01 MODE1/2352\r\n"
                                                  "    INDEX 01 00:00:00\r\n"
                                                  "  TRACK 02 AUDIO\r\n"
                                                  "    PREGAP 00:02:00\r\n"
                                                  "    INDEX 00 00:00:10\r\n"
                                                  "    INDEX 01 00:00:12\r\n"
                                                  "    INDEX 02 00:00:14\r\n"
                                                  "FILE two.bin BINARY\n"
                                                  "  TRACK 03 MODE1/2048\n"
                                                  "    INDEX 01 00:00:00\n");
    ::chdir("/"); // FILE names must not depend on the working folder
    burner::CueSheet cue;
    ASSERT_TRUE(burner::LoadCueSheet(tmp / "sub/disc.cue", cue).ok());
    ASSERT_EQ(cue.tracks.size(), 3u);
    const auto& t1 = cue.tracks[0];
    EXPECT_EQ(t1.file, tmp / "sub/data.bin");
    EXPECT_EQ(t1.mode, TrackMode::Mode1_2352);
    EXPECT_EQ(t1.offset, 0);
    EXPECT_EQ(t1.sectors, 10);
    const auto& t2 = cue.tracks[1];
    EXPECT_EQ(t2.mode, TrackMode::Audio);
    EXPECT_EQ(t2.offset, 2352 * 10);
    EXPECT_EQ(t2.sectors, 5);
    EXPECT_EQ(t2.pregap, 150);
    ASSERT_EQ(t2.indexes.size(), 3u);
    EXPECT_EQ(t2.indexes[1].number, 1);
    EXPECT_EQ(t2.indexes[1].sector, 2);
    EXPECT_EQ(t2.indexes[2].sector, 4);
    EXPECT_EQ(cue.tracks[2].file, tmp / "sub/two.bin");
    EXPECT_EQ(cue.tracks[2].sectors, 3);
    EXPECT_EQ(cue.PayloadBytes(), 10 * 2048 + (5 + 150) * 2352 + 3 * 2048);
}

TEST(CueSheet, RefusesMalformedSheetsWithAClearReason) {
    spindle_test::TempConfigDir tmp;
    spindle_test::WriteFile(tmp / "a.bin", std::string(2048 * 4, 'a'));
    spindle_test::WriteFile(tmp / "raw.bin", std::string(2352 * 4, '\0'));
    spindle_test::WriteFile(tmp / "xa.bin", std::string(2336 * 2, '\0'));
    struct Case {
        const char* name;
        std::string sheet;
        std::string reason; // a part of the message
    } cases[] = {
        {"no FILE", "TRACK 01 MODE1/2048\nINDEX 01 00:00:00\n", "before any FILE"},
        {"empty", "REM nothing\n", "names no FILE"},
        {"unknown mode", "FILE a.bin BINARY\nTRACK 01 MODE3/2048\nINDEX 01 00:00:00\n",
         "track mode MODE3/2048 is not supported"},
        {"missing BIN", "FILE gone.bin BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:00\n",
         "\"gone.bin\" named by the cue sheet was not found"},
        {"size not of the mode", "FILE a.bin BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n",
         "not whole sectors of 2352"},
        {"file too short",
         "FILE raw.bin BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n"
         "TRACK 02 AUDIO\nINDEX 01 00:00:09\n",
         "too short for track"},
        {"no INDEX 01", "FILE a.bin BINARY\nTRACK 01 MODE1/2048\n", "has no INDEX 01"},
        {"bad time", "FILE a.bin BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:75\n", "Line 3"},
        {"unknown command",
         "FILE a.bin BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:00\nBURN FAST\n",
         "unknown command BURN"},
        {"WAVE file", "FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n",
         "WAVE is not supported"},
        {"tracks out of order",
         "FILE a.bin BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:00\n"
         "TRACK 03 MODE1/2048\nINDEX 01 00:00:01\n",
         "out of order"},
        {"open quote", "FILE \"a.bin BINARY\n", "quote is not closed"},
        {"MODE2/2336 (mounted, never burnt)",
         "FILE xa.bin BINARY\nTRACK 01 MODE2/2336\nINDEX 01 00:00:00\n",
         "Line 2 of the cue sheet: track mode MODE2/2336 is not supported"},
    };
    for (const Case& c : cases) {
        burner::CueSheet cue;
        std::string error = burner::Detail(burner::ParseCueSheet(c.sheet, tmp.path(), cue));
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
    }
    burner::CueSheet cue;
    EXPECT_NE(burner::Detail(burner::LoadCueSheet(tmp / "nothing.cue", cue)), "");
    EXPECT_NE(burner::Detail(burner::LoadCueSheet(tmp / "raw.bin", cue)).find("not a cue sheet"),
              std::string::npos)
        << "a BIN given as the cue sheet";
}

} // namespace
