// The five pages built from their layouts: controls with their ids, texts
// from the catalogue, the skin behind them, nothing clipped.
#include "controls/PageLook.h"
#include "pages/BurnDlg.h"
#include "pages/CompilationTree.h"
#include "pages/CreateDlg.h"
#include "pages/ImFilesDlg.h"
#include "pages/Layouts.h"
#include "pages/MountDlg.h"
#include "pages/UnmountDlg.h"
#include "tests/guitest/Fixtures.h"
#include "tests/guitest/GuiTest.h"
#include "text/LangTextUi.h"

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/dialog.h>
#include <wx/gauge.h>
#include <wx/listctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/treectrl.h>
#include <wx/xrc/xmlres.h>

#include <functional>

using namespace text;
using namespace ui;

namespace {

struct Item {
    int id;
    const char* key;
};

struct PageCase {
    const char* name;
    std::function<wxPanel*(wxWindow*)> make;
    int descId;
    const char* descKey;
    std::vector<Item> items;
};

template <class Page> wxPanel* Make(wxWindow* parent) {
    auto* page = new Page();
    EXPECT_TRUE(page->Create(parent));
    return page;
}

const std::vector<PageCase>& Pages() {
    static const std::vector<PageCase> pages = {
        {"create",
         Make<CCreateDlg>,
         1017,
         "IDC_STATIC_CREATEDESC",
         {{1053, "IDC_STATIC_CREATE01"},
          {1054, "IDC_STATIC_CREATE02"},
          {1055, "IDC_STATIC_CREATE03"},
          {1056, "IDC_STATIC_CREATE04"},
          {1009, "IDC_STATIC_CREATE05"},
          {1010, "IDC_STATIC_CREATE06"},
          {1000, "IDC_STATIC_CREATE07"}}},
        {"files",
         Make<CImFilesDlg>,
         1034,
         "IDC_STATIC_FILESDESC",
         {{1011, "IDC_STATIC_FILES01"},
          {1012, "IDC_STATIC_FILES02"},
          {1013, "IDC_STATIC_FILES03"},
          {1014, "IDC_STATIC_FILES04"},
          {1038, "IDC_STATIC_FILES05"},
          {1037, "IDC_STATIC_FILES06"}}},
        {"mount",
         Make<CMountDlg>,
         1018,
         "IDC_STATIC_MOUNTDESC",
         {{1057, "IDC_STATIC_MOUNT01"},
          {1058, "IDC_STATIC_MOUNT02"},
          {1059, "IDC_STATIC_MOUNT03"},
          {1003, "IDC_STATIC_MOUNT04"},
          {1032, "IDC_STATIC_MOUNT05"},
          {1, "IDC_STATIC_MOUNT06"}}},
        {"unmount",
         Make<CUnmountDlg>,
         1019,
         "IDC_STATIC_UNMOUNTDESC",
         {{1002, "IDC_STATIC_UNMOUNT01"}, {1001, "IDC_STATIC_UNMOUNT02"}}},
        {"burn",
         Make<CBurnDlg>,
         1020,
         "IDC_STATIC_BURNDISCDESC",
         {{1048, "IDC_STATIC_BURNCD01"},
          {1049, "IDC_STATIC_BURNCD02"},
          {1050, "IDC_STATIC_BURNCD03"},
          {1051, "IDC_STATIC_BURNCD04"},
          {1024, "IDC_STATIC_BURNCD05"},
          {1038, "IDC_STATIC_BURNCD06"},
          {1039, "IDC_STATIC_BURNCD07"},
          {1015, "IDC_STATIC_BURNCD08"},
          {1016, "IDC_STATIC_BURNCD09"}}},
    };
    return pages;
}

constexpr const char* kMissingKey = "IDC_STATIC_MOUNT04";

std::map<std::string, std::string> TestTexts() {
    std::map<std::string, std::string> texts;
    for (const PageCase& page : Pages()) {
        texts[page.descKey] = std::string("t:") + page.descKey;
        for (const Item& item : page.items)
            texts[item.key] = std::string("t:") + item.key;
    }
    for (const char* key : {"ID_ISO_IMAGE", "ID_BIN_IMAGE", "ID_DEFAULTLABEL", "ID_CD_RULER",
                            "ID_DVD_RULER", "ID_ISO_VOLUME", "IDC_STATIC_UNMOUNT03",
                            "IDC_STATIC_UNMOUNT04", "IDC_STATIC_UNMOUNT05", "IDC_STATIC_UNMOUNT06"})
        texts[key] = std::string("t:") + key;
    texts.erase(kMissingKey);
    return texts;
}

class PagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadLayouts(std::string(SPINDLE_SOURCE_DIR) + "/res/"));
        m_dir = guitest::MakeTempSubdir("pages");
        guitest::WriteLanguageFile(m_dir, "Test", TestTexts());
        m_skin = guitest::MakePatternSkin();
        SetAppSkin(m_skin.get());
        m_frame = guitest::MakeSkinnedFrame();
    }
    void TearDown() override {
        m_frame->Destroy();
        guitest::Yield(1);
        SetAppSkin(nullptr);
    }

    std::string m_dir;
    std::unique_ptr<CSkinImage> m_skin;
    wxFrame* m_frame = nullptr;
};

wxString TextOf(wxWindow* w) {
    if (auto* entry = dynamic_cast<wxTextEntry*>(w))
        return entry->GetValue();
    if (auto* control = dynamic_cast<wxControl*>(w))
        return control->GetLabelText();
    return w->GetLabel();
}

TEST_F(PagesTest, EveryPageCarriesItsCatalogueTexts) {
    for (const PageCase& pc : Pages()) {
        SCOPED_TRACE(pc.name);
        wxPanel* page = pc.make(m_frame);
        EXPECT_EQ(page->GetRect(), wxRect(330, 100, 450, 410));
        auto* desc = wxDynamicCast(page->FindWindow(pc.descId), CTransStatic);
        ASSERT_NE(desc, nullptr) << "description label " << pc.descId;
        EXPECT_EQ(desc->GetLabelText(), wxString("t:") + pc.descKey);
        EXPECT_TRUE(desc->IsBold());
        for (const Item& item : pc.items) {
            wxWindow* control = page->FindWindow(item.id);
            ASSERT_NE(control, nullptr) << "control " << item.id;
            const wxString want =
                std::string(item.key) == kMissingKey ? wxString() : wxString("t:") + item.key;
            EXPECT_EQ(TextOf(control), want) << "control " << item.id;
        }
    }
}

TEST_F(PagesTest, ListsAndDefaultsComeFromTheCatalogue) {
    auto* burn = static_cast<CBurnDlg*>(Make<CBurnDlg>(m_frame));
    ASSERT_NE(burn->m_cboImageType, nullptr);
    ASSERT_EQ(burn->m_cboImageType->GetCount(), 2u);
    EXPECT_EQ(burn->m_cboImageType->GetString(0), "t:ID_ISO_IMAGE");
    EXPECT_EQ(burn->m_cboImageType->GetString(1), "t:ID_BIN_IMAGE");
    EXPECT_EQ(burn->m_cboImageType->GetSelection(), 0);
    ASSERT_NE(burn->m_editLabel, nullptr);
    EXPECT_EQ(burn->m_editLabel->GetValue(), "t:ID_DEFAULTLABEL");
    EXPECT_FALSE(burn->m_editLabel->IsEnabled());

    auto* files = static_cast<CImFilesDlg*>(Make<CImFilesDlg>(m_frame));
    ASSERT_NE(files->m_comboMedia, nullptr);
    ASSERT_EQ(files->m_comboMedia->GetCount(), 2u);
    EXPECT_EQ(files->m_comboMedia->GetString(1), "t:ID_DVD_RULER");
    EXPECT_EQ(files->m_comboMedia->GetSelection(), 0);
    ASSERT_NE(files->m_treeFiles, nullptr);
    EXPECT_EQ(files->m_treeFiles->GetItemText(files->m_hRootItem), "t:ID_ISO_VOLUME");
    EXPECT_FALSE(files->m_btnStop->IsEnabled());
    EXPECT_NE(files->FindWindow(1026), nullptr) << "the ruler's box";
    EXPECT_FALSE(files->m_treeFiles->GetSelection().IsOk()) << "the root starts unselected";

    auto* unmount = static_cast<CUnmountDlg*>(Make<CUnmountDlg>(m_frame));
    ASSERT_NE(unmount->m_listDrives, nullptr);
    ASSERT_EQ(unmount->m_listDrives->GetColumnCount(), 4);
    const int widths[] = {40, 170, 70, 90};
    for (int c = 0; c < 4; ++c) {
        wxListItem column;
        column.SetMask(wxLIST_MASK_TEXT | wxLIST_MASK_FORMAT);
        unmount->m_listDrives->GetColumn(c, column);
        EXPECT_EQ(column.GetText(), wxString::Format("t:IDC_STATIC_UNMOUNT0%d", c + 3));
        EXPECT_EQ(unmount->m_listDrives->GetColumnWidth(c), widths[c]);
    }
    EXPECT_EQ(unmount->GetRefreshCount(), 1);
    unmount->RefreshList();
    EXPECT_EQ(unmount->GetRefreshCount(), 2);

    auto* create = static_cast<CCreateDlg*>(Make<CCreateDlg>(m_frame));
    EXPECT_TRUE(create->m_btnBuild->IsEnabled());
    EXPECT_FALSE(create->m_btnStop->IsEnabled());
    EXPECT_NE(wxDynamicCast(create->FindWindow(1018), CTransStatic), nullptr) << "status label";
    EXPECT_NE(create->m_cboImage, nullptr);
    EXPECT_NE(create->m_cboDrive, nullptr);

    auto* mount = static_cast<CMountDlg*>(Make<CMountDlg>(m_frame));
    EXPECT_FALSE(mount->m_editLabel->IsEnabled());
    EXPECT_FALSE(mount->m_chkOpen->GetValue());
}

TEST_F(PagesTest, RectanglesAreDialogUnitsOfTheAgreedFont) {
    wxPanel* mount = Make<CMountDlg>(m_frame);
    EXPECT_EQ(mount->ConvertDialogToPixels(wxSize(4, 8)), wxSize(6, 13));
    // The "File to Mount" label at 22, 87, 56 x 9 and the Mount Drive button at
    // 116, 205, 72 x 17; either may have grown in height to GTK's minimum.
    struct Case {
        int id;
        wxRect rect;
    } cases[] = {{1057, wxRect(33, 141, 84, 14)}, {1, wxRect(174, 333, 108, 27)}};
    for (const Case& c : cases) {
        const wxRect got = mount->FindWindow(c.id)->GetRect();
        EXPECT_EQ(got.x, c.rect.x) << c.id;
        EXPECT_EQ(got.width, c.rect.width) << c.id;
        EXPECT_LE(got.y, c.rect.y) << c.id;
        EXPECT_GE(got.GetBottom(), c.rect.GetBottom()) << c.id;
        EXPECT_LE(got.height, c.rect.height + 4) << c.id;
    }
}

TEST(FilesPageLabel, TheRootShowsTheLabelAsTheEngineKeepsIt) {
    struct Case {
        const wchar_t* label;
        const wchar_t* shown;
    } cases[] = {
        {L"NEW_IMAGE", L"NEW_IMAGE"},
        {L"Gr\u00f6\u00dfe", L"Gr\u00f6\u00dfe"}, // Latin-1 survives
        {L"A\u0141B", L"AAB"},                    // U+0141 keeps its low byte 0x41
        {L"A\u0100B", L"A"},                      // a zero low byte ends the text
    };
    for (const Case& c : cases)
        EXPECT_EQ(CImFilesDlg::LabelRoundTrip(c.label), wxString(c.shown)) << wxString(c.label);
    EXPECT_EQ(CImFilesDlg::LabelRoundTrip(wxString('x', 300)).length(), 127u);
}

TEST_F(PagesTest, PagesPaintWithoutASkinPicture) {
    SetAppSkin(nullptr);
    std::vector<wxPanel*> pages;
    for (const PageCase& pc : Pages())
        pages.push_back(pc.make(m_frame));
    m_frame->Show();
    for (wxPanel* page : pages) {
        for (wxPanel* other : pages)
            other->Show(other == page);
        guitest::Yield(2);
    }
    const wxColour plain = pages.back()->GetBackgroundColour();
    wxImage screen;
    EXPECT_TRUE(guitest::GrabScreenWhen(screen, [&](const wxImage& image) {
        const wxPoint at = pages.back()->ClientToScreen(wxPoint(5, 5));
        return wxColour(image.GetRed(at.x, at.y), image.GetGreen(at.x, at.y),
                        image.GetBlue(at.x, at.y)) == plain;
    })) << "a plain fill where the skin would be";
}

TEST_F(PagesTest, AboutBoxLayoutHoldsItsControlsAndTheirTexts) {
    for (const char* language : {"English", "Deutsch"}) {
        SCOPED_TRACE(language);
        guitest::UseRealLanguageFile(m_dir, language);
        wxDialog dialog;
        ASSERT_TRUE(wxXmlResource::Get()->LoadDialog(&dialog, m_frame, kLayoutAbout));
        ApplyNumericIds(&dialog);
        EXPECT_NE(dialog.FindWindow(1000), nullptr) << "banner";
        const Item items[] = {{1043, "IDC_STATIC_ABOUT01"}, {1044, "IDC_STATIC_ABOUT02"},
                              {1045, "IDC_STATIC_ABOUT03"}, {1046, "IDC_STATIC_ABOUT04"},
                              {1047, "IDC_STATIC_ABOUT05"}, {1041, "IDC_STATIC_HOMEPAGE"},
                              {1042, "IDC_STATIC_SUPPORT"}, {1, "IDC_CLOSE"}};
        for (const Item& item : items) {
            wxWindow* control = dialog.FindWindow(item.id);
            ASSERT_NE(control, nullptr) << item.id;
            SetItemLangText(&dialog, item.id, item.key);
            EXPECT_FALSE(TextOf(control).empty()) << item.id;
            if (item.id == 1045)
                continue; // a group box's caption runs along its frame
            const wxSize best = control->GetBestSize();
            EXPECT_LE(best.x, control->GetSize().x)
                << item.id << " " << TextOf(control).utf8_string();
        }
    }
}

// Every label, button and check box shows its whole text, in each language
// of the shipped language file, and GTK has nothing to complain about.
TEST_F(PagesTest, NoTextIsClippedAndGtkDoesNotWarn) {
    for (const char* language : {"English", "Deutsch"}) {
        SCOPED_TRACE(language);
        guitest::UseRealLanguageFile(m_dir, language);
        wxFrame* frame = guitest::MakeSkinnedFrame();
        guitest::StderrCapture capture;
        std::vector<wxPanel*> pages;
        for (const PageCase& pc : Pages())
            pages.push_back(pc.make(frame));
        frame->Show();
        for (wxPanel* page : pages) {
            for (wxPanel* other : pages)
                other->Show(other == page);
            guitest::Yield(2);
        }
        if (const char* shots = std::getenv("SPINDLE_PAGE_SHOTS")) {
            // Pictures for a person to look at, over the real skin.
            CSkinImage real;
            real.Attach(
                wxBitmap(wxString(SPINDLE_SOURCE_DIR) + "/res/skin.png", wxBITMAP_TYPE_PNG));
            SetAppSkin(&real);
            for (std::size_t i = 0; i < pages.size(); ++i) {
                for (wxPanel* other : pages)
                    other->Show(other == pages[i]);
                frame->Refresh();
                guitest::Yield(3);
                wxImage screen;
                if (guitest::GrabScreen(screen))
                    screen.GetSubImage(guitest::ScreenRect(frame))
                        .SaveFile(
                            wxString::Format("%s/%s-%s.png", shots, language, Pages()[i].name));
            }
            SetAppSkin(m_skin.get());
        }
        const std::string warnings = capture.Stop();
        EXPECT_EQ(warnings.find("Gtk-WARNING"), std::string::npos) << warnings;
        EXPECT_EQ(warnings.find("Gtk-CRITICAL"), std::string::npos) << warnings;
        for (std::size_t i = 0; i < pages.size(); ++i) {
            for (wxWindow* child : pages[i]->GetChildren()) {
                const bool text =
                    wxDynamicCast(child, wxStaticText) || wxDynamicCast(child, wxButton) ||
                    wxDynamicCast(child, wxCheckBox) || wxDynamicCast(child, CTransStatic);
                if (!text)
                    continue;
                if (auto* desc = wxDynamicCast(child, CTransStatic)) {
                    EXPECT_LE(desc->NeededHeight(), desc->GetSize().y)
                        << Pages()[i].name << " description \"" << TextOf(child).utf8_string()
                        << "\"";
                    continue;
                }
                const wxSize best = child->GetBestSize();
                const wxSize size = child->GetSize();
                EXPECT_LE(best.x, size.x) << Pages()[i].name << " control " << child->GetId()
                                          << " \"" << TextOf(child).utf8_string() << "\"";
                EXPECT_LE(best.y, size.y) << Pages()[i].name << " control " << child->GetId()
                                          << " \"" << TextOf(child).utf8_string() << "\"";
            }
        }
        frame->Destroy();
        guitest::Yield(1);
    }
}

// Each page paints exactly the skin pixels that the window paints under it:
// no seam at the page's edges.
TEST_F(PagesTest, PageBackgroundEqualsTheSkinUnderIt) {
    std::vector<wxPanel*> pages;
    for (const PageCase& pc : Pages())
        pages.push_back(pc.make(m_frame));
    m_frame->Show();
    for (std::size_t i = 0; i < pages.size(); ++i) {
        SCOPED_TRACE(Pages()[i].name);
        for (wxPanel* other : pages)
            other->Show(other == pages[i]);
        m_frame->Refresh();
        guitest::Yield(4);
        const wxPoint client = m_frame->ClientToScreen(wxPoint(0, 0));
        // A band across the page's left and top edges, above its controls.
        std::string why;
        EXPECT_TRUE(guitest::ScreenShowsPattern(client, wxRect(300, 90, 490, 50), why)) << why;
    }
}

// The pages with the colour handler fill their button-class controls (the
// group box, the check box) with the pale blue; edit fields keep their own
// colours, and the unmount page, which has no colour handler, shows the
// skin inside its group box.
TEST_F(PagesTest, ButtonClassControlsGetThePaleBlueFill) {
    auto* mount = static_cast<CMountDlg*>(Make<CMountDlg>(m_frame));
    auto* unmount = static_cast<CUnmountDlg*>(Make<CUnmountDlg>(m_frame));
    m_frame->Show();
    const wxColour pale(234, 243, 250);
    EXPECT_EQ(ButtonClassFill(), pale);
    auto pixel = [](const wxImage& image, const wxPoint& at) {
        return wxColour(image.GetRed(at.x, at.y), image.GetGreen(at.x, at.y),
                        image.GetBlue(at.x, at.y));
    };
    unmount->Hide();
    m_frame->Refresh();
    guitest::Yield(4);
    const wxRect check = mount->m_chkOpen->GetRect();
    const wxRect edit = mount->m_editLabel->GetRect();
    const wxPoint inGroup = mount->ClientToScreen(wxPoint(20, 120));
    const wxPoint inCheck =
        mount->ClientToScreen(wxPoint(check.GetRight() - 2, check.y + check.height / 2));
    const wxPoint inEdit =
        mount->ClientToScreen(wxPoint(edit.x + edit.width / 2, edit.y + edit.height / 2));
    wxImage screen;
    EXPECT_TRUE(guitest::GrabScreenWhen(screen,
                                        [&](const wxImage& image) {
                                            return pixel(image, inGroup) == pale &&
                                                   pixel(image, inCheck) == pale;
                                        }))
        << "group box " << pixel(screen, inGroup).GetAsString(wxC2S_CSS_SYNTAX).utf8_string()
        << ", check box " << pixel(screen, inCheck).GetAsString(wxC2S_CSS_SYNTAX).utf8_string();
    EXPECT_NE(pixel(screen, inEdit), pale) << "the edit box keeps its own colours";
    const wxPoint client = m_frame->ClientToScreen(wxPoint(0, 0));
    std::string why;
    EXPECT_TRUE(guitest::ScreenShowsPattern(client, wxRect(kPageLeft, kPageTop, 450, 40), why))
        << "above the group box the skin shows: " << why;

    mount->Hide();
    unmount->Show();
    m_frame->Refresh();
    guitest::Yield(4);
    // A strip inside the group box, left of the list.
    EXPECT_TRUE(
        guitest::ScreenShowsPattern(client, wxRect(kPageLeft + 14, kPageTop + 100, 10, 200), why))
        << why;
}

} // namespace
