#include "vdrive/AlcoholImage.h"

#include "vdrive/DiscFile.h"

#include <cstring>

namespace vdrive {

namespace {

constexpr std::size_t kHeader = 88, kSession = 24, kTrack = 80, kExtra = 8, kFooter = 16;

// The descriptor read whole: every block is found through an offset that
// is checked against its size first, and each is read once, so offsets that
// point at each other cannot make the reader loop.
class AlcoholReader {
public:
    AlcoholReader(const std::string& path, DiscFault& fault) : m_path(path), m_fault(fault) {}

    bool Read(Disc& out);

private:
    const unsigned char* Block(std::uint64_t offset, std::size_t size, const std::string& field) {
        if (offset > m_bytes.size() || size > m_bytes.size() - offset) {
            Bad(field, "The " + field + " lies past the descriptor's end");
            return nullptr;
        }
        return m_bytes.data() + offset;
    }
    bool Session(const unsigned char* s, int number, Disc& out);
    bool Track(const unsigned char* t, const unsigned char* session, Disc& out);
    bool TrackForm(const unsigned char* t, DiscTrack& d, const std::string& field);
    bool DataFile(const unsigned char* t, std::string& file, const std::string& field);
    bool Bad(const std::string& field, const std::string& detail,
             port::ErrorCode code = port::ERROR_INVALID_DATA) {
        return Refuse(m_fault, code, m_path, 0, field, detail);
    }

    const std::string& m_path;
    DiscFault& m_fault;
    std::vector<unsigned char> m_bytes;
};

bool AlcoholReader::Read(Disc& out) {
    DiscFile file;
    if (!file.Open(m_path, m_fault))
        return false;
    if (file.Size() > (16u << 20))
        return Bad("header", "The descriptor is too large");
    m_bytes.resize(file.Size());
    if (!file.Read(0, m_bytes.data(), m_bytes.size()) || m_bytes.size() < kHeader ||
        std::memcmp(m_bytes.data(), "MEDIA DESCRIPTOR", 16) != 0)
        return Bad("header", "The descriptor has no Alcohol header");
    const std::uint64_t sessions = LittleEndian(&m_bytes[0x14], 2);
    const std::uint64_t at = LittleEndian(&m_bytes[0x50], 4);
    if (sessions == 0 || sessions > 99)
        return Bad("sessions", "The descriptor's session count is out of range");
    for (std::uint64_t k = 0; k < sessions; ++k) {
        const unsigned char* s = Block(at + k * kSession, kSession, "session block");
        if (!s || !Session(s, static_cast<int>(k + 1), out))
            return false;
    }
    return true;
}

bool AlcoholReader::Session(const unsigned char* s, int number, Disc& out) {
    const std::uint64_t blocks = s[0x0A];
    const std::uint64_t at = LittleEndian(s + 0x14, 4);
    const unsigned char* first =
        Block(at, blocks * kTrack, "track blocks of session " + std::to_string(number));
    if (!first)
        return false;
    for (std::uint64_t k = 0; k < blocks; ++k) {
        const unsigned char* t = first + k * kTrack;
        if (t[4] >= 1 && t[4] <= 99 && !Track(t, s, out)) // points 0xA0.. are no tracks
            return false;
    }
    return true;
}

// Track block: mode (0), subchannel (1), point (4), extra block offset
// (0x0C), sector size (0x10), start address (0x24), offset in the data file
// (0x28, 8 bytes), file count (0x30), footer offset (0x34).
bool AlcoholReader::Track(const unsigned char* t, const unsigned char* session, Disc& out) {
    DiscTrack d;
    d.number = t[4];
    const std::string field = "track " + std::to_string(d.number);
    if (!out.tracks.empty() && d.number <= out.tracks.back().number)
        return Bad(field, "The tracks are out of order");
    if (!TrackForm(t, d, field) || !DataFile(t, d.file, field))
        return false;
    d.start = static_cast<std::uint32_t>(LittleEndian(t + 0x24, 4));
    d.offset = LittleEndian(t + 0x28, 8);
    const std::uint64_t extraAt = LittleEndian(t + 0x0C, 4);
    if (extraAt != 0) {
        const unsigned char* extra = Block(extraAt, kExtra, "extra block of " + field);
        if (!extra)
            return false;
        d.sectors = LittleEndian(extra + 4, 4);
    } else {
        // Without an extra block (a DVD) the track runs to the session's end.
        const auto end =
            static_cast<std::int64_t>(static_cast<std::int32_t>(LittleEndian(session + 4, 4)));
        d.sectors = end > d.start ? static_cast<std::uint64_t>(end - d.start) : 0;
    }
    out.tracks.push_back(d);
    return true;
}

// The form from the mode's low four bits (9 audio, 0xA and 2 mode 1, 0xB to
// 0xD mode 2) and the sector size (96 bytes more with subchannel data).
bool AlcoholReader::TrackForm(const unsigned char* t, DiscTrack& d, const std::string& field) {
    const unsigned mode = t[0] & 0x0F;
    d.stride = static_cast<std::uint32_t>(LittleEndian(t + 0x10, 2));
    const std::uint32_t main = t[1] != 0 ? d.stride - 96 : d.stride;
    const bool audio = mode == 0x09, mode1 = mode == 0x0A || mode == 0x02;
    const bool mode2 = mode >= 0x0B && mode <= 0x0D;
    if (main == 2048 && !audio)
        d.form = SectorForm::Mode1_2048;
    else if (main == 2336 && mode2)
        d.form = SectorForm::Mode2_2336;
    else if (main == 2352 && (audio || mode1 || mode2))
        d.form = audio   ? SectorForm::Audio
                 : mode1 ? SectorForm::Mode1_2352
                         : SectorForm::Mode2_2352;
    else
        return Bad(field + " sector size",
                   "Sector size " + std::to_string(d.stride) + " with mode " +
                       std::to_string(t[0]) + " is not supported",
                   port::ERROR_NOT_SUPPORTED);
    return true;
}

// The footer names the data file: "*.mdf" is the descriptor's own name with
// .mdf; a name is taken from the descriptor's folder.
bool AlcoholReader::DataFile(const unsigned char* t, std::string& file, const std::string& field) {
    if (LittleEndian(t + 0x30, 4) != 1)
        return Bad(field + " files", "Tracks split over several files are not supported",
                   port::ERROR_NOT_SUPPORTED);
    const unsigned char* footer = Block(LittleEndian(t + 0x34, 4), kFooter, "footer of " + field);
    if (!footer)
        return false;
    const std::uint64_t at = LittleEndian(footer, 4);
    const bool wide = LittleEndian(footer + 4, 4) != 0;
    std::string name;
    for (std::uint64_t i = at; name.size() < 4096; i += wide ? 2 : 1) {
        const unsigned char* c = Block(i, wide ? 2 : 1, "file name of " + field);
        if (!c)
            return false;
        const unsigned v = wide ? static_cast<unsigned>(LittleEndian(c, 2)) : *c;
        if (v == 0)
            break;
        if (v >= 0x80)
            return Bad("file name of " + field, "The data file's name is not plain text",
                       port::ERROR_NOT_SUPPORTED);
        name += static_cast<char>(v);
    }
    if (name.empty() || name.find('/') != std::string::npos)
        return Bad("file name of " + field, "The data file's name is empty or holds a folder");
    const std::size_t slash = m_path.rfind('/');
    const std::string dir =
        slash == std::string::npos ? std::string() : m_path.substr(0, slash + 1);
    file = name.rfind("*.", 0) == 0 ? WithExtension(m_path, name.substr(1)) : dir + name;
    return true;
}

} // namespace

bool ReadAlcohol(const std::string& path, Disc& out, DiscFault& fault) {
    AlcoholReader reader(path, fault);
    return reader.Read(out);
}

} // namespace vdrive
