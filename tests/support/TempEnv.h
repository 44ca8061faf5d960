// A private runtime, config, state (root/state, made when first written) and
// home folder for one test, removed afterwards.
#pragma once

#include "tests/support/Files.h"

// Tests written against this header use these too.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace spindle_test {

// A temporary folder that is also the config ("config") and runtime
// ("runtime") folder of this process and the programs it starts, for tests
// that need no more of an environment; the folders are made by whoever
// first writes there.
class TempConfigDir : public TempDir {
public:
    TempConfigDir();
};

class TempEnv {
public:
    TempEnv();
    ~TempEnv();
    TempEnv(const TempEnv&) = delete;
    TempEnv& operator=(const TempEnv&) = delete;

    const std::string& root() const { return m_dir.path(); }
    const std::string& runtime() const { return m_runtime; }
    const std::string& config() const { return m_config; }
    const std::string& home() const { return m_home; }

    // Starts with an empty drive table (no seeding from the machine).
    void EmptyTable() const;
    // Writes a file (and its folders) below the root; its path.
    std::string Write(const std::string& name, const std::string& data) const;

private:
    TempDir m_dir;
    std::string m_runtime, m_config, m_home, m_oldHome;
};

} // namespace spindle_test
