// The drive side of the engine: choosing the current recorder, describing it
// and opening or closing its tray.
#include "burner/Recorder.h"

#include "engine/Engine.h"
#include "port/DosDevices.h"
#include "port/Errors.h"

#include <libburn/libburn.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <map>
#include <mutex>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace burner {
namespace {

struct Identity {
    char vendor[8];
    char product[16];
    char revision[8];
};

struct RecorderState {
    std::mutex mutex;
    std::string address;
    // Identities of real drives by address and device number: grabbing a
    // real drive can take seconds (and fails while a burn holds it), and
    // the pages describe every drive each time a list drops down.
    std::map<std::pair<std::string, dev_t>, Identity> cache;
};

RecorderState& Recorders() {
    static RecorderState& s = *new RecorderState;
    return s;
}

void CopyPadded(char* out, std::size_t size, const char* in) {
    std::memset(out, ' ', size);
    std::memcpy(out, in, std::min(size, std::strlen(in)));
}

// Grabs the drive just long enough to read what it reports about itself. A
// specific address is grabbed without scanning the bus.
bool ReadIdentity(const std::string& address, Identity& id) {
    burn::burn_drive_info* info = nullptr;
    if (burn::burn_drive_scan_and_grab(&info, const_cast<char*>(address.c_str()), 0) <= 0 || !info)
        return false;
    CopyPadded(id.vendor, sizeof id.vendor, info[0].vendor);
    CopyPadded(id.product, sizeof id.product, info[0].product);
    CopyPadded(id.revision, sizeof id.revision, info[0].revision);
    burn::burn_drive_release(info[0].drive, 0);
    burn::burn_drive_info_free(info);
    return true;
}

// Runs a tray request on a real drive. The tray may be locked by a program
// that used the drive; the lock is lifted first, as eject(1) does.
int TrayRequest(const std::string& address, unsigned long request) {
    const int fd = ::open(address.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return static_cast<int>(port::ErrorFromErrno(errno));
    if (request == CDROMEJECT)
        ::ioctl(fd, CDROM_LOCKDOOR, 0);
    const int rc = ::ioctl(fd, request, 0);
    const int err = errno;
    ::close(fd);
    return rc < 0 ? static_cast<int>(port::ErrorFromErrno(err)) : 0;
}

int NoRecorder() {
    return static_cast<int>(port::ERROR_INVALID_DRIVE);
}

} // namespace

std::string RecorderAddressOf(std::string_view target) {
    if (IsPseudoDrive(target))
        return target.size() > 6 ? std::string(target) : std::string();
    for (std::string_view prefix : {"/dev/sr", "/dev/scd"}) {
        if (target.size() > prefix.size() && target.substr(0, prefix.size()) == prefix &&
            std::all_of(target.begin() + prefix.size(), target.end(),
                        [](char c) { return c >= '0' && c <= '9'; }))
            return std::string(target);
    }
    return {};
}

bool IsPseudoDrive(std::string_view address) {
    return address.substr(0, 6) == "stdio:";
}

std::string CurrentRecorderAddress() {
    std::lock_guard lock(Recorders().mutex);
    return Recorders().address;
}

} // namespace burner

namespace engine {

using burner::Recorders;

int SetDevice(char16_t driveLetter) {
    std::string address;
    if (driveLetter < 0x80) {
        const char name[3] = {static_cast<char>(driveLetter), ':', 0};
        address = burner::RecorderAddressOf(port::FirstDosDeviceTarget(name));
    }
    std::lock_guard lock(Recorders().mutex);
    Recorders().address = address;
    return address.empty() ? burner::NoRecorder() : 0;
}

int GetDeviceInformation(char vendor[8], char product[16], char revision[8]) {
    const std::string address = burner::CurrentRecorderAddress();
    if (address.empty())
        return burner::NoRecorder();
    burner::Identity id{};
    struct stat st {};
    const bool real = !burner::IsPseudoDrive(address);
    if (real && ::stat(address.c_str(), &st) != 0)
        return static_cast<int>(port::ErrorFromErrno(errno));
    const auto key = std::make_pair(address, real ? st.st_rdev : dev_t{});
    bool known = false;
    if (real) {
        std::lock_guard lock(Recorders().mutex);
        auto it = Recorders().cache.find(key);
        if ((known = it != Recorders().cache.end()))
            id = it->second;
    }
    if (!known) {
        if (!burner::ReadIdentity(address, id))
            return static_cast<int>(port::ERROR_NOT_READY);
        if (real) {
            std::lock_guard lock(Recorders().mutex);
            Recorders().cache[key] = id;
        }
    }
    if (vendor)
        std::memcpy(vendor, id.vendor, sizeof id.vendor);
    if (product)
        std::memcpy(product, id.product, sizeof id.product);
    if (revision)
        std::memcpy(revision, id.revision, sizeof id.revision);
    return 0;
}

int EjectDevice() {
    const std::string address = burner::CurrentRecorderAddress();
    if (address.empty())
        return burner::NoRecorder();
    return burner::IsPseudoDrive(address) ? 0 : burner::TrayRequest(address, CDROMEJECT);
}

int CloseDevice() {
    const std::string address = burner::CurrentRecorderAddress();
    if (address.empty())
        return burner::NoRecorder();
    return burner::IsPseudoDrive(address) ? 0 : burner::TrayRequest(address, CDROMCLOSETRAY);
}

} // namespace engine
