#include "port/DosDevices.h"

#include "port/DriveLetter.h"
#include "port/FileOps.h"
#include "port/LastError.h"
#include "port/Paths.h"
#include "port/Utf.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace port {

namespace {

constexpr const char* kLockName = ".lock";
constexpr const char* kMediaKey = "media";

// Names are case-blind: the file is named by the upper-case form.
std::optional<std::string> FileNameOf(std::string_view name) {
    if (name.empty() || name.size() > kMaxDosNameBytes || name.front() == '.')
        return std::nullopt;
    std::string out;
    for (char c : name) {
        if (c == '/' || c == '\0' || c == '\n' || c == '\r')
            return std::nullopt;
        out.push_back(UpperLetter(c));
    }
    return out;
}

bool ValidTarget(std::string_view target) {
    return !target.empty() && target.size() <= kMaxDosTargetBytes &&
           target.find_first_of(std::string_view("\n\r\0", 3)) == std::string_view::npos;
}

// Reads a file of the table (never through a link); nullopt with errno set
// when it cannot be read.
std::optional<std::string> ReadSmallFile(const std::string& path) {
    return ReadWholeFile(path, 1 << 20, O_NOFOLLOW);
}

std::vector<std::string> SplitLines(const std::string& data) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find('\n', start);
        if (end == std::string::npos)
            end = data.size();
        if (end > start)
            lines.push_back(data.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::optional<std::vector<std::string>> ReadTargets(const std::string& dir,
                                                    const std::string& file) {
    auto data = ReadSmallFile(dir + "/" + file);
    if (!data)
        return std::nullopt;
    return SplitLines(*data);
}

// Replaces the file of a name with `targets` (none: the name is removed).
bool WriteTargets(const std::string& dir, const std::string& file,
                  const std::vector<std::string>& targets) {
    std::string path = dir + "/" + file;
    if (targets.empty()) {
        if (unlink(path.c_str()) != 0 && errno != ENOENT)
            return FailWithErrno();
        return true;
    }
    std::string data;
    for (const std::string& t : targets)
        data += t + "\n";
    if (!ReplaceFile(path, data, 0600))
        return FailWithErrno();
    return true;
}

// Puts target on top of the name's stack.
bool PushTarget(const std::string& dir, const std::string& file, std::string_view target) {
    auto targets = ReadTargets(dir, file).value_or(std::vector<std::string>{});
    targets.insert(targets.begin(), std::string(target));
    return WriteTargets(dir, file, targets);
}

// Runs edit(dir) on the table (seeded first when missing) under its lock.
template <class Edit> bool EditTable(Edit&& edit) {
    if (!EnsureDosDeviceTable())
        return false;
    std::string dir = DosDeviceDir();
    FileLock lock(dir + "/" + kLockName);
    if (!lock.ok())
        return FailWithErrno();
    return edit(dir);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

std::string Trim(std::string s) {
    const char* ws = " \t\r";
    size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos)
        return {};
    size_t e = s.find_last_not_of(ws);
    return s.substr(b, e - b + 1);
}

struct ConfLine {
    std::string name; // "K:"
    std::string target;
};

// Whether `value` can stand after "media =": "off", an absolute folder or
// one in the home folder ("~/...").
bool ValidMediaValue(const std::string& value) {
    return value == "off" || (value.size() > 1 && value[0] == '/') || value.starts_with("~/");
}

// The drive lines of drives.conf ("R = stdio:PATH"); a line that cannot be
// read goes to `problems` with its number. The last "media = ..." line goes
// to `media`.
std::vector<ConfLine> ParseDrivesConf(const std::string& data, std::vector<std::string>* problems,
                                      std::string* media = nullptr) {
    std::vector<ConfLine> lines;
    std::size_t start = 0;
    for (int number = 1; start < data.size(); ++number) {
        std::size_t end = data.find('\n', start);
        if (end == std::string::npos)
            end = data.size();
        std::string line = Trim(data.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        auto bad = [&](const std::string& why) {
            if (problems)
                problems->push_back("drives.conf line " + std::to_string(number) + ": " + why);
        };
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            bad("no '=' between a drive letter and its target");
            continue;
        }
        std::string key = Trim(line.substr(0, eq));
        std::string target = Trim(line.substr(eq + 1));
        std::string lower = key;
        for (char& c : lower)
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        if (lower == kMediaKey) {
            if (!ValidMediaValue(target))
                bad("media = '" + target + "' is neither 'off' nor a folder (/... or ~/...)");
            else if (media)
                *media = target;
            continue;
        }
        const char letter = static_cast<char>(ParseDriveLetter(key));
        if (!letter) {
            bad("'" + key + "' is not a drive letter (A to Z)");
            continue;
        }
        if (!ValidTarget(target)) {
            bad("the target of " + std::string(1, letter) + ": is empty or too long");
            continue;
        }
        lines.push_back({std::string(1, letter) + ":", target});
    }
    return lines;
}

std::string DrivesConfPath() {
    return ConfigDir() + "/drives.conf";
}

// What the table last took from drives.conf: its size, change time and
// inode, kept in the table folder so that every process sees one state.
constexpr const char* kConfStampName = ".drives.conf.seen";

std::string ConfStamp() {
    struct stat st {};
    if (stat(DrivesConfPath().c_str(), &st) != 0)
        return "none\n";
    return std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec) + " " + std::to_string(st.st_ino) + "\n";
}

// The optical drives the table has given a letter, one a line: each gets
// one once, so a letter the user took away does not come back.
constexpr const char* kOpticalSeenName = ".optical.seen";

// Gives each optical drive (/dev/srN) that the table has not seen before
// the next free letter from D:, as the seeding does; a drive plugged in
// later gets its letter at the next use of the table. Called with the table
// locked (or not yet in place).
void TakeInOpticalDrives(const std::string& dir) {
    const std::string seenPath = dir + "/" + kOpticalSeenName;
    std::string seen = ReadSmallFile(seenPath).value_or("");
    // A drive some letter already names counts as seen (a table made before
    // the list was kept).
    std::vector<std::string> known = SplitLines(seen);
    for (char letter = 'A'; letter <= 'Z'; ++letter)
        for (const std::string& t :
             ReadTargets(dir, std::string(1, letter) + ":").value_or(std::vector<std::string>{}))
            known.push_back(t);
    char next = 'D';
    bool added = false;
    for (int n = 0; n < 32; ++n) {
        std::string dev = "/dev/sr" + std::to_string(n);
        struct stat st {};
        if (stat(dev.c_str(), &st) != 0 || !S_ISBLK(st.st_mode) ||
            std::find(known.begin(), known.end(), dev) != known.end())
            continue;
        while (next <= 'Z' && Exists(dir + "/" + std::string(1, next) + ":"))
            ++next;
        if (next > 'Z')
            break;
        WriteTargets(dir, std::string(1, next) + ":", {dev});
        seen += dev + "\n";
        added = true;
    }
    if (added || !Exists(seenPath))
        ReplaceFile(seenPath, seen, 0600);
}

// Looks for new optical drives when /dev has changed since this process
// last looked (a device came or went), so a use of the table costs a stat.
void TakeInNewOpticalDrives(const std::string& dir) {
    static std::mutex mutex;
    static std::string seen;
    std::lock_guard guard(mutex);
    struct stat st {};
    if (stat("/dev", &st) != 0)
        return;
    const std::string stamp =
        dir + "\n" + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
    if (seen == stamp)
        return;
    seen = stamp;
    FileLock lock(dir + "/" + kLockName);
    if (lock.ok())
        TakeInOpticalDrives(dir);
}

// Writes the machine's drives into a fresh table folder.
void Seed(const std::string& dir) {
    WriteTargets(dir, "C:", {"/"});
    TakeInOpticalDrives(dir);
    const std::string stamp = ConfStamp();
    ReplaceFile(dir + "/" + kConfStampName, stamp, 0600);
    auto conf = ReadSmallFile(DrivesConfPath());
    if (!conf)
        return;
    // A user line stacks on top of a seeded drive of the same letter.
    for (const ConfLine& line : ParseDrivesConf(*conf, nullptr))
        PushTarget(dir, line.name, line.target);
}

// Takes in a drives.conf that changed since the table last read it: letters
// it defines that the table lacks are added; definitions the table has are
// left alone (they may be mounted drives or the user's own changes). A
// process remembers what it last saw, so a use of the table costs one stat.
void TakeInChangedConf(const std::string& dir) {
    static std::mutex mutex;
    static std::string seen;
    std::lock_guard guard(mutex);
    const std::string stamp = ConfStamp();
    if (seen == dir + "\n" + stamp)
        return;
    seen = dir + "\n" + stamp;
    const std::string stampPath = dir + "/" + kConfStampName;
    if (ReadSmallFile(stampPath).value_or("") == stamp)
        return;
    FileLock lock(dir + "/" + kLockName);
    if (!lock.ok() || ReadSmallFile(stampPath).value_or("") == stamp)
        return;
    if (auto conf = ReadSmallFile(DrivesConfPath())) {
        for (const ConfLine& line : ParseDrivesConf(*conf, nullptr))
            if (!Exists(dir + "/" + line.name))
                PushTarget(dir, line.name, line.target);
    }
    ReplaceFile(stampPath, stamp, 0600);
}

void RemoveFolder(const std::string& dir) {
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..")
                unlink((dir + "/" + n).c_str());
        }
        closedir(d);
    }
    rmdir(dir.c_str());
}

std::string ToUtf8Z(const char16_t* s) {
    return s ? ToUtf8(std::u16string_view(s, U16Length(s))) : std::string();
}

// Copies a list into a multi-string buffer: each item terminated, then one
// more terminator. Writes nothing when it does not fit.
std::uint32_t StoreMultiString(const std::vector<std::string>& items, char16_t* out,
                               std::uint32_t max) {
    std::u16string all;
    for (const std::string& item : items) {
        all += ToUtf16(item);
        all.push_back(u'\0');
    }
    all.push_back(u'\0');
    if (!out || all.size() > max) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(all.begin(), all.end(), out);
    return static_cast<std::uint32_t>(all.size());
}

} // namespace

std::string DosDeviceDir() {
    return RuntimeDir() + "/dosdevices";
}

std::vector<std::string> DrivesConfProblems() {
    std::vector<std::string> problems;
    if (auto conf = ReadSmallFile(DrivesConfPath()))
        ParseDrivesConf(*conf, &problems);
    return problems;
}

std::string DrivesConfMedia() {
    std::string media;
    if (auto conf = ReadSmallFile(DrivesConfPath()))
        ParseDrivesConf(*conf, nullptr, &media);
    return media;
}

bool EnsureDosDeviceTable() {
    std::string runtime;
    if (!PrivateRuntimeDir(runtime))
        return FailWithErrno();
    std::string dir = runtime + "/dosdevices";
    if (Exists(dir)) {
        TakeInChangedConf(dir);
        TakeInNewOpticalDrives(dir);
        return true;
    }
    // Seed a private folder and move it into place in one step, so that two
    // processes starting at once never see a half-seeded table.
    static std::atomic<unsigned> counter{0};
    std::string tmp =
        dir + ".seed." + std::to_string(getpid()) + "." + std::to_string(counter.fetch_add(1));
    if (mkdir(tmp.c_str(), 0700) != 0)
        return FailWithErrno();
    Seed(tmp);
    if (rename(tmp.c_str(), dir.c_str()) != 0) {
        int err = errno;
        RemoveFolder(tmp);
        if (!Exists(dir)) {
            errno = err;
            return FailWithErrno();
        }
    }
    return true;
}

std::optional<std::vector<std::string>> DosDeviceTargets(std::string_view name) {
    auto file = FileNameOf(name);
    if (!file) {
        SetLastError(ERROR_INVALID_NAME);
        return std::nullopt;
    }
    if (!EnsureDosDeviceTable())
        return std::nullopt;
    auto targets = ReadTargets(DosDeviceDir(), *file);
    if (!targets || targets->empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return std::nullopt;
    }
    return targets;
}

std::string FirstDosDeviceTarget(std::string_view name) {
    auto targets = DosDeviceTargets(name);
    return targets ? targets->front() : std::string();
}

std::vector<std::string> DosDeviceNames() {
    std::vector<std::string> names;
    if (!EnsureDosDeviceTable())
        return names;
    if (DIR* d = opendir(DosDeviceDir().c_str())) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] != '.')
                names.emplace_back(e->d_name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool PushDosDevice(std::string_view name, std::string_view target) {
    auto file = FileNameOf(name);
    if (!file)
        return FailWith(ERROR_INVALID_NAME);
    if (!ValidTarget(target))
        return FailWith(ERROR_INVALID_PARAMETER);
    return EditTable([&](const std::string& dir) { return PushTarget(dir, *file, target); });
}

bool RemoveDosDevice(std::string_view name, std::optional<std::string_view> target, bool exact) {
    auto file = FileNameOf(name);
    if (!file)
        return FailWith(ERROR_INVALID_NAME);
    return EditTable([&](const std::string& dir) {
        auto targets = ReadTargets(dir, *file);
        if (!targets || targets->empty())
            return FailWith(ERROR_FILE_NOT_FOUND);
        auto match = targets->begin();
        if (target) {
            match = std::find_if(targets->begin(), targets->end(), [&](const std::string& t) {
                return exact ? t == *target : t.starts_with(*target);
            });
            if (match == targets->end())
                return FailWith(ERROR_FILE_NOT_FOUND);
        }
        targets->erase(match);
        return WriteTargets(dir, *file, *targets);
    });
}

std::uint32_t QueryDosDeviceW(const char16_t* deviceName, char16_t* targetPath, std::uint32_t max) {
    if (!deviceName)
        return StoreMultiString(DosDeviceNames(), targetPath, max);
    auto targets = DosDeviceTargets(ToUtf8Z(deviceName));
    if (!targets)
        return 0;
    return StoreMultiString(*targets, targetPath, max);
}

bool DefineDosDeviceW(std::uint32_t flags, const char16_t* deviceName, const char16_t* targetPath) {
    if (!deviceName)
        return FailWith(ERROR_INVALID_PARAMETER);
    std::string name = ToUtf8Z(deviceName);
    if (flags & DDD_REMOVE_DEFINITION) {
        if (!targetPath || !*targetPath)
            return RemoveDosDevice(name, std::nullopt, false);
        std::string target = ToUtf8Z(targetPath);
        return RemoveDosDevice(name, target, (flags & DDD_EXACT_MATCH_ON_REMOVE) != 0);
    }
    if (!targetPath)
        return FailWith(ERROR_INVALID_PARAMETER);
    return PushDosDevice(name, ToUtf8Z(targetPath));
}

} // namespace port
