#include "burner/BurnJob.h"

#include "burner/DiscLayout.h"
#include "burner/GrabbedDrive.h"
#include "burner/TrackSource.h"
#include "engine/BuildError.h"

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

struct FileHandle {
    int fd = -1;
    FileHandle() = default;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() {
        if (fd >= 0)
            ::close(fd);
    }
};

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
            return Fail(BurnError::BadImage, "\"" + r.path + "\" is empty");
        std::string why = CheckTrackSectors(r);
        if (!why.empty())
            return Fail(BurnError::BadImage, why);
    }
    return {};
}

// Why the write stopped on the image's side, if it did: the first track
// source that could not deliver.
std::string SourceError(const DiscLayout& layout) {
    for (burn::burn_source* src : layout.sources) {
        std::string why = TrackSourceError(src);
        if (!why.empty())
            return why;
    }
    return {};
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
    if (o.osError)
        return "\"" + o.item + "\" cannot be opened: " + std::strerror(o.osError);
    if (o.error == BurnError::NoRecorder && !o.item.empty())
        return "No recorder can be opened at " + o.item + (o.detail.empty() ? "" : ": " + o.detail);
    return o.detail;
}

std::string Describe(const BurnOutcome& o) {
    const std::string detail = Detail(o);
    switch (o.error) {
    case BurnError::None:
        return {};
    case BurnError::Cancelled:
        return engine::kStoppedByUser;
    case BurnError::NoRecorder:
        return detail.empty() ? "No recorder was found" : detail;
    case BurnError::NoMedium:
        return "There is no disc in the recorder";
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
        return Fail(BurnError::NotWritable, "it is closed");
    case MediumState::Unsuitable:
        return Fail(BurnError::NotWritable, "it is not a writable disc");
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

std::string LoadBurnImage(const std::string& isoPath, const std::string& cuePath, BurnImage& out) {
    out = {};
    if (!isoPath.empty()) {
        struct stat st;
        if (::stat(isoPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return "The image \"" + isoPath + "\" was not found";
        out.isoPath = isoPath;
        return {};
    }
    if (cuePath.empty())
        return "There is nothing to burn";
    out.isCue = true;
    return LoadCueSheet(cuePath, out.cue);
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

BurnOutcome BurnJob::Run(BurnObserver& observer) {
    const int copies = m_settings.copies;
    observer.OnPhase(BurnPhase::Preparing, 1, copies);
    std::vector<TrackRange> ranges = Ranges(m_image);
    // Each file is opened once, read-only and without a lock, for writing
    // and verifying alike.
    std::map<std::string, FileHandle> files;
    for (TrackRange& r : ranges) {
        r.stop = &m_stop;
        FileHandle& f = files[r.path];
        // Non-blocking, so that a FIFO put in the image's place is refused
        // below rather than waited on.
        if (f.fd < 0)
            f.fd = ::open(r.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (f.fd < 0)
            return CannotOpen(BurnError::BadImage, r.path, errno);
        struct stat st;
        if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode))
            return Fail(BurnError::BadImage, "\"" + r.path + "\" is not a regular file");
        r.fd = f.fd;
    }
    const BurnOutcome bad = CheckImage(ranges);
    if (StopRequested())
        return Fail(BurnError::Cancelled);
    if (!bad.ok())
        return bad;
    const std::int64_t needed = NeededBytes(ranges);
    std::int64_t dataBytes = 0;
    for (const TrackRange& r : ranges)
        if (r.mode != TrackMode::Audio)
            dataBytes += TrackBytes(r);
    const bool verify = m_settings.verify && !m_settings.simulate && dataBytes > 0;

    BurnOutcome error;
    std::unique_ptr<GrabbedDrive> drive = GrabbedDrive::Open(m_address, false, error);
    if (!drive)
        return error;

    for (int copy = 1; copy <= copies; ++copy) {
        auto progress = [&](double phaseFraction, bool verifying) {
            double inCopy =
                verify ? (verifying ? 0.5 + phaseFraction / 2 : phaseFraction / 2) : phaseFraction;
            int fill = -1;
            observer.OnProgress(static_cast<float>(((copy - 1) + inCopy) / copies * 100), fill);
        };
        if (copy > 1) {
            observer.OnPhase(BurnPhase::Preparing, copy, copies);
            if (drive->IsReal()) {
                drive->EjectOnClose(true);
                drive.reset();
                if (!observer.OnNextDisc(copy))
                    return Fail(BurnError::Cancelled);
                drive = GrabbedDrive::Open(m_address, false, error);
                if (!drive)
                    return error;
            }
        }
        if (StopRequested())
            return Fail(BurnError::Cancelled);
        BurnOutcome medium = CheckMedium(drive->Medium(), drive->FreeBytes(), needed);
        if (!medium.ok())
            return medium;

        DiscLayout layout;
        const BurnOutcome built = layout.Build(m_image, ranges);
        if (!built.ok())
            return built;
        burn::burn_write_opts* opts = burn::burn_write_opts_new(drive->drive());
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
            return Fail(BurnError::NotWritable, why);
        }
        int lba = 0, nwa = 0;
        if (burn::burn_disc_track_lba_nwa(drive->drive(), opts, 0, &lba, &nwa) <= 0)
            nwa = 0;
        burn::burn_drive_set_speed(drive->drive(), 0,
                                   m_settings.speedKBs > 0 ? m_settings.speedKBs : 0);
        if (StopRequested()) {
            burn::burn_write_opts_free(opts);
            return Fail(BurnError::Cancelled);
        }

        observer.OnPhase(BurnPhase::Writing, copy, copies);
        TakeLibraryMessages();
        burn::burn_disc_write(opts, layout.disc);
        burn::burn_write_opts_free(opts);
        WaitIdle(
            drive->drive(),
            [&](double f, int track) {
                int fill = layout.BufferFill(track);
                double inCopy = verify ? f / 2 : f;
                observer.OnProgress(static_cast<float>(((copy - 1) + inCopy) / copies * 100), fill);
            },
            [&] { observer.OnPhase(BurnPhase::Closing, copy, copies); });
        const bool wroteWell = burn::burn_drive_wrote_well(drive->drive());
        std::string libraryWords = TakeLibraryMessages();
        if (StopRequested())
            return Fail(BurnError::Cancelled);
        // A source that could not deliver ends the run too; that is the
        // image's fault, whatever the drive said about the aborted write.
        std::string sourceError = SourceError(layout);
        if (!sourceError.empty())
            return Fail(BurnError::BadImage, "writing stopped because " + sourceError);
        // libburn refuses some runs (a drive still busy) with a message only,
        // and then still calls the run well done.
        if (!wroteWell || !libraryWords.empty())
            return Fail(BurnError::DriveError, libraryWords);
        progress(1.0, false);

        if (verify) {
            observer.OnPhase(BurnPhase::Verifying, copy, copies);
            // A fresh grab reads the new table of contents.
            drive.reset();
            drive = GrabbedDrive::Open(m_address, false, error);
            if (!drive)
                return error;
            std::vector<std::int64_t> starts = TrackStarts(drive->drive(), ranges, nwa);
            BurnOutcome checked = VerifyTracks(drive->drive(), m_stop, ranges, starts, dataBytes,
                                               [&](double f) { progress(f, true); });
            if (!checked.ok())
                return checked;
        }
    }
    drive->EjectOnClose(m_settings.eject);
    return {};
}

} // namespace burner
