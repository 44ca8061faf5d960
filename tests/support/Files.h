// Helpers every test uses: a temporary folder removed afterwards, whole-file
// reads and writes, trees of files, test data, and running shell commands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace spindle_test {

// A fresh folder under /tmp, removed with everything in it when the object
// goes (anything still mounted below it is detached first, so nothing is
// deleted through a mount).
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "spindle-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Writes a whole file; throws when it cannot.
void WriteFile(const std::string& path, const std::string& data);
// A whole file, or "<unreadable>" when it cannot be read (so that it never
// compares equal to an expected empty file).
std::string ReadFile(const std::string& path);
// A whole file, or `ifUnreadable` when it cannot be read (a check to which a
// missing file and an empty one are alike).
std::string ReadFile(const std::string& path, const std::string& ifUnreadable);
// True when something (a link included) has that name.
bool Exists(const std::string& path);
// Makes `path` a file of `size` bytes that read as zeros and take no room
// on disk (a hole); whether it could.
bool MakeSparseFile(const std::string& path, std::uint64_t size);
// Whether two files hold the same bytes; sparse files of several GiB are
// compared without reading their holes.
bool SameBytes(const std::string& a, const std::string& b);

// Files (paths relative to `root`, and their contents) written with the
// folders they need; throws when one cannot be written.
using FileList = std::vector<std::pair<std::string, std::string>>;
void WriteTree(const std::string& root, const FileList& files);

// `n` deterministic pseudo-random bytes, the same for the same seed.
std::string RandomBytes(std::size_t n, std::uint32_t seed);

// Quotes text for the shell.
std::string Q(const std::string& s);
// Runs a shell command quietly; true on exit status 0.
bool Shell(const std::string& cmd);
// Runs a shell command; its standard output, and its wait status in `status`.
std::string Run(const std::string& cmd, int* status = nullptr);

// What a command line did: its exit status (-1 when it did not exit) and
// what it wrote to standard output and error.
struct Outcome {
    int status = -1;
    std::string out, err;
};
// Runs a shell command line (a pipeline too) with no input, its output and
// errors caught in files of the folder `dir`.
Outcome RunCaught(const std::string& cmd, const std::string& dir);

} // namespace spindle_test
