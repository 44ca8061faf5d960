// Helpers every test uses: a temporary folder removed afterwards, whole-file
// reads and writes, and running shell commands.
#pragma once

#include <string>

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
// True when something (a link included) has that name.
bool Exists(const std::string& path);

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
// Runs a shell command line (a pipeline too), its output and errors caught
// in files of the folder `dir`.
Outcome RunCaught(const std::string& cmd, const std::string& dir);

} // namespace spindle_test
