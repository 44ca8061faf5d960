#include "tests/disccopy/CopySupport.h"
#include "tests/support/Wait.h"

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace copytest {

int Recorder::OnMessage(const CopyNote& note) {
    Log(MessageName(note.message));
    notes.push_back(note);
    if (onMessage)
        onMessage(note);
    const bool question =
        note.message == CopyMessage::OverwriteImage || note.message == CopyMessage::ReadError;
    if (!question)
        return 1;
    if (answers.empty())
        return 7;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
}

const char* MessageName(CopyMessage message) {
    switch (message) {
    case CopyMessage::SelectDrive:
        return "SelectDrive";
    case CopyMessage::CannotOpenDrive:
        return "CannotOpenDrive";
    case CopyMessage::NoDisc:
        return "NoDisc";
    case CopyMessage::SameAsSource:
        return "SameAsSource";
    case CopyMessage::OverwriteImage:
        return "OverwriteImage";
    case CopyMessage::CannotCreateFile:
        return "CannotCreateFile";
    case CopyMessage::CannotCreateBuffer:
        return "CannotCreateBuffer";
    case CopyMessage::ReadError:
        return "ReadError";
    case CopyMessage::LabelFailed:
        return "LabelFailed";
    case CopyMessage::Done:
        return "Done";
    case CopyMessage::DoneWithBadSectors:
        return "DoneWithBadSectors";
    case CopyMessage::ListFailed:
        return "ListFailed";
    case CopyMessage::Failed:
        return "Failed";
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
