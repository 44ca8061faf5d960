#include "burner/CueSheet.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <sstream>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace burner {

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

std::optional<TrackMode> ParseMode(const std::string& s) {
    static const std::map<std::string, TrackMode> kModes = {
        {"MODE1/2048", TrackMode::Mode1_2048},
        {"MODE1/2352", TrackMode::Mode1_2352},
        {"MODE2/2352", TrackMode::Mode2_2352},
        {"AUDIO", TrackMode::Audio},
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
    bool swap = false;
    std::vector<std::size_t> tracks;
    std::vector<std::int64_t> starts;
};

std::string LineError(int line, const std::string& what) {
    return "Line " + std::to_string(line) + " of the cue sheet: " + what;
}

// Lays the tracks of one file out in bytes and checks that they fill it.
std::string LayOut(const FileGroup& g, std::vector<CueTrack>& tracks) {
    struct stat st;
    if (::stat(g.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return "The file \"" + g.name + "\" named by the cue sheet was not found";
    if (g.tracks.empty())
        return "The file \"" + g.name + "\" of the cue sheet has no TRACK";
    const std::int64_t size = st.st_size;
    std::int64_t offset = 0;
    for (std::size_t k = 0; k < g.tracks.size(); ++k) {
        CueTrack& t = tracks[g.tracks[k]];
        const std::int64_t ss = SectorSize(t.mode);
        t.file = g.path;
        t.swapBytes = g.swap && t.mode == TrackMode::Audio;
        if (k > 0) {
            const CueTrack& prev = tracks[g.tracks[k - 1]];
            offset = prev.offset + prev.sectors * SectorSize(prev.mode);
        } else {
            offset = g.starts[0] * ss;
        }
        t.offset = offset;
        if (k + 1 < g.tracks.size()) {
            t.sectors = g.starts[k + 1] - g.starts[k];
            if (t.sectors <= 0)
                return "Track " + std::to_string(t.number) + " has no sectors";
            if (offset + t.sectors * ss > size)
                return "The file \"" + g.name + "\" is too short for track " +
                       std::to_string(t.number);
        } else {
            std::int64_t rest = size - offset;
            if (rest <= 0)
                return "The file \"" + g.name + "\" is too short for track " +
                       std::to_string(t.number);
            if (rest % ss != 0)
                return "The size of \"" + g.name + "\" does not fit track " +
                       std::to_string(t.number) + " (" + std::to_string(rest) +
                       " bytes are not whole sectors of " + std::to_string(ss) + ")";
            t.sectors = rest / ss;
        }
    }
    return {};
}

} // namespace

int SectorSize(TrackMode mode) {
    return mode == TrackMode::Mode1_2048 ? 2048 : 2352;
}

std::int64_t CueSheet::PayloadBytes() const {
    std::int64_t total = 0;
    for (const CueTrack& t : tracks)
        total += (t.sectors + (t.mode == TrackMode::Audio ? t.pregap : 0)) *
                 (t.mode == TrackMode::Audio ? 2352 : 2048);
    return total;
}

std::string ParseCueSheet(std::string_view text, const std::string& baseDir, CueSheet& out) {
    out = {};
    std::vector<FileGroup> files;
    std::vector<CueTrack>& tracks = out.tracks;
    std::istringstream in{std::string(text)};
    std::string line;
    std::vector<std::string> w;
    int lineNo = 0;
    bool trackHasData = false;
    while (std::getline(in, line)) {
        ++lineNo;
        if (lineNo == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0)
            line.erase(0, 3);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!SplitLine(line, w))
            return LineError(lineNo, "a quote is not closed");
        if (w.empty())
            continue;
        const std::string key = Upper(w[0]);
        if (key == "FILE") {
            if (w.size() != 3)
                return LineError(lineNo, "FILE needs a name and a type");
            std::string type = Upper(w[2]);
            if (type != "BINARY" && type != "MOTOROLA")
                return LineError(lineNo, "file type " + w[2] + " is not supported (only BINARY)");
            files.push_back({Resolve(w[1], baseDir), w[1], type == "MOTOROLA", {}, {}});
        } else if (key == "TRACK") {
            if (files.empty())
                return LineError(lineNo, "TRACK comes before any FILE");
            if (w.size() != 3)
                return LineError(lineNo, "TRACK needs a number and a mode");
            int number = std::atoi(w[1].c_str());
            if (number < 1 || number > 99 ||
                (!tracks.empty() && number != tracks.back().number + 1))
                return LineError(lineNo, "track number " + w[1] + " is out of order");
            auto mode = ParseMode(w[2]);
            if (!mode)
                return LineError(lineNo, "track mode " + w[2] + " is not supported");
            if (!tracks.empty() && !trackHasData)
                return LineError(lineNo, "track " + std::to_string(tracks.back().number) +
                                             " has no INDEX 01");
            CueTrack t;
            t.number = number;
            t.mode = *mode;
            tracks.push_back(t);
            files.back().tracks.push_back(tracks.size() - 1);
            files.back().starts.push_back(-1);
            trackHasData = false;
        } else if (key == "INDEX") {
            if (tracks.empty() || files.back().tracks.empty() ||
                files.back().tracks.back() != tracks.size() - 1)
                return LineError(lineNo, "INDEX outside a track of the current FILE");
            auto at = w.size() == 3 ? ParseTime(w[2]) : std::nullopt;
            int number = std::atoi(w[1].c_str());
            if (!at || number < 0 || number > 99 ||
                w[1].find_first_not_of("0123456789") != std::string::npos)
                return LineError(lineNo, "INDEX needs a number and a time mm:ss:ff");
            CueTrack& t = tracks.back();
            std::int64_t& start = files.back().starts.back();
            if (t.indexes.empty()) {
                if (number > 1)
                    return LineError(lineNo, "the first INDEX of a track must be 00 or 01");
                start = *at;
                std::size_t n = files.back().starts.size();
                if (n > 1 && start <= files.back().starts[n - 2])
                    return LineError(lineNo, "INDEX goes backwards");
            } else if (number != t.indexes.back().number + 1 ||
                       *at - start <= t.indexes.back().sector) {
                return LineError(lineNo, "INDEX " + w[1] + " is out of order");
            }
            t.indexes.push_back({number, *at - start});
            if (number == 1)
                trackHasData = true;
        } else if (key == "PREGAP") {
            auto at = w.size() == 2 ? ParseTime(w[1]) : std::nullopt;
            if (tracks.empty() || !at || !tracks.back().indexes.empty())
                return LineError(lineNo,
                                 "PREGAP needs a time and must come before the track's INDEX");
            tracks.back().pregap = static_cast<int>(*at);
        } else if (!IsPassedOver(key)) {
            return LineError(lineNo, "unknown command " + w[0]);
        }
    }
    if (files.empty())
        return "The cue sheet names no FILE";
    if (tracks.empty())
        return "The cue sheet has no TRACK";
    if (!trackHasData)
        return "Track " + std::to_string(tracks.back().number) + " has no INDEX 01";
    for (const FileGroup& g : files) {
        std::string error = LayOut(g, tracks);
        if (!error.empty())
            return error;
    }
    return {};
}

std::string LoadCueSheet(const std::string& path, CueSheet& out) {
    constexpr std::int64_t kMaxCueBytes = 1 << 20;
    // Type and size come first, from the open file itself: a device or a
    // FIFO given as the sheet is refused before a byte is read (a device
    // never ends, a FIFO blocks), and so is a regular file too large to be
    // a sheet. O_NONBLOCK keeps the open of a FIFO from waiting for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return "The cue sheet \"" + path + "\" cannot be read: " + std::strerror(errno);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return "\"" + path + "\" is not a cue sheet (it is not a regular file)";
    }
    if (st.st_size > kMaxCueBytes) {
        ::close(fd);
        return "\"" + path + "\" is too large to be a cue sheet";
    }
    // One byte more than the size: a file that grows meanwhile is refused.
    std::string text(static_cast<std::size_t>(st.st_size) + 1, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            return "The cue sheet \"" + path + "\" cannot be read: " + std::strerror(err);
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (got > static_cast<std::size_t>(st.st_size))
        return "The cue sheet \"" + path + "\" changed while it was read";
    text.resize(got);
    if (text.find('\0') != std::string::npos)
        return "\"" + path + "\" is not a cue sheet (it holds binary data)";
    std::size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    return ParseCueSheet(text, dir, out);
}

} // namespace burner
