// The hyperlink control on a real (virtual) display: fitting to its text,
// opening by click and Space, its colours on screen, and its error texts.
#include "controls/HyperLink.h"
#include "port/Shell.h"
#include "tests/guitest/Fixtures.h"
#include "tests/guitest/GuiTest.h"

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/dcclient.h>
#include <wx/frame.h>
#include <wx/panel.h>
#include <wx/stattext.h>
#include <wx/uiaction.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sys/stat.h>

using namespace ui;

namespace {

const wxColour kBackground(250, 240, 200);

class HyperLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        guitest::WriteLanguageFile(guitest::MakeTempSubdir("links"), "Test",
                                   {{"ID_PRODUCT_TITLE", "Spindle"}});
        m_frame = new wxFrame(nullptr, wxID_ANY, "links", wxPoint(0, 0), wxSize(500, 300));
        m_panel = new wxPanel(m_frame);
        m_panel->SetBackgroundColour(kBackground);
        m_frame->SetFont(wxFontInfo(9).FaceName("DejaVu Sans Condensed"));
        guitest::ClearShown();
    }
    void TearDown() override {
        m_frame->Destroy();
        guitest::Yield(1);
        guitest::ClearShown();
    }

    CHyperLink* Make(long style = 0, const wxString& label = "spindle.example.org") {
        auto* link = new CHyperLink();
        EXPECT_TRUE(link->Create(m_panel, 1041, label, wxPoint(20, 30), wxSize(300, 40), style));
        return link;
    }

    // Shows the frame with the keyboard, as a user's click on it would.
    bool ShowActive() {
        m_frame->Show();
        m_frame->Raise();
        const auto end =
            std::chrono::steady_clock::now() + guitest::Scaled(std::chrono::milliseconds(5000));
        while (!m_frame->IsActive() && std::chrono::steady_clock::now() < end)
            guitest::Yield(1);
        return m_frame->IsActive();
    }

    // Records each launch and answers with `m_answer`.
    port::ScopedLauncherHook m_hook{[this](const port::LaunchRequest& r) {
        m_launched.push_back(r.target);
        return m_answer;
    }};
    std::vector<std::string> m_launched;
    int m_answer = port::kShellOpened;
    wxFrame* m_frame = nullptr;
    wxPanel* m_panel = nullptr;
};

TEST_F(HyperLinkTest, FitsItsWindowToTheTextByAlignment) {
    struct Case {
        const char* name;
        long style;
    };
    const Case cases[] = {{"left", 0},
                          {"centred", wxALIGN_CENTRE_HORIZONTAL},
                          {"right", wxALIGN_RIGHT},
                          {"centred image", HLS_CENTERIMAGE | wxALIGN_RIGHT}};
    for (const Case& c : cases) {
        CHyperLink* link = Make(c.style);
        wxClientDC dc(link);
        dc.SetFont(link->m_fontLink);
        const wxSize text = dc.GetTextExtent(link->GetLabel());
        ASSERT_LT(text.x, 300);
        EXPECT_TRUE(link->m_fontLink.GetUnderlined());
        wxRect want(20, 30, text.x, text.y);
        if (c.style & wxALIGN_CENTRE_HORIZONTAL)
            want = wxRect(20 + (300 - text.x) / 2, 30, 300 - 2 * ((300 - text.x) / 2), text.y);
        if (c.style & wxALIGN_RIGHT)
            want.x = 320 - text.x;
        if (c.style & HLS_CENTERIMAGE)
            want.SetTop(30 + (40 - text.y) / 2), want.height = 40 - 2 * ((40 - text.y) / 2);
        EXPECT_EQ(link->GetRect(), want) << c.name;
        link->Destroy();
    }

    // A link whose text is empty shows its target; one bound to a layout's
    // label keeps its place, id and tab position.
    auto* first = new wxStaticText(m_panel, 1040, "before", wxPoint(5, 5), wxSize(60, 20));
    auto* label = new wxStaticText(m_panel, 1042, "", wxPoint(30, 100), wxSize(400, 30));
    auto* after = new wxStaticText(m_panel, 1043, "after", wxPoint(5, 200), wxSize(60, 20));
    auto* link = new CHyperLink();
    link->m_strTarget = "mailto:a@b.example";
    ASSERT_TRUE(link->SubclassDlgItem(1042, m_panel));
    EXPECT_EQ(m_panel->FindWindow(1042), link);
    EXPECT_EQ(link->GetLabel(), "mailto:a@b.example");
    EXPECT_EQ(link->GetPosition(), wxPoint(30, 100));
    EXPECT_EQ(link->GetToolTipText(), "mailto:a@b.example");
    EXPECT_EQ(first->GetNextSibling(), link);
    EXPECT_EQ(link->GetNextSibling(), after);
    (void)label;
    EXPECT_FALSE(CHyperLink().SubclassDlgItem(999, m_panel));
}

// Real pointer and keys (XTest): a click opens the link it was pressed and
// released on and gives it the keyboard, so Space opens it again and Enter
// does not; the click is taken back when released off the link; the active
// colour goes to the link clicked last, the one before shows as opened.
TEST_F(HyperLinkTest, OpensOnAClickReleasedOnItAndOnSpaceButNotEnter) {
    CHyperLink* a = Make();
    a->SetTarget("https://a.example/");
    auto* b = new CHyperLink();
    ASSERT_TRUE(b->Create(m_panel, 1042, "b.example", wxPoint(20, 120), wxSize(300, 40)));
    b->SetTarget("https://b.example/");
    auto* button = new wxButton(m_panel, wxID_ANY, "other", wxPoint(20, 200));
    ASSERT_TRUE(ShowActive());
    button->SetFocus();
    guitest::Yield(5);

    wxUIActionSimulator sim;
    auto at = [](wxWindow* w) { return w->ClientToScreen(wxPoint(3, w->GetClientSize().y / 2)); };
    auto settle = [] { guitest::Yield(8); };
    using Targets = std::vector<std::string>;

    sim.MouseMove(at(a));
    settle();
    EXPECT_TRUE(a->m_bHover);
    sim.MouseClick();
    settle();
    EXPECT_EQ(m_launched, Targets{"https://a.example/"});
    EXPECT_EQ(wxWindow::FindFocus(), a) << "a click gives the link the keyboard";
    EXPECT_EQ(a->LinkColour(), CHyperLink::kActiveColour);
    for (int key : {int(WXK_RETURN), int('x'), int(WXK_SPACE)}) {
        sim.Char(key);
        settle();
    }
    EXPECT_EQ(m_launched, (Targets{"https://a.example/", "https://a.example/"}));

    // Straight over to the other link and a click there: that one opens.
    m_launched.clear();
    sim.MouseMove(at(b));
    settle();
    sim.MouseClick();
    settle();
    EXPECT_EQ(m_launched, Targets{"https://b.example/"});
    EXPECT_FALSE(a->m_bHover);
    EXPECT_EQ(a->LinkColour(), CHyperLink::kOpenedColour);
    EXPECT_EQ(b->LinkColour(), CHyperLink::kActiveColour);

    // Pressed on a link and released elsewhere (beside it, on the other
    // link): nothing opens, and the mouse is free again.
    m_launched.clear();
    for (wxPoint release : {m_panel->ClientToScreen(wxPoint(450, 250)), at(b)}) {
        sim.MouseMove(at(a));
        settle();
        sim.MouseDown();
        settle();
        EXPECT_EQ(a->LinkColour(), CHyperLink::kActiveColour);
        sim.MouseMove(release);
        settle();
        sim.MouseUp();
        settle();
        EXPECT_FALSE(a->HasCapture());
        EXPECT_FALSE(a->m_bPressed);
    }
    EXPECT_TRUE(m_launched.empty());
    EXPECT_TRUE(guitest::ShownBoxes().empty());

    // A failure: the box with the shell's text, and the colour stays.
    a->SetFocus();
    settle();
    a->m_bOpened = false;
    m_answer = 4;
    sim.Char(WXK_SPACE);
    settle();
    ASSERT_EQ(guitest::ShownBoxes().size(), 1u);
    EXPECT_EQ(guitest::ShownBoxes()[0].text, "Can't open link:\n\nUnknown Error (4) occurred.");
    EXPECT_EQ(guitest::ShownBoxes()[0].caption, "Spindle");
    EXPECT_EQ(guitest::ShownBoxes()[0].style, port::MB_OK | port::MB_ICONWARNING);
    EXPECT_FALSE(a->m_bOpened);
}

// The desktop's launcher is not waited for: with one that takes seconds,
// the window handles its next event at once after the click, and the
// launcher's later "failed" comes as the box, on the GUI thread.
TEST_F(HyperLinkTest, ASlowLauncherLeavesTheWindowResponsive) {
    const std::string dir = guitest::MakeTempSubdir("slow-launcher");
    {
        std::ofstream script(dir + "xdg-open");
        script << "#!/bin/sh\nsleep 2\nexit 4\n";
    }
    ::chmod((dir + "xdg-open").c_str(), 0755);
    // Only the stub opens anything, and there is no browser to fall back on.
    struct SavedEnvironment {
        std::map<std::string, std::optional<std::string>> values;
        ~SavedEnvironment() {
            for (const auto& [name, value] : values)
                value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
        }
    } saved;
    for (const char* name :
         {"PATH", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME", "XDG_DATA_DIRS"}) {
        const char* value = std::getenv(name);
        saved.values[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    ::setenv("PATH", (dir + ":" + saved.values["PATH"].value_or("/usr/bin:/bin")).c_str(), 1);
    for (const char* name :
         {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME", "XDG_DATA_DIRS"})
        ::setenv(name, dir.c_str(), 1);
    port::ScopedLauncherHook real(nullptr);

    CHyperLink* link = Make();
    link->SetTarget("https://slow.example/");
    m_frame->Show();
    guitest::Yield(5);
    wxUIActionSimulator sim;
    sim.MouseMove(link->ClientToScreen(wxPoint(3, link->GetClientSize().y / 2)));
    guitest::Yield(5);
    // The next event is handled as soon as the click's own has been:
    // measured from the moment the release reaches the link.
    std::chrono::steady_clock::time_point released;
    std::optional<std::chrono::steady_clock::duration> handled;
    link->Bind(wxEVT_LEFT_UP, [&](wxMouseEvent& event) {
        released = std::chrono::steady_clock::now();
        link->CallAfter([&] { handled = std::chrono::steady_clock::now() - released; });
        event.Skip();
    });
    sim.MouseDown();
    guitest::Yield(5);
    const auto start = std::chrono::steady_clock::now();
    sim.MouseUp();
    const auto limit = guitest::Scaled(std::chrono::milliseconds(15000));
    while (!handled && std::chrono::steady_clock::now() - start < limit)
        guitest::Yield(1);
    ASSERT_TRUE(handled);
    EXPECT_LT(*handled, guitest::Scaled(std::chrono::milliseconds(200)))
        << std::chrono::duration_cast<std::chrono::milliseconds>(*handled).count() << " ms";

    // The launcher's verdict arrives later and is shown then.
    while (guitest::ShownBoxes().empty() && std::chrono::steady_clock::now() - start < limit)
        guitest::Yield(1);
    ASSERT_EQ(guitest::ShownBoxes().size(), 1u);
    EXPECT_EQ(guitest::ShownBoxes()[0].text,
              OpenErrorText(port::kShellNoAssociation).utf8_string());
    EXPECT_FALSE(link->m_bOpened);
}

TEST_F(HyperLinkTest, ColoursOnScreenFollowFocusAndOpening) {
    CHyperLink* link = Make();
    link->SetTarget("https://spindle.example.org/");
    m_frame->Show();
    guitest::Yield(5);

    // Exact pixels of each link colour inside the link; the underline is
    // drawn in it, so the colour in use always has some.
    auto counts = [&](const wxImage& screen) {
        std::map<std::string, int> n;
        const wxRect r(link->ClientToScreen(wxPoint(0, 0)), link->GetClientSize());
        for (int y = r.GetTop(); y <= r.GetBottom(); ++y)
            for (int x = r.GetLeft(); x <= r.GetRight(); ++x) {
                const wxColour c(screen.GetRed(x, y), screen.GetGreen(x, y), screen.GetBlue(x, y));
                n[c == CHyperLink::kLinkColour     ? "link"
                  : c == CHyperLink::kActiveColour ? "active"
                  : c == CHyperLink::kOpenedColour ? "opened"
                  : c == kBackground               ? "background"
                                                   : "other"]++;
            }
        return n;
    };
    auto shows = [&](const char* colour) {
        link->Refresh();
        wxImage screen;
        std::map<std::string, int> n;
        const bool ok = guitest::GrabScreenWhen(screen, [&](const wxImage& s) {
            n = counts(s);
            return n[colour] >= 5 && n["link"] + n["active"] + n["opened"] == n[colour] &&
                   n["background"] > 0;
        });
        EXPECT_TRUE(ok) << colour << ": link " << n["link"] << ", active " << n["active"]
                        << ", opened " << n["opened"] << ", background " << n["background"];
    };
    auto focus = [&](wxEventType type) {
        wxFocusEvent e(type, link->GetId());
        e.SetEventObject(link);
        link->ProcessWindowEvent(e);
    };

    shows("link");
    focus(wxEVT_SET_FOCUS);
    EXPECT_TRUE(link->m_bActive);
    shows("active");
    // Hovering changes no colour.
    wxUIActionSimulator().MouseMove(link->ClientToScreen(wxPoint(2, 2)));
    guitest::Yield(5);
    shows("active");
    focus(wxEVT_KILL_FOCUS);
    shows("link");
    EXPECT_GT(link->OpenTarget(), 32);
    shows("opened");
    focus(wxEVT_SET_FOCUS);
    shows("active");
    focus(wxEVT_KILL_FOCUS);
    shows("opened"); // kept for the life of the link
}

TEST(OpenErrorTextTest, FixedTextsByResult) {
    const std::pair<int, const char*> cases[] = {
        {0, "The operating system is out\nof memory or resources."},
        {2, "The specified file was not found."},
        {26, "A sharing violation occurred. "}, // trailing blank kept
        {31, "There is no application associated\nwith the given filename extension."},
        {32, "The specified dynamic-link library was not found."},
        {4, "Unknown Error (4) occurred."},
        {-1, "Unknown Error (-1) occurred."},
    };
    for (const auto& [result, text] : cases)
        EXPECT_EQ(OpenErrorText(result).utf8_string(), std::string("Can't open link:\n\n") + text)
            << result;
}

} // namespace
