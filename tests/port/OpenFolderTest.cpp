// Opening a drive's folder: the real launcher runs the desktop's opener with
// the folder; the launcher hook sees it as a command.
#include "port/OpenFolder.h"
#include "port/Shell.h"

#include "tests/support/TempEnv.h"
#include "tests/support/Wait.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using spindle_test::TempEnv;
namespace fs = std::filesystem;

TEST(OpenFolder, RunsTheOpenerDetachedOrSaysItIsMissing) {
    TempEnv env;
    const std::string bin = env.root() + "/bin", seen = env.root() + "/seen";
    fs::create_directories(bin);
    env.Write("bin/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + seen + "'\n");
    fs::permissions(bin + "/xdg-open", fs::perms::owner_all);
    const std::string savedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (bin + ":/usr/bin:/bin").c_str(), 1);

    const std::string folder = port::DriveFolder(u'K');
    EXPECT_EQ(folder, env.runtime() + "/drives/K/");
    EXPECT_GT(port::OpenFolder(folder), 32);
    // The opener runs on its own: wait (at most 5 s) for what it was given.
    std::string arg;
    spindle_test::WaitOnChanges([&] { return (arg = spindle_test::ReadFile(seen, "")) == folder; },
                                std::chrono::seconds(5), {env.root()});
    EXPECT_EQ(arg, folder);

    setenv("PATH", env.root().c_str(), 1); // no opener anywhere
    EXPECT_EQ(port::OpenFolder(folder), 2);
    setenv("PATH", savedPath.c_str(), 1);

    port::LaunchRequest seenRequest;
    port::ScopedLauncherHook hook([&](const port::LaunchRequest& r) {
        seenRequest = r;
        return 33;
    });
    EXPECT_EQ(port::OpenFolder("/x/"), 33);
    EXPECT_EQ(seenRequest.target, "/x/");
    EXPECT_EQ(seenRequest.command, (std::vector<std::string>{"xdg-open", "/x/"}));
}
