// The disc image reader against stand-in discs (stdio: files) and against a
// disc with unreadable sectors served by bad_sector_fs.
#include "engine/DiscImageReader.h"
#include "port/DosDevices.h"
#include "port/Utf.h"
#include "tests/disccopy/CopySupport.h"
#include "tests/support/TempEnv.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <future>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace copytest;

namespace {

constexpr std::int64_t kChunk = engine::kDiscChunkBytes;
constexpr std::int64_t kSector = engine::kDiscSectorBytes;

// A test's own drive table with R: standing in for an optical drive.
struct Env {
    spindle_test::TempEnv env;
    std::string disc = env.root() + "/disc.bin";
    std::string image = env.root() + "/out.iso";
    engine::DiscCopyJob job{u"R: YOYODYNE", port::ToUtf16(image), u""};

    Env() {
        env.EmptyTable();
        port::PushDosDevice("R:", "stdio:" + disc);
    }
};

std::string Events(const Recorder& r) {
    std::string s;
    for (const std::string& e : r.events)
        s += (s.empty() ? "" : " ") + e;
    return s;
}

TEST(DiscImageReader, StandInDiscsOfEverySizeCopyByteForByte) {
    constexpr std::int64_t kGiB = 1ll << 30;
    struct Case {
        const char* name;
        std::int64_t size;
        bool sparse;
        engine::CopyOutcome outcome;
        const char* events;
    } cases[] = {
        {"not a multiple of 512 KiB", 3 * kChunk + 12345, false, engine::CopyOutcome::Done,
         "copying idle Done finished"},
        {"exactly 512 KiB", kChunk, false, engine::CopyOutcome::Done, "copying idle Done finished"},
        {"smaller than 1 KiB", 700, false, engine::CopyOutcome::Done, "copying idle Done finished"},
        {"over 4 GiB, sparse", 4 * kGiB + 3000, true, engine::CopyOutcome::Done,
         "copying idle Done finished"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Env e;
        if (c.sparse) {
            // Data at the start, across the 4 GiB line and at the very end.
            WriteFile(e.disc, RandomBytes(5000, 1));
            ASSERT_EQ(::truncate(e.disc.c_str(), c.size), 0);
            std::FILE* f = std::fopen(e.disc.c_str(), "r+b");
            for (std::int64_t at : {2 * kGiB + 7, 4 * kGiB - 100, c.size - 10}) {
                std::string mark = RandomBytes(at == c.size - 10 ? 10 : 300, 2);
                fseeko(f, at, SEEK_SET);
                std::fwrite(mark.data(), 1, mark.size(), f);
            }
            std::fclose(f);
        } else {
            WriteFile(e.disc, RandomBytes(static_cast<std::size_t>(c.size), 3));
        }
        engine::CDiscImageReader reader;
        Recorder r;
        engine::CopyResult result = reader.ReadDiscToImage(e.job, r);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(Events(r), c.events);
        EXPECT_EQ(result.discSize, c.size);
        EXPECT_EQ(result.copied, c.size);
        EXPECT_EQ(std::filesystem::file_size(e.image), static_cast<std::uintmax_t>(c.size));
        EXPECT_TRUE(SameBytes(e.disc, e.image));
        if (c.sparse) {
            struct stat st {};
            ::stat(e.image.c_str(), &st);
            EXPECT_LT(st.st_blocks * 512, 16 << 20) << "chunks of zeros are passed over";
        }
        EXPECT_FALSE(std::filesystem::exists(e.image + ".badsectors"));
        ASSERT_FALSE(r.progress.empty());
        EXPECT_EQ(r.progress.back(), 0);
        EXPECT_EQ(r.statuses.back().kind, CopyStatus::Kind::Empty);
    }
}

// Every way a copy ends before copying leaves every file as it was: no old
// image is lost to a missing disc, and no disc is copied onto its own file.
TEST(DiscImageReader, EndsBeforeCopyingWithTheirMessageTouchingNoFile) {
    struct Case {
        const char* name;
        std::u16string drive;
        const char* disc; // the stand-in's file; null: none there (no disc)
        std::size_t discSize;
        const char* image; // below the test's root
        std::deque<int> answers;
        const char* events;
        CopyStatus::Kind lastStatus;
    } cases[] = {
        {"no drive chosen",
         u"",
         "disc.bin",
         100000,
         "out.iso",
         {},
         "SelectDrive",
         CopyStatus::Kind::Blank},
        {"undefined letter",
         u"Q: nothing",
         "disc.bin",
         100000,
         "out.iso",
         {},
         "CannotOpenDrive",
         CopyStatus::Kind::Empty},
        {"no disc, old image there",
         u"R:",
         nullptr,
         0,
         "out.iso",
         {6},
         "NoDisc",
         CopyStatus::Kind::Empty},
        {"empty disc, old image there",
         u"R:",
         "disc.bin",
         0,
         "out.iso",
         {6},
         "NoDisc",
         CopyStatus::Kind::Empty},
        {"image exists, answer no",
         u"r: drive",
         "disc.bin",
         100000,
         "out.iso",
         {7},
         "OverwriteImage",
         CopyStatus::Kind::Empty},
        {"the image is the disc's own file",
         u"R:",
         "out.iso",
         100000,
         "out.iso",
         {6},
         "SameAsSource",
         CopyStatus::Kind::Empty},
        {"the partial name is the disc's own file",
         u"R:",
         "out.iso.part",
         100000,
         "out.iso",
         {6},
         "SameAsSource",
         CopyStatus::Kind::Empty},
        {"folder of the image missing",
         u"R:",
         "disc.bin",
         100000,
         "missing/out.iso",
         {},
         "CannotCreateFile",
         CopyStatus::Kind::Empty},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Env e;
        const std::string image = e.env.root() + "/" + c.image;
        const std::string disc = e.env.root() + "/" + (c.disc ? c.disc : "none.bin");
        const std::string old = "old image";
        if (std::filesystem::exists(std::filesystem::path(image).parent_path()))
            WriteFile(image, old);
        if (c.disc)
            WriteFile(disc, RandomBytes(c.discSize, 4));
        const std::string discBytes = ReadFile(disc);
        port::PushDosDevice("R:", "stdio:" + disc);
        engine::DiscCopyJob job = e.job;
        job.drive = c.drive;
        job.imagePath = port::ToUtf16(image);
        Recorder r;
        r.answers = c.answers;
        engine::CDiscImageReader reader;
        engine::CopyResult result = reader.ReadDiscToImage(job, r);
        EXPECT_EQ(result.outcome, engine::CopyOutcome::NotStarted);
        EXPECT_EQ(Events(r), c.events);
        EXPECT_EQ(r.statuses.back().kind, c.lastStatus);
        if (c.drive == u"Q: nothing") {
            EXPECT_EQ(r.notes[0].path, u"\\\\.\\Q:");
        }
        if (std::string(c.events) == "NoDisc") {
            EXPECT_EQ(r.notes[0].path, u"R:");
            EXPECT_EQ(r.notes[0].error, port::ERROR_NOT_READY);
        }
        if (std::string(c.events) == "SameAsSource") {
            EXPECT_EQ(r.notes[0].path, port::ToUtf16(disc));
        }
        EXPECT_EQ(ReadFile(disc), discBytes) << "the disc is as it was";
        if (disc != image && std::filesystem::exists(std::filesystem::path(image).parent_path())) {
            EXPECT_EQ(ReadFile(image), old) << "the old image is as it was";
        }
        if (disc != image + ".part") {
            EXPECT_FALSE(std::filesystem::exists(image + ".part"));
        }
    }
}

TEST(DiscImageReader, ChangedLabelLandsInTheImageAndAnUnchangedOneLeavesItAsRead) {
    Env e;
    std::string tree = e.env.root() + "/tree";
    std::filesystem::create_directories(tree);
    WriteFile(tree + "/a.txt", "some text");
    if (!Shell("genisoimage -quiet -J -V ORIGINAL -o '" + e.disc + "' '" + tree + "'"))
        GTEST_SKIP() << "genisoimage is missing";
    for (const char* label : {"ORIGINAL", "NEWLABEL"}) {
        SCOPED_TRACE(label);
        std::filesystem::remove(e.image);
        engine::DiscCopyJob job = e.job;
        job.discLabel = u"ORIGINAL";
        Recorder r;
        r.label = port::ToUtf16(label);
        engine::CDiscImageReader reader;
        EXPECT_EQ(reader.ReadDiscToImage(job, r).outcome, engine::CopyOutcome::Done);
        EXPECT_EQ(SameBytes(e.disc, e.image), std::string(label) == "ORIGINAL");
        int status = -1;
        const std::string info =
            spindle_test::Run("isoinfo -d -i " + spindle_test::Q(e.image), &status);
        ASSERT_EQ(status, 0);
        EXPECT_NE(info.find(std::string("Volume id: ") + label), std::string::npos);
    }
}

TEST(DiscImageReader, ASecondStartWhileACopyRunsIsRefused) {
    Env e;
    WriteFile(e.disc, RandomBytes(1000, 6));
    WriteFile(e.image, "old");
    struct Gate : Recorder {
        std::promise<void> asked, release, ended;
        int nice = -100;
        int OnMessage(const CopyNote& note) override {
            if (note.message == engine::CopyMessage::OverwriteImage) {
                nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
                asked.set_value();
                release.get_future().wait();
            }
            return Recorder::OnMessage(note);
        }
        void OnEnd(const engine::JobOutcome& outcome) override {
            Recorder::OnEnd(outcome);
            ended.set_value();
        }
    };
    auto gate = std::make_shared<Gate>();
    engine::CDiscImageReader reader;
    ASSERT_TRUE(reader.Start(e.job, gate));
    gate->asked.get_future().wait();
    EXPECT_TRUE(reader.IsRunning());
    EXPECT_FALSE(reader.Start(e.job, std::make_shared<Recorder>()));
    gate->release.set_value();
    gate->ended.get_future().wait();
    EXPECT_EQ(gate->nice, 10) << "the worker runs below normal priority";
    EXPECT_EQ(ReadFile(e.image), "old") << "the question answered no";
    auto again = std::make_shared<Gate>();
    again->answers = {6};
    ASSERT_TRUE(reader.Start(e.job, again));
    again->release.set_value();
    again->ended.get_future().wait();
    EXPECT_EQ(ReadFile(e.image), ReadFile(e.disc));
}

TEST(DiscImageReader, ProgressAndSectorListForms) {
    struct Percent {
        std::int64_t pass, discKiB;
        int expected;
    } percents[] = {
        {100, 716800, 7},      // 700 MiB
        {50000, 48828125, 52}, // 50 GB: pass x 51,200 is past 2^31
        {95367, 48828125, 99}, {95368, 48828125, 100}, {3, 0, 100}, // a volume below 1 KiB
        {10, 1024, 100},                                            // never past 100
    };
    for (const Percent& p : percents)
        EXPECT_EQ(engine::CopyPercent(p.pass, p.discKiB), p.expected)
            << p.pass << " / " << p.discKiB;

    struct Ranges {
        std::vector<std::int64_t> sectors;
        const char* text;
    } ranges[] = {
        {{}, ""},
        {{16}, "16\n"},
        {{5, 300, 301, 302, 1500}, "5\n300-302\n1500\n"},
        {{0, 1, 3, 4}, "0-1\n3-4\n"},
        {{2199023255551}, "2199023255551\n"},
    };
    for (const Ranges& r : ranges)
        EXPECT_EQ(engine::FormatSectorRanges(r.sectors), r.text);
}

// A disc with unreadable sectors: 2 MiB + 2148 bytes, the last sector short.
class ScratchedDisc : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access("/dev/fuse", R_OK | W_OK) != 0)
            GTEST_SKIP() << "no FUSE here";
        source = e.env.root() + "/source.bin";
        WriteFile(source, RandomBytes(4 * kChunk + kSector + 100, 7));
        std::filesystem::create_directories(e.env.root() + "/mnt");
        disc = std::make_unique<BadSectorDisc>(source, e.env.root() + "/mnt", kBad);
        ASSERT_TRUE(disc->Ready());
        // R: now reads the disc through the test file system.
        port::PushDosDevice("R:", "stdio:" + disc->File());
    }

    // The source with the bad sectors zeroed, cut to `size` bytes.
    std::string Expected(std::size_t size) {
        std::string data = ReadFile(source);
        for (std::int64_t s : kBad)
            for (std::int64_t i = s * kSector;
                 i < std::min<std::int64_t>((s + 1) * kSector, data.size()); ++i)
                data[i] = 0;
        return data.substr(0, size);
    }

    // Sector 300 lies in chunk 1, 1025 is the short last sector.
    const std::vector<std::int64_t> kBad = {300, 301, 302, 700, 1025};
    Env e;
    std::string source;
    std::unique_ptr<BadSectorDisc> disc;
};

// The old image and its list stay until a copy is whole; one that is not
// keeps what it copied as IMAGE.part.
TEST_F(ScratchedDisc, ReadErrorsAskOnceAndKeepEveryReadableSectorInPlace) {
    struct Case {
        const char* name;
        bool ignoreBefore;
        std::deque<int> answers; // after yes to replacing the old image
        bool stopOnQuestion;
        engine::CopyOutcome outcome;
        const char* events;
        std::size_t copied;
    } cases[] = {
        {"errors ignored from the start",
         true,
         {},
         false,
         engine::CopyOutcome::Done,
         "copying idle DoneWithBadSectors finished",
         4 * kChunk + kSector + 100},
        {"yes, once",
         false,
         {6},
         false,
         engine::CopyOutcome::Done,
         "ReadError copying idle DoneWithBadSectors finished",
         4 * kChunk + kSector + 100},
        {"no ends the copy",
         false,
         {7},
         false,
         engine::CopyOutcome::Failed,
         "ReadError copying idle Failed finished",
         kChunk},
        {"stop while asked",
         false,
         {6},
         true,
         engine::CopyOutcome::Stopped,
         "ReadError copying idle",
         kChunk},
    };
    const std::string part = e.image + ".part";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(e.image, "old image");
        WriteFile(e.image + ".badsectors", "old list");
        engine::CDiscImageReader reader;
        reader.SetIgnoreReadErrors(c.ignoreBefore);
        Recorder r;
        r.answers = c.answers;
        r.answers.push_front(6);
        if (c.stopOnQuestion)
            r.onMessage = [&](const CopyNote& note) {
                if (note.message == engine::CopyMessage::ReadError)
                    reader.Stop();
            };
        engine::CopyResult result = reader.ReadDiscToImage(e.job, r);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.copied, static_cast<std::int64_t>(c.copied));
        // "copying" comes first; the question is asked once, during the copy.
        std::string events = Events(r);
        if (const auto at = events.find("copying ReadError"); at != std::string::npos)
            events.replace(at, 17, "ReadError copying");
        EXPECT_EQ(events, std::string("OverwriteImage ") + c.events);
        if (c.outcome == engine::CopyOutcome::Done) {
            EXPECT_EQ(ReadFile(e.image), Expected(c.copied));
            EXPECT_FALSE(std::filesystem::exists(part));
            EXPECT_EQ(result.unreadable, 5);
            EXPECT_EQ(r.notes.back().count, 5);
            EXPECT_EQ(r.notes.back().path, port::ToUtf16(e.image + ".badsectors"));
            EXPECT_EQ(ReadFile(e.image + ".badsectors"), "300-302\n700\n1025\n");
            EXPECT_TRUE(reader.IgnoresReadErrors()) << "yes holds for later copies";
        } else {
            EXPECT_EQ(ReadFile(e.image), "old image");
            EXPECT_EQ(ReadFile(e.image + ".badsectors"), "old list");
            EXPECT_EQ(ReadFile(part), Expected(c.copied));
            EXPECT_EQ(result.partialPath, port::ToUtf16(part));
            EXPECT_FALSE(std::filesystem::exists(part + ".badsectors")) << "none unreadable yet";
        }
        if (c.outcome == engine::CopyOutcome::Failed) {
            EXPECT_EQ(r.notes.back().path, port::ToUtf16(part));
        }
        std::filesystem::remove(part);
    }
}

// A file system that fills up: the image, or the list of its unreadable
// sectors, cannot be written. The copy fails, the old image stays, and no
// list is left that would call unread sectors good.
TEST(DiscImageReader, AFullFileSystemFailsTheCopyAndLeavesNoList) {
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        GTEST_SKIP() << "no FUSE here";
    constexpr std::int64_t kSize = 4 * kChunk + kSector + 100;
    const std::string old = "old";
    struct Case {
        const char* name;
        std::int64_t room; // beyond the old image
        const char* events;
        bool writeFailed, listFailed;
        std::int64_t copied;
    } cases[] = {
        {"the image does not fit", 2 * kChunk, "OverwriteImage copying idle Failed finished", true,
         false, 2 * kChunk},
        {"the list does not fit", kSize, "OverwriteImage copying idle ListFailed finished", false,
         true, kSize},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Env e;
        const std::string source = e.env.root() + "/source.bin";
        WriteFile(source, RandomBytes(kSize, 8));
        const std::string mnt = e.env.root() + "/mnt";
        std::filesystem::create_directories(mnt);
        BadSectorDisc disc(source, mnt, {300, 700}, c.room + static_cast<std::int64_t>(old.size()));
        ASSERT_TRUE(disc.Ready());
        port::PushDosDevice("R:", "stdio:" + disc.File());
        const std::string image = mnt + "/out.iso";
        WriteFile(image, old);
        engine::DiscCopyJob job = e.job;
        job.imagePath = port::ToUtf16(image);
        engine::CDiscImageReader reader;
        reader.SetIgnoreReadErrors(true);
        Recorder r;
        r.answers = {6};
        engine::CopyResult result = reader.ReadDiscToImage(job, r);
        EXPECT_EQ(result.outcome, engine::CopyOutcome::Failed);
        EXPECT_EQ(Events(r), c.events);
        EXPECT_EQ(result.writeFailed, c.writeFailed);
        EXPECT_EQ(result.listFailed, c.listFailed);
        EXPECT_EQ(result.copied, c.copied);
        EXPECT_EQ(r.notes.back().error, port::ERROR_DISK_FULL);
        if (c.listFailed) {
            EXPECT_EQ(r.notes.back().count, 2);
            EXPECT_EQ(r.notes.back().path, port::ToUtf16(image + ".part.badsectors"));
        }
        EXPECT_EQ(ReadFile(image), old);
        for (const char* list : {".badsectors", ".part.badsectors"})
            EXPECT_FALSE(std::filesystem::exists(image + list)) << list;
        // What was written is kept, at its place.
        const std::string part = ReadFile(image + ".part");
        EXPECT_GE(part.size(), static_cast<std::size_t>(std::min(c.copied, kSize)));
        std::string expected = ReadFile(source).substr(0, part.size());
        for (std::size_t sector : {300, 700})
            if (sector * kSector < expected.size())
                expected.replace(sector * kSector, kSector, kSector, '\0');
        EXPECT_EQ(part, expected);
    }
}

} // namespace
