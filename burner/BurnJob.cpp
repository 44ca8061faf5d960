#include "burner/BurnJob.h"

#include "burner/DiscLayout.h"
#include "burner/GrabbedDrive.h"
#include "burner/TrackSource.h"
#include "engine/Job.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libburn/libburn.h>

namespace burner {

namespace {

constexpr std::int64_t kMB = 1024 * 1024;

std::vector<TrackRange> Ranges(const BurnImage& image) {
    std::vector<TrackRange> ranges;
    if (!image.isCue) {
        ranges.push_back({image.isoPath, 0, -1, TrackMode::Mode1_2048});
        return ranges;
    }
    for (const CueTrack& t : image.cue.tracks) {
        TrackRange r{t.file, t.offset, t.sectors, t.mode};
        r.track = t.number;
        ranges.push_back(r);
    }
    return ranges;
}

// The bytes the disc needs: each track padded to whole sectors.
std::int64_t NeededBytes(const std::vector<TrackRange>& ranges) {
    std::int64_t total = 0;
    for (const TrackRange& r : ranges) {
        std::int64_t ss = OutputSectorSize(r.mode);
        total += (TrackBytes(r) + ss - 1) / ss * ss;
    }
    return total;
}

// Looks at the image before the recorder is opened: readable, not empty,
// and every sector of every raw track of the declared mode, so that a write
// never starts from an image that would stop it half-way.
BurnOutcome CheckImage(const std::vector<TrackRange>& ranges) {
    for (const TrackRange& r : ranges) {
        BurnOutcome error;
        burn::burn_source* src = OpenTrackSource(r, error);
        if (!src)
            return error;
        burn::burn_source_free(src);
        if (TrackBytes(r) <= 0)
            return Fail(ImageFault::Empty, r.path);
        if (BurnOutcome bad = CheckTrackSectors(r); !bad.ok())
            return bad;
    }
    return {};
}

// Why the write stopped on the image's side, if it did: the first track
// source that could not deliver.
BurnOutcome SourceError(const DiscLayout& layout) {
    for (burn::burn_source* src : layout.sources) {
        BurnOutcome why = TrackSourceError(src);
        if (!why.ok())
            return why;
    }
    return {};
}

const char* SectorWords(SectorFault fault) {
    switch (fault) {
    case SectorFault::None:
        break;
    case SectorFault::NoSync:
        return "the sector has no sync pattern of a raw data sector";
    case SectorFault::NotMode1:
        return "the sector is not a mode 1 sector";
    case SectorFault::NotMode2:
        return "the sector is not a mode 2 sector";
    case SectorFault::Form2:
        return "the sector is a mode 2 form 2 sector, which cannot be written as data";
    }
    return "";
}

// What is wrong with the image file o.item, and where.
std::string ImageWords(const BurnOutcome& o) {
    const std::string file = "\"" + o.item + "\"";
    std::string words;
    switch (o.fault) {
    case ImageFault::None:
        break;
    case ImageFault::ReadFailed:
        words = file + " cannot be read at byte " + std::to_string(o.byte) + ": " +
                std::strerror(o.osError);
        break;
    case ImageFault::EndsEarly:
        words = file + " ends at byte " + std::to_string(o.byte) + ", before track " +
                std::to_string(o.track) + " does" + (o.whileWriting ? " (the file shrank)" : "");
        break;
    case ImageFault::BadSector:
        if (o.whileWriting)
            words = file + ", track " + std::to_string(o.track) + ", sector " +
                    std::to_string(o.sector) + ": " + SectorWords(o.sectorFault) +
                    " (the file changed after it was checked)";
        else
            words = file + " does not hold the sectors its cue sheet declares: track " +
                    std::to_string(o.track) + ", sector " + std::to_string(o.sector) + " (byte " +
                    std::to_string(o.byte) + " of the file): " + SectorWords(o.sectorFault);
        break;
    case ImageFault::CheckStopped:
        words = "the check of " + file + " was stopped";
        break;
    case ImageFault::UnsupportedMode:
        words = "Line " + std::to_string(o.line) +
                " of the cue sheet: track mode MODE2/2336 is not supported";
        break;
    case ImageFault::NotFound:
        words = "The image " + file + " was not found";
        break;
    case ImageFault::NothingToBurn:
        words = "There is nothing to burn";
        break;
    case ImageFault::Empty:
        words = file + " is empty";
        break;
    case ImageFault::NotRegular:
        words = file + " is not a regular file";
        break;
    case ImageFault::TrackRefused:
        words = "The track cannot take its data";
        break;
    case ImageFault::ChangedInVerify:
        words = "the image changed while it was verified";
        break;
    }
    return o.whileWriting ? "writing stopped because " + words : words;
}

} // namespace

BurnOutcome CannotOpen(BurnError error, std::string path, int osError) {
    BurnOutcome o = Fail(error);
    o.item = std::move(path);
    o.osError = osError;
    return o;
}

BurnOutcome NoRecorderAt(std::string address, std::string libraryWords) {
    BurnOutcome o = Fail(BurnError::NoRecorder, std::move(libraryWords));
    o.item = std::move(address);
    return o;
}

std::string Detail(const BurnOutcome& o) {
    if (o.fault != ImageFault::None)
        return ImageWords(o);
    if (o.osError)
        return "\"" + o.item + "\" cannot be opened: " + std::strerror(o.osError);
    if (o.verify != VerifyFault::None)
        return "track " + std::to_string(o.track) +
               (o.verify == VerifyFault::Unreadable ? " cannot be read back at byte "
                                                    : " differs at byte ") +
               std::to_string(o.byte);
    if (o.error == BurnError::NotWritable && o.medium == MediumState::Full)
        return "it is closed";
    if (o.error == BurnError::NotWritable && o.medium == MediumState::Unsuitable)
        return "it is not a writable disc";
    if (o.error == BurnError::NoRecorder && !o.item.empty())
        return "No recorder can be opened at " + o.item + (o.detail.empty() ? "" : ": " + o.detail);
    return o.detail;
}

port::ErrorCode ErrorNumber(BurnError error) {
    switch (error) {
    case BurnError::None:
        return port::ERROR_SUCCESS;
    case BurnError::Cancelled:
        return port::ERROR_OPERATION_ABORTED;
    case BurnError::NoRecorder:
        return port::ERROR_INVALID_DRIVE;
    case BurnError::NoMedium:
        return port::ERROR_NOT_READY;
    case BurnError::NotWritable:
    case BurnError::NotErasable:
    case BurnError::ReadOnlyDrive:
        return port::ERROR_WRITE_PROTECT;
    case BurnError::TooBig:
        return port::ERROR_DISK_FULL;
    case BurnError::BadImage:
        return port::ERROR_INVALID_DATA;
    case BurnError::VerifyFailed:
        return port::ERROR_CRC;
    case BurnError::DriveError:
        break;
    }
    return port::ERROR_IO_DEVICE;
}

std::string Describe(const BurnOutcome& o) {
    const std::string detail = Detail(o);
    switch (o.error) {
    case BurnError::None:
        return {};
    case BurnError::Cancelled:
        return std::string(engine::StoppedByUserText());
    case BurnError::NoRecorder:
        return detail.empty() ? "No recorder was found" : detail;
    case BurnError::NoMedium:
        return "There is no disc in the recorder";
    case BurnError::ReadOnlyDrive:
        return "The drive cannot write discs: it only reads them" +
               (o.detail.empty() ? std::string() : " (" + o.detail + ")");
    case BurnError::NotWritable:
        return "The disc in the recorder cannot be written" +
               (detail.empty() ? std::string(".") : ": " + detail);
    case BurnError::TooBig:
        return "The image needs " + std::to_string((o.neededBytes + kMB - 1) / kMB) +
               " MB, but the disc has only " + std::to_string(o.freeBytes / kMB) + " MB free";
    case BurnError::NotErasable:
        return "The disc in the recorder cannot be erased" +
               (detail.empty() ? std::string(".") : ": " + detail);
    case BurnError::BadImage:
    case BurnError::VerifyFailed:
    case BurnError::DriveError:
        break;
    }
    const char* what = o.error == BurnError::BadImage       ? "The image cannot be burned"
                       : o.error == BurnError::VerifyFailed ? "The disc does not match the image"
                                                            : "The recorder failed";
    return detail.empty() ? std::string(what) : std::string(what) + ": " + detail;
}

BurnOutcome CheckMedium(MediumState state, std::int64_t freeBytes, std::int64_t neededBytes) {
    switch (state) {
    case MediumState::Empty:
    case MediumState::Unready:
        return Fail(BurnError::NoMedium);
    case MediumState::Full:
    case MediumState::Unsuitable: {
        BurnOutcome o = Fail(BurnError::NotWritable);
        o.medium = state;
        return o;
    }
    case MediumState::Blank:
    case MediumState::Appendable:
        break;
    }
    if (neededBytes > freeBytes) {
        BurnOutcome o = Fail(BurnError::TooBig);
        o.neededBytes = neededBytes;
        o.freeBytes = freeBytes;
        return o;
    }
    return {};
}

BurnOutcome LoadBurnImage(const std::string& isoPath, const std::string& cuePath, BurnImage& out) {
    out = {};
    if (!isoPath.empty()) {
        struct stat st;
        if (::stat(isoPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return Fail(ImageFault::NotFound, isoPath);
        out.isoPath = isoPath;
        return {};
    }
    if (cuePath.empty())
        return Fail(ImageFault::NothingToBurn);
    out.isCue = true;
    return LoadCueSheet(cuePath, out.cue);
}

engine::JobOutcome Job::Run(engine::JobObserver& observer) {
    m_outcome = Work(observer);
    const engine::JobOutcome outcome{Kind(), ErrorNumber(m_outcome.error), Detail(m_outcome)};
    observer.OnEnd(outcome);
    return outcome;
}

void Job::Phase(engine::JobObserver& observer, BurnPhase phase, int copy, int copies) {
    engine::JobStatus status;
    status.step = phase;
    status.copy = copy;
    status.copies = copies;
    observer.OnStatus(status);
}

BurnJob::FileTable::~FileTable() {
    for (auto& [path, fd] : *this)
        if (fd >= 0)
            ::close(fd);
}

BurnJob::BurnJob(std::string address, BurnImage image, BurnSettings settings)
    : m_address(std::move(address)), m_image(std::move(image)), m_settings(settings) {
    if (m_settings.copies < 1)
        m_settings.copies = 1;
}

namespace {

// Polls a running write until the drive is idle. A stop makes the track
// sources fail, which ends the run. `report` gets the fraction done.
template <class Report, class Closing>
void WaitIdle(burn::burn_drive* d, Report&& report, Closing&& closing) {
    burn::burn_progress p;
    bool closed = false;
    // The drive may report idle before the write thread took it over.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    burn::burn_drive_status status;
    while ((status = burn::burn_drive_get_status(d, &p)) != burn::BURN_DRIVE_IDLE) {
        if (!closed && (status == burn::BURN_DRIVE_CLOSING_SESSION ||
                        status == burn::BURN_DRIVE_CLOSING_TRACK)) {
            closed = true;
            closing();
        }
        if (p.sectors > 0)
            report(static_cast<double>(p.sector) / p.sectors, p.track);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

} // namespace

// Opens each file of the image once, read-only and without a lock, for
// writing and verifying alike.
BurnOutcome BurnJob::OpenFiles(std::vector<TrackRange>& ranges, FileTable& files) {
    for (TrackRange& r : ranges) {
        r.stop = &m_stop;
        int& fd = files[r.path];
        // Non-blocking, so that a FIFO put in the image's place is refused
        // below rather than waited on.
        if (fd < 0)
            fd = ::open(r.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            return CannotOpen(BurnError::BadImage, r.path, errno);
        struct stat st;
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
            return Fail(ImageFault::NotRegular, r.path);
        r.fd = fd;
    }
    return {};
}

// Sets up a write of the layout on the grabbed drive; null with `outcome`
// set when the disc cannot take it.
burn::burn_write_opts* BurnJob::WriteOptions(GrabbedDrive& drive, const DiscLayout& layout,
                                             int& nwa, BurnOutcome& outcome) const {
    burn::burn_write_opts* opts = burn::burn_write_opts_new(drive.drive());
    burn::burn_write_opts_set_simulate(opts, m_settings.simulate ? 1 : 0);
    burn::burn_write_opts_set_underrun_proof(opts, m_settings.underrunProtection ? 1 : 0);
    burn::burn_write_opts_set_multi(opts, m_settings.closeDisc ? 0 : 1);
    burn::burn_write_opts_set_perform_opc(opts, 1);
    char reasons[BURN_REASONS_LEN] = {};
    if (burn::burn_write_opts_auto_write_type(opts, layout.disc, reasons, 0) ==
        burn::BURN_WRITE_NONE) {
        burn::burn_write_opts_free(opts);
        std::string more = TakeLibraryMessages();
        std::string why = reasons[0] ? reasons : more;
        while (!why.empty() && (why.back() == ' ' || why.back() == ','))
            why.pop_back(); // libburn ends its list of reasons with ", "
        outcome = Fail(BurnError::NotWritable, why);
        return nullptr;
    }
    int lba = 0;
    if (burn::burn_disc_track_lba_nwa(drive.drive(), opts, 0, &lba, &nwa) <= 0)
        nwa = 0;
    burn::burn_drive_set_speed(drive.drive(), 0, m_settings.speedKBs > 0 ? m_settings.speedKBs : 0);
    return opts;
}

// Writes copy `copy` onto the disc in the grabbed drive, then reads it back
// when asked to.
BurnOutcome BurnJob::WriteCopy(std::unique_ptr<GrabbedDrive>& drive,
                               const std::vector<TrackRange>& ranges, const CopyPlan& plan,
                               int copy, engine::JobObserver& observer) {
    const int copies = m_settings.copies;
    int shownFill = -1;
    auto progress = [&](double phaseFraction, bool verifying, int fill) {
        double inCopy =
            plan.verify ? (verifying ? 0.5 + phaseFraction / 2 : phaseFraction / 2) : phaseFraction;
        observer.OnProgress(static_cast<float>(((copy - 1) + inCopy) / copies * 100));
        if (fill != shownFill && fill >= 0) {
            engine::JobStatus status;
            status.step = BurnPhase::Writing;
            status.copy = copy;
            status.copies = copies;
            status.bufferFill = shownFill = fill;
            observer.OnStatus(status);
        }
    };
    if (StopRequested())
        return Fail(BurnError::Cancelled);
    BurnOutcome medium = CheckMedium(drive->Medium(), drive->FreeBytes(), plan.needed);
    if (!medium.ok())
        return medium;

    DiscLayout layout;
    const BurnOutcome built = layout.Build(m_image, ranges);
    if (!built.ok())
        return built;
    int nwa = 0;
    BurnOutcome refused;
    burn::burn_write_opts* opts = WriteOptions(*drive, layout, nwa, refused);
    if (!opts)
        return refused;
    if (StopRequested()) {
        burn::burn_write_opts_free(opts);
        return Fail(BurnError::Cancelled);
    }

    Phase(observer, BurnPhase::Writing, copy, copies);
    TakeLibraryMessages();
    const std::string startWords = drive->Start([&] { burn::burn_disc_write(opts, layout.disc); });
    burn::burn_write_opts_free(opts);
    WaitIdle(
        drive->drive(), [&](double f, int track) { progress(f, false, layout.BufferFill(track)); },
        [&] { Phase(observer, BurnPhase::Closing, copy, copies); });
    const bool wroteWell = burn::burn_drive_wrote_well(drive->drive());
    std::string libraryWords = TakeLibraryMessages();
    if (libraryWords.empty())
        libraryWords = startWords;
    if (StopRequested())
        return Fail(BurnError::Cancelled);
    // A source that could not deliver ends the run too; that is the
    // image's fault, whatever the drive said about the aborted write.
    if (BurnOutcome sourceError = SourceError(layout); !sourceError.ok())
        return sourceError;
    // libburn refuses some runs (a drive still busy) with a message only,
    // and then still calls the run well done.
    if (!wroteWell || !libraryWords.empty())
        return Fail(BurnError::DriveError, libraryWords);
    progress(1.0, false, -1);
    if (!plan.verify)
        return {};

    Phase(observer, BurnPhase::Verifying, copy, copies);
    // A fresh grab reads the new table of contents.
    BurnOutcome error;
    drive.reset();
    drive = GrabbedDrive::Open(m_address, false, error);
    if (!drive)
        return error;
    std::vector<std::int64_t> starts = TrackStarts(drive->drive(), ranges, nwa);
    return VerifyTracks(drive->drive(), m_stop, ranges, starts, plan.dataBytes,
                        [&](double f) { progress(f, true, -1); });
}

BurnOutcome BurnJob::Work(engine::JobObserver& observer) {
    const int copies = m_settings.copies;
    std::vector<TrackRange> ranges = Ranges(m_image);
    FileTable files;
    if (BurnOutcome opened = OpenFiles(ranges, files); !opened.ok())
        return opened;
    const BurnOutcome bad = CheckImage(ranges);
    if (StopRequested())
        return Fail(BurnError::Cancelled);
    if (!bad.ok())
        return bad;
    CopyPlan plan;
    plan.needed = NeededBytes(ranges);
    for (const TrackRange& r : ranges)
        if (r.mode != TrackMode::Audio)
            plan.dataBytes += TrackBytes(r);
    plan.verify = m_settings.verify && !m_settings.simulate && plan.dataBytes > 0;

    BurnOutcome error;
    std::unique_ptr<GrabbedDrive> drive = GrabbedDrive::Open(m_address, false, error);
    if (!drive)
        return error;
    // A drive that cannot write is refused before the job shows any phase.
    if (!drive->CanWrite())
        return Fail(BurnError::ReadOnlyDrive, m_address);
    Phase(observer, BurnPhase::Preparing, 1, copies);

    for (int copy = 1; copy <= copies; ++copy) {
        if (copy > 1) {
            Phase(observer, BurnPhase::Preparing, copy, copies);
            if (drive->IsReal()) {
                drive->EjectOnClose(true);
                drive.reset();
                engine::JobQuestion next;
                next.what = kAskNextDisc;
                next.yesNo = true;
                next.count = copy;
                if (observer.OnQuestion(next) != engine::Answer::Yes)
                    return Fail(BurnError::Cancelled);
                drive = GrabbedDrive::Open(m_address, false, error);
                if (!drive)
                    return error;
            }
        }
        if (BurnOutcome written = WriteCopy(drive, ranges, plan, copy, observer); !written.ok())
            return written;
    }
    drive->EjectOnClose(m_settings.eject);
    return {};
}

} // namespace burner
