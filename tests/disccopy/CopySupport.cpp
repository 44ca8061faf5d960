#include "tests/disccopy/CopySupport.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace copytest {

void Recorder::Idle() {
    if (m_copying)
        Log("idle");
    m_copying = false;
}

void Recorder::OnStatus(const engine::JobStatus& status) {
    using Step = engine::JobStatus::Step;
    CopyStatus s;
    s.kind = status.step == Step::Blank       ? CopyStatus::Kind::Blank
             : status.step == Step::Preparing ? CopyStatus::Kind::Preparing
             : status.step == Step::Reading   ? CopyStatus::Kind::Reading
                                              : CopyStatus::Kind::Empty;
    s.mibRead = status.done >> 20;
    s.mibTotal = status.total >> 20;
    s.unreadable = status.unreadable;
    if (s.kind == CopyStatus::Kind::Preparing && !m_ran) {
        m_ran = m_copying = true;
        Log("copying");
    }
    statuses.push_back(s);
}

engine::Answer Recorder::OnQuestion(const engine::JobQuestion& question) {
    CopyNote note{CopyMessageOf(question), question.path, question.count, question.error};
    if (note.message != engine::CopyMessage::ReadError)
        Idle();
    const int answer = OnMessage(note);
    if (question.yesNo != (note.message == engine::CopyMessage::OverwriteImage ||
                           note.message == engine::CopyMessage::ReadError))
        ADD_FAILURE() << MessageName(note.message) << " offers the wrong answers";
    return answer == 6   ? engine::Answer::Yes
           : answer == 7 ? engine::Answer::No
                         : engine::Answer::Ok;
}

void Recorder::OnEnd(const engine::JobOutcome& outcome) {
    Idle();
    if (m_ran && !outcome.Stopped())
        Log("finished");
    ends.push_back(outcome);
}

int Recorder::OnMessage(const CopyNote& note) {
    Log(MessageName(note.message));
    notes.push_back(note);
    if (onMessage)
        onMessage(note);
    const bool question = note.message == engine::CopyMessage::OverwriteImage ||
                          note.message == engine::CopyMessage::ReadError;
    if (!question)
        return 1;
    if (answers.empty())
        return 7;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
}

const char* MessageName(engine::CopyMessage message) {
    switch (message) {
    case engine::CopyMessage::SelectDrive:
        return "SelectDrive";
    case engine::CopyMessage::CannotOpenDrive:
        return "CannotOpenDrive";
    case engine::CopyMessage::NoDisc:
        return "NoDisc";
    case engine::CopyMessage::SameAsSource:
        return "SameAsSource";
    case engine::CopyMessage::OverwriteImage:
        return "OverwriteImage";
    case engine::CopyMessage::CannotCreateFile:
        return "CannotCreateFile";
    case engine::CopyMessage::CannotCreateBuffer:
        return "CannotCreateBuffer";
    case engine::CopyMessage::ReadError:
        return "ReadError";
    case engine::CopyMessage::LabelFailed:
        return "LabelFailed";
    case engine::CopyMessage::Done:
        return "Done";
    case engine::CopyMessage::DoneWithBadSectors:
        return "DoneWithBadSectors";
    case engine::CopyMessage::ListFailed:
        return "ListFailed";
    case engine::CopyMessage::Failed:
        return "Failed";
    case engine::CopyMessage::NewLabel:
        return "NewLabel";
    }
    return "?";
}

BadSectorDisc::BadSectorDisc(const std::string& image, const std::string& mountpoint,
                             const std::vector<std::int64_t>& badSectors, std::int64_t room)
    : m_mountpoint(mountpoint) {
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        return;
    std::vector<std::string> args = {BAD_SECTOR_FS, image, mountpoint};
    m_pid = ::fork();
    if (m_pid == 0) {
        int fd = ::dup(ready[1]); // without close-on-exec
        args.push_back(std::to_string(fd));
        if (room >= 0) {
            args.push_back("--room");
            args.push_back(std::to_string(room));
        }
        for (std::int64_t s : badSectors)
            args.push_back(std::to_string(s));
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(ready[1]);
    pollfd p{ready[0], POLLIN, 0};
    char byte = 0;
    m_ready =
        m_pid > 0 &&
        ::poll(&p, 1, static_cast<int>(spindle_test::Scaled(std::chrono::seconds(20)).count())) ==
            1 &&
        ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
}

BadSectorDisc::~BadSectorDisc() {
    if (m_pid <= 0)
        return;
    if (m_ready)
        Shell("fusermount3 -u '" + m_mountpoint + "'");
    else
        ::kill(m_pid, SIGTERM);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
}

} // namespace copytest
