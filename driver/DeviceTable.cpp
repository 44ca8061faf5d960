#include "driver/DeviceTable.h"

#include <algorithm>

namespace driver {

using namespace port;

namespace {
// How long a mount waits for the releases of files closed just before it.
constexpr std::chrono::milliseconds kReleaseGrace(500);
} // namespace

ErrorCode DeviceTable::Open(DeviceId dev, char letter, const AttachRequest& req) {
    std::string path;
    if (ErrorCode e = HostPathFromNtName(req.ntName, path))
        return e;
    auto busy = [&] {
        if (m_devices[DeviceIndex(dev)])
            return true;
        for (const auto& [serial, m] : m_bySerial)
            if (m->letter == letter)
                return true;
        return false;
    };
    std::vector<char> dropped;
    {
        std::unique_lock lock(m_mutex);
        dropped = DropUnboundLocked(lock, dev, letter);
        if (busy())
            return ERROR_BUSY;
    }
    for (char gone : dropped)
        Notify(gone);
    // Indexing may take a while on a big image: done outside the lock, then
    // the checks are made again.
    std::shared_ptr<ImageFile> image;
    if (ErrorCode e = ImageFile::Open(path, image))
        return e;
    {
        std::lock_guard lock(m_mutex);
        if (busy())
            return ERROR_BUSY;
        auto m = std::make_shared<Mount>();
        m->image = std::move(image);
        m->ntName = req.ntName;
        m->device = dev;
        m->letter = letter;
        // 2^32 opens later the numbers wrap; one still in use is skipped.
        while (m_nextSerial == 0 || m_bySerial.count(m_nextSerial))
            ++m_nextSerial;
        m->serial = m_nextSerial++;
        m_devices[DeviceIndex(dev)] = m;
        m_bySerial[m->serial] = m;
    }
    Notify(letter);
    return ERROR_SUCCESS;
}

std::shared_ptr<Mount> DeviceTable::Loaded(DeviceId dev) const {
    std::lock_guard lock(m_mutex);
    return m_devices[DeviceIndex(dev)];
}

std::shared_ptr<Mount> DeviceTable::ByLetter(char letter) const {
    std::lock_guard lock(m_mutex);
    for (const auto& [serial, m] : m_bySerial)
        if (m->letter == letter)
            return m;
    return nullptr;
}

std::shared_ptr<Mount> DeviceTable::BySerial(std::uint32_t serial) const {
    std::lock_guard lock(m_mutex);
    auto it = m_bySerial.find(serial);
    return it == m_bySerial.end() ? nullptr : it->second;
}

std::vector<std::pair<char, std::uint32_t>> DeviceTable::Drives() const {
    std::vector<std::pair<char, std::uint32_t>> out;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& [serial, m] : m_bySerial)
            out.emplace_back(m->letter, serial);
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool DeviceTable::TryRemove(const std::shared_ptr<Mount>& m, std::chrono::milliseconds grace) {
    auto present = [&] { return m_bySerial.count(m->serial) != 0; };
    {
        std::unique_lock lock(m_mutex);
        m_released.wait_for(lock, grace, [&] { return m->openFiles.load() == 0; });
        if (!present())
            return true;
        if (m->openFiles.load() > 0)
            return false;
    }
    // Looked at without the lock: it reads every process's folders.
    if (m_used && m_used(*m))
        return false;
    {
        std::lock_guard lock(m_mutex);
        if (!present())
            return true;
        if (m->openFiles.load() > 0)
            return false;
        m_bySerial.erase(m->serial);
        auto& slot = m_devices[DeviceIndex(m->device)];
        if (slot == m)
            slot.reset();
    }
    Notify(m->letter);
    return true;
}

std::shared_ptr<Mount> DeviceTable::AcquireFile(std::uint32_t serial) {
    std::lock_guard lock(m_mutex);
    auto it = m_bySerial.find(serial);
    if (it == m_bySerial.end())
        return nullptr;
    it->second->openFiles.fetch_add(1);
    return it->second;
}

void DeviceTable::ReleaseFile(Mount& m) {
    {
        std::lock_guard lock(m_mutex);
        m.openFiles.fetch_sub(1);
    }
    m_released.notify_all();
}

bool DeviceTable::WaitUntilUnused(Mount& m, std::chrono::milliseconds grace) {
    {
        std::unique_lock lock(m_mutex);
        if (!m_released.wait_for(lock, grace, [&] { return m.openFiles.load() == 0; }))
            return false;
    }
    return !m_used || !m_used(m);
}

std::vector<char> DeviceTable::DropUnboundLocked(std::unique_lock<std::mutex>& lock, DeviceId dev,
                                                 char letter) {
    std::vector<char> gone;
    if (!m_bound)
        return gone;
    auto unbound = [&](const Mount& m) {
        return (m.device == dev || m.letter == letter) && !m_bound(m.letter, m.device);
    };
    m_released.wait_for(lock, kReleaseGrace, [&] {
        for (const auto& [serial, m] : m_bySerial)
            if (unbound(*m) && m->openFiles.load() > 0)
                return false;
        return true;
    });
    for (auto it = m_bySerial.begin(); it != m_bySerial.end();) {
        const std::shared_ptr<Mount>& m = it->second;
        if (!unbound(*m) || m->openFiles.load() > 0) {
            ++it;
            continue;
        }
        gone.push_back(m->letter);
        auto& slot = m_devices[DeviceIndex(m->device)];
        if (slot == m)
            slot.reset();
        it = m_bySerial.erase(it);
    }
    return gone;
}

void DeviceTable::Notify(char letter) {
    if (Observer* o = m_observer.load())
        o->DriveChanged(letter);
}

} // namespace driver
