// The pieces of a burn that speak libburn's disc model: the disc of one
// session holding an image's tracks, where the tracks landed, and reading
// them back to compare with the image.
#pragma once

#include "burner/BurnJob.h"
#include "burner/TrackSource.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <libburn/libburn.h>

namespace burner {

// A disc of one session holding the image's tracks, each read by its own
// track source.
class DiscLayout {
public:
    DiscLayout() = default;
    DiscLayout(const DiscLayout&) = delete;
    DiscLayout& operator=(const DiscLayout&) = delete;
    ~DiscLayout();
    // ok() on success, else why the disc cannot be put together (BadImage).
    BurnOutcome Build(const BurnImage& image, const std::vector<TrackRange>& ranges);
    // The read-ahead fill of track `track` (0-based), -1 when there is none.
    int BufferFill(int track) const;

    burn::burn_disc* disc = nullptr;
    burn::burn_session* session = nullptr;
    std::vector<burn::burn_track*> tracks;
    std::vector<burn::burn_source*> sources;
};

// Start addresses (in 2048-byte blocks) of the tracks of the disc's last
// session; laid end to end from `first` when the table of contents does not
// show them.
std::vector<std::int64_t> TrackStarts(burn::burn_drive* d, const std::vector<TrackRange>& ranges,
                                      std::int64_t first);

// Compares every data track with what the drive reads back at its start;
// audio tracks are not read back. `report` gets the fraction of `total`
// bytes compared. Cancelled once `stop` is set.
BurnOutcome VerifyTracks(burn::burn_drive* d, const std::atomic<bool>& stop,
                         const std::vector<TrackRange>& ranges,
                         const std::vector<std::int64_t>& starts, std::int64_t total,
                         const std::function<void(double)>& report);

} // namespace burner
