// Opening targets: the browser fallback's command line from real desktop
// entry lines, the default-application lookup in a private XDG tree, and the
// order of attempts of OpenWithShell through the launcher hook.
#include "port/Shell.h"
#include "port/DesktopEntry.h"
#include "tests/support/TempEnv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

namespace {

using Args = std::vector<std::string>;

TEST(ShellTest, BrowserCommandLineFromRealExecLines) {
    struct Case {
        const char* exec;
        const char* line; // the command line with target T
        Args args;        // what is run
    };
    const Case cases[] = {
        // Program path, blank, quoted placeholder: the blank stays, the quotes go.
        {R"("/opt/Web Browser/browser" "%u")",
         R"("/opt/Web Browser/browser"  T)",
         {"/opt/Web Browser/browser", "T"}},
        {"/usr/lib/firefox-esr/firefox-esr %u",
         "/usr/lib/firefox-esr/firefox-esr  T",
         {"/usr/lib/firefox-esr/firefox-esr", "T"}},
        {"/usr/bin/chromium %U", "/usr/bin/chromium  T", {"/usr/bin/chromium", "T"}},
        {"epiphany --new-window %U", "epiphany --new-window  T", {"epiphany", "--new-window", "T"}},
        {"/usr/bin/flatpak run --branch=stable --command=firefox org.mozilla.firefox @@u %u @@",
         "/usr/bin/flatpak run --branch=stable --command=firefox org.mozilla.firefox @@u  T",
         {"/usr/bin/flatpak", "run", "--branch=stable", "--command=firefox", "org.mozilla.firefox",
          "@@u", "T"}},
        {"env BAMF_DESKTOP_FILE_HINT=/var/lib/snapd/desktop/applications/firefox_firefox.desktop "
         "/snap/bin/firefox %u",
         "env BAMF_DESKTOP_FILE_HINT=/var/lib/snapd/desktop/applications/firefox_firefox.desktop "
         "/snap/bin/firefox  T",
         {"env",
          "BAMF_DESKTOP_FILE_HINT=/var/lib/snapd/desktop/applications/firefox_firefox.desktop",
          "/snap/bin/firefox", "T"}},
        // A quoted field code is preferred to an earlier bare one.
        {R"(browser %f "%U")", "browser %f  T", {"browser", "T"}},
        {"browser --file %F", "browser --file  T", {"browser", "--file", "T"}},
        // %% is a percent sign, not a field code; %i is dropped.
        {"browser --zoom=100%% %i %u",
         "browser --zoom=100%% %i  T",
         {"browser", "--zoom=100%", "T"}},
        // Quoted arguments keep blanks and their escapes.
        {R"(sh -c "exec \"\$0\" --x" surf %u)",
         R"(sh -c "exec \"\$0\" --x" surf  T)",
         {"sh", "-c", R"(exec "$0" --x)", "surf", "T"}},
        // No field code: the whole line, then the target.
        {"lynx", "lynx T", {"lynx", "T"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(port::BrowserCommandLine(c.exec, "T"), c.line) << c.exec;
        Args args = port::SplitExecLine(port::CutAtFieldCode(c.exec));
        args.push_back("T");
        EXPECT_EQ(args, c.args) << c.exec;
    }
    EXPECT_EQ(port::UnescapeDesktopValue(R"(a\sb\\c\td\q)"), "a b\\c\td\\q");
}

// A private XDG tree: config and data homes, one system data folder.
class DesktopTree : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME",
                                 "XDG_DATA_DIRS", "XDG_CURRENT_DESKTOP"}) {
            const char* v = std::getenv(name);
            m_saved.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
        }
        const std::string& r = m_env.root();
        setenv("HOME", (r + "/home").c_str(), 1);
        unsetenv("XDG_CONFIG_HOME"); // the ~/.config default is used
        setenv("XDG_CONFIG_DIRS", (r + "/etc").c_str(), 1);
        setenv("XDG_DATA_HOME", (r + "/data").c_str(), 1);
        setenv("XDG_DATA_DIRS", (r + "/usr").c_str(), 1);
        setenv("XDG_CURRENT_DESKTOP", "XFCE", 1);
    }
    void TearDown() override {
        for (const auto& [name, value] : m_saved)
            value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    }
    void Entry(const std::string& path, const std::string& exec) {
        m_env.Write(path, "[Desktop Entry]\nName=B\n# Exec=commented\nExec=" + exec +
                              "\n[Desktop Action new]\nExec=other\n");
    }
    spindle_test::TempEnv m_env;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

TEST_F(DesktopTree, DefaultForHtmlFollowsTheListOrder) {
    EXPECT_EQ(port::DefaultAppExec("text/html"), std::nullopt);

    // The system list names an entry that is not installed, then one in a
    // vendor subfolder ("vendor-web.desktop" as vendor/web.desktop).
    m_env.Write(
        "usr/applications/mimeapps.list",
        "[Added Associations]\ntext/html=added.desktop\n"
        "[Default "
        "Applications]\ntext/plain=text.desktop\ntext/html=gone.desktop;vendor-web.desktop;\n");
    Entry("usr/applications/vendor/web.desktop", R"("/opt/web\sbrowser/run" "%u")");
    EXPECT_EQ(port::DefaultAppExec("text/html"), R"("/opt/web browser/run" "%u")");

    // The user's data folder hides the system's entry of the same id.
    Entry("data/applications/vendor-web.desktop", "userweb %U");
    EXPECT_EQ(port::DefaultAppExec("text/html"), "userweb %U");

    // The user's config list wins over the data lists; a desktop-specific
    // list wins over the plain one in the same folder.
    Entry("usr/applications/plain.desktop", "plain %u");
    Entry("usr/applications/xfce.desktop", "xfce %u");
    m_env.Write("home/.config/mimeapps.list", "[Default Applications]\ntext/html=plain.desktop\n");
    EXPECT_EQ(port::DefaultAppExec("text/html"), "plain %u");
    m_env.Write("home/.config/xfce-mimeapps.list",
                "[Default Applications]\ntext/html=xfce.desktop\n");
    EXPECT_EQ(port::DefaultAppExec("text/html"), "xfce %u");

    // An id that tries to leave the folders is not followed.
    m_env.Write("home/.config/xfce-mimeapps.list",
                "[Default Applications]\ntext/html=../../x.desktop\n");
    EXPECT_EQ(port::DefaultAppExec("text/html"), "plain %u");
}

TEST_F(DesktopTree, OpenWithShellTriesTheDefaultHandlerThenTheBrowser) {
    std::vector<port::LaunchRequest> seen;
    std::vector<int> answers;
    port::ScopedLauncherHook hook([&](const port::LaunchRequest& r) {
        seen.push_back(r);
        int answer = answers.empty() ? port::kShellNoAssociation : answers.front();
        if (!answers.empty())
            answers.erase(answers.begin());
        return answer;
    });

    // Default handler succeeds: nothing else is tried.
    answers = {port::kShellOpened};
    EXPECT_EQ(port::OpenWithShell("https://a.example/"), port::kShellOpened);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].target, "https://a.example/");
    EXPECT_TRUE(seen[0].command.empty());

    // It fails and no browser is set: the handler's result comes back.
    seen.clear();
    answers = {port::kShellFileNotFound};
    EXPECT_EQ(port::OpenWithShell("/no/such file.html"), port::kShellFileNotFound);
    EXPECT_EQ(seen.size(), 1u);

    // It fails and a browser is set: the browser runs with the target as one
    // argument, and its result is the answer.
    m_env.Write("home/.config/mimeapps.list", "[Default Applications]\ntext/html=b.desktop\n");
    Entry("data/applications/b.desktop", R"("/opt/b/browser" --new "%u")");
    seen.clear();
    answers = {port::kShellNoAssociation, 0};
    EXPECT_EQ(port::OpenWithShell("/my docs/a b.html"), 0);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].command, (Args{"/opt/b/browser", "--new", "/my docs/a b.html"}));

    // Nothing to open: nothing is launched.
    seen.clear();
    EXPECT_EQ(port::OpenWithShell(""), port::kShellFileNotFound);
    EXPECT_TRUE(seen.empty());
}

TEST(ShellTest, RealLauncherRunsCommandsAndMapsSpawnFailures) {
    spindle_test::TempEnv env;
    // The program runs on its own; the FIFO hands over its output when it writes.
    const std::string fifo = env.root() + "/out";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_GT(port::RunLaunch({"x", {"sh", "-c", "echo \"$0\" > " + fifo, "x y"}}), 32);
    std::string text;
    std::getline(std::ifstream(fifo), text);
    EXPECT_EQ(text, "x y");
    EXPECT_EQ(port::RunLaunch({"x", {"/no/such/program"}}), port::kShellFileNotFound);
    EXPECT_EQ(port::RunLaunch({"x", {"spindle-no-such-program"}}), port::kShellFileNotFound);
    EXPECT_EQ(port::RunLaunch({"x", {env.Write("plain.txt", "text")}}), port::kShellAccessDenied);
}

TEST(ShellTest, RealDefaultHandlerResultsFollowXdgOpensExitStatus) {
    spindle_test::TempEnv env;
    const char* oldPath = std::getenv("PATH");
    const std::string saved = oldPath ? oldPath : "";
    setenv("PATH", env.root().c_str(), 1);
    // No xdg-open at all: nothing can open anything.
    EXPECT_EQ(port::RunLaunch({"https://a.example/", {}}), port::kShellNoAssociation);
    const std::string script = env.Write("xdg-open", "");
    for (const auto& [status, result] : {std::pair{0, port::kShellOpened},
                                         {2, port::kShellFileNotFound},
                                         {3, port::kShellNoAssociation},
                                         {4, port::kShellNoAssociation}}) {
        std::ofstream(script, std::ios::trunc)
            << "#!/bin/sh\n[ \"$1\" = \"a b\" ] || exit 9\nexit " << status << "\n";
        ::chmod(script.c_str(), 0755);
        EXPECT_EQ(port::RunLaunch({"a b", {}}), result) << status;
    }
    setenv("PATH", saved.c_str(), 1);
}

} // namespace
