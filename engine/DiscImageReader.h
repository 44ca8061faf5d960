// The disc image reader: copies the volume of a disc in an optical drive,
// sector for sector, into an image file, on a worker thread of its own at
// lower priority. It opens no window: whoever drives it (the create page,
// spindle-cli copy-disc) hears of buttons, progress, status and the end, and
// answers its questions, through an observer.
//
// Every chunk of 512 KiB is read at its own offset. A chunk that cannot be
// read whole is read again sector by sector (2048 bytes), so that every
// readable sector lands at its true place and only the unreadable ones are
// zeros; those are counted and listed beside the image in IMAGE.badsectors.
// The image is exactly as long as the volume when the copy ends well. Chunks
// of zeros are not written but skipped, so the image of a sparse source is
// sparse too.
//
// Nothing at the image's path changes until the copy is whole: the size of
// the disc is learnt first, the copy is written to IMAGE.part beside it (its
// list to IMAGE.part.badsectors), and only a whole copy is renamed over the
// image (an older image and its list go then). A copy that stops or fails
// keeps what it wrote as IMAGE.part.
#pragma once

#include "engine/Job.h"
#include "port/Errors.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace engine {

inline constexpr std::uint32_t kDiscChunkBytes = 524288;
inline constexpr std::uint32_t kDiscSectorBytes = 2048;

// The copy speaks to its user through engine::JobObserver: progress in
// percent, the status line (Preparing, then Reading with the MiB read, the
// volume's MiB and the unreadable sectors; Idle or Blank when it shows
// nothing), questions and notes (CopyMessage below), and the end, whose
// outcome is ERROR_SUCCESS for a whole copy, ERROR_OPERATION_ABORTED for a
// stop, else the error of the failed step with the path it concerns.

// What the reader tells its user, with the box it belongs in: the `what` of
// its questions (engine/Job.h).
enum class CopyMessage {
    SelectDrive,        // warning: no drive chosen
    CannotOpenDrive,    // warning: `path` is the device path, `error` why
    NoDisc,             // warning: nothing to copy in drive `path` ("R:"), `error` why
    SameAsSource,       // warning: `path`, which the copy would write, is the disc itself
    OverwriteImage,     // question: `path` exists
    CannotCreateFile,   // information: `path` cannot be created, `error` why
    CannotCreateBuffer, // warning: no memory for the buffer
    ReadError,          // question: go on past unreadable sectors?
    LabelFailed,        // warning: the image `path` is whole but its new label was not written
    Done,               // information: the whole volume was copied
    DoneWithBadSectors, // information: copied; `count` sectors unreadable, listed in `path`
    ListFailed,         // information: not copied: the list of `count` unreadable sectors
                        // could not be written to `path`, `error` why
    Failed,             // information: the volume was not copied whole; `path` is the
                        // partial image kept (empty: none), `error` a failed write's
    NewLabel,           // text: the label the image is to carry (`path`: the disc's),
                        // asked once the copy loop has ended
};

inline CopyMessage CopyMessageOf(const engine::JobQuestion& q) {
    return static_cast<CopyMessage>(q.what);
}

// How a copy ended.
enum class CopyOutcome {
    NotStarted, // ended before the copy loop (steps that show their own message)
    Stopped,    // the user stopped it; the partial image is kept
    Done,       // the whole volume is in the image
    Failed,     // the loop ended before the end of the volume
};

struct CopyResult {
    CopyOutcome outcome = CopyOutcome::NotStarted;
    std::int64_t discSize = 0; // bytes of the volume, 0 when unknown
    std::int64_t copied = 0;   // bytes of the volume now in the image
    std::int64_t unreadable = 0;
    bool writeFailed = false;
    bool listFailed = false;  // the list of unreadable sectors could not be written
    bool labelFailed = false; // a new label was asked for and could not be written
    port::ErrorCode error = port::ERROR_SUCCESS; // of the step that failed
    std::u16string errorPath;                    // the path that error concerns
    std::u16string partialPath; // the partial image kept by a copy that did not end well
};

struct DiscCopyJob {
    std::u16string drive;     // text of the chosen drive item; its first character is the letter
    std::u16string imagePath; // image file to write
    std::u16string discLabel; // the disc's label as read when the drive was chosen
};

class CDiscImageReader {
public:
    CDiscImageReader();
    // Asks a running copy to stop; the worker ends on its own.
    ~CDiscImageReader();
    CDiscImageReader(const CDiscImageReader&) = delete;
    CDiscImageReader& operator=(const CDiscImageReader&) = delete;

    // Starts a copy on a worker thread of its own (nice 10) and returns at
    // once; nothing waits for the thread. False, with nothing started, while
    // a copy of this reader runs.
    bool Start(DiscCopyJob job, std::shared_ptr<engine::JobObserver> observer);
    // The copy ends at the top of its next pass (or next sector when reading
    // sector by sector) without a message, keeping the partial image
    // (IMAGE.part) unless nothing was copied yet.
    void Stop();
    bool IsRunning() const;

    // One copy on the calling thread: the worker's body.
    CopyResult ReadDiscToImage(const DiscCopyJob& job, engine::JobObserver& observer);

    // Once set (the user chose to go on after a read error, or the command
    // line asked for it), read errors of this and every later copy are
    // counted without a question.
    void SetIgnoreReadErrors(bool ignore);
    bool IgnoresReadErrors() const;

    // Bytes of the volume and of it copied so far, for a progress display of
    // its own (any thread).
    std::int64_t DiscSize() const;
    std::int64_t BytesCopied() const;

    // The flags a copy shares with its driver, kept apart from the reader so
    // that a worker may outlive it.
    struct Shared {
        std::atomic<int> m_bStop{1}; // 1 when idle or asked to stop
        std::atomic<int> m_bIgnoreReadErrors{0};
        std::atomic<bool> m_running{false};
        std::atomic<std::int64_t> m_discSize{0};
        std::atomic<std::int64_t> m_copied{0};
    };

private:
    std::shared_ptr<Shared> m_shared;
};

// One copy as a job: Run copies on the calling thread and returns the
// outcome it also hands to OnEnd; Stop may come from any thread.
class CDiscCopy : public engine::Job {
public:
    CDiscCopy(DiscCopyJob job, std::shared_ptr<CDiscImageReader::Shared> shared)
        : m_job(std::move(job)), m_shared(std::move(shared)) {}
    engine::JobKind Kind() const override { return engine::JobKind::DiscCopy; }
    engine::JobOutcome Run(engine::JobObserver& observer) override;
    void Stop() override;
    // What the last Run did, in detail.
    const CopyResult& Result() const { return m_result; }

private:
    DiscCopyJob m_job;
    std::shared_ptr<CDiscImageReader::Shared> m_shared;
    CopyResult m_result;
};

// The progress position at the top of a pass: pass x 51,200 / disc KiB in
// 64-bit arithmetic, at most 100 (100 when the size is below 1 KiB).
int CopyPercent(std::int64_t pass, std::int64_t discKiB);

// Sector numbers as lines of ranges ("16", "100-103"), ascending, each ending
// in a line feed. `sectors` must be ascending.
std::string FormatSectorRanges(const std::vector<std::int64_t>& sectors);

// The list file written beside an image: the image path + ".badsectors".
std::u16string BadSectorListPath(const std::u16string& imagePath);

// Where a copy is written until it is whole, and kept when it is not: the
// image path + ".part".
std::u16string PartialImagePath(const std::u16string& imagePath);

} // namespace engine
