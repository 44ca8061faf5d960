// The manual as shipped: each language's file named by its language file
// exists, every local link, anchor and image in it resolves, and it shows
// the five pages. And the one version number, as the command-line programs
// print it.
#include "SpindleVersion.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using spindle_test::ReadFile;

std::set<std::string> Ids(const std::string& html) {
    std::set<std::string> ids;
    const std::regex id(R"re(\sid="([^"]+)")re");
    for (auto it = std::sregex_iterator(html.begin(), html.end(), id); it != std::sregex_iterator();
         ++it)
        ids.insert((*it)[1]);
    return ids;
}

TEST(ManualTest, EveryLanguageNamesAManualWhoseLinksAndImagesResolve) {
    const fs::path res = fs::path(SPINDLE_SOURCE_DIR) / "res";
    const std::string ini = ReadFile(res / "languiu.ini");
    const std::regex key(R"(ID_HELP_MANUALFILE=([^\r\n]+))");
    std::vector<fs::path> manuals;
    for (auto it = std::sregex_iterator(ini.begin(), ini.end(), key); it != std::sregex_iterator();
         ++it)
        manuals.push_back(res / (*it)[1].str());
    ASSERT_EQ(manuals.size(), 2u) << "English and Deutsch";

    const std::regex ref(R"re(\s(href|src)="([^"]*)")re");
    for (const fs::path& manual : manuals) {
        SCOPED_TRACE(manual.string());
        ASSERT_TRUE(fs::is_regular_file(manual));
        const std::string html = ReadFile(manual);
        std::set<std::string> images;
        int local = 0;
        for (auto it = std::sregex_iterator(html.begin(), html.end(), ref);
             it != std::sregex_iterator(); ++it) {
            const std::string target = (*it)[2];
            EXPECT_FALSE(target.empty());
            if (std::regex_search(target, std::regex("^[a-z]+:")))
                continue; // web and mail addresses
            ++local;
            const auto hash = target.find('#');
            const std::string file = target.substr(0, hash);
            const fs::path path = file.empty() ? manual : manual.parent_path() / file;
            EXPECT_TRUE(fs::is_regular_file(path)) << target;
            if (hash != std::string::npos && fs::is_regular_file(path)) {
                EXPECT_TRUE(Ids(ReadFile(path)).count(target.substr(hash + 1))) << target;
            }
            if ((*it)[1] == "src")
                images.insert(fs::path(file).filename().string());
        }
        EXPECT_GT(local, 20);
        for (const char* page : {"create.png", "files.png", "mount.png", "unmount.png", "burn.png"})
            EXPECT_TRUE(images.count(page)) << page;
    }
}

TEST(VersionTest, CommandLineProgramsPrintTheBuildsVersion) {
    for (const std::string program : {SPINDLE_CLI, SPINDLE_DRIVER}) {
        int status = -1;
        const std::string out = spindle_test::Run(program + " --version", &status);
        EXPECT_EQ(status, 0) << program;
        EXPECT_EQ(out.substr(0, out.find('\n') + 1),
                  fs::path(program).filename().string() + " " + spindle::kVersion + "\n");
    }
}

} // namespace
