// The image index: names as each tool wrote them (Rock Ridge before Joliet
// before ISO 9660), file data found at its extents, and damaged or foreign
// files refused with a clear error.
#include "TestSupport.h"
#include "driver/ImageFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>
#include <unistd.h>

using namespace driver;
using namespace drivertest;
using namespace port;

namespace {

// The whole content of a file of the image, read the way the file system does.
std::string ReadThroughIndex(const ImageFile& img, std::uint32_t node, std::size_t chunk) {
    std::string out;
    std::vector<ReadPiece> pieces;
    for (std::uint64_t off = 0;; off += chunk) {
        if (!img.MapRead(node, off, chunk, pieces))
            return "<damaged>";
        if (pieces.empty())
            break;
        for (const auto& p : pieces) {
            std::string buf(p.size, '\0');
            if (pread(img.fd(), buf.data(), p.size, static_cast<off_t>(p.offset)) != static_cast<ssize_t>(p.size))
                return "<short read>";
            out += buf;
        }
    }
    return out;
}

class ImageFromTool : public testing::TestWithParam<IsoTool> {};

} // namespace

TEST_P(ImageFromTool, ShowsEveryLongNameAndEveryByte) {
    TempDir tmp;
    std::string src = tmp.path() + "/src", iso = tmp.path() + "/a.iso";
    auto files = MakeSampleTree(src);
    ASSERT_TRUE(BuildIso(GetParam(), src, iso));

    std::shared_ptr<ImageFile> img;
    ASSERT_EQ(ImageFile::Open(iso, img), ERROR_SUCCESS);
    for (const auto& rel : files) {
        SCOPED_TRACE(rel);
        auto node = img->FindPath(rel);
        ASSERT_TRUE(node);
        EXPECT_EQ(img->node(*node).kind, NodeKind::File);
        std::string want = ReadFile(src + "/" + rel);
        EXPECT_EQ(img->node(*node).size, want.size());
        // Chunks that do and do not line up with 2048-byte blocks.
        EXPECT_EQ(ReadThroughIndex(*img, *node, 131072), want);
        EXPECT_EQ(ReadThroughIndex(*img, *node, 1000), want);
    }
    auto dir = img->FindPath("empty folder");
    ASSERT_TRUE(dir);
    EXPECT_EQ(img->node(*dir).kind, NodeKind::Dir);
    EXPECT_EQ(img->node(*dir).childCount, 0u);
    EXPECT_FALSE(img->FindPath("README.TXT")); // names are not folded
    EXPECT_FALSE(img->FindPath("readme.txt/x"));
    EXPECT_FALSE(img->FindPath("nothing here"));
}

INSTANTIATE_TEST_SUITE_P(Tools, ImageFromTool,
                         testing::Values(IsoTool::Genisoimage, IsoTool::Xorriso, IsoTool::Libisofs),
                         [](const auto& info) { return std::string(ToolName(info.param)); });

TEST(ImageFile, FallsBackToJolietThenIso9660Names) {
    TempDir tmp;
    std::string src = tmp.path() + "/src";
    Shell("mkdir -p " + src);
    WriteFile(src + "/Mixed Case Long Name.text", "j");
    struct Case {
        const char* options;
        const char* expected;
    } cases[] = {
        {"-R -J", "Mixed Case Long Name.text"},
        {"-J", "Mixed Case Long Name.text"},
        {"", "MIXED_CA.TEX"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        std::string iso = tmp.path() + "/x.iso";
        ASSERT_TRUE(Shell(std::string("genisoimage -quiet ") + c.options + " -o " + iso + " " + src));
        std::shared_ptr<ImageFile> img;
        ASSERT_EQ(ImageFile::Open(iso, img), ERROR_SUCCESS);
        ASSERT_EQ(img->node(ImageFile::kRoot).childCount, 1u);
        EXPECT_EQ(img->node(img->node(ImageFile::kRoot).firstChild).name, c.expected);
    }
}

TEST(ImageFile, RefusesWhatIsNotAReadableImage) {
    TempDir tmp;
    std::shared_ptr<ImageFile> img;
    EXPECT_EQ(ImageFile::Open(tmp.path() + "/missing.iso", img), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ImageFile::Open(tmp.path() + "/missing/dir/a.iso", img), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ImageFile::Open(tmp.path(), img), ERROR_UNRECOGNIZED_VOLUME);
    const std::pair<const char*, std::string> junk[] = {
        {"empty", ""},
        {"text", "this is not an image\n"},
        {"random", RandomBytes(1 << 20, 11)},
        {"zeros", std::string(40 * 2048, '\0')},
    };
    for (const auto& [name, data] : junk) {
        SCOPED_TRACE(name);
        WriteFile(tmp.path() + "/" + name, data);
        EXPECT_EQ(ImageFile::Open(tmp.path() + "/" + name, img), ERROR_UNRECOGNIZED_VOLUME);
    }
    EXPECT_FALSE(img);
}

TEST(ImageFile, TruncatedImageReadsGiveAnErrorNotGarbage) {
    TempDir tmp;
    std::string src = tmp.path() + "/src", iso = tmp.path() + "/a.iso";
    Shell("mkdir -p " + src);
    WriteFile(src + "/big.bin", RandomBytes(4 << 20, 5));
    ASSERT_TRUE(BuildIso(IsoTool::Xorriso, src, iso));
    std::shared_ptr<ImageFile> whole;
    ASSERT_EQ(ImageFile::Open(iso, whole), ERROR_SUCCESS);
    auto node = whole->FindPath("big.bin");
    ASSERT_TRUE(node);
    std::vector<ReadPiece> pieces;
    ASSERT_TRUE(whole->MapRead(*node, 0, 4096, pieces));
    // Cut the image in the middle of the file's data.
    ASSERT_EQ(truncate(iso.c_str(), static_cast<off_t>(pieces[0].offset + (2 << 20))), 0);
    std::shared_ptr<ImageFile> cut;
    ASSERT_EQ(ImageFile::Open(iso, cut), ERROR_SUCCESS);
    EXPECT_TRUE(cut->MapRead(*node, 0, 65536, pieces));
    EXPECT_FALSE(cut->MapRead(*node, 3 << 20, 65536, pieces));
    EXPECT_EQ(ReadThroughIndex(*cut, *node, 65536), "<damaged>");
    // Reads at and past the end of the file give nothing, not an error.
    EXPECT_TRUE(cut->MapRead(*node, 4 << 20, 10, pieces));
    EXPECT_TRUE(pieces.empty());
}

TEST(ImageFile, AFileOverFourGiBIsSeveralExtentsReadInOrder) {
    TempDir tmp;
    GeneratedFile huge;
    huge.name = "huge.bin";
    huge.size = (1ull << 32) + (3 << 20);
    huge.marks.emplace_back(0xFFFFF800ull - 3000, RandomBytes(6000, 1));
    std::string iso = tmp.path() + "/big.iso";
    ASSERT_TRUE(BuildIsoWithGeneratedFile(huge, iso));
    std::shared_ptr<ImageFile> img;
    ASSERT_EQ(ImageFile::Open(iso, img), ERROR_SUCCESS);
    auto node = img->FindPath("huge.bin");
    ASSERT_TRUE(node);
    EXPECT_EQ(img->node(*node).size, huge.size);
    EXPECT_EQ(img->node(*node).extentCount, 2u);
    std::vector<ReadPiece> pieces;
    ASSERT_TRUE(img->MapRead(*node, 0xFFFFF800ull - 3000, 6000, pieces));
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].size, 3000u);
    EXPECT_EQ(pieces[1].size, 3000u);
    std::string got;
    for (const auto& p : pieces) {
        std::string buf(p.size, '\0');
        ASSERT_EQ(pread(img->fd(), buf.data(), p.size, static_cast<off_t>(p.offset)), static_cast<ssize_t>(p.size));
        got += buf;
    }
    EXPECT_EQ(got, huge.marks[0].second);
}

TEST(ImageFile, ZisofsCompressedFilesReadDecompressed) {
    TempDir tmp;
    std::string src = tmp.path() + "/src", iso = tmp.path() + "/z.iso";
    Shell("mkdir -p " + src);
    // Compressible text, a run of zeros (stored as empty blocks) and random
    // bytes that do not compress.
    std::string text;
    while (text.size() < 300000)
        text += "a line of text that compresses well " + std::to_string(text.size()) + "\n";
    std::string data = text + std::string(200000, '\0') + RandomBytes(100001, 9);
    WriteFile(src + "/z.bin", data);
    ASSERT_TRUE(Shell("xorriso -outdev " + iso + " -map " + src + " / -set_filter_r --zisofs / -- -commit"));
    std::shared_ptr<ImageFile> img;
    ASSERT_EQ(ImageFile::Open(iso, img), ERROR_SUCCESS);
    auto node = img->FindPath("z.bin");
    ASSERT_TRUE(node);
    ASSERT_TRUE(img->node(*node).compressed);
    EXPECT_EQ(img->node(*node).size, data.size());
    std::vector<ReadPiece> pieces;
    EXPECT_FALSE(img->MapRead(*node, 0, 10, pieces)); // never the stored bytes
    for (std::size_t chunk : {std::size_t{4096}, std::size_t{100000}, std::size_t{1} << 20}) {
        std::string all, part;
        for (std::uint64_t off = 0; off < data.size(); off += chunk) {
            ASSERT_TRUE(img->ReadCompressed(*node, off, chunk, part));
            all += part;
        }
        EXPECT_TRUE(all == data) << chunk;
    }
    std::string tail;
    EXPECT_TRUE(img->ReadCompressed(*node, data.size(), 10, tail));
    EXPECT_TRUE(tail.empty());

    // A damaged block gives an error, not wrong bytes.
    std::string bytes = ReadFile(iso);
    const char magic[] = "\x37\xE4\x53\x96\xC9\xDB\xD6\x07";
    size_t at = bytes.find(std::string(magic, 8));
    ASSERT_NE(at, std::string::npos);
    bytes[at + 200] = static_cast<char>(bytes[at + 200] ^ 0x55); // inside the first block
    WriteFile(iso, bytes);
    ASSERT_EQ(ImageFile::Open(iso, img), ERROR_SUCCESS);
    std::string part;
    EXPECT_FALSE(img->ReadCompressed(*node, 0, 4096, part));
    EXPECT_TRUE(img->ReadCompressed(*node, 1 << 17, 4096, part)); // other blocks still read
    EXPECT_EQ(part, data.substr(1 << 17, 4096));
}

TEST(ImageFile, AFolderLoopingBackToItsParentIsRefusedInTime) {
    TempDir tmp;
    std::string src = tmp.path() + "/src", iso = tmp.path() + "/loop.iso";
    Shell("mkdir -p '" + src + "/a/b'");
    WriteFile(src + "/a/b/f", "x");
    ASSERT_TRUE(Shell("genisoimage -quiet -o " + iso + " " + src));
    // Point folder A's directory record at the root's own extent.
    std::string bytes = ReadFile(iso);
    auto u32 = [&](size_t at) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at]) |
                                          static_cast<unsigned char>(bytes[at + 1]) << 8 |
                                          static_cast<unsigned char>(bytes[at + 2]) << 16 |
                                          static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24);
    };
    const size_t rootRecord = 16 * 2048 + 156;
    const std::uint32_t rootLba = u32(rootRecord + 2);
    bool patched = false;
    for (size_t at = size_t{rootLba} * 2048; bytes[at] != 0; at += static_cast<unsigned char>(bytes[at])) {
        if (bytes[at + 32] == 1 && bytes[at + 33] == 'A') {
            std::memcpy(&bytes[at + 2], &bytes[rootRecord + 2], 16); // extent and length, both byte orders
            patched = true;
        }
    }
    ASSERT_TRUE(patched);
    WriteFile(iso, bytes);

    ImageFile::SetIndexTimeLimit(3);
    auto start = std::chrono::steady_clock::now();
    std::shared_ptr<ImageFile> img;
    EXPECT_EQ(ImageFile::Open(iso, img), ERROR_UNRECOGNIZED_VOLUME);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    ImageFile::SetIndexTimeLimit(30);
}

TEST(ImageFile, DamagedImagesAreRefusedOrReadSafely) {
    // Random bytes written over the descriptors and directories of a real
    // image: each copy is refused, or every file of it reads (or fails with
    // an error) without touching anything outside the image.
    TempDir tmp;
    std::string src = tmp.path() + "/src", iso = tmp.path() + "/a.iso";
    MakeSampleTree(src);
    ASSERT_TRUE(BuildIso(IsoTool::Xorriso, src, iso));
    const std::string original = ReadFile(iso);
    // Some damage makes libisofs loop: such imports end at the time limit.
    ImageFile::SetIndexTimeLimit(1);
    std::mt19937 rng(77);
    int opened = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < 60 && std::chrono::steady_clock::now() - start < std::chrono::seconds(20); ++round) {
        std::string bytes = original;
        for (int i = 0; i < 1 + static_cast<int>(rng() % 20); ++i)
            bytes[16 * 2048 + rng() % (40 * 2048)] = static_cast<char>(rng());
        std::string damaged = tmp.path() + "/damaged.iso";
        WriteFile(damaged, bytes);
        std::shared_ptr<ImageFile> img;
        ErrorCode e = ImageFile::Open(damaged, img);
        ASSERT_TRUE(e == ERROR_SUCCESS || e == ERROR_UNRECOGNIZED_VOLUME) << e;
        if (!img)
            continue;
        ++opened;
        std::vector<ReadPiece> pieces;
        std::string plain;
        for (std::uint32_t n = 0; n < img->nodeCount(); ++n) {
            const Node& node = img->node(n);
            if (node.kind == NodeKind::Dir) {
                ASSERT_LE(std::uint64_t{node.firstChild} + node.childCount, img->nodeCount());
                continue;
            }
            if (node.kind != NodeKind::File)
                continue;
            if (node.compressed) {
                img->ReadCompressed(n, 0, 1 << 20, plain);
                continue;
            }
            if (img->MapRead(n, 0, 1 << 20, pieces)) {
                for (const auto& p : pieces)
                    EXPECT_LE(p.offset + p.size, img->imageSize());
            }
        }
    }
    ImageFile::SetIndexTimeLimit(30);
    EXPECT_GT(opened, 0);
}
