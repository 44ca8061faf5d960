// Helpers of the engine tests: a private temporary folder (also used as the
// config folder) and the independent ISO readers.
#pragma once

#include "tests/support/Files.h"

#include <cstdlib>
#include <fstream>
#include <string>

namespace burner_test {

// A temporary folder that is also the config and runtime folder's parent.
class TempDir : public spindle_test::TempDir {
public:
    TempDir() : spindle_test::TempDir("spindle-burner-test") {
        ::setenv("SPINDLE_CONFIG_DIR", (*this / "config").c_str(), 1);
        ::setenv("SPINDLE_RUNTIME_DIR", (*this / "runtime").c_str(), 1);
    }
};

using spindle_test::Exists;
using spindle_test::Q;
using spindle_test::ReadFile;
using spindle_test::Run;
using spindle_test::WriteFile;

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
