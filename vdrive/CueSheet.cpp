#include "vdrive/CueSheet.h"

#include "vdrive/TextFile.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <sstream>

#include <sys/stat.h>

namespace vdrive {

namespace {

// Splits a line into words; a quoted word may hold blanks.
bool SplitLine(std::string_view line, std::vector<std::string>& words) {
    words.clear();
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])))
            ++i;
        if (i >= line.size())
            break;
        std::string word;
        if (line[i] == '"') {
            std::size_t end = line.find('"', i + 1);
            if (end == std::string_view::npos)
                return false;
            word = std::string(line.substr(i + 1, end - i - 1));
            i = end + 1;
        } else {
            while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])))
                word += line[i++];
        }
        words.push_back(std::move(word));
    }
    return true;
}

std::string Upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// mm:ss:ff with 75 frames a second; nullopt when malformed.
std::optional<std::int64_t> ParseTime(const std::string& s) {
    int m = 0, sec = 0, f = 0;
    char c1 = 0, c2 = 0, rest = 0;
    std::istringstream in(s);
    if (!(in >> m >> c1 >> sec >> c2 >> f) || c1 != ':' || c2 != ':' || (in >> rest))
        return std::nullopt;
    if (m < 0 || sec < 0 || sec >= 60 || f < 0 || f >= 75)
        return std::nullopt;
    return (static_cast<std::int64_t>(m) * 60 + sec) * 75 + f;
}

std::optional<SectorForm> ParseMode(const std::string& s) {
    static const std::map<std::string, SectorForm> kModes = {
        {"MODE1/2048", SectorForm::Mode1_2048}, {"MODE1/2352", SectorForm::Mode1_2352},
        {"MODE2/2352", SectorForm::Mode2_2352}, {"MODE2/2336", SectorForm::Mode2_2336},
        {"AUDIO", SectorForm::Audio},
    };
    auto it = kModes.find(Upper(s));
    if (it == kModes.end())
        return std::nullopt;
    return it->second;
}

bool IsPassedOver(const std::string& keyword) {
    static const char* const kIgnored[] = {"REM",       "CATALOG",    "TITLE",
                                           "PERFORMER", "SONGWRITER", "FLAGS",
                                           "ISRC",      "CDTEXTFILE", "POSTGAP"};
    return std::any_of(std::begin(kIgnored), std::end(kIgnored),
                       [&](const char* k) { return keyword == k; });
}

// Resolves a FILE name against the cue's folder. A name written with the
// other platform's separators is tried with "/" when it is not found as it
// stands.
std::string Resolve(const std::string& name, const std::string& baseDir) {
    auto join = [&](const std::string& n) {
        return !n.empty() && n[0] == '/' ? n : (baseDir.empty() ? n : baseDir + "/" + n);
    };
    std::string path = join(name);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 && name.find('\\') != std::string::npos) {
        std::string converted = name;
        std::replace(converted.begin(), converted.end(), '\\', '/');
        return join(converted);
    }
    return path;
}

// One FILE and the tracks in it, with each track's start in frames.
struct FileGroup {
    std::string path;
    std::string name; // as written
    int line = 0;
    bool swap = false;
    std::vector<std::size_t> tracks;
    std::vector<std::int64_t> starts;
};

bool Refuse(DiscFault& fault, port::ErrorCode code, std::string file, int line, std::string field,
            std::string detail) {
    fault = {code, std::move(file), line, std::move(field), std::move(detail)};
    return false;
}

// The sheet read line by line: each command checks its words and adds to
// the files and tracks read so far.
class CueParser {
public:
    CueParser(const std::string& baseDir, const std::string& sheet, CueSheet& out, DiscFault& fault)
        : m_baseDir(baseDir), m_sheet(sheet), m_tracks(out.tracks), m_fault(fault) {}

    bool Line(std::string line);
    bool Finish();

private:
    bool File();
    bool Track();
    bool Index();
    bool Pregap();
    bool Bad(const std::string& what, port::ErrorCode code = port::ERROR_INVALID_DATA) {
        return Refuse(m_fault, code, m_sheet, m_lineNo, m_key,
                      "Line " + std::to_string(m_lineNo) + " of the cue sheet: " + what);
    }
    bool LayOut(const FileGroup& g);
    bool FileFault(const FileGroup& g, const CueTrack& t, port::ErrorCode code,
                   const std::string& what) {
        return Refuse(m_fault, code, g.path, t.line, "TRACK " + std::to_string(t.number), what);
    }

    const std::string& m_baseDir;
    const std::string& m_sheet;
    std::vector<CueTrack>& m_tracks;
    DiscFault& m_fault;
    std::vector<FileGroup> m_files;
    std::vector<std::string> m_words;
    std::string m_key;
    int m_lineNo = 0;
    bool m_trackHasData = false;
};

bool CueParser::Line(std::string line) {
    ++m_lineNo;
    m_key.clear();
    if (m_lineNo == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0)
        line.erase(0, 3);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (!SplitLine(line, m_words))
        return Bad("a quote is not closed");
    if (m_words.empty())
        return true;
    m_key = Upper(m_words[0]);
    if (m_key == "FILE")
        return File();
    if (m_key == "TRACK")
        return Track();
    if (m_key == "INDEX")
        return Index();
    if (m_key == "PREGAP")
        return Pregap();
    if (!IsPassedOver(m_key))
        return Bad("unknown command " + m_words[0]);
    return true;
}

bool CueParser::File() {
    const auto& w = m_words;
    if (w.size() != 3)
        return Bad("FILE needs a name and a type");
    std::string type = Upper(w[2]);
    if (type != "BINARY" && type != "MOTOROLA")
        return Bad("file type " + w[2] + " is not supported (only BINARY)",
                   port::ERROR_NOT_SUPPORTED);
    m_files.push_back({Resolve(w[1], m_baseDir), w[1], m_lineNo, type == "MOTOROLA", {}, {}});
    return true;
}

bool CueParser::Track() {
    const auto& w = m_words;
    if (m_files.empty())
        return Bad("TRACK comes before any FILE");
    if (w.size() != 3)
        return Bad("TRACK needs a number and a mode");
    int number = std::atoi(w[1].c_str());
    if (number < 1 || number > 99 || (!m_tracks.empty() && number != m_tracks.back().number + 1))
        return Bad("track number " + w[1] + " is out of order");
    auto mode = ParseMode(w[2]);
    if (!mode)
        return Bad("track mode " + w[2] + " is not supported", port::ERROR_NOT_SUPPORTED);
    if (!m_tracks.empty() && !m_trackHasData)
        return Bad("track " + std::to_string(m_tracks.back().number) + " has no INDEX 01");
    CueTrack t;
    t.number = number;
    t.mode = *mode;
    t.line = m_lineNo;
    m_tracks.push_back(t);
    m_files.back().tracks.push_back(m_tracks.size() - 1);
    m_files.back().starts.push_back(-1);
    m_trackHasData = false;
    return true;
}

bool CueParser::Index() {
    const auto& w = m_words;
    if (m_tracks.empty() || m_files.back().tracks.empty() ||
        m_files.back().tracks.back() != m_tracks.size() - 1)
        return Bad("INDEX outside a track of the current FILE");
    auto at = w.size() == 3 ? ParseTime(w[2]) : std::nullopt;
    int number = std::atoi(w[1].c_str());
    if (!at || number < 0 || number > 99 ||
        w[1].find_first_not_of("0123456789") != std::string::npos)
        return Bad("INDEX needs a number and a time mm:ss:ff");
    CueTrack& t = m_tracks.back();
    std::int64_t& start = m_files.back().starts.back();
    if (t.indexes.empty()) {
        if (number > 1)
            return Bad("the first INDEX of a track must be 00 or 01");
        start = *at;
        std::size_t n = m_files.back().starts.size();
        if (n > 1 && start <= m_files.back().starts[n - 2])
            return Bad("INDEX goes backwards");
    } else if (number != t.indexes.back().number + 1 || *at - start <= t.indexes.back().sector) {
        return Bad("INDEX " + w[1] + " is out of order");
    }
    t.indexes.push_back({number, *at - start});
    if (number == 1)
        m_trackHasData = true;
    return true;
}

bool CueParser::Pregap() {
    auto at = m_words.size() == 2 ? ParseTime(m_words[1]) : std::nullopt;
    if (m_tracks.empty() || !at || !m_tracks.back().indexes.empty())
        return Bad("PREGAP needs a time and must come before the track's INDEX");
    m_tracks.back().pregap = static_cast<int>(*at);
    return true;
}

// Lays the tracks of one file out in bytes and checks that they fill it.
bool CueParser::LayOut(const FileGroup& g) {
    struct stat st;
    if (::stat(g.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return Refuse(m_fault, port::ERROR_FILE_NOT_FOUND, g.path, g.line, "FILE",
                      "The file \"" + g.name + "\" named by the cue sheet was not found");
    if (g.tracks.empty())
        return Refuse(m_fault, port::ERROR_INVALID_DATA, m_sheet, g.line, "FILE",
                      "The file \"" + g.name + "\" of the cue sheet has no TRACK");
    const std::int64_t size = st.st_size;
    for (std::size_t k = 0; k < g.tracks.size(); ++k) {
        CueTrack& t = m_tracks[g.tracks[k]];
        const std::int64_t ss = SectorBytes(t.mode);
        t.file = g.path;
        t.swapBytes = g.swap && t.mode == SectorForm::Audio;
        if (k > 0) {
            const CueTrack& prev = m_tracks[g.tracks[k - 1]];
            t.offset = prev.offset + prev.sectors * SectorBytes(prev.mode);
        } else {
            t.offset = g.starts[0] * ss;
        }
        const std::string tooShort =
            "The file \"" + g.name + "\" is too short for track " + std::to_string(t.number);
        if (k + 1 < g.tracks.size()) {
            t.sectors = g.starts[k + 1] - g.starts[k];
            if (t.sectors <= 0)
                return FileFault(g, t, port::ERROR_INVALID_DATA,
                                 "Track " + std::to_string(t.number) + " has no sectors");
            if (t.offset + t.sectors * ss > size)
                return FileFault(g, t, port::ERROR_HANDLE_EOF, tooShort);
            continue;
        }
        const std::int64_t rest = size - t.offset;
        if (rest <= 0)
            return FileFault(g, t, port::ERROR_HANDLE_EOF, tooShort);
        if (rest % ss != 0)
            return FileFault(g, t, port::ERROR_HANDLE_EOF,
                             "The size of \"" + g.name + "\" does not fit track " +
                                 std::to_string(t.number) + " (" + std::to_string(rest) +
                                 " bytes are not whole sectors of " + std::to_string(ss) + ")");
        t.sectors = rest / ss;
    }
    return true;
}

bool CueParser::Finish() {
    m_key.clear();
    if (m_files.empty())
        return Refuse(m_fault, port::ERROR_INVALID_DATA, m_sheet, 0, "FILE",
                      "The cue sheet names no FILE");
    if (m_tracks.empty())
        return Refuse(m_fault, port::ERROR_INVALID_DATA, m_sheet, 0, "TRACK",
                      "The cue sheet has no TRACK");
    if (!m_trackHasData)
        return Refuse(m_fault, port::ERROR_INVALID_DATA, m_sheet, m_tracks.back().line, "INDEX",
                      "Track " + std::to_string(m_tracks.back().number) + " has no INDEX 01");
    return std::all_of(m_files.begin(), m_files.end(),
                       [&](const FileGroup& g) { return LayOut(g); });
}

} // namespace

int SectorBytes(SectorForm form) {
    switch (form) {
    case SectorForm::Mode1_2048:
        return 2048;
    case SectorForm::Mode2_2336:
        return 2336;
    default:
        return 2352;
    }
}

std::int64_t CueSheet::PayloadBytes() const {
    std::int64_t total = 0;
    for (const CueTrack& t : tracks) {
        const bool audio = t.mode == SectorForm::Audio;
        total += (t.sectors + (audio ? t.pregap : 0)) * (audio ? 2352 : 2048);
    }
    return total;
}

bool ParseCueSheet(std::string_view text, const std::string& baseDir, CueSheet& out,
                   DiscFault& fault, const std::string& sheet) {
    out = {};
    fault = {};
    CueParser parser(baseDir, sheet, out, fault);
    std::istringstream in{std::string(text)};
    std::string line;
    while (std::getline(in, line)) {
        if (!parser.Line(line))
            return false;
    }
    return parser.Finish();
}

bool LoadCueSheet(const std::string& path, CueSheet& out, DiscFault& fault) {
    out = {};
    std::string text;
    if (!ReadSmallTextFile(path, "cue sheet", text, fault))
        return false;
    std::size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    return ParseCueSheet(text, dir, out, fault, path);
}

} // namespace vdrive
