#include "tests/support/TempEnv.h"

#include "tests/support/DriverProcess.h"

#include <cstdlib>
#include <filesystem>

namespace spindle_test {

TempConfigDir::TempConfigDir() : TempDir("spindle-test") {
    setenv("SPINDLE_CONFIG_DIR", (*this / "config").c_str(), 1);
    setenv("SPINDLE_RUNTIME_DIR", (*this / "runtime").c_str(), 1);
}

TempEnv::TempEnv() : m_runtime(m_dir / "run"), m_config(m_dir / "cfg"), m_home(m_dir / "home") {
    std::filesystem::create_directories(m_runtime);
    std::filesystem::create_directories(m_config);
    std::filesystem::permissions(m_runtime, std::filesystem::perms::owner_all);
    setenv("SPINDLE_RUNTIME_DIR", m_runtime.c_str(), 1);
    setenv("SPINDLE_CONFIG_DIR", m_config.c_str(), 1);
    setenv("SPINDLE_STATE_DIR", (m_dir / "state").c_str(), 1);
    // A driver started here shows its drives in the home folder: this one.
    if (const char* home = std::getenv("HOME"))
        m_oldHome = home;
    std::filesystem::create_directories(m_home);
    setenv("HOME", m_home.c_str(), 1);
}

TempEnv::~TempEnv() {
    // A driver a mount started in the background for this folder ends with it.
    StopDriverOf(m_runtime);
    unsetenv("SPINDLE_RUNTIME_DIR");
    unsetenv("SPINDLE_CONFIG_DIR");
    unsetenv("SPINDLE_STATE_DIR");
    if (m_oldHome.empty())
        unsetenv("HOME");
    else
        setenv("HOME", m_oldHome.c_str(), 1);
}

void TempEnv::EmptyTable() const {
    std::filesystem::create_directories(m_runtime + "/dosdevices");
}

std::string TempEnv::Write(const std::string& name, const std::string& data) const {
    std::string path = m_dir / name;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WriteFile(path, data);
    return path;
}

} // namespace spindle_test
