#include "burner/DiscLayout.h"

#include <cstring>

namespace burner {

namespace {

BurnOutcome VerifyFailure(VerifyFault fault, int track, std::int64_t byte) {
    BurnOutcome o = Fail(BurnError::VerifyFailed);
    o.verify = fault;
    o.track = track;
    o.byte = byte;
    return o;
}

} // namespace

DiscLayout::~DiscLayout() {
    for (burn::burn_track* t : tracks)
        burn::burn_track_free(t);
    for (burn::burn_source* s : sources)
        burn::burn_source_free(s);
    if (session)
        burn::burn_session_free(session);
    if (disc)
        burn::burn_disc_free(disc);
}

BurnOutcome DiscLayout::Build(const BurnImage& image, const std::vector<TrackRange>& ranges) {
    disc = burn::burn_disc_create();
    session = burn::burn_session_create();
    burn::burn_disc_add_session(disc, session, BURN_POS_END);
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        BurnOutcome error;
        burn::burn_source* src = OpenTrackSource(ranges[i], error);
        if (!src)
            return error;
        sources.push_back(src);
        const bool audio = ranges[i].mode == TrackMode::Audio;
        burn::burn_track* t = burn::burn_track_create();
        tracks.push_back(t);
        burn::burn_track_define_data(t, 0, 0, 1, audio ? BURN_AUDIO : BURN_MODE1);
        if (burn::burn_track_set_source(t, src) != burn::BURN_SOURCE_OK)
            return Fail(ImageFault::TrackRefused);
        if (image.isCue) {
            const CueTrack& ct = image.cue.tracks[i];
            if (ct.swapBytes)
                burn::burn_track_set_byte_swap(t, 1);
            if (ct.pregap > 0)
                burn::burn_track_set_pregap_size(t, ct.pregap, 0);
            for (const CueIndex& x : ct.indexes)
                if (x.number >= 1 && !(x.number == 1 && x.sector == 0))
                    burn::burn_track_set_index(t, x.number, static_cast<unsigned>(x.sector), 0);
        }
        burn::burn_session_add_track(session, t, BURN_POS_END);
    }
    return {};
}

int DiscLayout::BufferFill(int track) const {
    if (track < 0 || track >= static_cast<int>(sources.size()))
        return -1;
    return TrackSourceFill(sources[track]);
}

// Start addresses (in 2048-byte blocks) of the tracks of the disc's last
// session; laid end to end from `first` when the table of contents does not
// show them.
std::vector<std::int64_t> TrackStarts(burn::burn_drive* d, const std::vector<TrackRange>& ranges,
                                      std::int64_t first) {
    std::vector<std::int64_t> starts;
    burn::burn_disc* disc = burn::burn_drive_get_disc(d);
    if (disc) {
        int ns = 0, nt = 0;
        burn::burn_session** sessions = burn::burn_disc_get_sessions(disc, &ns);
        burn::burn_track** tracks =
            ns > 0 ? burn::burn_session_get_tracks(sessions[ns - 1], &nt) : nullptr;
        if (tracks && nt == static_cast<int>(ranges.size())) {
            for (int i = 0; i < nt; ++i) {
                burn::burn_toc_entry e;
                std::memset(&e, 0, sizeof e);
                burn::burn_track_get_entry(tracks[i], &e);
                if (!(e.extensions_valid & 1))
                    break;
                starts.push_back(e.start_lba);
            }
        }
        burn::burn_disc_free(disc);
    }
    if (starts.size() != ranges.size()) {
        starts.clear();
        std::int64_t at = first;
        for (const TrackRange& r : ranges) {
            starts.push_back(at);
            at += (TrackBytes(r) + 2047) / 2048;
        }
    }
    return starts;
}

BurnOutcome VerifyTracks(burn::burn_drive* d, const std::atomic<bool>& stop,
                         const std::vector<TrackRange>& ranges,
                         const std::vector<std::int64_t>& starts, std::int64_t total,
                         const std::function<void(double)>& report) {
    constexpr int kChunk = 32 * 2048;
    std::vector<unsigned char> want(kChunk);
    std::vector<char> got(kChunk);
    std::int64_t done = 0;
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        if (ranges[i].mode == TrackMode::Audio)
            continue;
        BurnOutcome error;
        burn::burn_source* src = OpenTrackSource(ranges[i], error);
        if (!src)
            return error;
        const std::int64_t bytes = TrackBytes(ranges[i]);
        BurnOutcome outcome;
        for (std::int64_t pos = 0; pos < bytes && outcome.ok(); pos += kChunk) {
            if (stop) {
                outcome = Fail(BurnError::Cancelled);
                break;
            }
            int n = static_cast<int>(std::min<std::int64_t>(kChunk, bytes - pos));
            int r = src->read_xt(src, want.data(), n);
            if (r != n) {
                outcome = Fail(ImageFault::ChangedInVerify);
                break;
            }
            off_t count = 0;
            off_t readSize = (n + 2047) / 2048 * 2048;
            if (burn::burn_read_data(d, starts[i] * 2048 + pos, got.data(), readSize, &count, 2) <=
                    0 ||
                count < n) {
                outcome = VerifyFailure(VerifyFault::Unreadable, i + 1, pos + count);
                break;
            }
            if (std::memcmp(want.data(), got.data(), n) != 0) {
                int at = 0;
                while (want[at] == static_cast<unsigned char>(got[at]))
                    ++at;
                outcome = VerifyFailure(VerifyFault::Differs, i + 1, pos + at);
                break;
            }
            done += n;
            report(total > 0 ? static_cast<double>(done) / total : 1.0);
        }
        burn::burn_source_free(src);
        if (!outcome.ok())
            return outcome;
    }
    return {};
}

} // namespace burner
