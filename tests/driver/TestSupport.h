// Helpers of the driver tests: temporary folders, source trees and ISO images
// made by genisoimage, xorriso and libisofs itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace drivertest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

void WriteFile(const std::string& path, const std::string& data);
std::string ReadFile(const std::string& path);
// Deterministic pseudo-random bytes.
std::string RandomBytes(std::size_t n, std::uint32_t seed);

// A small tree with long, Unicode and nested names, a file that is not a
// multiple of 2048 bytes, an empty file and an empty folder. Returns the
// paths relative to `root` of its files.
std::vector<std::string> MakeSampleTree(const std::string& root);

enum class IsoTool { Genisoimage, Xorriso, Libisofs };
const char* ToolName(IsoTool t);

// Builds an image of `srcDir` with Rock Ridge and Joliet; false when the
// tool failed.
bool BuildIso(IsoTool tool, const std::string& srcDir, const std::string& iso);

// Runs a shell command quietly; true on exit status 0.
bool Shell(const std::string& cmd);

} // namespace drivertest
