#include "burner/GrabbedDrive.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include <libburn/libburn.h>

namespace burner {

namespace {
// burn_allow_drive_role_4 is process-wide: grabs that depend on it go one
// at a time.
std::mutex g_grabMutex;

// libburn's message code for an operation refused because another one is
// still going on with the drive ("A drive operation is still going on").
constexpr int kStillGoingOn = 0x00020102;

bool Grab(const std::string& address, burn::burn_drive_info** info) {
    std::string adr = address;
    return burn::burn_drive_scan_and_grab(info, adr.data(), 1) > 0 && *info;
}
} // namespace

std::unique_ptr<GrabbedDrive> GrabbedDrive::Open(const std::string& address, bool forErase,
                                                 BurnOutcome& failure) {
    std::unique_ptr<GrabbedDrive> d(new GrabbedDrive);
    TakeLibraryMessages();
    std::string adr = address;
    std::lock_guard lock(g_grabMutex);
    if (forErase && address.rfind("stdio:", 0) == 0) {
        std::string path = address.substr(6);
        d->m_fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (d->m_fd < 0) {
            failure = CannotOpen(BurnError::NoRecorder, path, errno);
            return nullptr;
        }
        adr = "stdio:/dev/fd/" + std::to_string(d->m_fd);
        burn::burn_allow_drive_role_4(1 | 8);
    }
    bool grabbed = Grab(adr, &d->m_info);
    if (d->m_fd >= 0)
        burn::burn_allow_drive_role_4(0);
    if (!grabbed) {
        failure = NoRecorderAt(address, TakeLibraryMessages());
        d->m_info = nullptr;
        return nullptr;
    }
    d->m_drive = d->m_info[0].drive;
    return d;
}

GrabbedDrive::~GrabbedDrive() {
    if (m_drive)
        burn::burn_drive_release(m_drive, m_eject ? 1 : 0);
    if (m_info)
        burn::burn_drive_info_free(m_info);
    if (m_fd >= 0)
        ::close(m_fd);
}

int GrabbedDrive::Role() const {
    return burn::burn_drive_get_drive_role(m_drive);
}

bool GrabbedDrive::CanWrite() const {
    if (!IsReal())
        return true;
    const burn::burn_drive_info& i = m_info[0];
    return i.write_dvdram || i.write_dvdr || i.write_cdr || i.write_cdrw || i.tao_block_types ||
           i.sao_block_types || i.raw_block_types;
}

MediumState GrabbedDrive::Medium() const {
    burn::burn_disc_status s = burn::burn_disc_get_status(m_drive);
    for (int i = 0; i < 50 && s == burn::BURN_DISC_UNREADY; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        s = burn::burn_disc_get_status(m_drive);
    }
    switch (s) {
    case burn::BURN_DISC_BLANK:
        return MediumState::Blank;
    case burn::BURN_DISC_EMPTY:
        return MediumState::Empty;
    case burn::BURN_DISC_APPENDABLE:
        return MediumState::Appendable;
    case burn::BURN_DISC_FULL:
        return MediumState::Full;
    case burn::BURN_DISC_UNSUITABLE:
        return MediumState::Unsuitable;
    default:
        return MediumState::Unready;
    }
}

std::string GrabbedDrive::MediumName() const {
    int profile = 0;
    char name[80] = {};
    if (burn::burn_disc_get_profile(m_drive, &profile, name) <= 0)
        return {};
    return name;
}

std::int64_t GrabbedDrive::FreeBytes() const {
    burn::burn_write_opts* o = burn::burn_write_opts_new(m_drive);
    std::int64_t bytes = burn::burn_disc_available_space(m_drive, o);
    burn::burn_write_opts_free(o);
    return bytes;
}

std::vector<int> GrabbedDrive::WriteSpeeds() const {
    std::vector<int> speeds;
    burn::burn_speed_descriptor* list = nullptr;
    if (burn::burn_drive_get_speedlist(m_drive, &list) > 0) {
        for (auto* s = list; s; s = s->next)
            if (s->write_speed > 0)
                speeds.push_back(s->write_speed);
        burn::burn_drive_free_speedlist(&list);
    }
    std::sort(speeds.rbegin(), speeds.rend());
    speeds.erase(std::unique(speeds.begin(), speeds.end()), speeds.end());
    return speeds;
}

std::string GrabbedDrive::Start(const std::function<void()>& start) {
    const auto end = std::chrono::steady_clock::now() + kStartWait;
    for (;;) {
        start();
        // A started operation marks the drive busy before the call returns;
        // a refused one leaves it idle.
        if (burn::burn_drive_get_status(m_drive, nullptr) != burn::BURN_DRIVE_IDLE)
            return {};
        bool stillGoingOn = false;
        std::string words = TakeLibraryMessages(&stillGoingOn);
        if (!stillGoingOn || std::chrono::steady_clock::now() >= end)
            return words;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string TakeLibraryMessages(bool* stillGoingOn) {
    std::string last;
    char text[BURN_MSGS_MESSAGE_LEN + 1];
    char severity[80];
    int code = 0, osErrno = 0;
    while (burn::burn_msgs_obtain(const_cast<char*>("ALL"), &code, text, &osErrno, severity) > 0) {
        const std::string sev = severity;
        if (sev == "SORRY" || sev == "FAILURE" || sev == "FATAL" || sev == "ABORT")
            last = text;
        if (stillGoingOn && code == kStillGoingOn)
            *stillGoingOn = true;
    }
    return last;
}

} // namespace burner
