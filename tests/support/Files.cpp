#include "tests/support/Files.h"

#include <cstdio>
#include <cstdlib>
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
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "<unreadable>";
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
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
    int rc = std::system(("{ " + cmd + "\n} >" + Q(out) + " 2>" + Q(err)).c_str());
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
