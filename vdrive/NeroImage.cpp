#include "vdrive/NeroImage.h"

#include "vdrive/DiscFile.h"

#include <cstring>
#include <map>
#include <vector>

namespace vdrive {

namespace {

constexpr std::uint32_t kMaxChunk = 1 << 20; // far more than 99 tracks need

// How a track's sectors are stored, by the mode byte of its DAO or TAO entry.
struct NeroMode {
    int code;
    SectorForm form;
    std::uint32_t stride;
};

constexpr NeroMode kModes[] = {
    {0x00, SectorForm::Mode1_2048, 2048}, {0x02, SectorForm::Mode1_2048, 2048},
    {0x03, SectorForm::Mode2_2336, 2336}, {0x05, SectorForm::Mode1_2352, 2352},
    {0x06, SectorForm::Mode2_2352, 2352}, {0x07, SectorForm::Audio, 2352},
    {0x0F, SectorForm::Mode1_2352, 2448}, {0x10, SectorForm::Audio, 2448},
    {0x11, SectorForm::Mode2_2352, 2448},
};

const NeroMode* FindMode(std::uint64_t code) {
    for (const NeroMode& m : kModes) {
        if (static_cast<std::uint64_t>(m.code) == code)
            return &m;
    }
    return nullptr;
}

struct Chunk {
    std::string id;
    std::vector<unsigned char> body;
};

// The reader's state: the image, where its chunks begin (the end of the
// track data), and the tracks and disc addresses found so far.
class NeroReader {
public:
    NeroReader(const std::string& path, DiscFault& fault) : m_path(path), m_fault(fault) {}

    bool Read(Disc& out);

private:
    bool Footer(std::uint64_t& first, std::uint64_t& end);
    bool Chunks(std::uint64_t at, std::uint64_t end, std::vector<Chunk>& chunks);
    bool Dao(const Chunk& c, bool wide);
    bool DaoTrack(const unsigned char* e, bool wide, const std::string& field);
    bool Tao(const Chunk& c, bool wide);
    bool Cue(const Chunk& c, bool lba);
    bool Bad(const std::string& field, const std::string& detail,
             port::ErrorCode code = port::ERROR_INVALID_DATA) {
        return Refuse(m_fault, code, m_path, 0, field, detail);
    }
    bool AddTrack(const NeroMode& mode, std::uint64_t offset, std::uint64_t bytes,
                  std::int64_t start, const std::string& field);

    const std::string& m_path;
    DiscFault& m_fault;
    DiscFile m_file;
    std::uint64_t m_dataEnd = 0;
    std::vector<DiscTrack> m_tracks;
    std::vector<std::int64_t> m_daoStarts;   // -1: not known from a DAO entry
    std::map<int, std::int64_t> m_cueStarts; // track number -> LBA of INDEX 01
};

bool NeroReader::Footer(std::uint64_t& first, std::uint64_t& end) {
    unsigned char tail[12];
    const std::uint64_t size = m_file.Size();
    if (size >= 12 && m_file.Read(size - 12, tail, 12) && std::memcmp(tail, "NER5", 4) == 0) {
        first = BigEndian(tail + 4, 8);
        end = size - 12;
    } else if (size >= 8 && m_file.Read(size - 8, tail, 8) && std::memcmp(tail, "NERO", 4) == 0) {
        first = BigEndian(tail + 4, 4);
        end = size - 8;
    } else {
        return Bad("footer", "The image has no Nero footer");
    }
    if (first >= end)
        return Bad("footer", "The footer points past the image's end");
    m_dataEnd = first;
    return true;
}

// The chunks run forward from `at` to "END!" (or the footer): each one's
// size is checked against the room left, so no size leads outside the file
// and no chain can loop.
bool NeroReader::Chunks(std::uint64_t at, std::uint64_t end, std::vector<Chunk>& chunks) {
    while (at < end) {
        unsigned char head[8];
        if (end - at < 8 || !m_file.Read(at, head, 8))
            return Bad("chunk", "A chunk header lies past the footer");
        Chunk c;
        c.id.assign(reinterpret_cast<const char*>(head), 4);
        const std::uint64_t size = BigEndian(head + 4, 4);
        if (c.id == "END!")
            return true;
        if (size > kMaxChunk || size > end - at - 8)
            return Bad(c.id, "The chunk " + c.id + " is larger than the room left for it");
        c.body.resize(size);
        if (!m_file.Read(at + 8, c.body.data(), size))
            return Bad(c.id, "The chunk " + c.id + " cannot be read");
        at += 8 + size;
        chunks.push_back(std::move(c));
    }
    return true;
}

bool NeroReader::AddTrack(const NeroMode& mode, std::uint64_t offset, std::uint64_t bytes,
                          std::int64_t start, const std::string& field) {
    if (m_tracks.size() >= 99)
        return Bad(field, "The image lists more than 99 tracks");
    if (offset > m_dataEnd || bytes > m_dataEnd - offset)
        return Bad(field, "The track's data lies past the chunks' start", port::ERROR_HANDLE_EOF);
    if (bytes == 0 || bytes % mode.stride != 0)
        return Bad(field, "The track's length is no whole number of its sectors",
                   port::ERROR_NOT_SUPPORTED);
    DiscTrack t;
    t.number = static_cast<int>(m_tracks.size()) + 1;
    t.form = mode.form;
    t.file = m_path;
    t.offset = offset;
    t.stride = mode.stride;
    t.sectors = bytes / mode.stride;
    m_tracks.push_back(t);
    m_daoStarts.push_back(start);
    return true;
}

bool NeroReader::Read(Disc& out) {
    std::uint64_t first = 0, end = 0;
    std::vector<Chunk> chunks;
    if (!m_file.Open(m_path, m_fault) || !Footer(first, end) || !Chunks(first, end, chunks))
        return false;
    for (const Chunk& c : chunks) {
        bool ok = true;
        if (c.id == "DAOI" || c.id == "DAOX")
            ok = Dao(c, c.id == "DAOX");
        else if (c.id == "ETNF" || c.id == "ETN2")
            ok = Tao(c, c.id == "ETN2");
        else if (c.id == "CUES" || c.id == "CUEX")
            ok = Cue(c, c.id == "CUEX");
        if (!ok)
            return false;
    }
    if (m_tracks.empty())
        return Bad("DAOI", "The image has neither DAO nor TAO track information");
    // Disc addresses: the cue sheet's where it names the track, else the
    // entry's own (TAO), else one after the track before.
    std::int64_t next = 0;
    for (std::size_t i = 0; i < m_tracks.size(); ++i) {
        DiscTrack& t = m_tracks[i];
        auto cue = m_cueStarts.find(t.number);
        std::int64_t start = cue != m_cueStarts.end() ? cue->second : m_daoStarts[i];
        if (start < 0)
            start = next;
        t.start = static_cast<std::uint32_t>(start);
        next = start + static_cast<std::int64_t>(t.sectors);
    }
    out.tracks = m_tracks;
    return true;
}

// DAOI/DAOX: a 22-byte head (size, UPC, TOC type, first and last track),
// then per track: ISRC (12), sector size (2), mode (1), 3 bytes, then the
// offsets of INDEX 00, INDEX 01 and the track's end (4 bytes each in DAOI,
// 8 in DAOX).
bool NeroReader::Dao(const Chunk& c, bool wide) {
    const std::size_t entry = wide ? 42 : 30;
    if (c.body.size() < 22)
        return Bad(c.id, "The chunk " + c.id + " is too short");
    const int firstTrack = c.body[20], lastTrack = c.body[21];
    if (firstTrack < 1 || lastTrack < firstTrack || lastTrack > 99)
        return Bad(c.id + " first/last track", "The chunk's track numbers are out of range");
    const std::size_t count = static_cast<std::size_t>(lastTrack - firstTrack + 1);
    if (c.body.size() < 22 + count * entry)
        return Bad(c.id, "The chunk " + c.id + " is shorter than its tracks");
    for (std::size_t k = 0; k < count; ++k) {
        const std::string field = c.id + " track " + std::to_string(firstTrack + k);
        if (!DaoTrack(c.body.data() + 22 + k * entry, wide, field))
            return false;
    }
    return true;
}

bool NeroReader::DaoTrack(const unsigned char* e, bool wide, const std::string& field) {
    const int n = wide ? 8 : 4;
    const std::uint64_t sectorSize = BigEndian(e + 12, 2);
    const NeroMode* mode = FindMode(e[14]);
    if (!mode || mode->stride != sectorSize)
        return Bad(field,
                   "Sector size " + std::to_string(sectorSize) + " with mode " +
                       std::to_string(e[14]) + " is not supported",
                   port::ERROR_NOT_SUPPORTED);
    const std::uint64_t index0 = BigEndian(e + 18, n), index1 = BigEndian(e + 18 + n, n);
    const std::uint64_t end = BigEndian(e + 18 + 2 * n, n);
    if (index0 > index1 || index1 > end)
        return Bad(field, "The track's offsets are out of order");
    return AddTrack(*mode, index1, end - index1, -1, field);
}

// ETNF/ETN2: per track its offset and length in bytes (4 or 8 each), mode
// (4), start address (4) and 4 more bytes.
bool NeroReader::Tao(const Chunk& c, bool wide) {
    const std::size_t entry = wide ? 28 : 20;
    const int n = wide ? 8 : 4;
    if (c.body.empty() || c.body.size() % entry != 0)
        return Bad(c.id, "The chunk " + c.id + " is no whole number of track entries");
    for (std::size_t k = 0; k < c.body.size() / entry; ++k) {
        const unsigned char* e = c.body.data() + k * entry;
        const std::string field = c.id + " track " + std::to_string(k + 1);
        const std::uint64_t code = BigEndian(e + 2 * n, 4);
        const NeroMode* mode = FindMode(code);
        if (!mode)
            return Bad(field, "Track mode " + std::to_string(code) + " is not supported",
                       port::ERROR_NOT_SUPPORTED);
        const auto start = static_cast<std::int64_t>(BigEndian(e + 2 * n + 4, 4));
        if (!AddTrack(*mode, BigEndian(e, n), BigEndian(e + n, n), start, field))
            return false;
    }
    return true;
}

// CUES/CUEX: 8-byte points (control, track and index in BCD, a zero, then
// the address: m:s:f in BCD behind a zero byte in CUES, a signed 32-bit
// address in CUEX). Only the INDEX 01 points are kept.
bool NeroReader::Cue(const Chunk& c, bool lba) {
    if (c.body.size() % 8 != 0)
        return Bad(c.id, "The chunk " + c.id + " is no whole number of cue points");
    auto bcd = [](unsigned char v) { return (v >> 4) * 10 + (v & 0x0F); };
    for (std::size_t k = 0; k < c.body.size(); k += 8) {
        const unsigned char* p = c.body.data() + k;
        const int track = bcd(p[1]);
        if (bcd(p[2]) != 1 || track < 1 || track > 99)
            continue;
        const std::int64_t at = lba ? static_cast<std::int32_t>(BigEndian(p + 4, 4))
                                    : (bcd(p[5]) * 60 + bcd(p[6])) * 75 + bcd(p[7]) - 150;
        if (at < 0)
            return Bad(c.id + " track " + std::to_string(track),
                       "The track's address lies before the disc's start");
        m_cueStarts[track] = at;
    }
    return true;
}

} // namespace

bool ReadNero(const std::string& path, Disc& out, DiscFault& fault) {
    NeroReader reader(path, fault);
    return reader.Read(out);
}

} // namespace vdrive
