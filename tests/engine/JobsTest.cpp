// Every kind of long work has one shape: each job tells its end exactly once,
// last, with its kind, and says a stop, a failure and a success the same way
// (ERROR_OPERATION_ABORTED, another error with what it concerns, none). And
// the one hand-over to the GUI thread delivers every call there, answers
// questions from there, and answers them as a closed box once it cannot.
#include "burner/BurnJob.h"
#include "burner/IsoBuilder.h"
#include "engine/DiscImageReader.h"
#include "engine/Engine.h"
#include "engine/JobHandOver.h"
#include "port/DosDevices.h"
#include "port/Utf.h"
#include "tests/support/TempEnv.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <thread>

namespace {

using engine::Answer;
using engine::JobKind;

// Logs the order of calls; questions are answered yes.
struct Log : engine::JobObserver {
    std::vector<std::string> calls;
    std::vector<engine::JobOutcome> ends;
    void OnProgress(float p) override {
        EXPECT_GE(p, 0.0f);
        EXPECT_LE(p, 100.0f);
        calls.push_back("progress");
    }
    void OnStatus(const engine::JobStatus&) override { calls.push_back("status"); }
    Answer OnQuestion(const engine::JobQuestion& q) override {
        calls.push_back("question");
        return q.yesNo ? Answer::Yes : Answer::Ok;
    }
    void OnEnd(const engine::JobOutcome& o) override {
        calls.push_back("end");
        ends.push_back(o);
    }
};

enum class Expect { Done, Stopped, Failed };

TEST(Jobs, EveryJobEndsOnceAndSaysStopFailureAndSuccessAlike) {
    spindle_test::TempEnv env;
    env.EmptyTable();
    ASSERT_TRUE(engine::Initialize());
    const std::string disc = env.Write("disc.bin", std::string(3 * 524288 + 100, 'd'));
    port::PushDosDevice("R:", "stdio:" + disc);
    const std::string source = env.Write("src/a.txt", "hello");

    auto copy = [&](const char* drive, const std::string& out) {
        auto shared = std::make_shared<engine::CDiscImageReader::Shared>();
        shared->m_bStop = 0; // as a reader starting a copy leaves it
        return std::make_unique<engine::CDiscCopy>(
            engine::DiscCopyJob{port::ToUtf16(drive), port::ToUtf16(env.root() + "/" + out), u""},
            std::move(shared));
    };
    auto build = [&](const std::string& out) {
        auto root = std::make_unique<burner::ProjectNode>();
        auto file = std::make_unique<burner::ProjectNode>();
        file->name = "a.txt";
        file->isDir = false;
        file->source = source;
        root->children["a.txt"] = std::move(file);
        return std::make_unique<burner::ImageBuildJob>(std::move(root), burner::ImageSettings{},
                                                       env.root() + "/" + out);
    };
    const std::string iso = env.Write("image.iso", std::string(2048 * 20, 'i'));
    auto burn = [&](const std::string& target) {
        burner::BurnImage image;
        EXPECT_TRUE(burner::LoadBurnImage(iso, "", image).ok());
        return std::make_unique<burner::BurnJob>("stdio:" + env.root() + "/" + target, image,
                                                 burner::BurnSettings{});
    };
    auto erase = [&](const std::string& target) {
        return std::make_unique<burner::EraseJob>("stdio:" + env.root() + "/" + target, false,
                                                  false);
    };
    env.Write("used.disc", std::string(2048 * 4, 'x'));
    env.Write("used2.disc", std::string(2048 * 4, 'x'));
    struct Case {
        const char* name;
        std::function<std::unique_ptr<engine::Job>()> make;
        bool stopFirst;
        Expect expect;
        const char* item; // what a failure concerns, below the root; null: not checked
    } cases[] = {
        {"copy", [&] { return copy("R:", "c1.iso"); }, false, Expect::Done, nullptr},
        {"copy stopped", [&] { return copy("R:", "c2.iso"); }, true, Expect::Stopped, nullptr},
        {"copy of no drive", [&] { return copy("Q:", "c3.iso"); }, false, Expect::Failed, nullptr},
        {"copy into no folder", [&] { return copy("R:", "none/c4.iso"); }, false, Expect::Failed,
         "none/c4.iso.part"},
        {"build", [&] { return build("b1.iso"); }, false, Expect::Done, nullptr},
        {"build stopped", [&] { return build("b2.iso"); }, true, Expect::Stopped, nullptr},
        {"build into no folder", [&] { return build("none/b3.iso"); }, false, Expect::Failed,
         "none/b3.iso"},
        {"burn", [&] { return burn("burned.disc"); }, false, Expect::Done, nullptr},
        {"burn stopped", [&] { return burn("burned2.disc"); }, true, Expect::Stopped, nullptr},
        {"burn on no recorder", [&] { return burn("none/disc"); }, false, Expect::Failed, nullptr},
        {"erase", [&] { return erase("used.disc"); }, false, Expect::Done, nullptr},
        {"erase stopped", [&] { return erase("used2.disc"); }, true, Expect::Stopped, nullptr},
        {"erase of no recorder", [&] { return erase("none/disc"); }, false, Expect::Failed,
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<engine::Job> job = c.make();
        if (c.stopFirst)
            job->Stop();
        Log log;
        const engine::JobOutcome outcome = job->Run(log);
        ASSERT_EQ(log.ends.size(), 1u);
        EXPECT_EQ(log.calls.back(), "end");
        EXPECT_EQ(log.ends[0].kind, job->Kind());
        EXPECT_EQ(log.ends[0].error, outcome.error);
        EXPECT_EQ(outcome.Done(), c.expect == Expect::Done) << outcome.error;
        EXPECT_EQ(outcome.Stopped(), c.expect == Expect::Stopped) << outcome.error;
        if (c.expect == Expect::Done) {
            EXPECT_EQ(outcome.item, "");
        }
        if (c.item) {
            EXPECT_EQ(outcome.item, env.root() + "/" + c.item);
        }
    }
    engine::DeInitialize();
}

// A GUI thread of its own: runs what is posted to it, in order.
class FakeGui {
public:
    bool Post(std::function<void()> fn) {
        if (m_refuse)
            return false;
        if (m_drop)
            return true; // taken, and dropped unrun: the queue ends
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(fn));
        m_cv.notify_all();
        return true;
    }
    // Runs posted calls until `done` holds.
    void RunUntil(const std::function<bool()>& done) {
        while (!done()) {
            std::function<void()> fn;
            {
                std::unique_lock lock(m_mutex);
                m_cv.wait_for(lock, std::chrono::milliseconds(10),
                              [&] { return !m_queue.empty(); });
                if (m_queue.empty())
                    continue;
                fn = std::move(m_queue.front());
                m_queue.pop_front();
            }
            fn();
        }
    }
    bool m_refuse = false;
    bool m_drop = false;

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_queue;
};

TEST(Jobs, TheHandOverRunsEveryCallOnTheGuiThreadAndAnswersAsAClosedBoxWhenItCannot) {
    enum class Gui { Answers, Detached, Refuses, Drops };
    for (Gui gui : {Gui::Answers, Gui::Detached, Gui::Refuses, Gui::Drops}) {
        SCOPED_TRACE(static_cast<int>(gui));
        FakeGui queue;
        queue.m_refuse = gui == Gui::Refuses;
        queue.m_drop = gui == Gui::Drops;
        const std::thread::id guiThread = std::this_thread::get_id();
        struct OnGui : Log {
            std::thread::id id;
            Answer OnQuestion(const engine::JobQuestion& q) override {
                EXPECT_EQ(std::this_thread::get_id(), id);
                Log::OnQuestion(q);
                return Answer::Yes;
            }
        } onGui;
        onGui.id = guiThread;
        auto handOver = engine::JobHandOver::Make(
            &onGui, [&](std::function<void()> fn) { return queue.Post(std::move(fn)); });
        if (gui == Gui::Detached)
            handOver->Detach();
        std::atomic<bool> workerDone{false};
        Answer yesNo = Answer::Ok, note = Answer::Yes;
        std::u16string text;
        std::thread worker([&] {
            engine::JobQuestion q;
            q.yesNo = true;
            q.path = u"given";
            handOver->OnProgress(50);
            yesNo = handOver->OnQuestion(q);
            q.yesNo = false;
            note = handOver->OnQuestion(q);
            text = handOver->OnAskText(q);
            handOver->OnEnd({JobKind::DiscCopy, 0, {}});
            workerDone = true;
        });
        queue.RunUntil([&] { return workerDone.load(); });
        worker.join();
        queue.RunUntil([] { return true; });
        if (gui == Gui::Answers) {
            EXPECT_EQ(yesNo, Answer::Yes);
            EXPECT_EQ(text, u"given");
            queue.RunUntil([&] { return onGui.ends.size() == 1; });
            EXPECT_EQ(onGui.calls,
                      (std::vector<std::string>{"progress", "question", "question", "end"}));
        } else {
            EXPECT_EQ(yesNo, Answer::No) << "a closed box says no";
            EXPECT_EQ(note, Answer::Ok);
            EXPECT_EQ(text, u"given");
            EXPECT_TRUE(onGui.calls.empty());
        }
    }
}

} // namespace
