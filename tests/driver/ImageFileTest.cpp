// The image index: names as each tool wrote them (Rock Ridge before Joliet
// before ISO 9660), file data found at its extents, and damaged or foreign
// files refused with a clear error.
#include "driver/ImageFile.h"
#include "driver/TreeCheck.h"
#include "tests/support/Iso.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>
#include <unistd.h>

using namespace driver;
using namespace spindle_test;
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
            if (pread(p.fd, buf.data(), p.size, static_cast<off_t>(p.offset)) !=
                static_cast<ssize_t>(p.size))
                return "<short read>";
            out += buf;
        }
    }
    return out;
}

class ImageFromTool : public testing::TestWithParam<IsoTool> {};

// An image's bytes, with the few ISO 9660 fields the damage tests patch.
struct IsoBytes {
    std::string bytes;

    std::uint32_t U32(size_t at) const {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | static_cast<unsigned char>(bytes.at(at + static_cast<size_t>(i)));
        return v;
    }
    // A both-byte-order field: little-endian, then big-endian.
    void SetBoth32(size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            bytes.at(at + static_cast<size_t>(i)) = static_cast<char>(v >> (8 * i));
            bytes.at(at + 7 - static_cast<size_t>(i)) = static_cast<char>(v >> (8 * i));
        }
    }
    // The root record of the primary or the Joliet descriptor.
    size_t Root(bool joliet) const {
        for (size_t d = 16 * 2048; bytes.at(d) != '\xFF'; d += 2048)
            if (bytes[d] == (joliet ? 2 : 1))
                return d + 156;
        return std::string::npos;
    }
    // The record called `name` (ISO 9660 or Joliet spelling) in a folder.
    size_t Record(size_t dirRecord, std::string_view name) const {
        for (size_t at = size_t{U32(dirRecord + 2)} * 2048; bytes.at(at) != 0;
             at += static_cast<unsigned char>(bytes[at])) {
            std::string n = bytes.substr(at + 33, static_cast<unsigned char>(bytes[at + 32]));
            std::string ucs;
            for (char ch : name)
                ucs += std::string(1, '\0') + ch;
            if (n == name || n == ucs)
                return at;
        }
        ADD_FAILURE() << "no record " << name;
        return 0;
    }
    // Makes record `at` name the extent (and size) of record `target`.
    void PointAt(size_t at, size_t target) { bytes.replace(at + 2, 16, bytes, target + 2, 16); }
};

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
    Shell("mkdir -p " + src + "/Sub");
    WriteFile(src + "/Sub/f", "f");
    // A damaged Joliet tree leaves the image to its ISO 9660 tree.
    using Damage = void (*)(IsoBytes&);
    const Damage none = nullptr;
    const Damage rootPastTheEnd = [](IsoBytes& b) { b.SetBoth32(b.Root(true) + 2, 0x7FFFFFF0); };
    const Damage rootRecordZero = [](IsoBytes& b) { b.bytes[b.Root(true)] = 0; };
    const Damage loop = [](IsoBytes& b) { b.PointAt(b.Record(b.Root(true), "Sub"), b.Root(true)); };
    struct Case {
        const char* options;
        Damage damage;
        const char* expected;
    } cases[] = {
        {"-R -J", none, "Mixed Case Long Name.text"},
        {"-J", none, "Mixed Case Long Name.text"},
        {"", none, "MIXED_CA.TEX"},
        {"-J", rootPastTheEnd, "MIXED_CA.TEX"},
        {"-J", rootRecordZero, "MIXED_CA.TEX"},
        {"-J", loop, "MIXED_CA.TEX"},
        {"-R -J", loop, "Mixed Case Long Name.text"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.options) + (c.damage ? " damaged" : ""));
        std::string iso = tmp.path() + "/x.iso";
        ASSERT_TRUE(
            Shell(std::string("genisoimage -quiet ") + c.options + " -o " + iso + " " + src));
        if (c.damage) {
            IsoBytes b{ReadFile(iso)};
            c.damage(b);
            WriteFile(iso, b.bytes);
        }
        std::shared_ptr<ImageFile> img;
        ASSERT_EQ(ImageFile::Open(iso, img), ERROR_SUCCESS);
        ASSERT_EQ(img->node(ImageFile::kRoot).childCount, 2u);
        EXPECT_EQ(img->node(img->node(ImageFile::kRoot).firstChild).name, c.expected);
    }
}

// Without padding the last block of an image may hold a folder (here the
// folders hold only empty files, so no file data follows them); libisofs
// then asks for the block after it, which is read as zeros.
TEST(ImageFile, FoldersInTheLastBlockOfAnUnpaddedImageAreListed) {
    TempDir tmp;
    const std::string nested = tmp.path() + "/nested", flat = tmp.path() + "/flat";
    Shell("mkdir -p " + nested + "/a " + nested + "/z " + flat);
    for (const std::string& f :
         {nested + "/a/e.txt", nested + "/z/f.txt", flat + "/e.txt", flat + "/f.txt"})
        WriteFile(f, "");
    const struct {
        std::string src;
        const char* options;
        const char* paths[2];
    } cases[] = {
        {nested, "", {"A/E.TXT", "Z/F.TXT"}},
        {nested, "-J", {"a/e.txt", "z/f.txt"}},
        {flat, "-J", {"e.txt", "f.txt"}}, // the Joliet root is the last block
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.src + " " + c.options);
        std::string iso = tmp.path() + "/x.iso";
        ASSERT_TRUE(Shell(std::string("genisoimage -quiet -no-pad ") + c.options + " -o " + iso +
                          " " + c.src));
        std::shared_ptr<ImageFile> img;
        ASSERT_EQ(ImageFile::Open(iso, img), ERROR_SUCCESS);
        for (const char* path : c.paths)
            EXPECT_TRUE(img->FindPath(path)) << path;
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
        ASSERT_EQ(pread(img->fd(), buf.data(), p.size, static_cast<off_t>(p.offset)),
                  static_cast<ssize_t>(p.size));
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
    ASSERT_TRUE(Shell("xorriso -outdev " + iso + " -map " + src +
                      " / -set_filter_r --zisofs / -- -commit"));
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

// Hostile trees, each made by patching the directory records of an image
// that genisoimage wrote: refused at once, never by the indexer's time limit.
TEST(ImageFile, LoopingAndSharedFoldersAreRefusedInWellUnderASecond) {
    struct Case {
        const char* name;
        const char* options;
        void (*damage)(IsoBytes&);
    } cases[] = {
        {"folder A's record points at the root's extent", "",
         [](IsoBytes& b) { b.PointAt(b.Record(b.Root(false), "A"), b.Root(false)); }},
        {"folder B shares folder A's extent", "",
         [](IsoBytes& b) {
             b.PointAt(b.Record(b.Root(false), "B"), b.Record(b.Root(false), "A"));
         }},
        // Nine levels make genisoimage move the deepest folder to rr_moved
        // and leave a Rock Ridge child link (CL) in its place.
        {"a Rock Ridge child link points at the root", "-R",
         [](IsoBytes& b) {
             size_t cl = b.bytes.find(std::string("CL\x0c\x01", 4));
             ASSERT_NE(cl, std::string::npos);
             b.SetBoth32(cl + 4, b.U32(b.Root(false) + 2));
         }},
    };
    TempDir tmp;
    std::string src = tmp.path() + "/src", iso = tmp.path() + "/loop.iso";
    Shell("mkdir -p '" + src + "/a/b' '" + src + "/b' '" + src + "/a/1/2/3/4/5/6/7/8/9'");
    WriteFile(src + "/a/b/f", "x");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(
            Shell(std::string("genisoimage -quiet ") + c.options + " -o " + iso + " " + src));
        std::shared_ptr<ImageFile> img;
        ASSERT_EQ(ImageFile::Open(iso, img), ERROR_SUCCESS);
        IsoBytes b{ReadFile(iso)};
        c.damage(b);
        WriteFile(iso, b.bytes);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(ImageFile::Open(iso, img), ERROR_UNRECOGNIZED_VOLUME);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    }
}

TEST(ImageFile, TreesOverTheEntryBudgetAreDamaged) {
    TempDir tmp;
    std::string src = tmp.path() + "/src", iso = tmp.path() + "/a.iso";
    MakeSampleTree(src);
    ASSERT_TRUE(BuildIso(IsoTool::Genisoimage, src, iso));
    std::string bytes = ReadFile(iso);
    ImageReader read = [&](std::uint64_t off, void* buf, std::size_t len) {
        if (off > bytes.size() || len > bytes.size() - off)
            return false;
        std::memcpy(buf, bytes.data() + off, len);
        return true;
    };
    TreeReport whole = CheckTrees(read, bytes.size());
    EXPECT_EQ(whole.primary, TreeState::Fine);
    EXPECT_EQ(whole.joliet, TreeState::Fine);
    EXPECT_EQ(whole.iso1999, TreeState::Absent);
    TreeBudget small;
    small.entries = 3;
    EXPECT_EQ(CheckTrees(read, bytes.size(), small).primary, TreeState::Damaged);
    small = TreeBudget();
    small.dirBytes = 2048;
    EXPECT_EQ(CheckTrees(read, bytes.size(), small).primary, TreeState::Damaged);
    // A cut image: folders past its end.
    EXPECT_EQ(CheckTrees(read, 18 * 2048).primary, TreeState::Damaged);
}

// The drive manager retries a refused open with its 8-bit record at once:
// the same unchanged image is not indexed a second time.
TEST(ImageFile, ARefusedImageIsNotIndexedAgainUntilItChanges) {
    TempDir tmp;
    std::string src = tmp.path() + "/src", iso = tmp.path() + "/a.iso";
    MakeSampleTree(src);
    ASSERT_TRUE(BuildIso(IsoTool::Xorriso, src, iso));
    std::shared_ptr<ImageFile> img;
    ImageFile::SetIndexTimeLimit(0); // every indexing runs out of time
    EXPECT_EQ(ImageFile::Open(iso, img), ERROR_UNRECOGNIZED_VOLUME);
    ImageFile::SetIndexTimeLimit(30);
    EXPECT_EQ(ImageFile::Open(iso, img), ERROR_UNRECOGNIZED_VOLUME);
    // Rewritten with the same bytes (new times): indexed again.
    WriteFile(iso, ReadFile(iso));
    EXPECT_EQ(ImageFile::Open(iso, img), ERROR_SUCCESS);
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
    for (int round = 0;
         round < 60 && std::chrono::steady_clock::now() - start < std::chrono::seconds(20);
         ++round) {
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
