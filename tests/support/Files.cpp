#include "tests/support/Files.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace spindle_test {

TempDir::TempDir(const std::string& prefix) {
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

namespace {

// A mount point as mountinfo writes it: blanks, tabs, line breaks and
// backslashes as three-digit octal escapes ("CDROM\040(K:)").
std::string UnescapeMountPoint(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string::npos) {
                out += static_cast<char>(std::stoi(digits, nullptr, 8));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

} // namespace

TempDir::~TempDir() {
    // Mounts left inside, such as those of a driver that was killed, are
    // detached first: the folder cannot go while they are attached.
    std::ifstream in("/proc/self/mountinfo");
    std::string line, prefix = " " + m_path + "/";
    std::vector<std::string> mounts;
    while (std::getline(in, line)) {
        size_t at = line.find(prefix);
        if (at != std::string::npos)
            mounts.push_back(
                UnescapeMountPoint(line.substr(at + 1, line.find(' ', at + 1) - at - 1)));
    }
    for (const auto& m : mounts)
        umount2(m.c_str(), MNT_DETACH);
    Shell("rm -rf " + Q(m_path));
}

void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
    return ReadFile(path, "<unreadable>");
}

std::string ReadFile(const std::string& path, const std::string& ifUnreadable) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return ifUnreadable;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

namespace {

// The ranges [start, end) of a file that hold data; holes read as zeros.
std::vector<std::pair<off_t, off_t>> DataRanges(int fd, off_t size) {
    std::vector<std::pair<off_t, off_t>> ranges;
    for (off_t at = 0; at < size;) {
        off_t data = ::lseek(fd, at, SEEK_DATA);
        if (data < 0)
            break;
        off_t hole = ::lseek(fd, data, SEEK_HOLE);
        ranges.emplace_back(data, hole < 0 ? size : hole);
        at = hole < 0 ? size : hole;
    }
    return ranges;
}

bool SameRange(int a, int b, off_t from, off_t to) {
    std::vector<char> ba(1 << 20), bb(1 << 20);
    for (off_t at = from; at < to;) {
        const auto n = static_cast<std::size_t>(std::min<off_t>(ba.size(), to - at));
        if (::pread(a, ba.data(), n, at) != static_cast<ssize_t>(n) ||
            ::pread(b, bb.data(), n, at) != static_cast<ssize_t>(n) ||
            std::memcmp(ba.data(), bb.data(), n) != 0)
            return false;
        at += static_cast<off_t>(n);
    }
    return true;
}

} // namespace

// Compares only where either file holds data: elsewhere both read as zeros.
bool SameBytes(const std::string& a, const std::string& b) {
    int fa = ::open(a.c_str(), O_RDONLY | O_CLOEXEC);
    int fb = ::open(b.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat sa {};
    struct stat sb {};
    bool same = fa >= 0 && fb >= 0 && ::fstat(fa, &sa) == 0 && ::fstat(fb, &sb) == 0 &&
                sa.st_size == sb.st_size;
    if (same) {
        for (int fd : {fa, fb})
            for (auto [from, to] : DataRanges(fd, sa.st_size))
                same = same && SameRange(fa, fb, from, to);
    }
    if (fa >= 0)
        ::close(fa);
    if (fb >= 0)
        ::close(fb);
    return same;
}

bool MakeSparseFile(const std::string& path, std::uint64_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
    return ::close(fd) == 0 && ok;
}

void WriteTree(const std::string& root, const FileList& files) {
    for (const auto& [name, data] : files) {
        const std::filesystem::path path = std::filesystem::path(root) / name;
        std::filesystem::create_directories(path.parent_path());
        WriteFile(path.string(), data);
    }
}

std::string RandomBytes(std::size_t n, std::uint32_t seed) {
    std::string s(n, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (char& c : s) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x & 0xFF);
    }
    return s;
}

std::string Q(const std::string& s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

bool Shell(const std::string& cmd) {
    return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0;
}

Outcome RunCaught(const std::string& cmd, const std::string& dir) {
    const std::string out = dir + "/run.out", err = dir + "/run.err";
    int rc = std::system(("{ " + cmd + "\n} >" + Q(out) + " 2>" + Q(err) + " </dev/null").c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, ReadFile(out), ReadFile(err)};
}

std::string Run(const std::string& cmd, int* status) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    int rc = pclose(p);
    if (status)
        *status = rc;
    return out;
}

} // namespace spindle_test
