// A private runtime and config folder for one test, removed afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace spindle_test {

class TempEnv {
public:
    TempEnv() {
        char tmpl[] = "/tmp/spindle-test-XXXXXX";
        root_ = mkdtemp(tmpl);
        runtime_ = root_ + "/run";
        config_ = root_ + "/cfg";
        std::filesystem::create_directories(runtime_);
        std::filesystem::create_directories(config_);
        setenv("SPINDLE_RUNTIME_DIR", runtime_.c_str(), 1);
        setenv("SPINDLE_CONFIG_DIR", config_.c_str(), 1);
    }
    ~TempEnv() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
        unsetenv("SPINDLE_RUNTIME_DIR");
        unsetenv("SPINDLE_CONFIG_DIR");
    }
    TempEnv(const TempEnv&) = delete;
    TempEnv& operator=(const TempEnv&) = delete;

    const std::string& root() const { return root_; }
    const std::string& runtime() const { return runtime_; }
    const std::string& config() const { return config_; }

    // Starts with an empty drive table (no seeding from the machine).
    void EmptyTable() const { std::filesystem::create_directories(runtime_ + "/dosdevices"); }

    std::string Write(const std::string& name, const std::string& data) const {
        std::string path = root_ + "/" + name;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << data;
        return path;
    }

private:
    std::string root_, runtime_, config_;
};

} // namespace spindle_test
