#include "engine/DiscImageReader.h"

#include "engine/ImageWriter.h"
#include "port/DriveFiles.h"
#include "port/DriveInfo.h"
#include "port/DriveLetter.h"
#include "port/LastError.h"
#include "port/SectorRead.h"
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

namespace engine {

namespace {

// Below-normal priority of the worker: the desktop stays responsive.
constexpr int kWorkerNice = 10;
// Passes between two status updates, plus one.
constexpr int kPassesPerStatus = 11;
constexpr std::size_t kPageBytes = 4096;

using Shared = CDiscImageReader::Shared;

bool PathExists(const std::u16string& path) {
    struct stat st {};
    return !path.empty() && ::lstat(port::ToUtf8(path).c_str(), &st) == 0;
}

void DeletePath(const std::u16string& path) {
    ::unlink(port::ToUtf8(path).c_str());
}

bool RenamePath(const std::u16string& from, const std::u16string& to) {
    return ::rename(port::ToUtf8(from).c_str(), port::ToUtf8(to).c_str()) == 0 ||
           port::FailWithErrno();
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
// deliver (from `good` bytes on), each sector alone (not through the page
// cache of a drive, whose 4 KiB pages would fail a readable sector with its
// unreadable neighbour). Unreadable sectors become zeros and go on the list.
// False when a stop was asked meanwhile.
bool RereadBySector(port::HANDLE device, std::int64_t offset, char* buffer, std::uint32_t size,
                    std::uint32_t good, std::vector<std::int64_t>& bad,
                    const std::atomic<int>& stop) {
    for (std::uint32_t at = good / kDiscSectorBytes * kDiscSectorBytes; at < size;
         at += kDiscSectorBytes) {
        if (stop.load())
            return false;
        const std::uint32_t n = std::min(kDiscSectorBytes, size - at);
        std::uint32_t got = 0;
        if (port::ReadSectorsAt(device, offset + at, buffer + at, n, &got) && got == n)
            continue;
        std::memset(buffer + at, 0, n);
        bad.push_back((offset + at) / kDiscSectorBytes);
    }
    return true;
}

// Writes the list whole, or leaves none (a cut list would call sectors good).
bool WriteBadSectorList(const std::u16string& listPath, const std::vector<std::int64_t>& bad) {
    port::UniqueHandle file(port::CreateFileW(listPath.c_str(), port::GENERIC_WRITE, 0, nullptr,
                                              port::CREATE_ALWAYS, 0, nullptr));
    const std::string text = FormatSectorRanges(bad);
    std::uint32_t written = 0;
    if (file.valid() &&
        port::WriteFile(file.get(), text.data(), static_cast<std::uint32_t>(text.size()), &written,
                        nullptr) &&
        written == text.size())
        return true;
    const port::ErrorCode error = port::GetLastError();
    file.reset();
    DeletePath(listPath);
    return port::FailWith(error);
}

// One copy, step by step; the working state lives here.
class CopyRun {
public:
    CopyRun(Shared& shared, const DiscCopyJob& job, engine::JobObserver& observer)
        : m_shared(shared), m_job(job), m_observer(observer),
          m_partial(PartialImagePath(job.imagePath)) {}

    CopyResult Run();

private:
    enum class LoopEnd { Volume, Declined, WriteFailed, Stopped };

    using Step = engine::JobStatus::Step;

    void Status(Step step) {
        engine::JobStatus status;
        status.step = step;
        m_observer.OnStatus(status);
    }
    void ReadingStatus(std::int64_t mibRead) {
        engine::JobStatus status;
        status.step = Step::Reading;
        status.done = mibRead << 20;
        status.total = (m_discKiB / 1024) << 20;
        status.unreadable = static_cast<std::int64_t>(m_bad.size());
        m_observer.OnStatus(status);
    }
    void Progress(int percent) {
        if (percent != m_progress)
            m_observer.OnProgress(static_cast<float>(percent));
        m_progress = percent;
    }
    // Shows a note, or asks: true for a Yes.
    bool Say(CopyMessage message, std::u16string path = {}, port::ErrorCode error = 0,
             std::int64_t count = 0) {
        engine::JobQuestion q;
        q.what = static_cast<int>(message);
        q.yesNo = message == CopyMessage::OverwriteImage || message == CopyMessage::ReadError;
        q.path = std::move(path);
        q.error = error;
        q.count = count;
        return m_observer.OnQuestion(q) == engine::Answer::Yes;
    }
    // Says why the copy cannot start; the status line empties.
    bool Refuse(CopyMessage message, std::u16string path = {}, port::ErrorCode error = 0) {
        m_result.error = error;
        m_result.errorPath = path;
        Say(message, std::move(path), error);
        Status(Step::Idle);
        return false;
    }
    bool Open();
    bool LearnSize(char16_t letter);
    bool CheckSource(const std::u16string& device);
    bool CreatePartial();
    LoopEnd CopyLoop();
    void UpdateOnPass(std::int64_t pass, std::time_t start);
    bool PutInPlace();
    void KeepPartial();
    void SayEnd(LoopEnd end, bool placed);

    Shared& m_shared;
    const DiscCopyJob& m_job;
    engine::JobObserver& m_observer;
    const std::u16string m_partial;
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

// Steps before the copy loop; each failure has told the user already and
// left every file as it was.
bool CopyRun::Open() {
    if (m_job.drive.empty()) {
        m_result.error = port::ERROR_INVALID_DRIVE;
        Say(CopyMessage::SelectDrive);
        Status(Step::Blank);
        return false;
    }
    const char16_t letter = port::UpperLetter(m_job.drive[0]);
    const std::u16string device = port::DrivePath(letter);
    m_device.reset(port::CreateFileW(device.c_str(), port::GENERIC_READ,
                                     port::FILE_SHARE_READ | port::FILE_SHARE_WRITE, nullptr,
                                     port::OPEN_EXISTING, 0, nullptr));
    if (!m_device.valid())
        return Refuse(CopyMessage::CannotOpenDrive, device, port::GetLastError());
    if (!LearnSize(letter) || !CheckSource(device))
        return false;
    if (PathExists(m_job.imagePath) && !Say(CopyMessage::OverwriteImage, m_job.imagePath)) {
        m_result.error = port::ERROR_FILE_EXISTS;
        m_result.errorPath = m_job.imagePath;
        Status(Step::Idle);
        return false;
    }
    // Page-aligned: the kernel copies into and out of it at full speed.
    m_buffer.reset(static_cast<char*>(std::aligned_alloc(kPageBytes, kDiscChunkBytes)));
    if (!m_buffer)
        return Refuse(CopyMessage::CannotCreateBuffer, {}, port::ERROR_NOT_ENOUGH_MEMORY);
    return CreatePartial();
}

// The size of the disc's volume: no disc, or nothing on it, ends the copy
// before any file is touched.
bool CopyRun::LearnSize(char16_t letter) {
    std::uint64_t total = 0;
    const std::u16string root{letter, u':', u'\\'};
    if (!port::GetDiskFreeSpaceExW(root.c_str(), nullptr, &total, nullptr))
        return Refuse(CopyMessage::NoDisc, std::u16string{letter, u':'}, port::GetLastError());
    if (total == 0)
        return Refuse(CopyMessage::NoDisc, std::u16string{letter, u':'}, port::ERROR_NOT_READY);
    m_result.discSize = static_cast<std::int64_t>(total);
    return true;
}

// The copy reads the disc's data as the drive serves it, and never writes or
// removes a file that is that data (a stand-in disc's file, or the image a
// virtual drive holds).
bool CopyRun::CheckSource(const std::u16string& device) {
    for (const std::u16string& path : {m_job.imagePath, m_partial, BadSectorListPath(m_partial),
                                       BadSectorListPath(m_job.imagePath)}) {
        bool same = false;
        if (!port::ReadsFile(m_device.get(), port::ToUtf8(path), &same))
            return Refuse(CopyMessage::CannotOpenDrive, device, port::GetLastError());
        if (same)
            return Refuse(CopyMessage::SameAsSource, path, port::ERROR_SHARING_VIOLATION);
    }
    return true;
}

// The partial image, new; what an earlier copy to this path left is gone.
bool CopyRun::CreatePartial() {
    DeletePath(m_partial);
    DeletePath(BadSectorListPath(m_partial));
    m_image = CImageWriter::Create(m_partial);
    if (!m_image)
        return Refuse(CopyMessage::CannotCreateFile, m_partial, port::GetLastError());
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
                if (!Say(CopyMessage::ReadError))
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

// A whole copy takes the image's place: its list beside it, the new label in
// it, then the rename over the image, and only then does an older list go.
// False, keeping the partial files, when the list cannot be written or the
// rename fails.
bool CopyRun::PutInPlace() {
    const std::u16string partialList = BadSectorListPath(m_partial);
    const std::u16string list = BadSectorListPath(m_job.imagePath);
    if (!m_bad.empty() && !WriteBadSectorList(partialList, m_bad)) {
        m_result.listFailed = true;
        m_result.error = port::GetLastError();
        return false;
    }
    engine::JobQuestion ask;
    ask.what = static_cast<int>(CopyMessage::NewLabel);
    ask.path = m_job.discLabel;
    const std::u16string label = m_observer.OnAskText(ask);
    if (label != m_job.discLabel)
        m_result.labelFailed = !vdrive::WriteVolumeLabel(m_partial, label);
    if (!RenamePath(m_partial, m_job.imagePath)) {
        m_result.error = port::GetLastError();
        return false;
    }
    if (m_bad.empty()) {
        DeletePath(list);
    } else if (!RenamePath(partialList, list)) {
        m_result.listFailed = true;
        m_result.error = port::GetLastError();
        DeletePath(list);
        DeletePath(partialList);
        return false;
    }
    return true;
}

// A copy that did not end well keeps what it wrote, with the list of its
// unreadable sectors, under the partial name; nothing copied, nothing kept.
void CopyRun::KeepPartial() {
    if (!PathExists(m_partial))
        return;
    if (m_result.copied == 0) {
        DeletePath(m_partial);
        return;
    }
    m_result.partialPath = m_partial;
    if (!m_bad.empty() && !m_result.listFailed)
        WriteBadSectorList(BadSectorListPath(m_partial), m_bad); // none when it cannot be
}

void CopyRun::SayEnd(LoopEnd end, bool placed) {
    if (placed) {
        m_result.outcome = CopyOutcome::Done;
        Progress(100);
        ReadingStatus(m_discKiB / 1024);
        if (m_result.labelFailed)
            Say(CopyMessage::LabelFailed, m_job.imagePath);
        if (m_bad.empty())
            Say(CopyMessage::Done);
        else
            Say(CopyMessage::DoneWithBadSectors, BadSectorListPath(m_job.imagePath), 0,
                m_result.unreadable);
        return;
    }
    m_result.outcome = CopyOutcome::Failed;
    if (end == LoopEnd::Volume && m_result.listFailed) {
        m_result.errorPath = BadSectorListPath(m_partial);
        Say(CopyMessage::ListFailed, m_result.errorPath, m_result.error, m_result.unreadable);
    } else {
        Say(CopyMessage::Failed, m_result.partialPath, m_result.error);
    }
}

CopyResult CopyRun::Run() {
    if (!Open()) {
        if (m_result.error == port::ERROR_SUCCESS)
            m_result.error = port::ERROR_GEN_FAILURE;
        return m_result;
    }
    Progress(0);
    Status(Step::Preparing);
    std::memset(m_buffer.get(), 0, kDiscChunkBytes);
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
    m_image.reset();
    m_device.reset();
    m_buffer.reset();

    const bool placed = end == LoopEnd::Volume && PutInPlace();
    if (!placed)
        KeepPartial();
    if (end == LoopEnd::Stopped) {
        m_result.outcome = CopyOutcome::Stopped;
        m_result.error = port::ERROR_OPERATION_ABORTED;
        m_result.errorPath = m_result.partialPath;
    } else {
        m_shared.m_bStop.store(1);
        SayEnd(end, placed);
    }
    Progress(0);
    Status(Step::Idle);
    return m_result;
}

// The outcome the observer hears at the end: the error of the step that
// failed and the path it concerns.
engine::JobOutcome OutcomeOf(const CopyResult& r) {
    engine::JobOutcome o;
    o.kind = engine::JobKind::DiscCopy;
    if (r.outcome == CopyOutcome::Done)
        return o;
    o.error = r.error != port::ERROR_SUCCESS ? r.error : port::ERROR_READ_FAULT;
    o.item = port::ToUtf8(r.errorPath.empty() ? r.partialPath : r.errorPath);
    return o;
}

// Holds back the end of a copy on the worker until the reader is idle
// again, so that whoever hears it may start the next copy at once.
class HeldEnd : public engine::JobObserver {
public:
    explicit HeldEnd(engine::JobObserver& next) : m_next(next) {}
    void OnProgress(float percent) override { m_next.OnProgress(percent); }
    void OnStatus(const engine::JobStatus& status) override { m_next.OnStatus(status); }
    engine::Answer OnQuestion(const engine::JobQuestion& q) override {
        return m_next.OnQuestion(q);
    }
    std::u16string OnAskText(const engine::JobQuestion& q) override { return m_next.OnAskText(q); }
    void OnEnd(const engine::JobOutcome& outcome) override { m_outcome = outcome; }
    void Release() { m_next.OnEnd(m_outcome); }

private:
    engine::JobObserver& m_next;
    engine::JobOutcome m_outcome;
};

} // namespace

engine::JobOutcome CDiscCopy::Run(engine::JobObserver& observer) {
    m_result = CopyRun(*m_shared, m_job, observer).Run();
    const engine::JobOutcome outcome = OutcomeOf(m_result);
    observer.OnEnd(outcome);
    return outcome;
}

void CDiscCopy::Stop() {
    m_stop = true;
    m_shared->m_bStop.store(1);
}

CDiscImageReader::CDiscImageReader() : m_shared(std::make_shared<Shared>()) {}

CDiscImageReader::~CDiscImageReader() {
    if (m_shared->m_running.load())
        m_shared->m_bStop.store(1);
}

bool CDiscImageReader::Start(DiscCopyJob job, std::shared_ptr<engine::JobObserver> observer) {
    bool idle = false;
    if (!observer || !m_shared->m_running.compare_exchange_strong(idle, true))
        return false;
    // Cleared here rather than once the copy loop begins, so that a stop
    // asked while a question of the first steps is open is not lost.
    m_shared->m_bStop.store(0);
    try {
        std::thread([shared = m_shared, job = std::move(job), observer = std::move(observer)] {
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kWorkerNice);
            HeldEnd held(*observer);
            CDiscCopy(job, shared).Run(held);
            shared->m_bStop.store(1);
            shared->m_running.store(false);
            held.Release();
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

CopyResult CDiscImageReader::ReadDiscToImage(const DiscCopyJob& job,
                                             engine::JobObserver& observer) {
    m_shared->m_bStop.store(0);
    CDiscCopy copy(job, m_shared);
    copy.Run(observer);
    m_shared->m_bStop.store(1);
    return copy.Result();
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

std::u16string PartialImagePath(const std::u16string& imagePath) {
    return imagePath + u".part";
}

} // namespace engine
