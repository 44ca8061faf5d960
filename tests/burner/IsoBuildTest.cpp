// Image builds through the engine, read back with xorriso and isoinfo.
#include "burner/IsoBuilder.h"
#include "burner/Options.h"
#include "engine/Engine.h"
#include "engine/Job.h"
#include "port/Utf.h"
#include "tests/support/Iso.h"
#include "tests/support/TempEnv.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/wait.h>

using spindle_test::Exists;
using spindle_test::Q;
using spindle_test::Scaled;
using TempDir = spindle_test::TempConfigDir;
using spindle_test::WriteFile;

namespace {

// Records the reports of one or more builds.
struct Watch {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<float> progress;
    std::vector<std::optional<std::string>> done; // nullopt: null text
    std::function<void(float)> onProgress;

    static void Progress(float p, void* user) {
        auto* w = static_cast<Watch*>(user);
        {
            std::lock_guard lock(w->mutex);
            w->progress.push_back(p);
        }
        if (w->onProgress)
            w->onProgress(p);
    }
    static void Done(const char16_t* text, void* user) {
        auto* w = static_cast<Watch*>(user);
        std::lock_guard lock(w->mutex);
        if (text)
            w->done.emplace_back(port::ToUtf8(text));
        else
            w->done.emplace_back(std::nullopt);
        w->cv.notify_all();
    }
    bool WaitFor(std::size_t reports) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(120), [&] { return done.size() >= reports; });
    }
};

class IsoBuild : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(engine::Initialize());
        engine::SetProcessEventCallback(Watch::Progress, &watch);
        engine::SetBurnDoneEventCallback(Watch::Done, &watch);
        engine::DeleteProject();
        ASSERT_EQ(engine::CreateProject(engine::kProjectData), 0);
        SetLabel("");
    }
    void TearDown() override {
        engine::Abort();
        engine::DeInitialize();
        engine::SetOptions(burner::DefaultOptions());
    }

    void SetLabel(const std::string& latin1) {
        engine::EngineOptions o;
        engine::GetOptions(&o);
        std::strcpy(o.VolumeLabel, latin1.c_str());
        o.EjectWhenDone = 0;
        engine::SetOptions(o);
    }
    int Add(const std::string& source, const char16_t* dir, const char16_t* name = nullptr) {
        std::u16string s = port::ToUtf16(source);
        return engine::AddFile(engine::FileRecord{s.c_str(), dir, name, 0, 0});
    }
    // Builds and waits; returns the completion text (nullopt for success).
    std::optional<std::string> Build(const std::string& image) {
        std::size_t before = watch.done.size();
        EXPECT_EQ(engine::PrepareISO(), 0);
        engine::BuildISO(port::ToUtf16(image).c_str());
        EXPECT_TRUE(watch.WaitFor(before + 1));
        std::lock_guard lock(watch.mutex);
        return watch.done.back();
    }
    // Waits until the threads of builds started since the process had
    // `threads` threads have ended; whether they did.
    static bool BuildThreadsEnded(int threads) {
        return spindle_test::WaitUntil([threads] { return spindle_test::ThreadCount() <= threads; },
                                       std::chrono::seconds(30));
    }
    // Names in a folder other than the test's own files.
    static std::vector<std::string> Leftovers(const std::string& dir) {
        std::vector<std::string> names;
        if (DIR* d = ::opendir(dir.c_str())) {
            while (dirent* e = ::readdir(d))
                if (std::strncmp(e->d_name, ".spindle", 8) == 0 || std::strstr(e->d_name, ".iso"))
                    names.emplace_back(e->d_name);
            ::closedir(d);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir tmp;
    Watch watch;
};

} // namespace

TEST_F(IsoBuild, TreeNamesBytesAndLabelReadBackWithOtherTools) {
    std::string src = tmp / "src";
    ::mkdir(src.c_str(), 0755);
    std::string name200(196, 'L');
    name200 += ".txt";
    const std::string nonAscii = "\xC3\x9C"
                                 "ber Caf\xC3\xA9 \xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.txt";
    WriteFile(src + "/a.txt", "alpha\n");
    WriteFile(src + "/" + name200, std::string(10000, 'x'));
    WriteFile(src + "/" + nonAscii, "non-ascii");
    std::string binary;
    for (unsigned i = 0; i < 300000; ++i)
        binary += static_cast<char>((i * 7919u) >> 3);
    WriteFile(src + "/data.bin", binary);

    ASSERT_EQ(engine::CreateDir(u"Mixed Case Dir", u"\\"), 0);
    ASSERT_EQ(engine::CreateDir(u"Empty", u"\\Mixed Case Dir\\"), 0);
    ASSERT_EQ(engine::CreateDir(u"Deep", u"\\"), 0);
    ASSERT_EQ(engine::CreateDir(u"One", u"\\Deep"), 0);
    ASSERT_EQ(Add(src + "/a.txt", u"\\"), 0);
    ASSERT_EQ(Add(src + "/" + name200, u"\\Mixed Case Dir"), 0);
    ASSERT_EQ(Add(src + "/" + nonAscii, u"\\Deep\\One"), 0);
    ASSERT_EQ(Add(src + "/data.bin", u"\\Deep\\One", u"Renamed Data.bin"), 0);
    SetLabel("My Label 2024");

    std::string image = tmp / "out.iso";
    EXPECT_EQ(Build(image), std::nullopt);
    EXPECT_EQ(watch.done.size(), 1u);
    ASSERT_FALSE(watch.progress.empty());
    for (std::size_t i = 1; i < watch.progress.size(); ++i)
        EXPECT_LE(watch.progress[i - 1], watch.progress[i]);
    EXPECT_EQ(watch.progress.back(), 100.0f);

    EXPECT_EQ(spindle_test::ImageTree(image),
              "'/'\n'/Deep'\n'/Deep/One'\n'/Deep/One/Renamed Data.bin'\n'/Deep/One/" + nonAscii +
                  "'\n'/Mixed Case Dir'\n'/Mixed Case Dir/Empty'\n'/Mixed Case Dir/" + name200 +
                  "'\n'/a.txt'\n");
    EXPECT_EQ(spindle_test::VolumeId(image), "My Label 2024");
    std::string info = spindle_test::Run("isoinfo -d -i " + Q(image));
    EXPECT_NE(info.find("Joliet"), std::string::npos);
    EXPECT_NE(info.find("Rock Ridge"), std::string::npos);
    // Joliet keeps long mixed-case names with spaces for Windows (103 characters).
    std::string joliet = spindle_test::Run("isoinfo -J -f -i " + Q(image));
    EXPECT_NE(joliet.find("/Mixed Case Dir/" + name200.substr(0, 99)), std::string::npos);
    EXPECT_NE(joliet.find("/Deep/One/Renamed Data.bin"), std::string::npos);

    std::string out = tmp / "extract";
    spindle_test::Run("xorriso -osirrox on -indev " + Q(image) + " -extract / " + Q(out) +
                      " 2>/dev/null");
    EXPECT_EQ(spindle_test::ReadFile(out + "/a.txt"), "alpha\n");
    EXPECT_EQ(spindle_test::ReadFile(out + "/Mixed Case Dir/" + name200), std::string(10000, 'x'));
    EXPECT_EQ(spindle_test::ReadFile(out + "/Deep/One/" + nonAscii), "non-ascii");
    EXPECT_EQ(spindle_test::ReadFile(out + "/Deep/One/Renamed Data.bin"), binary);
    EXPECT_TRUE(Exists(out + "/Mixed Case Dir/Empty"));
    EXPECT_EQ(Leftovers(tmp.path()), std::vector<std::string>{"out.iso"});
}

TEST_F(IsoBuild, EmptyProjectGivesAnImageWithOnlyTheLabel) {
    SetLabel("EMPTY");
    std::string image = tmp / "empty.iso";
    EXPECT_EQ(Build(image), std::nullopt);
    EXPECT_EQ(spindle_test::ImageTree(image), "'/'\n");
    EXPECT_EQ(spindle_test::VolumeId(image), "EMPTY");
}

TEST_F(IsoBuild, FailuresAreReportedOnceAndLeaveNoFile) {
    WriteFile(tmp / "ok.txt", "ok");
    ::mkdir((tmp / "adir.iso").c_str(), 0755);
    WriteFile(tmp / "keep.iso", "previous image");
    struct Case {
        const char* what;
        std::string source; // added to the root before the build
        std::string image;
        std::string expect; // part of the error text
    } cases[] = {
        {"missing source", tmp / "gone.txt", tmp / "a.iso", "gone.txt"},
        {"source is a folder", tmp.path() + "/adir.iso", tmp / "b.iso", "not a regular file"},
        {"no such output folder", tmp / "ok.txt", tmp / "nowhere/c.iso", "nowhere/c.iso"},
        {"output is a folder", tmp / "ok.txt", tmp / "adir.iso", "folder"},
        {"output in /proc", tmp / "ok.txt", "/proc/d.iso", "/proc/d.iso"},
        {"failed build keeps an old image", tmp / "gone.txt", tmp / "keep.iso", "gone.txt"},
    };
    for (const Case& c : cases) {
        engine::ClearAll();
        ASSERT_EQ(Add(c.source, u"\\"), 0) << c.what;
        std::optional<std::string> err = Build(c.image);
        ASSERT_TRUE(err.has_value()) << c.what;
        EXPECT_NE(err->find(c.expect), std::string::npos) << c.what << ": " << *err;
    }
    EXPECT_EQ(watch.done.size(), std::size(cases));
    EXPECT_EQ(spindle_test::ReadFile(tmp / "keep.iso"), "previous image");
    EXPECT_EQ(Leftovers(tmp.path()), (std::vector<std::string>{"adir.iso", "keep.iso"}));
}

TEST_F(IsoBuild, RefusedCallsReportAnErrorAtOnce) {
    EXPECT_NE(engine::BuildISO(nullptr), 0);
    EXPECT_NE(engine::BuildISO(u""), 0);
    engine::DeleteProject();
    EXPECT_NE(engine::PrepareISO(), 0);
    EXPECT_NE(engine::BuildISO(port::ToUtf16(tmp / "x.iso").c_str()), 0);
    ASSERT_EQ(watch.done.size(), 3u); // synchronously, one each
    for (const auto& d : watch.done)
        EXPECT_TRUE(d.has_value() && !d->empty());
    EXPECT_FALSE(Exists(tmp / "x.iso"));
    engine::Abort(); // nothing running: nothing happens
    EXPECT_EQ(watch.done.size(), 3u);
}

namespace {

// A sparse file: reading it is quick, and the image of it stays sparse.
std::string MakeSparse(const std::string& path, off_t size, const std::string& tail) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return "open";
    bool ok = ::pwrite(fd, "HEAD", 4, 0) == 4 &&
              ::pwrite(fd, tail.data(), tail.size(), size - static_cast<off_t>(tail.size())) ==
                  static_cast<ssize_t>(tail.size());
    ::close(fd);
    return ok ? "" : "write";
}

} // namespace

TEST_F(IsoBuild, AbortStopsPromptlyRemovesThePartialFileAndRefusesASecondBuild) {
    ASSERT_EQ(MakeSparse(tmp / "big.bin", off_t(3) << 30, "TAIL"), "");
    ASSERT_EQ(Add(tmp / "big.bin", u"\\"), 0);
    std::string image = tmp / "abort.iso";
    std::u16string image16 = port::ToUtf16(image);

    // From a progress report (the engine's own thread): a second build is
    // refused with its own report, then the build is stopped.
    int secondResult = 0;
    watch.onProgress = [&](float p) {
        if (p >= 1.0f && secondResult == 0) {
            secondResult = engine::BuildISO(image16.c_str());
            engine::Abort();
        }
    };
    ASSERT_EQ(engine::BuildISO(image16.c_str()), 0);
    ASSERT_TRUE(watch.WaitFor(2));
    watch.onProgress = nullptr;
    EXPECT_EQ(secondResult, static_cast<int>(port::ERROR_BUSY));
    ASSERT_EQ(watch.done.size(), 2u);
    EXPECT_NE(watch.done[0]->find("already running"), std::string::npos);
    EXPECT_EQ(watch.done[1], std::optional<std::string>(engine::StoppedByUserText()));
    EXPECT_TRUE(Leftovers(tmp.path()).empty());

    // From another thread: Abort returns once the partial file is gone.
    std::mutex m;
    std::condition_variable changed;
    bool running = false, stopping = false;
    watch.onProgress = [&](float p) {
        if (p >= 1.0f && !running) {
            std::unique_lock lock(m);
            running = true;
            changed.notify_all();
            // Hold the build here until the stop is on its way, so that the
            // stop surely comes before the end of the image.
            changed.wait_for(lock, Scaled(std::chrono::seconds(60)), [&] { return stopping; });
        }
    };
    ASSERT_EQ(engine::BuildISO(image16.c_str()), 0);
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(
            changed.wait_for(lock, Scaled(std::chrono::seconds(60)), [&] { return running; }));
        stopping = true;
        changed.notify_all();
    }
    auto t0 = std::chrono::steady_clock::now();
    engine::Abort();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    EXPECT_TRUE(Leftovers(tmp.path()).empty());
    ASSERT_TRUE(watch.WaitFor(3));
    watch.onProgress = nullptr;
    EXPECT_EQ(watch.done[2], std::optional<std::string>(engine::StoppedByUserText()));
}

TEST_F(IsoBuild, FileOverFourGiBIsStoredWhole) {
    const off_t size = (off_t(4) << 30) + 12345;
    ASSERT_EQ(MakeSparse(tmp / "huge.bin", size, "THE-END"), "");
    ASSERT_EQ(Add(tmp / "huge.bin", u"\\"), 0);
    std::string image = tmp / "huge.iso";
    ASSERT_EQ(Build(image), std::nullopt);

    std::string listing = spindle_test::Run("xorriso -indev " + Q(image) +
                                            " -find /huge.bin -exec report_lba -- 2>/dev/null");
    // "File data lba:  0 , <lba> , <blocks> , <bytes> , '/huge.bin'" per extent.
    std::size_t at = listing.find("File data lba:");
    ASSERT_NE(at, std::string::npos) << listing;
    long long lba = 0;
    ASSERT_EQ(std::sscanf(listing.c_str() + at, "File data lba: %*d , %lld", &lba), 1);
    EXPECT_NE(spindle_test::Run("xorriso -indev " + Q(image) + " -lsl /huge.bin 2>/dev/null")
                  .find(" " + std::to_string(size) + " "),
              std::string::npos);

    // The extents are consecutive: the tail sits at lba * 2048 + size - 7.
    int fd = ::open(image.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    char head[4] = {}, tail[7] = {};
    EXPECT_EQ(::pread(fd, head, 4, lba * 2048), 4);
    EXPECT_EQ(::pread(fd, tail, 7, lba * 2048 + size - 7), 7);
    struct stat st;
    ::fstat(fd, &st);
    ::close(fd);
    EXPECT_EQ(std::string(head, 4), "HEAD");
    EXPECT_EQ(std::string(tail, 7), "THE-END");
    EXPECT_LT(st.st_blocks * 512, 64ll << 20); // the zeros were not written
}

TEST_F(IsoBuild, LevelTwoRefusesAFileOverFourGiB) {
    ASSERT_EQ(MakeSparse(tmp / "huge.bin", off_t(4) << 30, "X"), "");
    ASSERT_EQ(Add(tmp / "huge.bin", u"\\"), 0);
    engine::EngineOptions o;
    engine::GetOptions(&o);
    o.IsoLevel = 2;
    engine::SetOptions(o);
    std::optional<std::string> err = Build(tmp / "l2.iso");
    ASSERT_TRUE(err.has_value());
    EXPECT_NE(err->find("level 3"), std::string::npos) << *err;
    EXPECT_FALSE(Exists(tmp / "l2.iso"));
}

namespace {

// A file of `size` bytes that are not all zero, so every block is written.
void MakeDense(const std::string& path, std::size_t size) {
    std::string block(1 << 20, '\0');
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(1 + i % 251);
    std::ofstream out(path, std::ios::binary);
    for (std::size_t done = 0; done < size; done += block.size())
        out.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), size - done)));
}

} // namespace

TEST_F(IsoBuild, AbortAtAnyMomentEndsInOneReportAndEitherAWholeImageOrNoFile) {
    // Many small files make the tree and layout phases take a while; the
    // large one the writing phase. Aborts at growing delays hit each phase.
    std::string src = tmp / "src";
    ::mkdir(src.c_str(), 0755);
    MakeDense(src + "/big.bin", 48u << 20);
    ASSERT_EQ(Add(src + "/big.bin", u"\\"), 0);
    ASSERT_EQ(engine::CreateDir(u"many", u"\\"), 0);
    for (int i = 0; i < 1500; ++i) {
        std::string name = src + "/f" + std::to_string(i);
        WriteFile(name, std::to_string(i));
        ASSERT_EQ(Add(name, u"\\many"), 0);
    }
    std::string image = tmp / "phase.iso";
    const int delaysUs[] = {0, 0, 100, 1000, 5000, 20000, 60000, 150000, 400000};
    std::size_t reports = 0;
    const int threads = spindle_test::ThreadCount();
    for (int delay : delaysUs) {
        ::unlink(image.c_str());
        ASSERT_EQ(engine::BuildISO(port::ToUtf16(image).c_str()), 0);
        // Not a wait for something: the delay picks the phase that the
        // abort hits.
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
        engine::Abort();
        // Abort has returned: the temporary file is gone whatever happened.
        std::vector<std::string> left = Leftovers(tmp.path());
        ASSERT_TRUE(watch.WaitFor(++reports)) << delay;
        // A stray report could only come from the build's threads: once
        // they have ended, none can come any more.
        ASSERT_TRUE(BuildThreadsEnded(threads)) << delay;
        std::lock_guard lock(watch.mutex);
        ASSERT_EQ(watch.done.size(), reports) << delay;
        if (watch.done.back().has_value()) {
            EXPECT_EQ(*watch.done.back(), engine::StoppedByUserText()) << delay;
            EXPECT_TRUE(left.empty()) << delay;
            EXPECT_FALSE(Exists(image)) << delay;
        } else {
            EXPECT_EQ(left, std::vector<std::string>{"phase.iso"}) << delay;
            EXPECT_NE(spindle_test::ImageTree(image).find("'/many/f1499'"), std::string::npos);
        }
    }
}

TEST_F(IsoBuild, ReportsMayCallTheEngineAndShutdownDuringABuildIsSafe) {
    ASSERT_EQ(MakeSparse(tmp / "big.bin", off_t(2) << 30, "TAIL"), "");
    WriteFile(tmp / "small.txt", "small");
    ASSERT_EQ(Add(tmp / "big.bin", u"\\"), 0);
    std::u16string first = port::ToUtf16(tmp / "first.iso");
    std::u16string second = port::ToUtf16(tmp / "second.iso");

    // A completion report starts the next build.
    struct Chain {
        Watch* watch;
        std::u16string next;
        int started = -1;
    } chain{&watch, second};
    engine::SetBurnDoneEventCallback(
        [](const char16_t* text, void* user) {
            auto* c = static_cast<Chain*>(user);
            Watch::Done(text, c->watch);
            if (c->started == -1) {
                engine::ClearAll();
                c->started = engine::BuildISO(c->next.c_str());
            }
        },
        &chain);
    ASSERT_EQ(engine::BuildISO(first.c_str()), 0);
    ASSERT_TRUE(watch.WaitFor(2));
    EXPECT_EQ(chain.started, 0);
    EXPECT_EQ(watch.done[0], std::nullopt);
    EXPECT_EQ(watch.done[1], std::nullopt);
    EXPECT_EQ(spindle_test::ImageTree(tmp / "second.iso"), "'/'\n");

    // Shutdown from a progress report of the build itself: it returns at
    // once (it cannot wait for its own thread), the build stops, makes no
    // further report and leaves no file; the engine starts again afterwards.
    engine::SetBurnDoneEventCallback(Watch::Done, &watch);
    ASSERT_EQ(Add(tmp / "big.bin", u"\\"), 0);
    ::unlink((tmp / "first.iso").c_str());
    ::unlink((tmp / "second.iso").c_str());
    std::atomic<int> shutdowns{0};
    std::atomic<std::int64_t> tookMs{-1};
    watch.onProgress = [&](float p) {
        if (p >= 1.0f && shutdowns++ == 0) {
            auto t0 = std::chrono::steady_clock::now();
            engine::DeInitialize();
            tookMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now() - t0)
                         .count();
        }
    };
    int threads = spindle_test::ThreadCount();
    ASSERT_EQ(engine::BuildISO(first.c_str()), 0);
    spindle_test::WaitUntil([&] { return shutdowns > 0 && Leftovers(tmp.path()).empty(); },
                            std::chrono::seconds(30));
    EXPECT_GE(tookMs, 0);
    EXPECT_LT(tookMs, 3000);
    EXPECT_TRUE(Leftovers(tmp.path()).empty());
    ASSERT_TRUE(engine::Initialize());
    engine::SetProcessEventCallback(Watch::Progress, &watch);
    engine::SetBurnDoneEventCallback(Watch::Done, &watch);
    // The build that was shut down could report only from its threads.
    EXPECT_TRUE(BuildThreadsEnded(threads));
    watch.onProgress = nullptr;
    {
        // None from the build that was shut down, not even to the callbacks
        // registered after the engine started again.
        std::lock_guard lock(watch.mutex);
        EXPECT_EQ(watch.done.size(), 2u);
    }

    // Shutdown from a completion report returns at once too.
    std::atomic<std::int64_t> tookInDoneMs{-1};
    engine::SetBurnDoneEventCallback(
        [](const char16_t* text, void* user) {
            auto* d = static_cast<std::atomic<std::int64_t>*>(user);
            (void)text;
            auto t0 = std::chrono::steady_clock::now();
            engine::DeInitialize();
            *d = std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - t0)
                     .count();
        },
        &tookInDoneMs);
    engine::ClearAll();
    ASSERT_EQ(Add(tmp / "small.txt", u"\\"), 0);
    threads = spindle_test::ThreadCount();
    ASSERT_EQ(engine::BuildISO(first.c_str()), 0);
    spindle_test::WaitUntil([&] { return tookInDoneMs >= 0; }, std::chrono::seconds(30));
    EXPECT_GE(tookInDoneMs, 0);
    EXPECT_LT(tookInDoneMs, 3000);
    // The build that reported ends on its own after its report.
    EXPECT_TRUE(BuildThreadsEnded(threads));
    ASSERT_TRUE(engine::Initialize());

    // Shutdown from another thread while a build writes: it waits for the
    // build to end and clean up, and no report comes afterwards.
    engine::SetProcessEventCallback(Watch::Progress, &watch);
    engine::SetBurnDoneEventCallback(Watch::Done, &watch);
    engine::ClearAll();
    ::unlink((tmp / "first.iso").c_str());
    ASSERT_EQ(Add(tmp / "big.bin", u"\\"), 0);
    std::mutex m;
    std::condition_variable cv;
    bool writing = false;
    watch.onProgress = [&](float p) {
        if (p >= 1.0f) {
            std::lock_guard lock(m);
            writing = true;
            cv.notify_all();
        }
    };
    std::size_t before = watch.done.size();
    threads = spindle_test::ThreadCount();
    ASSERT_EQ(engine::BuildISO(first.c_str()), 0);
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(60), [&] { return writing; }));
    }
    engine::DeInitialize();
    EXPECT_TRUE(Leftovers(tmp.path()).empty());
    EXPECT_TRUE(BuildThreadsEnded(threads));
    watch.onProgress = nullptr;
    EXPECT_EQ(watch.done.size(), before);

    // And the engine builds again after all that.
    ASSERT_TRUE(engine::Initialize());
    engine::SetProcessEventCallback(Watch::Progress, &watch);
    engine::SetBurnDoneEventCallback(Watch::Done, &watch);
    engine::ClearAll();
    ASSERT_EQ(Add(tmp / "small.txt", u"\\"), 0);
    EXPECT_EQ(Build(tmp / "again.iso"), std::nullopt);
    EXPECT_EQ(spindle_test::ImageTree(tmp / "again.iso"), "'/'\n'/small.txt'\n");
}

TEST_F(IsoBuild, FullDiskIsReportedAndLeavesNoFile) {
    std::string small = tmp / "small";
    ::mkdir(small.c_str(), 0755);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    struct Unmount {
        std::string dir;
        ~Unmount() { ::umount2(dir.c_str(), MNT_DETACH); }
    } unmount{small};
    MakeDense(tmp / "four.bin", 4u << 20);
    ASSERT_EQ(Add(tmp / "four.bin", u"\\"), 0);
    std::optional<std::string> err = Build(small + "/full.iso");
    ASSERT_TRUE(err.has_value());
    EXPECT_NE(err->find("disk is full"), std::string::npos) << *err;
    EXPECT_TRUE(Leftovers(small).empty());
    EXPECT_EQ(watch.done.size(), 1u);
}

TEST_F(IsoBuild, AbortThatOutwaitsAStuckBuildStillLeavesNoPartialFile) {
    // The build's thread is held (here in its own report, as it could be in
    // a read of a stalled source) longer than Abort waits for it.
    ASSERT_EQ(MakeSparse(tmp / "big.bin", off_t(1) << 30, "TAIL"), "");
    ASSERT_EQ(Add(tmp / "big.bin", u"\\"), 0);
    std::mutex m;
    std::condition_variable cv;
    bool held = false, release = false;
    watch.onProgress = [&](float p) {
        if (p < 1.0f)
            return;
        std::unique_lock lock(m);
        if (held)
            return;
        held = true;
        cv.notify_all();
        cv.wait_for(lock, std::chrono::seconds(30), [&] { return release; });
    };
    ASSERT_EQ(engine::BuildISO(port::ToUtf16(tmp / "stuck.iso").c_str()), 0);
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(60), [&] { return held; }));
    }
    engine::Abort(); // gives up waiting after a while
    EXPECT_TRUE(Leftovers(tmp.path()).empty());
    {
        std::lock_guard lock(m);
        release = true;
    }
    cv.notify_all();
    ASSERT_TRUE(watch.WaitFor(1));
    watch.onProgress = nullptr;
    EXPECT_EQ(watch.done[0], std::optional<std::string>(engine::StoppedByUserText()));
    EXPECT_TRUE(Leftovers(tmp.path()).empty());
}

TEST_F(IsoBuild, LongLabelIsCutWithoutSplittingACharacter) {
    // 'a' and seventeen U+00C9, two bytes each in UTF-8: 35 bytes for the
    // primary descriptor's 32.
    SetLabel("a" + std::string(17, '\xC9'));
    std::string image = tmp / "label.iso";
    ASSERT_EQ(Build(image), std::nullopt);
    std::string pvd = spindle_test::ReadFile(image).substr(16 * 2048 + 40, 32);
    std::string expect = "a";
    for (int i = 0; i < 15; ++i)
        expect += "\xC3\x89";
    EXPECT_EQ(pvd, expect + " ");
}

// Where a file system has no unnamed files, the temporary image carries its
// maker's process id; the next build removes those whose maker is gone and
// leaves a running build's file and names it did not make alone.
TEST(IsoBuildTempFile, StaleTemporaryImagesOfDeadProcessesAreRemoved) {
    TempDir tmp;
    pid_t dead = ::fork();
    if (dead == 0)
        ::_exit(0);
    ASSERT_EQ(::waitpid(dead, nullptr, 0), dead);
    const std::string gone = tmp / (".spindle-image-" + std::to_string(dead) + "-abc123");
    const std::string alive = tmp / (".spindle-image-" + std::to_string(::getppid()) + "-abc123");
    const std::string other = tmp / ".spindle-image-Xy12ab";
    for (const std::string& p : {gone, alive, other})
        spindle_test::WriteFile(p, "partial");
    burner::RemoveStaleTempFiles(tmp.path() + "/");
    EXPECT_FALSE(spindle_test::Exists(gone));
    EXPECT_TRUE(spindle_test::Exists(alive));
    EXPECT_TRUE(spindle_test::Exists(other));
}
