// Helpers of the engine tests: a private temporary folder (also used as the
// config folder), files, and running the independent ISO readers.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace burner_test {

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/spindle-burner-test-XXXXXX";
        path_ = ::mkdtemp(pattern);
        ::setenv("SPINDLE_CONFIG_DIR", (path_ + "/config").c_str(), 1);
        ::setenv("SPINDLE_RUNTIME_DIR", (path_ + "/runtime").c_str(), 1);
    }
    ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// Quotes a path for the shell.
inline std::string Q(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

// Runs a shell command; returns its standard output.
inline std::string Run(const std::string& cmd, int* status = nullptr) {
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    int rc = ::pclose(p);
    if (status)
        *status = rc;
    return out;
}

// Every path of an image's Rock Ridge tree, as xorriso lists it, sorted.
inline std::string ImageTree(const std::string& image) {
    return Run("xorriso -indev " + Q(image) + " -find / 2>/dev/null | sort");
}

// The volume id from the primary descriptor.
inline std::string VolumeId(const std::string& image) {
    std::string d = Run("isoinfo -d -i " + Q(image));
    std::size_t at = d.find("Volume id: ");
    if (at == std::string::npos)
        return "<none>";
    at += 11;
    return d.substr(at, d.find('\n', at) - at);
}

} // namespace burner_test
