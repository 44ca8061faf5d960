// A libburn data source that reads one track of an image file, read-only
// and without any lock (the file may be mounted by the driver or read by
// others at the same time), and hands libburn what its track type takes:
// 2048-byte user data for data tracks, whatever the file stores them as
// (the 2352-byte raw sectors of MODE1/2352 and MODE2/2352 form 1 are cut
// down on the fly), and 2352-byte sectors for audio.
#pragma once

#include "burner/BurnJob.h"
#include "burner/CueSheet.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace burn {
struct burn_source;
}

namespace burner {

struct TrackRange {
    std::string path;
    std::int64_t offset = 0;  // byte offset of the first sector
    std::int64_t sectors = 0; // sectors in the file; -1: up to the end (a plain image)
    TrackMode mode = TrackMode::Mode1_2048;
    // When set, reading fails: libburn then ends the write run on its own,
    // which (unlike burn_drive_cancel) lets its worker finish before the
    // drive reports idle, so the drive can be used again at once.
    const std::atomic<bool>* stop = nullptr;
    // An open descriptor of the file to read instead of opening path again:
    // the job opens each file once, so an image replaced under its name
    // meanwhile (a build that finished, a copy over it) is not mixed in.
    int fd = -1;
    int track = 1; // the track's number, for messages
};

// Bytes libburn gets per sector of the mode.
int OutputSectorSize(TrackMode mode);

// Checks one raw sector of the mode (sync pattern, mode byte, XA form 1);
// None when it fits, else what is wrong.
SectorFault CheckRawSector(const unsigned char* sector, TrackMode mode);

// Cuts one sector of the file's form down to what libburn takes; false when
// the sector does not fit the mode.
bool ConvertSector(const unsigned char* in, TrackMode mode, unsigned char* out);

// Reads every sector of a raw track (MODE1/2352, MODE2/2352) and checks
// each as CheckRawSector does, in one sequential pass over its part of the
// file; other modes have no sector structure to check. None when every
// sector fits, else BadImage for the file (item), its errno when it cannot
// be opened, and the fault with the track, the sector (counted from the
// track's first) and the byte of the file. Gives up (CheckStopped) once the
// range's stop flag is set.
BurnOutcome CheckTrackSectors(const TrackRange& range);

// Opens the file read-only; nullptr with `failure` (BadImage, the file and
// errno) when it cannot. The
// source reads ahead on a thread of its own, in 512 KiB blocks, up to 4 MiB.
// Free with burn_source_free.
burn::burn_source* OpenTrackSource(const TrackRange& range, BurnOutcome& failure);

// Why the source stopped delivering before its end: BadImage for the file
// with whileWriting set and the fault (the file shrank or could not be
// read, a sector no longer fits its mode); none while it delivers, after it
// delivered everything, and when it stopped because the range's stop flag
// was set.
BurnOutcome TrackSourceError(burn::burn_source* source);

// How full the source's read-ahead is, in percent.
int TrackSourceFill(burn::burn_source* source);

// Output bytes the source will deliver.
std::int64_t TrackBytes(const TrackRange& range);

} // namespace burner
