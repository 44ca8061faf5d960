// Burning and erasing on libburn stdio: pseudo-drives, which stand in for
// recorders here: what lands on the target, simulate, verify, copies,
// cancel, the disc checks and the engine's single burn-done report.
#include "burner/BurnJob.h"
#include "burner/BurnRun.h"
#include "burner/TrackSource.h"
#include "engine/Engine.h"
#include "tests/support/TempEnv.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include <unistd.h>

namespace {

using burner::BurnError;
using burner::BurnPhase;
using burner::TrackMode;
using spindle_test::RandomBytes;
using spindle_test::ReadFile;
using spindle_test::WriteFile;

// Raw 2352-byte sectors around 2048-byte payloads, as a BIN file holds them.
std::string RawSectors(const std::string& payload, TrackMode mode) {
    std::string out;
    for (std::size_t at = 0; at < payload.size(); at += 2048) {
        std::string s(2352, '\0');
        s[0] = 0;
        for (int i = 1; i < 11; ++i)
            s[i] = '\xFF';
        s[15] = mode == TrackMode::Mode1_2352 ? 1 : 2;
        const std::size_t data = mode == TrackMode::Mode1_2352 ? 16 : 24;
        s.replace(data, 2048, payload.substr(at, 2048));
        out += s;
    }
    return out;
}

// Keeps the phases (a status of a new step or copy) and checks progress.
struct Recorder : engine::JobObserver {
    std::vector<BurnPhase> phases;
    std::function<void(BurnPhase)> onPhase;
    std::function<void(float)> onProgress;
    float last = -1;
    bool rising = true;
    int copy = 0;
    void OnStatus(const engine::JobStatus& status) override {
        if (!phases.empty() && phases.back() == status.step && copy == status.copy)
            return; // the buffer's fill
        copy = status.copy;
        phases.push_back(status.step);
        if (onPhase)
            onPhase(status.step);
    }
    void OnProgress(float percent) override {
        rising = rising && percent >= last && percent <= 100;
        last = percent;
        if (onProgress)
            onProgress(percent);
    }
    int Count(BurnPhase p) const {
        return static_cast<int>(std::count(phases.begin(), phases.end(), p));
    }
};

class BurnJobTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(engine::Initialize(), 1); }
    void TearDown() override { engine::DeInitialize(); }
    burner::BurnOutcome Burn(const burner::BurnImage& image, const std::string& target,
                             burner::BurnSettings settings = {}, Recorder* observer = nullptr) {
        Recorder own;
        burner::BurnJob job("stdio:" + target, image, settings);
        job.Run(observer ? *observer : own);
        return job.Outcome();
    }
    spindle_test::TempConfigDir tmp;
};

TEST_F(BurnJobTest, WritesIsoAndCueTracksByteForByte) {
    const std::string payload = RandomBytes(2048 * 300, 1);
    WriteFile(tmp / "a.iso", payload);
    burner::BurnImage iso;
    ASSERT_TRUE(burner::LoadBurnImage(tmp / "a.iso", "", iso).ok());
    Recorder r;
    ASSERT_TRUE(Burn(iso, tmp / "iso.out", {}, &r).ok());
    EXPECT_EQ(ReadFile(tmp / "iso.out"), payload);
    EXPECT_TRUE(r.rising);
    EXPECT_EQ(r.Count(BurnPhase::Writing), 1);

    const struct {
        const char* mode;
        TrackMode kind;
        std::string bin;
    } cues[] = {
        {"MODE1/2048", TrackMode::Mode1_2048, payload},
        {"MODE1/2352", TrackMode::Mode1_2352, RawSectors(payload, TrackMode::Mode1_2352)},
        {"MODE2/2352", TrackMode::Mode2_2352, RawSectors(payload, TrackMode::Mode2_2352)},
    };
    for (const auto& c : cues) {
        WriteFile(tmp / "img.bin", c.bin);
        WriteFile(tmp / "img.cue", std::string("FILE \"img.bin\" BINARY\n TRACK 01 ") + c.mode +
                                       "\n  INDEX 01 00:00:00\n");
        burner::BurnImage cue;
        ASSERT_TRUE(burner::LoadBurnImage("", tmp / "img.cue", cue).ok()) << c.mode;
        burner::BurnOutcome o = Burn(cue, tmp / "cue.out");
        ASSERT_TRUE(o.ok()) << c.mode << ": " << burner::Describe(o);
        EXPECT_TRUE(ReadFile(tmp / "cue.out") == payload) << c.mode;
    }
}

TEST_F(BurnJobTest, SimulateWritesNothingAndWrongRawSectorsAreRefusedFirst) {
    WriteFile(tmp / "a.iso", RandomBytes(2048 * 64, 2));
    WriteFile(tmp / "target", "untouched");
    burner::BurnImage iso;
    ASSERT_TRUE(burner::LoadBurnImage(tmp / "a.iso", "", iso).ok());
    burner::BurnSettings sim;
    sim.simulate = true;
    sim.verify = true; // nothing to verify in a test run
    burner::BurnOutcome o = Burn(iso, tmp / "target", sim);
    EXPECT_TRUE(o.ok()) << burner::Describe(o);
    EXPECT_EQ(ReadFile(tmp / "target"), "untouched");

    // Raw sectors that do not all fit the declared mode, at the first sector
    // or any later one (of any track): refused, naming file, track and
    // sector, before the target is touched.
    const std::string good = RandomBytes(2048 * 1500, 3);
    std::string mode1 = RawSectors(good, TrackMode::Mode1_2352);
    std::string mode2 = RawSectors(good, TrackMode::Mode2_2352);
    std::string form2From1200 = mode2;
    for (std::size_t sector = 1200; sector < 1500; ++sector)
        form2From1200[sector * 2352 + 18] = 0x20;
    std::string brokenSync = mode1;
    brokenSync[1499 * 2352 + 5] = 0;
    std::string form2First = mode2;
    form2First[18] = 0x20;
    const std::string twoTracks = "TRACK 01 MODE1/2352\nINDEX 01 00:00:00\n"
                                  "TRACK 02 MODE1/2352\nINDEX 01 00:02:00\n"; // sector 150
    const struct {
        std::string bin, tracks, said;
    } rows[] = {
        {RandomBytes(2352 * 8, 3), "TRACK 01 MODE1/2352\nINDEX 01 00:00:00\n",
         "track 1, sector 0 (byte 0 of the file): the sector has no sync pattern"},
        {form2First, "TRACK 01 MODE2/2352\nINDEX 01 00:00:00\n", "track 1, sector 0 (byte 0"},
        {form2From1200, "TRACK 01 MODE2/2352\nINDEX 01 00:00:00\n",
         "track 1, sector 1200 (byte 2822400 of the file): the sector is a mode 2 form 2 sector"},
        {brokenSync, "TRACK 01 MODE1/2352\nINDEX 01 00:00:00\n", "track 1, sector 1499 (byte"},
        {brokenSync, twoTracks, "track 2, sector 1349 (byte 3525648 of the file)"},
    };
    for (const auto& row : rows) {
        WriteFile(tmp / "mixed.bin", row.bin);
        WriteFile(tmp / "mixed.cue", "FILE mixed.bin BINARY\n" + row.tracks);
        burner::BurnImage cue;
        ASSERT_TRUE(burner::LoadBurnImage("", tmp / "mixed.cue", cue).ok()) << row.said;
        o = Burn(cue, tmp / "target");
        EXPECT_EQ(o.error, BurnError::BadImage) << row.said;
        EXPECT_NE(burner::Detail(o).find("\"" +
                                         tmp / "mixed.bin\" does not hold the sectors its cue "
                                               "sheet declares: " +
                                         row.said),
                  std::string::npos)
            << burner::Detail(o);
        EXPECT_TRUE(ReadFile(tmp / "target") == "untouched") << row.said;
    }

    // An image that stops delivering once writing started (here it shrinks)
    // is the image's fault, not the recorder's.
    Recorder shrink;
    shrink.onPhase = [&](BurnPhase p) {
        if (p == BurnPhase::Writing)
            ::truncate((tmp / "a.iso").c_str(), 2048 * 16);
    };
    o = Burn(iso, tmp / "target", {}, &shrink);
    EXPECT_EQ(o.error, BurnError::BadImage) << burner::Describe(o);
    EXPECT_NE(
        burner::Detail(o).find("writing stopped because \"" + tmp / "a.iso\" ends at byte 32768"),
        std::string::npos)
        << burner::Detail(o);
}

TEST_F(BurnJobTest, VerifyCatchesACorruptedTargetAndCopiesRepeatTheBurn) {
    const std::string payload = RandomBytes(2048 * 200, 4);
    WriteFile(tmp / "a.iso", payload);
    burner::BurnImage iso;
    ASSERT_TRUE(burner::LoadBurnImage(tmp / "a.iso", "", iso).ok());
    burner::BurnSettings s;
    s.verify = true;
    s.copies = 2;
    Recorder good;
    ASSERT_TRUE(Burn(iso, tmp / "out", s, &good).ok());
    EXPECT_EQ(good.Count(BurnPhase::Writing), 2);
    EXPECT_EQ(good.Count(BurnPhase::Verifying), 2);
    EXPECT_TRUE(good.rising);
    EXPECT_FLOAT_EQ(good.last, 100);

    Recorder bad;
    bad.onPhase = [&](BurnPhase p) {
        if (p != BurnPhase::Verifying)
            return;
        std::string data = ReadFile(tmp / "out");
        data[2048 * 150 + 7] ^= 0x5A;
        WriteFile(tmp / "out", data);
    };
    s.copies = 1;
    burner::BurnOutcome o = Burn(iso, tmp / "out", s, &bad);
    EXPECT_EQ(o.error, BurnError::VerifyFailed);
    EXPECT_NE(burner::Detail(o).find("differs at byte " + std::to_string(2048 * 150 + 7)),
              std::string::npos)
        << burner::Detail(o);

    // An image replaced under its name during the burn (a build finishing,
    // a copy over it): the burn and its verify keep to the file they opened.
    Recorder replaced;
    replaced.onPhase = [&](BurnPhase p) {
        if (p != BurnPhase::Writing)
            return;
        WriteFile(tmp / "new.iso", RandomBytes(2048 * 10, 9));
        ::rename((tmp / "new.iso").c_str(), (tmp / "a.iso").c_str());
    };
    o = Burn(iso, tmp / "out", s, &replaced);
    EXPECT_TRUE(o.ok()) << burner::Describe(o);
    EXPECT_TRUE(ReadFile(tmp / "out") == payload);
}

// The engine's run: progress through the process callback, one burn-done
// report whatever happens, a cancel that leaves the engine usable.
struct Reports {
    std::atomic<int> done{0};
    std::atomic<int> progress{0};
    std::u16string text;
    bool failed = false;
};
void OnDone(const char16_t* text, void* user) {
    auto* r = static_cast<Reports*>(user);
    r->failed = text && *text;
    r->text = text ? text : u"";
    ++r->done;
}
void OnProcess(float, void* user) {
    ++static_cast<Reports*>(user)->progress;
}

TEST_F(BurnJobTest, EngineRunReportsOnceAndCancelLeavesItUsable) {
    WriteFile(tmp / "big.iso", RandomBytes(64 << 20, 5));
    Reports reports;
    engine::SetBurnDoneEventCallback(OnDone, &reports);
    engine::SetProcessEventCallback(OnProcess, &reports);

    burner::BurnOutcome error;
    auto job = burner::MakeBurnJob("stdio:" + tmp / "out", tmp / "big.iso", error);
    ASSERT_TRUE(job) << burner::Describe(error);
    Recorder observer;
    burner::BurnRun* run = nullptr;
    std::atomic<bool> stopped{false};
    observer.onProgress = [&](float percent) {
        if (percent > 1 && !stopped.exchange(true))
            run->Stop();
    };
    {
        burner::BurnRun cancelled(std::move(job), &observer, true);
        run = &cancelled;
        cancelled.Start();
        cancelled.Wait();
        EXPECT_EQ(cancelled.Outcome().error, BurnError::Cancelled);
    }
    EXPECT_EQ(reports.done, 1);
    EXPECT_TRUE(reports.failed);
    EXPECT_GT(reports.progress, 0);

    // The next burn on the same engine and target goes through.
    job = burner::MakeBurnJob("stdio:" + tmp / "out", tmp / "big.iso", error);
    ASSERT_TRUE(job) << burner::Describe(error);
    burner::BurnRun again(std::move(job), nullptr, true);
    again.Start();
    again.Wait();
    EXPECT_TRUE(again.Outcome().ok()) << burner::Describe(again.Outcome());
    EXPECT_EQ(reports.done, 2);
    EXPECT_FALSE(reports.failed);
    std::string out = ReadFile(tmp / "out"), want = ReadFile(tmp / "big.iso");
    EXPECT_EQ(out.size(), want.size());
    EXPECT_TRUE(out == want);

    // Nothing to burn: refused before a run, no report from a run that never was.
    EXPECT_FALSE(burner::MakeBurnJob("stdio:" + tmp / "out", "", error));
    EXPECT_EQ(error.error, BurnError::BadImage) << burner::Describe(error);
    engine::SetBurnDoneEventCallback(nullptr, nullptr);
    engine::SetProcessEventCallback(nullptr, nullptr);
}

TEST_F(BurnJobTest, EraseBlanksAPseudoDriveThatAllowsIt) {
    WriteFile(tmp / "disc", RandomBytes(2048 * 50, 6));
    Recorder r;
    burner::EraseJob fast("stdio:" + tmp / "disc", false, false);
    fast.Run(r);
    burner::BurnOutcome o = fast.Outcome();
    ASSERT_TRUE(o.ok()) << burner::Describe(o);
    EXPECT_EQ(ReadFile(tmp / "disc"), "");
    EXPECT_EQ(r.Count(BurnPhase::Erasing), 1);
    // A burn right after the erase goes through: libburn's erase worker may
    // still be ending when the next job grabs the same file.
    WriteFile(tmp / "a.iso", RandomBytes(2048 * 20, 7));
    burner::BurnImage iso;
    ASSERT_TRUE(burner::LoadBurnImage(tmp / "a.iso", "", iso).ok());
    o = Burn(iso, tmp / "disc");
    EXPECT_TRUE(o.ok()) << burner::Describe(o);
    EXPECT_TRUE(ReadFile(tmp / "disc") == ReadFile(tmp / "a.iso"));
    burner::EraseJob missing("stdio:" + tmp / "no/such/disc", true, false);
    missing.Run(r);
    EXPECT_EQ(missing.Outcome().error, BurnError::NoRecorder);
}

TEST(MediumCheck, RefusesWhatCannotTakeTheImage) {
    const struct {
        burner::MediumState state;
        std::int64_t freeBytes, needed;
        BurnError expected;
    } rows[] = {
        {burner::MediumState::Empty, 0, 1, BurnError::NoMedium},
        {burner::MediumState::Unready, 0, 1, BurnError::NoMedium},
        {burner::MediumState::Full, 0, 1, BurnError::NotWritable},
        {burner::MediumState::Unsuitable, 1 << 30, 1, BurnError::NotWritable},
        {burner::MediumState::Blank, 700 << 20, (700 << 20) + 2048, BurnError::TooBig},
        {burner::MediumState::Blank, 700 << 20, 700 << 20, BurnError::None},
        {burner::MediumState::Appendable, 10 << 20, 2048, BurnError::None},
    };
    for (const auto& row : rows) {
        burner::BurnOutcome o = burner::CheckMedium(row.state, row.freeBytes, row.needed);
        EXPECT_EQ(o.error, row.expected) << static_cast<int>(row.state);
        EXPECT_EQ(o.ok(), burner::Describe(o).empty());
    }
    burner::BurnOutcome big = burner::CheckMedium(burner::MediumState::Blank, 100 << 20, 200 << 20);
    EXPECT_EQ(burner::Describe(big), "The image needs 200 MB, but the disc has only 100 MB free");
}

} // namespace
