// The hyperlink control on a real (virtual) display: fitting to its text,
// opening by click and Space, its colours on screen, and its error texts.
#include "controls/HyperLink.h"
#include "port/Shell.h"
#include "tests/guitest/Fixtures.h"
#include "tests/guitest/GuiTest.h"

#include <gtest/gtest.h>
#include <wx/dcclient.h>
#include <wx/frame.h>
#include <wx/panel.h>
#include <wx/stattext.h>
#include <wx/uiaction.h>

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

TEST_F(HyperLinkTest, OpensOnClickAndSpaceButNotEnter) {
    CHyperLink* link = Make();
    link->SetTarget("https://spindle.example.org/");
    EXPECT_EQ(link->GetToolTipText(), "https://spindle.example.org/");
    m_frame->Show();
    guitest::Yield(5);

    auto key = [&](int code) {
        wxKeyEvent e(wxEVT_KEY_DOWN);
        e.m_keyCode = code;
        e.SetEventObject(link);
        link->ProcessWindowEvent(e);
    };
    key(WXK_RETURN);
    key('A');
    EXPECT_TRUE(m_launched.empty());
    key(WXK_SPACE);
    EXPECT_EQ(m_launched, std::vector<std::string>{"https://spindle.example.org/"});

    // Mouse down and up on the link, as the pointer does it: opened once.
    m_launched.clear();
    wxUIActionSimulator sim;
    sim.MouseMove(link->ClientToScreen(wxPoint(3, link->GetClientSize().y / 2)));
    guitest::Yield(5);
    EXPECT_TRUE(link->m_bHover);
    sim.MouseDown();
    guitest::Yield(5);
    EXPECT_TRUE(link->m_bActive);
    sim.MouseUp();
    guitest::Yield(5);
    EXPECT_EQ(m_launched.size(), 1u);
    sim.MouseMove(m_panel->ClientToScreen(wxPoint(450, 250)));
    guitest::Yield(5);
    EXPECT_FALSE(link->m_bHover);
    EXPECT_FALSE(link->HasCapture());
    EXPECT_TRUE(guitest::ShownBoxes().empty());

    // A failure: the box with the shell's text, and the colour stays.
    link->m_bOpened = false;
    m_answer = 4;
    key(WXK_SPACE);
    ASSERT_EQ(guitest::ShownBoxes().size(), 1u);
    EXPECT_EQ(guitest::ShownBoxes()[0].text, "Can't open link:\n\nUnknown Error (4) occurred.");
    EXPECT_EQ(guitest::ShownBoxes()[0].caption, "Spindle");
    EXPECT_EQ(guitest::ShownBoxes()[0].style, port::MB_OK | port::MB_ICONWARNING);
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
    EXPECT_FALSE(link->m_bHover);
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
