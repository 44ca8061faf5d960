// Images other than a plain ISO, opened through the sector map: one source
// tree wrapped in each data sector layout reads back identical through the
// driver's read path (spliced and copied), and audio tracks read as WAV
// files, their header and then their samples.
#include "driver/ImageFile.h"
#include "tests/support/Iso.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace driver;
using namespace spindle_test;
using namespace port;
using vdrive::SectorForm;

namespace {

// The whole of a file of the image, read the way the file system does,
// in chunks that cross sector boundaries.
std::string ReadAll(const ImageFile& img, std::uint32_t node) {
    std::string out;
    for (std::uint64_t off = 0;;) {
        ReadReply reply;
        if (img.Read(node, off, 100003, reply) != 0)
            return "<read failed>";
        if (reply.size == 0)
            return out;
        if (reply.pipeFd >= 0) {
            std::string buf(reply.size, '\0');
            if (read(reply.pipeFd, buf.data(), buf.size()) != static_cast<ssize_t>(buf.size()))
                return "<short pipe>";
            ImageFile::AfterReply();
            out += buf;
        } else {
            out.append(reply.data, reply.size);
        }
        off += reply.size;
    }
}

std::string SwapPairs(std::string s) {
    for (std::size_t i = 0; i + 1 < s.size(); i += 2)
        std::swap(s[i], s[i + 1]);
    return s;
}

std::uint32_t Le32(const std::string& s, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(s.at(at + static_cast<std::size_t>(i)));
    return v;
}

struct TrackSpec {
    SectorForm form;
    std::uint32_t stride;
    bool ownFile = false; // else appended to the first file
    bool swap = false;
};

struct Case {
    const char* what;
    std::vector<TrackSpec> tracks;
    // A file of the data track named like the WAV of track 2.
    bool clash = false;
};

} // namespace

TEST(DiscImage, EveryLayoutReadsBackTheSourceAndAudioAsWav) {
    const Case cases[] = {
        {"MODE1/2048 after a lead-in", {{SectorForm::Mode1_2048, 2048}}},
        {"MODE1/2352", {{SectorForm::Mode1_2352, 2352}}},
        {"MODE2/2352", {{SectorForm::Mode2_2352, 2352}}},
        {"MODE2/2336", {{SectorForm::Mode2_2336, 2336}}},
        {"MODE1/2352 with subchannel data", {{SectorForm::Mode1_2352, 2448}}},
        {"mixed mode, a WAV name taken",
         {{SectorForm::Mode1_2352, 2352},
          {SectorForm::Audio, 2352},
          {SectorForm::Audio, 2448},
          {SectorForm::Audio, 2352, true, true}},
         true},
        {"audio only", {{SectorForm::Audio, 2352, true}, {SectorForm::Audio, 2352, false, true}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir tmp;
        std::vector<std::string> files = MakeSampleTree(tmp / "src");
        if (c.clash) {
            WriteFile(tmp / "src/Track02.wav", "a data file");
            files.push_back("Track02.wav");
        }
        ASSERT_TRUE(BuildIso(IsoTool::Libisofs, tmp / "src", tmp / "data.iso"));
        const std::string iso = ReadFile(tmp / "data.iso");
        vdrive::Disc disc;
        disc.descriptor = tmp / "image.cue";
        WriteFile(disc.descriptor, "(read by the test, not by the driver)");
        std::string first = std::string(2 * 2352, '\x77'); // not part of any track
        std::vector<std::string> samples;
        std::uint32_t lba = 0;
        for (std::size_t i = 0; i < c.tracks.size(); ++i) {
            const TrackSpec& spec = c.tracks[i];
            vdrive::DiscTrack t;
            t.number = static_cast<int>(i + 1);
            t.form = spec.form;
            t.stride = spec.stride;
            t.swapBytes = spec.swap;
            t.start = lba;
            std::string bytes;
            if (spec.form == SectorForm::Audio) {
                samples.push_back(RandomBytes(2352 * (30 + i), static_cast<std::uint32_t>(i)));
                for (std::size_t s = 0; s < samples.back().size(); s += 2352)
                    bytes +=
                        samples.back().substr(s, 2352) + std::string(spec.stride - 2352, '\xEE');
            } else {
                bytes = RawTrack(iso, spec.form, spec.stride);
            }
            t.sectors = bytes.size() / spec.stride;
            lba += static_cast<std::uint32_t>(t.sectors);
            t.file =
                spec.ownFile ? tmp / ("track" + std::to_string(i + 1) + ".bin") : tmp / "image.bin";
            if (spec.ownFile) {
                WriteFile(t.file, bytes);
            } else {
                t.offset = first.size();
                first += bytes;
            }
            disc.tracks.push_back(t);
        }
        WriteFile(tmp / "image.bin", first);

        std::shared_ptr<ImageFile> img;
        ASSERT_EQ(ImageFile::Open(disc, img), ERROR_SUCCESS);
        bool data = c.tracks[0].form != SectorForm::Audio;
        for (const std::string& rel : data ? files : std::vector<std::string>{}) {
            auto node = img->FindPath(rel);
            ASSERT_TRUE(node) << rel;
            EXPECT_EQ(ReadAll(*img, *node), ReadFile(tmp / ("src/" + rel))) << rel;
        }
        // The audio tracks in disc order, numbered by track.
        std::size_t audio = 0;
        for (const vdrive::DiscTrack& t : disc.tracks) {
            if (t.form != SectorForm::Audio)
                continue;
            char name[32];
            snprintf(name, sizeof name,
                     c.clash && t.number == 2 ? "Track%02d (audio).wav" : "Track%02d.wav",
                     t.number);
            SCOPED_TRACE(name);
            auto node = img->FindPath(name);
            ASSERT_TRUE(node);
            std::string wav = ReadAll(*img, *node);
            std::string want = t.swapBytes ? SwapPairs(samples[audio]) : samples[audio];
            ++audio;
            ASSERT_EQ(wav.size(), 44 + want.size());
            EXPECT_EQ(wav.substr(0, 4) + wav.substr(8, 8) + wav.substr(36, 4), "RIFFWAVEfmt data");
            EXPECT_EQ(Le32(wav, 4), 36 + want.size());
            EXPECT_EQ(Le32(wav, 24), 44100u);      // sample rate
            EXPECT_EQ(Le32(wav, 32), 0x00100004u); // 4 bytes a frame, 16 bits a sample
            EXPECT_EQ(Le32(wav, 40), want.size());
            EXPECT_TRUE(wav.substr(44) == want);
        }
        // The root holds the data track's top level and the WAV files, no more.
        const Node& root = img->node(ImageFile::kRoot);
        std::size_t top = data ? 6 + (c.clash ? 1 : 0) : 0;
        EXPECT_EQ(root.childCount, top + audio);
    }
}
