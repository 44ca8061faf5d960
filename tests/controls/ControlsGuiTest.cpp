// The skin image, the page look and the toolbar on a real (virtual) display.
#include "controls/CustomToolbarCtrl.h"
#include "controls/PageLook.h"
#include "controls/SizeRange.h"
#include "controls/SkinImage.h"
#include "controls/ToolbarCustomizeDlg.h"
#include "tests/guitest/Fixtures.h"
#include "tests/guitest/GuiTest.h"

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/checklst.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/panel.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <filesystem>

using namespace ui;

namespace {

const std::map<std::string, std::string> kTexts = {
    {"ID_MAIN_BTN_CREATE", "Copy Disc"}, {"ID_MAIN_BTN_FILES", "New Image"},
    {"ID_MAIN_BTN_MOUNT", "Mount"},      {"ID_MAIN_BTN_UNMOUNT", "Dismount"},
    {"ID_MAIN_BTN_BURNCD", "Burn"},
    // ID_MAIN_BTN_HELP missing on purpose
};
const char* const kIcons[] = {"create", "files", "mount", "unmount", "burn", "help"};

class ControlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = guitest::MakeTempSubdir("controls");
        guitest::WriteLanguageFile(m_dir, "Test", kTexts);
        std::filesystem::create_directories(m_dir + "res/icons/toolbar");
        for (const char* icon : kIcons) {
            const std::string name = std::string(icon) + "-48.png";
            std::filesystem::copy_file(std::string(SPINDLE_SOURCE_DIR) + "/res/icons/toolbar/" +
                                           name,
                                       m_dir + "res/icons/toolbar/" + name);
        }
        m_skin = guitest::MakePatternSkin();
        SetAppSkin(m_skin.get());
        m_frame = guitest::MakeSkinnedFrame();
    }
    void TearDown() override {
        guitest::SetModalHandler(nullptr);
        m_frame->Destroy();
        guitest::Yield(1);
        SetAppSkin(nullptr);
        guitest::ClearShown();
    }
    CCustomToolbarCtrl* MakeToolbar() {
        auto* toolbar = new CCustomToolbarCtrl();
        EXPECT_TRUE(toolbar->Create(m_frame, 16127));
        toolbar->InitButtons();
        return toolbar;
    }

    std::string m_dir;
    std::unique_ptr<CSkinImage> m_skin;
    wxFrame* m_frame = nullptr;
};

TEST_F(ControlsTest, SkinBlitCopiesTheRequestedPieceAndCachesItsContext) {
    CSkinImage::ClearCache();
    const int created = CSkinImage::CreatedContexts();
    wxBitmap target(40, 30);
    {
        wxMemoryDC dc(target);
        EXPECT_TRUE(m_skin->Blit(dc, 0, 0, 40, 30, 330, 100));
    }
    EXPECT_EQ(CSkinImage::CreatedContexts(), created + 1);
    EXPECT_EQ(CSkinImage::CachedContexts(), 1);
    {
        wxMemoryDC dc(target);
        EXPECT_TRUE(m_skin->Blit(dc, 0, 0, 40, 30, 330, 100));
    }
    EXPECT_EQ(CSkinImage::CreatedContexts(), created + 1) << "second copy took the cached context";
    const wxImage image = target.ConvertToImage();
    for (auto [x, y] : {std::pair{0, 0}, {39, 0}, {0, 29}, {17, 11}}) {
        const wxColour want = guitest::PatternPixel(330 + x, 100 + y);
        EXPECT_EQ(wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y)), want)
            << x << "," << y;
    }

    CSkinImage empty;
    wxMemoryDC dc(target);
    EXPECT_FALSE(empty.Blit(dc, 0, 0, 10, 10, 0, 0));
    EXPECT_FALSE(PageEraseBkgnd(nullptr));
    EXPECT_EQ(m_skin->GetWidth(), 798);
    EXPECT_EQ(m_skin->GetHeight(), 527);
}

TEST_F(ControlsTest, ToolbarHasSixCaptionedButtonsOfOneWidth) {
    CCustomToolbarCtrl* toolbar = MakeToolbar();
    ASSERT_EQ(toolbar->GetButtonCount(), 6);
    EXPECT_EQ(toolbar->m_nButtons, 6);
    EXPECT_EQ(toolbar->m_strDefaultLayout, "000102030405");
    EXPECT_EQ(toolbar->GetImageCount(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(toolbar->GetItem(i).idCommand, 16129 + i);
        EXPECT_EQ(toolbar->GetItem(i).iBitmap, i);
    }
    EXPECT_EQ(toolbar->GetCaption(0), "Copy Disc");
    EXPECT_EQ(toolbar->GetCaption(4), "Burn");
    EXPECT_EQ(toolbar->GetCaption(5), "") << "a missing key gives no caption";

    wxClientDC dc(toolbar);
    dc.SetFont(toolbar->GetFont());
    int widest = 0;
    for (int i = 0; i < 6; ++i)
        widest = std::max(widest, dc.GetTextExtent(toolbar->GetCaption(i)).x);
    EXPECT_EQ(toolbar->GetButtonWidth(), widest + 10);
    EXPECT_EQ(toolbar->GetSize().x, 798);
    EXPECT_EQ(g_nToolbarHeight, toolbar->GetSize().y);
    EXPECT_GT(g_nToolbarHeight, 48 + dc.GetCharHeight());
    EXPECT_EQ(toolbar->GetItemRect(0).x, 100);
    EXPECT_EQ(toolbar->GetItemRect(1).x, 100 + toolbar->GetButtonWidth());
}

TEST_F(ControlsTest, LongCaptionsAreCutAndButtonsShareTheWidth) {
    std::map<std::string, std::string> texts = kTexts;
    texts["ID_MAIN_BTN_CREATE"] = std::string(300, 'W');
    guitest::WriteLanguageFile(m_dir, "Test", texts);
    CCustomToolbarCtrl* toolbar = MakeToolbar();
    EXPECT_EQ(toolbar->GetCaption(0), wxString(199, 'W')) << "199 characters and a terminator";
    EXPECT_EQ(toolbar->GetButtonWidth(), 798 / 6);
}

// The toolbar is no band of its own: around its buttons it shows the skin.
TEST_F(ControlsTest, ToolbarShowsTheSkinAroundItsButtons) {
    CCustomToolbarCtrl* toolbar = MakeToolbar();
    m_frame->Show();
    m_frame->Refresh();
    guitest::Yield(4);
    const wxPoint client = m_frame->ClientToScreen(wxPoint(0, 0));
    const int height = toolbar->GetSize().y;
    const wxRect buttons = toolbar->GetItemRect(0);
    std::string why;
    EXPECT_TRUE(guitest::ScreenShowsPattern(
        client, wxRect(0, 0, 798, height + 5), why,
        [&](int x, int y) { return x >= 100 && y >= buttons.y && y <= buttons.GetBottom(); }))
        << why;
}

TEST_F(ControlsTest, CheckedButtonFollowsSetCheckedButton) {
    CCustomToolbarCtrl* toolbar = MakeToolbar();
    EXPECT_EQ(toolbar->m_nCheckedId, -1);
    toolbar->SetCheckedButton(16131);
    EXPECT_TRUE(toolbar->IsButtonChecked(16131));
    toolbar->SetCheckedButton(16131);
    EXPECT_TRUE(toolbar->IsButtonChecked(16131)) << "checking the checked button keeps it checked";
    toolbar->SetCheckedButton(16133);
    EXPECT_FALSE(toolbar->IsButtonChecked(16131));
    EXPECT_TRUE(toolbar->IsButtonChecked(16133));
    EXPECT_EQ(toolbar->m_nCheckedId, 16133);
}

TEST_F(ControlsTest, ClickSendsTheButtonCommandToTheParent) {
    CCustomToolbarCtrl* toolbar = MakeToolbar();
    std::vector<int> commands;
    m_frame->Bind(wxEVT_TOOL, [&](wxCommandEvent& e) { commands.push_back(e.GetId()); });
    const wxRect r = toolbar->GetItemRect(3);
    EXPECT_EQ(toolbar->HitTest(r.GetPosition() + wxPoint(5, 5)), 3);
    EXPECT_EQ(toolbar->HitTest(wxPoint(50, 20)), -1) << "the indent holds no button";

    wxMouseEvent move(wxEVT_MOTION);
    move.SetPosition(r.GetPosition() + wxPoint(5, 5));
    toolbar->ProcessWindowEvent(move);
    EXPECT_EQ(toolbar->GetHotItem(), 3) << "hover feedback";
    move.SetPosition(wxPoint(50, 20));
    toolbar->ProcessWindowEvent(move);
    EXPECT_EQ(toolbar->GetHotItem(), -1);

    wxMouseEvent down(wxEVT_LEFT_DOWN), up(wxEVT_LEFT_UP);
    down.SetPosition(r.GetPosition() + wxPoint(5, 5));
    up.SetPosition(r.GetPosition() + wxPoint(6, 6));
    toolbar->ProcessWindowEvent(down);
    toolbar->ProcessWindowEvent(up);
    // Pressed on one button, released on another: no command.
    down.SetPosition(toolbar->GetItemRect(1).GetPosition() + wxPoint(5, 5));
    toolbar->ProcessWindowEvent(down);
    toolbar->ProcessWindowEvent(up);
    EXPECT_EQ(commands, (std::vector<int>{16132}));
}

TEST_F(ControlsTest, ColourChangeReloadsIconsAndKeepsButtons) {
    CCustomToolbarCtrl* toolbar = MakeToolbar();
    toolbar->SetCheckedButton(16130);
    std::filesystem::remove(m_dir + "res/icons/toolbar/files-48.png");
    wxSysColourChangedEvent event;
    toolbar->ProcessWindowEvent(event);
    EXPECT_EQ(toolbar->GetImageCount(), 5) << "a missing icon is not appended";
    EXPECT_EQ(toolbar->GetButtonCount(), 6);
    EXPECT_EQ(toolbar->GetCaption(1), "New Image");
    EXPECT_TRUE(toolbar->IsButtonChecked(16130));
}

TEST_F(ControlsTest, CustomizationDialogOpensOnDoubleClickAndResetRestoresTheButtons) {
    CCustomToolbarCtrl* toolbar = MakeToolbar();
    toolbar->SetCheckedButton(16131);
    bool opened = false;
    guitest::SetModalHandler([&](wxDialog* dialog) {
        opened = true;
        auto* dlg = dynamic_cast<CToolbarCustomizeDlg*>(dialog);
        EXPECT_NE(dlg, nullptr);
        if (!dlg)
            return wxID_CANCEL;
        EXPECT_EQ(dlg->FindWindow(wxID_HELP), nullptr) << "no Help button";
        wxCheckListBox* list = dlg->GetList();
        EXPECT_EQ(list->GetCount(), 6u);
        // Take "Copy Disc" out and move "Burn" to the front.
        list->Check(0, false);
        wxCommandEvent toggled(wxEVT_CHECKLISTBOX, CToolbarCustomizeDlg::ID_LIST);
        toggled.SetInt(0);
        list->ProcessWindowEvent(toggled);
        EXPECT_EQ(toolbar->GetLayout(), (std::vector<int>{1, 2, 3, 4, 5}));
        list->SetSelection(4);
        for (int i = 0; i < 4; ++i)
            dlg->MoveSelection(-1);
        EXPECT_EQ(toolbar->GetLayout(), (std::vector<int>{4, 1, 2, 3, 5}));
        EXPECT_EQ(toolbar->GetButtonCount(), 5);
        dlg->Reset();
        return wxID_CLOSE;
    });
    wxMouseEvent dclick(wxEVT_LEFT_DCLICK);
    dclick.SetPosition(wxPoint(20, 20));
    toolbar->ProcessWindowEvent(dclick);
    EXPECT_TRUE(opened);
    EXPECT_EQ(toolbar->GetLayout(), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(toolbar->GetCaption(0), "Copy Disc");
    EXPECT_TRUE(toolbar->IsButtonChecked(16131));
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(toolbar->GetItem(i).idCommand, 16129 + i);
}

TEST_F(ControlsTest, TransStaticIsBoldOnRequestAndWrapsWithinItsRectangle) {
    auto* page = new wxPanel(m_frame, wxID_ANY, wxPoint(330, 100), wxSize(450, 410));
    auto* label = new CTransStatic(page, 1018, "x", wxPoint(20, 30), wxSize(60, 20));
    EXPECT_FALSE(label->IsBold());
    EXPECT_EQ(label->PaintFont().GetWeight(), wxFONTWEIGHT_NORMAL);
    label->SetBold(true);
    label->SetLabelText("A & B, a long description that will not fit");
    EXPECT_TRUE(label->IsBold());
    EXPECT_EQ(label->PaintFont().GetWeight(), wxFONTWEIGHT_BOLD);
    EXPECT_EQ(label->GetLabelText(), "A & B, a long description that will not fit");
    EXPECT_EQ(label->GetSize(), wxSize(60, 20)) << "the label never grows";
    const std::vector<wxString> lines = label->Lines(58);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_TRUE(lines[0].StartsWith("A & B,")) << lines[0];
    EXPECT_EQ(wxJoin(wxArrayString(lines.size(), lines.data()), ' ', '\0'),
              "A & B, a long description that will not fit")
        << "wrapping loses no word";
    EXPECT_GT(label->NeededHeight(), 20);
    label->SetLabelText("short");
    EXPECT_EQ(label->Lines(58), std::vector<wxString>{"short"});
    EXPECT_EQ(SkinOrigin(label), wxPoint(350, 130));
}

TEST_F(ControlsTest, ControlLookByClass) {
    auto* page = new wxPanel(m_frame);
    struct Case {
        wxWindow* control;
        CtlLook look;
    } cases[] = {
        {new wxStaticText(page, 1, "a"), CtlLook::Transparent},
        {new CTransStatic(page, 2, "b", wxDefaultPosition, wxDefaultSize), CtlLook::Transparent},
        {new wxButton(page, 3, "c"), CtlLook::ButtonClass},
        {new wxCheckBox(page, 4, "d"), CtlLook::ButtonClass},
        {new wxTextCtrl(page, 5, "e"), CtlLook::Default},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ControlLook(c.control), c.look) << c.control->GetClassInfo()->GetClassName();
    cases[3].control->SetBackgroundColour(*wxRED);
    cases[4].control->SetBackgroundColour(*wxRED);
    PageCtlColor(page);
    EXPECT_FALSE(cases[3].control->UseBgCol()) << "check box shows the skin again";
    EXPECT_TRUE(cases[4].control->UseBgCol()) << "edit fields keep their colours";
}

// The capacity ruler rendered off-screen, 400 x 29 pixels without a skin,
// checked pixel by pixel.
wxImage RenderRuler(bool dvd, int valueMb) {
    CSizeRange ruler;
    ruler.SetMax(dvd ? 5000 : 750);
    ruler.SetSmallStep(dvd ? 200 : 20);
    ruler.SetLabelStep(dvd ? 1000 : 100);
    ruler.SetUnit(dvd ? " MB" : ""); // CD: a bare number, clear of its neighbours
    ruler.AddBand(0, 0xD87E23);
    if (!dvd) {
        ruler.AddMark(670, 0x0AC8F7, 0);
        ruler.AddBand(670, 0x0AC8F7);
    }
    ruler.AddMark(dvd ? 4700 : 700, 0x0511DA, 0);
    ruler.AddBand(dvd ? 4700 : 700, 0x0511DA);
    ruler.SetValue(valueMb);
    wxBitmap bitmap(400, 29, 24);
    {
        wxMemoryDC dc(bitmap);
        ruler.Draw(dc, wxSize(400, 29), wxPoint(0, 0));
    }
    return bitmap.ConvertToImage();
}

wxColour At(const wxImage& image, int x, int y) {
    return wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y));
}

// Columns in rows [y0, y1) with a dark (text or tick) pixel, first and last.
std::pair<int, int> DarkColumns(const wxImage& image, int x0, int x1, int y0, int y1) {
    int first = -1, last = -1;
    for (int x = x0; x < x1; ++x)
        for (int y = y0; y < y1; ++y)
            if (image.GetRed(x, y) < 100 && image.GetGreen(x, y) < 100 &&
                image.GetBlue(x, y) < 100) {
                first = first < 0 ? x : first;
                last = x;
            }
    return {first, last};
}

TEST(SizeRange, PaintsTheScaleMarksAndBarPixelForPixel) {
    const wxColour blue(35, 126, 216), amber(247, 200, 10), red(218, 17, 5);
    const wxImage cd = RenderRuler(false, 680);
    // The label "100" hangs from 60 % of the height, centred at x = 53.
    const auto [left, right] = DarkColumns(cd, 20, 90, 17, 29);
    ASSERT_GE(left, 0);
    EXPECT_NEAR((left + right) / 2.0, 53.0, 1.5);
    EXPECT_EQ(At(cd, 357, 14), amber) << "the amber mark at 670";
    EXPECT_EQ(At(cd, 300, 5), blue);
    EXPECT_EQ(At(cd, 360, 5), amber) << "amber from 670 to 680";
    EXPECT_EQ(At(cd, 363, 10), wxColour(50, 50, 50)) << "the bar's shadow";
    EXPECT_EQ(At(cd, 370, 5), *wxWHITE) << "nothing past the value";

    const wxImage below = RenderRuler(false, 669); // 669.9 MB
    EXPECT_EQ(At(below, 355, 5), blue);
    EXPECT_EQ(At(below, 359, 5), *wxWHITE);

    const wxImage at700 = RenderRuler(true, 700); // 700 MB selects DVD: blue, ending at 700
    EXPECT_EQ(At(at700, 55, 5), blue);
    EXPECT_EQ(At(at700, 60, 5), *wxWHITE);

    const wxImage dvd = RenderRuler(true, 6000);
    EXPECT_EQ(At(dvd, 370, 5), blue);
    EXPECT_EQ(At(dvd, 399, 5), red) << "clamped at the right end";
    EXPECT_EQ(DarkColumns(dvd, 381, 400, 17, 29).first, -1) << "no label at the right end";
}

} // namespace
