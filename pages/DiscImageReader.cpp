#include "pages/DiscImageReader.h"

#include "pages/ImageWriter.h"
#include "port/DriveFiles.h"
#include "port/DriveInfo.h"
#include "port/LastError.h"
#include "port/Utf.h"
#include "vdrive/VolumeLabel.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kIdYes = 6;
// Below-normal priority of the worker: the desktop stays responsive.
constexpr int kWorkerNice = 10;
// Passes between two status updates, plus one.
constexpr int kPassesPerStatus = 11;
constexpr std::size_t kPageBytes = 4096;

using Shared = CDiscImageReader::Shared;

bool PathExists(const std::u16string& path) {
    struct stat st {};
    return !path.empty() && ::stat(port::ToUtf8(path).c_str(), &st) == 0;
}

void DeletePath(const std::u16string& path) {
    ::unlink(port::ToUtf8(path).c_str());
}

// Reads `size` bytes at `offset` of the device; `got` says how many arrived
// before an error or the end of the medium.
bool ReadAt(port::HANDLE device, std::int64_t offset, char* buffer, std::uint32_t size,
            std::uint32_t& got) {
    got = 0;
    return port::SetFilePointerEx(device, offset, nullptr, port::FILE_BEGIN) &&
           port::ReadFile(device, buffer, size, &got, nullptr);
}

// Reads again, sector by sector, what a chunk read at `offset` did not
// deliver (from `good` bytes on). Unreadable sectors become zeros and go on
// the list. False when a stop was asked meanwhile.
bool RereadBySector(port::HANDLE device, std::int64_t offset, char* buffer, std::uint32_t size,
                    std::uint32_t good, std::vector<std::int64_t>& bad,
                    const std::atomic<int>& stop) {
    for (std::uint32_t at = good / kDiscSectorBytes * kDiscSectorBytes; at < size;
         at += kDiscSectorBytes) {
        if (stop.load())
            return false;
        const std::uint32_t n = std::min(kDiscSectorBytes, size - at);
        std::uint32_t got = 0;
        if (ReadAt(device, offset + at, buffer + at, n, got) && got == n)
            continue;
        std::memset(buffer + at, 0, n);
        bad.push_back((offset + at) / kDiscSectorBytes);
    }
    return true;
}

bool WriteBadSectorList(const std::u16string& imagePath, const std::vector<std::int64_t>& bad) {
    port::UniqueHandle file(port::CreateFileW(BadSectorListPath(imagePath).c_str(),
                                              port::GENERIC_WRITE, 0, nullptr, port::CREATE_ALWAYS,
                                              0, nullptr));
    if (!file.valid())
        return false;
    const std::string text = FormatSectorRanges(bad);
    std::uint32_t written = 0;
    return port::WriteFile(file.get(), text.data(), static_cast<std::uint32_t>(text.size()),
                           &written, nullptr);
}

// One copy, step by step; the working state lives here.
class CopyRun {
public:
    CopyRun(Shared& shared, const DiscCopyJob& job, CDiscCopyObserver& observer)
        : m_shared(shared), m_job(job), m_observer(observer) {}

    CopyResult Run();

private:
    enum class LoopEnd { Volume, Declined, WriteFailed, Stopped };

    void Status(CopyStatus::Kind kind) {
        CopyStatus status;
        status.kind = kind;
        m_observer.OnStatus(status);
    }
    void ReadingStatus(std::int64_t mibRead) {
        m_observer.OnStatus({CopyStatus::Kind::Reading, mibRead, m_discKiB / 1024,
                             static_cast<std::int64_t>(m_bad.size())});
    }
    void Progress(int percent) {
        if (percent != m_progress)
            m_observer.OnProgress(percent);
        m_progress = percent;
    }
    int Say(CopyMessage message, std::u16string path = {}, port::ErrorCode error = 0) {
        CopyNote note;
        note.message = message;
        note.path = std::move(path);
        note.error = error;
        return m_observer.OnMessage(note);
    }
    bool Open();
    LoopEnd CopyLoop();
    void UpdateOnPass(std::int64_t pass, std::time_t start);

    Shared& m_shared;
    const DiscCopyJob& m_job;
    CDiscCopyObserver& m_observer;
    CopyResult m_result;

    port::UniqueHandle m_device;
    std::unique_ptr<CImageWriter> m_image;
    struct FreeBuffer {
        void operator()(char* p) const { std::free(p); }
    };
    std::unique_ptr<char, FreeBuffer> m_buffer;
    std::int64_t m_discKiB = 0;
    std::int64_t m_sinceUpdate = 0;
    int m_progress = -1;
    std::vector<std::int64_t> m_bad;
};

// Steps before the copy loop; each failure has told the user already.
bool CopyRun::Open() {
    if (m_job.drive.empty()) {
        Say(CopyMessage::SelectDrive);
        Status(CopyStatus::Kind::Blank);
        return false;
    }
    char16_t letter = m_job.drive[0];
    if (letter >= u'a' && letter <= u'z')
        letter = static_cast<char16_t>(letter - u'a' + u'A');
    const std::u16string device = port::DrivePath(letter);
    m_device.reset(port::CreateFileW(device.c_str(), port::GENERIC_READ,
                                     port::FILE_SHARE_READ | port::FILE_SHARE_WRITE, nullptr,
                                     port::OPEN_EXISTING, 0, nullptr));
    if (!m_device.valid()) {
        Say(CopyMessage::CannotOpenDrive, device, port::GetLastError());
        Status(CopyStatus::Kind::Empty);
        return false;
    }
    if (PathExists(m_job.imagePath)) {
        if (Say(CopyMessage::OverwriteImage, m_job.imagePath) != kIdYes) {
            Status(CopyStatus::Kind::Empty);
            return false;
        }
        DeletePath(m_job.imagePath);
    }
    m_image = CImageWriter::Create(m_job.imagePath);
    if (!m_image) {
        Say(CopyMessage::CannotCreateFile, m_job.imagePath, port::GetLastError());
        Status(CopyStatus::Kind::Empty);
        return false;
    }
    // A list of an earlier copy to this path does not describe the new image.
    DeletePath(BadSectorListPath(m_job.imagePath));
    // Page-aligned: the kernel copies into and out of it at full speed.
    m_buffer.reset(static_cast<char*>(std::aligned_alloc(kPageBytes, kDiscChunkBytes)));
    if (!m_buffer) {
        Say(CopyMessage::CannotCreateBuffer);
        Status(CopyStatus::Kind::Empty);
        return false; // the empty image file stays
    }
    return true;
}

// Progress and status at the top of a pass: nothing in the first second,
// then the status at most every 12th pass.
void CopyRun::UpdateOnPass(std::int64_t pass, std::time_t start) {
    if (std::time(nullptr) - start < 1) {
        Progress(0);
    } else if (m_sinceUpdate < kPassesPerStatus) {
        ++m_sinceUpdate;
    } else {
        Progress(CopyPercent(pass, m_discKiB));
        ReadingStatus(pass / 2);
        m_sinceUpdate = 0;
    }
}

CopyRun::LoopEnd CopyRun::CopyLoop() {
    const std::int64_t size = m_result.discSize;
    const std::time_t start = std::time(nullptr);
    char* buffer = m_buffer.get();
    std::int64_t pass = 0;
    while (m_result.copied < size) {
        ++pass;
        if (m_shared.m_bStop.load())
            return LoopEnd::Stopped;
        UpdateOnPass(pass, start);
        const std::int64_t offset = m_result.copied;
        const auto want =
            static_cast<std::uint32_t>(std::min<std::int64_t>(kDiscChunkBytes, size - offset));
        std::uint32_t got = 0;
        if (!ReadAt(m_device.get(), offset, buffer, want, got) || got < want) {
            if (!m_shared.m_bIgnoreReadErrors.load()) {
                if (Say(CopyMessage::ReadError) != kIdYes)
                    return LoopEnd::Declined;
                m_shared.m_bIgnoreReadErrors.store(1);
            }
            if (!RereadBySector(m_device.get(), offset, buffer, want, got, m_bad, m_shared.m_bStop))
                return LoopEnd::Stopped;
        }
        if (!m_image->Write(buffer, want)) {
            m_result.error = port::GetLastError();
            return LoopEnd::WriteFailed;
        }
        m_result.copied += want;
        m_shared.m_copied.store(m_result.copied);
    }
    return LoopEnd::Volume;
}

CopyResult CopyRun::Run() {
    if (!Open())
        return m_result;
    m_observer.OnCopying(true);
    Progress(0);
    Status(CopyStatus::Kind::Preparing);
    std::memset(m_buffer.get(), 0, kDiscChunkBytes);

    std::uint64_t total = 0;
    const std::u16string root{m_job.drive[0], u':', u'\\'};
    if (!port::GetDiskFreeSpaceExW(root.c_str(), nullptr, &total, nullptr))
        total = 0;
    m_result.discSize = static_cast<std::int64_t>(total);
    m_discKiB = m_result.discSize >> 10;
    m_shared.m_discSize.store(m_result.discSize);
    m_shared.m_copied.store(0);

    LoopEnd end = CopyLoop();
    // What was written stays; the image ends where the copy stopped.
    if (!m_image->Finish() && end != LoopEnd::WriteFailed) {
        m_result.error = port::GetLastError();
        end = LoopEnd::WriteFailed;
    }
    m_result.writeFailed = end == LoopEnd::WriteFailed;
    m_result.unreadable = static_cast<std::int64_t>(m_bad.size());
    const bool listed = !m_bad.empty() && WriteBadSectorList(m_job.imagePath, m_bad);
    m_image.reset();
    m_device.reset();
    m_buffer.reset();

    if (end == LoopEnd::Stopped) {
        m_result.outcome = CopyOutcome::Stopped;
        Progress(0);
        Status(CopyStatus::Kind::Empty);
        m_observer.OnCopying(false);
        return m_result;
    }

    const std::u16string label = m_observer.NewLabel();
    if (label != m_job.discLabel)
        m_result.labelFailed = !vdrive::WriteVolumeLabel(m_job.imagePath, label);
    m_shared.m_bStop.store(1);
    m_observer.OnCopying(false);

    if (end == LoopEnd::Volume && m_result.discSize > 0) {
        m_result.outcome = CopyOutcome::Done;
        Progress(100);
        ReadingStatus(m_discKiB / 1024);
        CopyNote note;
        note.message = m_bad.empty() ? CopyMessage::Done : CopyMessage::DoneWithBadSectors;
        note.count = m_result.unreadable;
        if (listed)
            note.path = BadSectorListPath(m_job.imagePath);
        m_observer.OnMessage(note);
    } else {
        m_result.outcome = CopyOutcome::Failed;
        Say(CopyMessage::Failed, {}, m_result.error);
    }
    Progress(0);
    Status(CopyStatus::Kind::Empty);
    m_observer.OnFinished();
    return m_result;
}

} // namespace

CDiscImageReader::CDiscImageReader() : m_shared(std::make_shared<Shared>()) {}

CDiscImageReader::~CDiscImageReader() {
    if (m_shared->m_running.load())
        m_shared->m_bStop.store(1);
}

bool CDiscImageReader::Start(DiscCopyJob job, std::shared_ptr<CDiscCopyObserver> observer) {
    bool idle = false;
    if (!observer || !m_shared->m_running.compare_exchange_strong(idle, true))
        return false;
    // Cleared here rather than once the copy loop begins, so that a stop
    // asked while a question of the first steps is open is not lost.
    m_shared->m_bStop.store(0);
    try {
        std::thread([shared = m_shared, job = std::move(job), observer = std::move(observer)] {
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kWorkerNice);
            const CopyResult result = CopyRun(*shared, job, *observer).Run();
            shared->m_bStop.store(1);
            shared->m_running.store(false);
            observer->OnEnded(result);
        }).detach();
    } catch (const std::system_error&) {
        m_shared->m_bStop.store(1);
        m_shared->m_running.store(false);
        return false;
    }
    return true;
}

void CDiscImageReader::Stop() {
    m_shared->m_bStop.store(1);
}

bool CDiscImageReader::IsRunning() const {
    return m_shared->m_running.load();
}

CopyResult CDiscImageReader::ReadDiscToImage(const DiscCopyJob& job, CDiscCopyObserver& observer) {
    m_shared->m_bStop.store(0);
    CopyResult result = CopyRun(*m_shared, job, observer).Run();
    m_shared->m_bStop.store(1);
    return result;
}

void CDiscImageReader::SetIgnoreReadErrors(bool ignore) {
    m_shared->m_bIgnoreReadErrors.store(ignore ? 1 : 0);
}

bool CDiscImageReader::IgnoresReadErrors() const {
    return m_shared->m_bIgnoreReadErrors.load() != 0;
}

std::int64_t CDiscImageReader::DiscSize() const {
    return m_shared->m_discSize.load();
}

std::int64_t CDiscImageReader::BytesCopied() const {
    return m_shared->m_copied.load();
}

int CopyPercent(std::int64_t pass, std::int64_t discKiB) {
    // 64-bit throughout: pass x 51,200 passes 2^31 on discs of about 20 GB.
    const std::int64_t percent = discKiB > 0 ? pass * 51200 / discKiB : 100;
    return static_cast<int>(std::clamp<std::int64_t>(percent, 0, 100));
}

std::string FormatSectorRanges(const std::vector<std::int64_t>& sectors) {
    std::string text;
    for (std::size_t i = 0; i < sectors.size();) {
        std::size_t j = i;
        while (j + 1 < sectors.size() && sectors[j + 1] == sectors[j] + 1)
            ++j;
        text += std::to_string(sectors[i]);
        if (j > i)
            text += "-" + std::to_string(sectors[j]);
        text += '\n';
        i = j + 1;
    }
    return text;
}

std::u16string BadSectorListPath(const std::u16string& imagePath) {
    return imagePath + u".badsectors";
}
