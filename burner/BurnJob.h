// Burning and erasing on libburn as plain jobs: no window, an observer for
// progress and a stop flag. A job runs on the caller's thread (the engine's
// dialogs and spindle-cli start it on a thread of their own) and returns
// its outcome; Stop() may be called from any thread.
//
// Before a burn writes anything it checks the medium: a missing medium, a
// closed or otherwise unwritable one, or one with less free space than the
// image needs ends the job with that outcome and leaves the disc as it was.
// A malformed cue sheet is refused before the recorder is even opened.
#pragma once

#include "burner/CueSheet.h"
#include "engine/Job.h"
#include "port/Errors.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace burn {
struct burn_write_opts;
}

namespace burner {

class GrabbedDrive;
class DiscLayout;
struct TrackRange;

enum class BurnError {
    None,
    Cancelled,
    NoRecorder, // the address opens no recorder
    NoMedium,
    // the drive reads discs but cannot write (or erase) any
    ReadOnlyDrive,
    NotWritable, // closed, read-only or of a kind the image cannot go on
    TooBig,      // the image needs more than the medium's free space
    NotErasable,
    BadImage,     // missing or unreadable image, malformed cue sheet
    VerifyFailed, // what was read back differs from the image
    DriveError,   // the recorder failed while working
};

// What is wrong with one raw sector of a track's declared mode.
enum class SectorFault {
    None,
    NoSync,   // no sync pattern of a raw data sector
    NotMode1, // a MODE1/2352 track's sector of another mode
    NotMode2, // a MODE2/2352 track's sector of another mode
    Form2,    // a mode 2 form 2 sector, which cannot be written as data
};

// What is wrong with an image file (item) read for a burn, beyond its not
// opening at all.
enum class ImageFault {
    None,
    ReadFailed,      // the read at `byte` failed (osError)
    EndsEarly,       // the file ends at `byte`, before track `track` does
    BadSector,       // sector `sector` of track `track`, at `byte`: sectorFault
    CheckStopped,    // the check of the sectors was stopped
    UnsupportedMode, // line `line` of the cue sheet declares MODE2/2336
    NotFound,        // the image file is missing or not a file
    NothingToBurn,   // neither an image nor a cue sheet was named
    Empty,           // the file holds no data
    NotRegular,      // the file is a device, a pipe or a folder
    TrackRefused,    // the recorder's track would not take the file as its data
    ChangedInVerify, // the file changed while the disc was compared with it
};

// Where the disc read back differs from the image (track, byte of the track).
enum class VerifyFault { None, Unreadable, Differs };

// What a disc check decides from the medium's state alone.
enum class MediumState { Unready, Blank, Empty, Appendable, Full, Unsuitable };

// An outcome is a number (error) plus what it concerns: the file or
// recorder address (item), the system's errno when a file cannot be opened,
// what is wrong with an image file and where, and the library's own words.
// Describe and Detail make the sentences.
struct BurnOutcome {
    BurnError error = BurnError::None;
    std::string item;             // the file or recorder address concerned
    int osError = 0;              // errno of an item that cannot be opened (or read)
    std::string detail;           // the library's own words
    std::int64_t neededBytes = 0; // TooBig: what the image needs
    std::int64_t freeBytes = 0;   // TooBig: what the medium has
    ImageFault fault = ImageFault::None;
    bool whileWriting = false; // the fault stopped a write under way
    int track = 0;
    int line = 0;            // of the cue sheet
    std::int64_t sector = 0; // counted from the track's first
    std::int64_t byte = 0;   // of the file
    SectorFault sectorFault = SectorFault::None;
    MediumState medium = MediumState::Unready; // NotWritable: the medium found
    VerifyFault verify = VerifyFault::None;    // VerifyFailed: at `track`, `byte`
    bool ok() const { return error == BurnError::None; }
};

inline BurnOutcome Fail(BurnError error, std::string detail = {}) {
    BurnOutcome o;
    o.error = error;
    o.detail = std::move(detail);
    return o;
}

// What is wrong with the image file `path`.
inline BurnOutcome Fail(ImageFault fault, std::string path = {}) {
    BurnOutcome o = Fail(BurnError::BadImage);
    o.fault = fault;
    o.item = std::move(path);
    return o;
}

// A file that cannot be opened (errno) or a recorder at `address` that
// cannot be grabbed (the library's words).
BurnOutcome CannotOpen(BurnError error, std::string path, int osError);
BurnOutcome NoRecorderAt(std::string address, std::string libraryWords);

// The error number of port/Errors.h that stands for an outcome.
port::ErrorCode ErrorNumber(BurnError error);

// Plain English for the command line and the burn-done report.
std::string Describe(const BurnOutcome& outcome);

// The particulars behind the number, in plain English ("\"a.bin\" cannot
// be opened: No such file or directory", what is wrong with which sector of
// an image, the library's words); empty when there are none.
std::string Detail(const BurnOutcome& outcome);

// A job reports through engine::JobObserver: progress of the whole job in
// percent; the status line at each new phase of copy `copy` (1-based) of
// `copies`, and while writing whenever the write buffer's fill changes; one
// question (kAskNextDisc); the end with ErrorNumber(outcome) and its detail.
using BurnPhase = engine::JobStatus::Step; // Preparing, Writing, Closing, Verifying, Erasing

// Before each further copy on a recorder with removable media (the finished
// disc was ejected): Yes once a new disc is in, No to stop. `count`: the copy.
inline constexpr int kAskNextDisc = 1;

// What to burn: a plain image file, or the tracks of a cue sheet.
struct BurnImage {
    std::string isoPath;
    bool isCue = false;
    CueSheet cue;
};

// Reads what the engine's project and path ask to burn: the ISO file at
// isoPath, else the cue sheet at cuePath. None on success, else BadImage
// for the file (item), Detail() saying what is wrong.
BurnOutcome LoadBurnImage(const std::string& isoPath, const std::string& cuePath, BurnImage& out);

struct BurnSettings {
    int speedKBs = 0; // 0: the fastest
    bool simulate = false;
    bool verify = false;
    bool closeDisc = true;
    bool underrunProtection = true;
    bool eject = false;
    int copies = 1;
};

// What a disc check decides from the medium's state alone.
BurnOutcome CheckMedium(MediumState state, std::int64_t freeBytes, std::int64_t neededBytes);

class Job : public engine::Job {
public:
    // Works, then tells the observer the end; Outcome() has it in detail.
    engine::JobOutcome Run(engine::JobObserver& observer) final;
    const BurnOutcome& Outcome() const { return m_outcome; }
    // True for a test run that writes nothing (a simulated burn).
    virtual bool WritesNothing() const { return false; }

protected:
    virtual BurnOutcome Work(engine::JobObserver& observer) = 0;
    static void Phase(engine::JobObserver& observer, BurnPhase phase, int copy, int copies);

private:
    BurnOutcome m_outcome;
};

class BurnJob : public Job {
public:
    BurnJob(std::string address, BurnImage image, BurnSettings settings);
    engine::JobKind Kind() const override {
        return m_settings.simulate ? engine::JobKind::TestBurn : engine::JobKind::Burn;
    }
    bool WritesNothing() const override { return m_settings.simulate; }
    const BurnImage& Image() const { return m_image; }

private:
    // The open image files by path; closed with the table.
    struct FileTable : std::map<std::string, int> {
        FileTable() = default;
        FileTable(const FileTable&) = delete;
        FileTable& operator=(const FileTable&) = delete;
        int& operator[](const std::string& path) { return try_emplace(path, -1).first->second; }
        ~FileTable();
    };
    // What every copy needs to know of the image.
    struct CopyPlan {
        std::int64_t needed = 0;    // bytes on the disc
        std::int64_t dataBytes = 0; // bytes of the data tracks, read back by a verify
        bool verify = false;
    };
    BurnOutcome OpenFiles(std::vector<TrackRange>& ranges, FileTable& files);
    burn::burn_write_opts* WriteOptions(GrabbedDrive& drive, const DiscLayout& layout, int& nwa,
                                        BurnOutcome& outcome) const;
    BurnOutcome WriteCopy(std::unique_ptr<GrabbedDrive>& drive,
                          const std::vector<TrackRange>& ranges, const CopyPlan& plan, int copy,
                          engine::JobObserver& observer);
    BurnOutcome Work(engine::JobObserver& observer) override;

    std::string m_address;
    BurnImage m_image;
    BurnSettings m_settings;
};

class EraseJob : public Job {
public:
    EraseJob(std::string address, bool full, bool eject);
    engine::JobKind Kind() const override { return engine::JobKind::Erase; }

private:
    BurnOutcome Work(engine::JobObserver& observer) override;

    std::string m_address;
    bool m_full;
    bool m_eject;
};

} // namespace burner
