// The disc map: every format the test writers make is read back to its
// tracks, and the user data found through the map is the ISO image's; each
// kind of bad descriptor is refused with its file and line or field.
#include "vdrive/DiscImage.h"
#include "port/Utf.h"
#include "tests/support/DiscWrap.h"
#include "tests/support/Files.h"
#include "vdrive/VolumeLabel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using spindle_test::WrapDisc;
using spindle_test::WrapTrack;
using vdrive::SectorForm;

std::string ReadAt(const std::string& path, std::uint64_t offset, std::size_t count) {
    std::string out(count, '\0');
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const ssize_t got = fd < 0 ? -1 : ::pread(fd, out.data(), count, static_cast<off_t>(offset));
    if (fd >= 0)
        ::close(fd);
    out.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
    return out;
}

// Every sector's user bytes of the track, through the map.
std::string UserData(const vdrive::DiscTrack& t) {
    std::string out;
    for (std::uint64_t k = 0; k < t.sectors; ++k)
        out +=
            ReadAt(t.file, vdrive::UserDataOffset(t, k), t.form == SectorForm::Audio ? 2352 : 2048);
    if (t.swapBytes) {
        for (std::size_t i = 0; i + 1 < out.size(); i += 2)
            std::swap(out[i], out[i + 1]);
    }
    return out;
}

std::string Padded(std::string data, std::size_t unit) {
    data.resize((data.size() + unit - 1) / unit * unit, '\0');
    return data;
}

struct Fixture {
    spindle_test::TempDir dir{"spindle-disc"};
    std::string iso, samples;
    Fixture() {
        ::mkdir((dir / "src").c_str(), 0755);
        ::mkdir((dir / "src/folder").c_str(), 0755);
        spindle_test::WriteFile(dir / "src/folder/a.txt", std::string(70000, 'a'));
        spindle_test::WriteFile(dir / "src/b.bin", std::string(5000, '\x5b'));
        EXPECT_TRUE(spindle_test::Shell("xorriso -as mkisofs -quiet -R -J -V DISCLABEL -o " +
                                        spindle_test::Q(dir / "disc.iso") + " " +
                                        spindle_test::Q(dir / "src") + " 2>/dev/null"));
        iso = spindle_test::ReadFile(dir / "disc.iso");
        for (int i = 0; i < 3 * 2352 + 1000; ++i)
            samples += static_cast<char>(i * 7 + i / 256);
    }
    WrapDisc Data(SectorForm form) const { return {{WrapTrack{form, iso, 0, 0}}}; }
    // Data, then two audio tracks: the first with a gap of 2 s no file holds
    // and 3 stored sectors before its INDEX 01.
    WrapDisc Mixed(SectorForm form, bool gaps = true) const {
        return {{WrapTrack{form, iso, 0, 0},
                 WrapTrack{SectorForm::Audio, samples, gaps ? 150 : 0, gaps ? 3 : 0},
                 WrapTrack{SectorForm::Audio, samples.substr(0, 2352), 0, 0}}};
    }
};

TEST(DiscImage, EveryWrittenFormatReadsBackToItsTracksAndTheIsosBytes) {
    Fixture f;
    ASSERT_GT(f.iso.size(), 70000u);
    using namespace spindle_test;
    const std::string d = f.dir.path();
    struct Row {
        const char* name;
        WrapDisc disc;
        std::function<std::string(const WrapDisc&)> write;
    } rows[] = {
        {"plain ISO", f.Data(SectorForm::Mode1_2048),
         [&](const WrapDisc&) { return d + "/disc.iso"; }},
        {"cue MODE1/2048", f.Data(SectorForm::Mode1_2048),
         [&](const WrapDisc& w) { return WriteCue(w, d, "c1"); }},
        {"cue MODE1/2352, audio with PREGAP and INDEX 00", f.Mixed(SectorForm::Mode1_2352),
         [&](const WrapDisc& w) { return WriteCue(w, d, "c2"); }},
        {"cue MODE2/2352, a FILE per track", f.Mixed(SectorForm::Mode2_2352),
         [&](const WrapDisc& w) {
             return WriteCue(w, d, "c3", {true, false});
         }},
        {"cue MODE2/2336, MOTOROLA audio", f.Mixed(SectorForm::Mode2_2336),
         [&](const WrapDisc& w) {
             return WriteCue(w, d, "c4", {true, true});
         }},
        {"CloneCD mode 1 with .sub", f.Mixed(SectorForm::Mode1_2352, false),
         [&](const WrapDisc& w) { return WriteCloneCd(w, d, "k1", true); }},
        {"CloneCD mode 2 without .sub", f.Data(SectorForm::Mode2_2352),
         [&](const WrapDisc& w) { return WriteCloneCd(w, d, "k2", false); }},
        {"Nero old footer, DAO", f.Mixed(SectorForm::Mode1_2352),
         [&](const WrapDisc& w) {
             return WriteNero(w, d, "n1", {false, false});
         }},
        {"Nero new footer, DAO", f.Mixed(SectorForm::Mode1_2048),
         [&](const WrapDisc& w) {
             return WriteNero(w, d, "n2", {true, false});
         }},
        {"Nero old footer, TAO", f.Data(SectorForm::Mode2_2336),
         [&](const WrapDisc& w) {
             return WriteNero(w, d, "n3", {false, true});
         }},
        {"Nero new footer, TAO", f.Mixed(SectorForm::Mode2_2352, false),
         [&](const WrapDisc& w) {
             return WriteNero(w, d, "n4", {true, true});
         }},
        {"Alcohol mode 1 and audio", f.Mixed(SectorForm::Mode1_2352),
         [&](const WrapDisc& w) { return WriteAlcohol(w, d, "a1"); }},
        {"Alcohol MODE1/2048", f.Data(SectorForm::Mode1_2048),
         [&](const WrapDisc& w) { return WriteAlcohol(w, d, "a2"); }},
        {"Alcohol mode 2 with subchannel", f.Mixed(SectorForm::Mode2_2352, false),
         [&](const WrapDisc& w) { return WriteAlcohol(w, d, "a3", true); }},
    };
    const std::u16string label = vdrive::ReadVolumeLabel(port::ToUtf16(d + "/disc.iso"));
    ASSERT_EQ(label.substr(0, 9), u"DISCLABEL");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = row.write(row.disc);
        vdrive::Disc disc;
        vdrive::DiscFault fault;
        ASSERT_TRUE(vdrive::ReadDisc(path, disc, fault)) << fault.detail;
        EXPECT_EQ(disc.descriptor, path);
        ASSERT_EQ(disc.tracks.size(), row.disc.tracks.size());
        const auto starts = row.disc.Starts();
        for (std::size_t k = 0; k < disc.tracks.size(); ++k) {
            const vdrive::DiscTrack& t = disc.tracks[k];
            const WrapTrack& w = row.disc.tracks[k];
            SCOPED_TRACE("track " + std::to_string(k + 1));
            EXPECT_EQ(t.number, static_cast<int>(k + 1));
            EXPECT_EQ(t.form, w.form);
            EXPECT_EQ(t.sectors, row.disc.Sectors(k));
            EXPECT_EQ(t.start, starts[k]);
            const bool audio = w.form == SectorForm::Audio;
            EXPECT_TRUE(UserData(t) == Padded(w.data, audio ? 2352 : 2048));
        }
        ASSERT_NE(vdrive::FirstDataTrack(disc), nullptr);
        EXPECT_EQ(vdrive::FirstDataTrack(disc)->number, 1);
        // The label is read through the map; it is written into plain
        // images only, and nothing else is touched.
        const std::u16string wide = port::ToUtf16(path);
        EXPECT_EQ(vdrive::ReadVolumeLabel(wide), label);
        const std::string before = ReadFile(path);
        port::ErrorCode error = 0;
        const bool plain = path == d + "/disc.iso";
        EXPECT_EQ(vdrive::WriteVolumeLabel(wide, u"OTHER", error), plain);
        EXPECT_EQ(error, plain ? 0u : port::ERROR_NOT_SUPPORTED);
        EXPECT_TRUE(plain || ReadFile(path) == before);
    }
}

// A written file with bytes replaced at `at` (from the end when negative).
void Patch(const std::string& path, std::int64_t at, const std::string& bytes) {
    std::string data = spindle_test::ReadFile(path);
    const auto pos =
        static_cast<std::size_t>(at < 0 ? static_cast<std::int64_t>(data.size()) + at : at);
    data.replace(pos, bytes.size(), bytes);
    spindle_test::WriteFile(path, data);
}

std::string Big32(std::uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

TEST(DiscImage, RefusesBadDescriptorsNamingTheFileAndLineOrField) {
    Fixture f;
    using namespace spindle_test;
    const std::string d = f.dir.path();
    WriteFile(d + "/four.bin", std::string(4 * 2048, 'x'));
    const WrapDisc mixed = f.Mixed(SectorForm::Mode1_2352, false);
    // Offsets in the Alcohol descriptor of three tracks: session pointer,
    // first track's sector size, first track's extra block length.
    const std::int64_t mdsSession = 0x50, mdsSize = 88 + 24 + 3 * 80 + 0x10;
    const std::int64_t mdsLength = 88 + 24 + 6 * 80 + 4;
    struct Row {
        const char* name;
        std::function<std::string()> make; // writes the image, gives the descriptor
        port::ErrorCode code;
        std::string file; // the end of the path named
        int line;         // -1: the line holding `text`
        std::string field;
        std::string text = {};
    } rows[] = {
        {"cue naming a missing BIN",
         [&] {
             WriteFile(d + "/m.cue",
                       "FILE gone.bin BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:00\n");
             return d + "/m.cue";
         },
         port::ERROR_FILE_NOT_FOUND, "/gone.bin", 1, "FILE"},
        {"cue track past the BIN's end",
         [&] {
             WriteFile(d + "/e.cue",
                       "FILE four.bin BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:00\n"
                       "TRACK 02 MODE1/2048\nINDEX 01 00:00:09\n");
             return d + "/e.cue";
         },
         port::ERROR_HANDLE_EOF, "/four.bin", 2, "TRACK 1"},
        {"cue sector size of no mode",
         [&] {
             WriteFile(d + "/s.cue",
                       "FILE four.bin BINARY\nTRACK 01 MODE1/2340\nINDEX 01 00:00:00\n");
             return d + "/s.cue";
         },
         port::ERROR_NOT_SUPPORTED, "/s.cue", 2, "TRACK"},
        {"cue line that does not parse",
         [&] {
             WriteFile(d + "/p.cue",
                       "FILE four.bin BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:75\n");
             return d + "/p.cue";
         },
         port::ERROR_INVALID_DATA, "/p.cue", 3, "INDEX"},
        {"CloneCD without its .img",
         [&] {
             std::string p = WriteCloneCd(mixed, d, "k1", false);
             ::unlink((d + "/k1.img").c_str());
             return p;
         },
         port::ERROR_FILE_NOT_FOUND, "/k1.img", 0, "img"},
        {"CloneCD entry whose address is no number",
         [&] {
             std::string p = WriteCloneCd(mixed, d, "k2", false);
             std::string t = ReadFile(p);
             t.replace(t.rfind("PLBA=0"), 6, "PLBA=zero");
             WriteFile(p, t);
             return p;
         },
         port::ERROR_INVALID_DATA, "/k2.ccd", -1, "[Entry 3] PLBA", "PLBA=zero"},
        {"CloneCD track mode 5",
         [&] {
             std::string p = WriteCloneCd(mixed, d, "k3", false);
             std::string t = ReadFile(p);
             t.replace(t.find("MODE=1"), 6, "MODE=5");
             WriteFile(p, t);
             return p;
         },
         port::ERROR_NOT_SUPPORTED, "/k3.ccd", -1, "[TRACK 1] MODE", "MODE=5"},
        {"CloneCD lead-out past the .img's end",
         [&] {
             std::string p = WriteCloneCd(mixed, d, "k4", false);
             Patch(d + "/k4.img", 0, std::string(10, 'x'));
             ::truncate((d + "/k4.img").c_str(), 2352 * 3);
             return p;
         },
         port::ERROR_HANDLE_EOF, "/k4.img", 0, "track 1"},
        {"Nero footer pointing past the end",
         [&] {
             std::string p = WriteNero(mixed, d, "n1", {true, false});
             Patch(p, -8, std::string(8, '\x7f'));
             return p;
         },
         port::ERROR_INVALID_DATA, "/n1.nrg", 0, "footer"},
        {"Nero chunk larger than the file",
         [&] {
             std::string p = WriteNero(mixed, d, "n2", {true, false});
             std::string t = ReadFile(p);
             Patch(p, static_cast<std::int64_t>(t.rfind("CUEX")) + 4, Big32(0x7fffffff));
             return p;
         },
         port::ERROR_INVALID_DATA, "/n2.nrg", 0, "CUEX"},
        {"Nero DAO sector size 2340",
         [&] {
             std::string p = WriteNero(mixed, d, "n3", {false, false});
             std::string t = ReadFile(p);
             Patch(p, static_cast<std::int64_t>(t.rfind("DAOI")) + 8 + 22 + 12, "\x09\x24");
             return p;
         },
         port::ERROR_NOT_SUPPORTED, "/n3.nrg", 0, "DAOI track 1"},
        {"Nero TAO track past the data's end",
         [&] {
             std::string p = WriteNero(mixed, d, "n4", {false, true});
             std::string t = ReadFile(p);
             Patch(p, static_cast<std::int64_t>(t.rfind("ETNF")) + 8 + 4, Big32(0x7fffff00));
             return p;
         },
         port::ERROR_HANDLE_EOF, "/n4.nrg", 0, "ETNF track 1"},
        {"Alcohol session block past the end",
         [&] {
             std::string p = WriteAlcohol(mixed, d, "a1");
             Patch(p, mdsSession, std::string("\xff\xff\x00\x00", 4));
             return p;
         },
         port::ERROR_INVALID_DATA, "/a1.mds", 0, "session block"},
        {"Alcohol sector size 2340",
         [&] {
             std::string p = WriteAlcohol(mixed, d, "a2");
             Patch(p, mdsSize, "\x24\x09");
             return p;
         },
         port::ERROR_NOT_SUPPORTED, "/a2.mds", 0, "track 1 sector size"},
        {"Alcohol track longer than its .mdf",
         [&] {
             std::string p = WriteAlcohol(mixed, d, "a3");
             Patch(p, mdsLength, std::string("\x00\x00\x00\x7f", 4));
             return p;
         },
         port::ERROR_HANDLE_EOF, "/a3.mdf", 0, "track 1"},
        {"Alcohol without its .mdf",
         [&] {
             std::string p = WriteAlcohol(mixed, d, "a4");
             ::unlink((d + "/a4.mdf").c_str());
             return p;
         },
         port::ERROR_FILE_NOT_FOUND, "/a4.mdf", 0, "track 1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        vdrive::Disc disc;
        vdrive::DiscFault fault;
        const std::string path = row.make();
        EXPECT_FALSE(vdrive::ReadDisc(path, disc, fault));
        EXPECT_TRUE(disc.tracks.empty());
        EXPECT_EQ(fault.code, row.code) << fault.detail;
        EXPECT_TRUE(
            fault.file.size() >= row.file.size() &&
            fault.file.compare(fault.file.size() - row.file.size(), row.file.size(), row.file) == 0)
            << fault.file;
        const std::string text = ReadFile(path);
        const int line = row.line >= 0
                             ? row.line
                             : 1 + static_cast<int>(std::count(
                                       text.begin(), text.begin() + text.find(row.text), '\n'));
        EXPECT_EQ(fault.line, line) << fault.detail;
        EXPECT_EQ(fault.field, row.field) << fault.detail;
        EXPECT_FALSE(fault.detail.empty());
    }
}

} // namespace
