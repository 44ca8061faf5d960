// The main window at the desktop's text scale. The same checks run at the
// normal size and, registered again, under GDK_DPI_SCALE=1.3 and GDK_SCALE=2:
// the window grows as the pages' dialog units do, lies whole on the screen,
// no control reaches past its page or the window, the edges show only the
// skin, and no control is given less room than its text needs. With
// SPINDLE_SCREENSHOT_DIR set, each page and the about box are saved there.
#include "app/AboutDlg.h"
#include "app/MainDlg.h"
#include "controls/CustomToolbarCtrl.h"
#include "controls/PageLook.h"
#include "controls/SizeRange.h"
#include "controls/SkinImage.h"
#include "controls/UiScale.h"
#include "pages/ImFilesDlg.h"
#include "pages/Layouts.h"
#include "port/Paths.h"
#include "tests/guitest/Fixtures.h"
#include "tests/guitest/GuiTest.h"

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/radiobut.h>
#include <wx/stattext.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>

using namespace ui;

namespace {

class ScaleTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_realDir = new std::string(port::ProgramDir());
        ASSERT_TRUE(LoadLayouts(*s_realDir + "res/"));
        wxInitAllImageHandlers();
        s_skin = new CSkinImage();
        ASSERT_TRUE(LoadAppSkin(*s_skin, *s_realDir + "res/"));
        SetAppSkin(s_skin);
    }
    static void TearDownTestSuite() {
        SetAppSkin(nullptr);
        delete s_skin;
        delete s_realDir;
        unsetenv("SPINDLE_PROGRAM_DIR");
    }

    void SetUp() override {
        m_dir = guitest::MakeTempSubdir("scale");
        std::filesystem::create_directory_symlink(*s_realDir + "res", m_dir + "res");
    }

    // The window's client area as the screen shows it, in device pixels.
    static wxImage Grab(const wxWindow* window) {
        wxImage screen;
        EXPECT_TRUE(guitest::GrabScreen(screen));
        const wxRect device = guitest::DeviceScreenRect(window);
        if (!screen.IsOk() || !wxRect(screen.GetSize()).Contains(device)) {
            ADD_FAILURE() << "the window is not whole on the screen";
            return wxImage();
        }
        return screen.GetSubImage(device);
    }

    static void Save(const wxImage& image, const std::string& name) {
        const char* dir = std::getenv("SPINDLE_SCREENSHOT_DIR");
        if (dir && image.IsOk()) {
            const std::string path = std::string(dir) + "/" + name + ".png";
            EXPECT_TRUE(image.SaveFile(wxString::FromUTF8(path), wxBITMAP_TYPE_PNG)) << path;
        }
    }

    static std::string* s_realDir;
    static CSkinImage* s_skin;
    std::string m_dir;
};

std::string* ScaleTest::s_realDir = nullptr;
CSkinImage* ScaleTest::s_skin = nullptr;

// The skin as drawn on this screen, in device pixels.
wxImage SkinPixels(const wxSize& logical) {
    const double c = DeviceScale();
    wxBitmap bitmap;
    bitmap.CreateWithDIPSize(logical, c, 24);
    {
        wxMemoryDC dc(bitmap);
        EXPECT_TRUE(AppSkin()->Blit(dc, 0, 0, logical.x, logical.y, 0, 0));
    }
    return bitmap.ConvertToImage();
}

// Device pixels of `area` (logical, client coordinates) where shown and
// skin differ by more than a rounding step.
int DifferingPixels(const wxImage& shown, const wxImage& skin, const wxRect& area) {
    const double c = DeviceScale();
    int differing = 0;
    for (int y = std::lround(area.y * c); y < std::lround(area.GetBottom() * c + c); ++y)
        for (int x = std::lround(area.x * c); x < std::lround(area.GetRight() * c + c); ++x)
            if (std::abs(shown.GetRed(x, y) - skin.GetRed(x, y)) > 2 ||
                std::abs(shown.GetGreen(x, y) - skin.GetGreen(x, y)) > 2 ||
                std::abs(shown.GetBlue(x, y) - skin.GetBlue(x, y)) > 2)
                ++differing;
    return differing;
}

// Strips `w` pixels wide along the inside of each edge of r.
std::vector<wxRect> EdgeStrips(const wxRect& r, int w) {
    return {wxRect(r.x, r.y, r.width, w), wxRect(r.x, r.GetBottom() - w + 1, r.width, w),
            wxRect(r.x, r.y, w, r.height), wxRect(r.GetRight() - w + 1, r.y, w, r.height)};
}

// The ruler's labels in its own font: all of 0 to 700 MB on the CD scale,
// inside the ruler, apart, and no mark through one.
void ExpectRulerLabelsWhole(CSizeRange& ruler) {
    wxClientDC dc(&ruler);
    dc.SetFont(CSizeRange::LabelFont());
    const wxSize size = ruler.GetSize();
    const RulerLayout l = LayoutRuler(ruler.Scale(), size.x, size.y, [&](int n) {
        return dc.GetTextExtent(wxString::Format("%d", n) + ruler.Unit()).x;
    });
    std::string shown;
    for (const RulerLabel& label : l.labels)
        shown += std::to_string(label.number) + "@" + std::to_string(label.x) + "w" +
                 std::to_string(label.width) + " ";
    ASSERT_EQ(l.labels.size(), 8u) << "a label gave way at " << size.x << " px: " << shown;
    int right = -size.y; // none yet
    for (const RulerLabel& label : l.labels) {
        const int left = label.x - label.width / 2;
        EXPECT_TRUE(left >= right + 4 && left + label.width <= size.x) << label.number;
        right = left + label.width;
        for (const RulerLine& mark : l.marks)
            EXPECT_TRUE(mark.x0 + 1 < left || mark.x0 - 1 > right || mark.y1 < label.y)
                << "a mark strikes " << label.number;
    }
}

} // namespace

// The scale the window draws at is the one its pages' dialog units give.
TEST_F(ScaleTest, TheWindowGrowsAsItsDialogUnits) {
    guitest::UseRealLanguageFile(m_dir, "English");
    CMainDlg* dlg = new CMainDlg();
    const wxSize base = dlg->ConvertDialogToPixels(wxSize(4, 8));
    const double scale = ScaleFromBaseUnits(base.x, base.y);
    EXPECT_DOUBLE_EQ(UiScale(), scale);
    EXPECT_EQ(dlg->GetClientSize(),
              wxSize(std::lround(kSkinWidth * scale), std::lround(kSkinHeight * scale)));
    for (int id : {engine::ID_PAGE_CREATE, engine::ID_PAGE_FILES, engine::ID_PAGE_MOUNT,
                   engine::ID_PAGE_UNMOUNT, engine::ID_PAGE_BURN}) {
        ASSERT_NE(dlg->Page(id), nullptr);
        EXPECT_EQ(dlg->Page(id)->GetRect(), PageRect()) << id;
        // The page's layout, in dialog units, fits the page rectangle.
        EXPECT_TRUE(wxRect(PageRect().GetSize()).Contains(wxRect(dlg->Page(id)->GetBestSize())))
            << id;
    }
    const CCustomToolbarCtrl* bar = dlg->m_pToolbar;
    EXPECT_EQ(bar->GetIconSize(), std::lround(CCustomToolbarCtrl::kIconSize * scale));
    dlg->Destroy();
}

// In both languages, on every page and in the about box.
TEST_F(ScaleTest, EveryControlIsWholeAndTheEdgesShowOnlyTheSkin) {
    const std::pair<int, const char*> pages[] = {
        {engine::ID_PAGE_MOUNT, "mount"}, {engine::ID_PAGE_CREATE, "create"},
        {engine::ID_PAGE_FILES, "files"}, {engine::ID_PAGE_UNMOUNT, "unmount"},
        {engine::ID_PAGE_BURN, "burn"},
    };
    for (const char* language : {"English", "Deutsch"}) {
        SCOPED_TRACE(language);
        guitest::UseRealLanguageFile(m_dir, language);
        // The theme's complaints about controls too small for it.
        guitest::StderrCapture stderrText;
        CMainDlg* dlg = new CMainDlg();
        dlg->Move(0, 0);
        dlg->Show();
        const wxImage skin = SkinPixels(dlg->GetClientSize());
        const CCustomToolbarCtrl* bar = dlg->m_pToolbar;
        const wxRect last = bar->GetItemRect(bar->GetButtonCount() - 1);
        EXPECT_LE(last.GetRight(), bar->GetClientSize().x - 1)
            << "the toolbar's last button is cut";
        // A caption wider than its button is shortened with an ellipsis.
        for (int pos = 0; pos < bar->GetButtonCount(); ++pos) {
            const wxString caption = bar->GetCaption(static_cast<int>(bar->GetItem(pos).iString));
            EXPECT_LE(bar->GetTextExtent(caption).x, bar->GetButtonWidth() - 4) << caption;
        }
        for (const auto& [id, name] : pages) {
            SCOPED_TRACE(name);
            for (int pos = 0; pos < bar->GetButtonCount(); ++pos)
                if (bar->GetItem(pos).idCommand == id)
                    dlg->m_pToolbar->ClickItem(pos);
            dlg->Refresh();
            guitest::Yield(10);
            wxWindow* page = dlg->Page(id);
            if (id == engine::ID_PAGE_FILES)
                ExpectRulerLabelsWhole(*dlg->m_pImFilesDlg->m_rulerSize);
            for (const std::string& fault : guitest::CutChildren(page))
                ADD_FAILURE() << fault;

            const wxImage shown = Grab(dlg);
            if (!shown.IsOk())
                continue;
            Save(shown, std::string(name) + (std::string(language) == "English" ? "" : "-de"));
            // Nothing reaches the page's or the window's edges, where it
            // would be cut: three pixels along each show the skin.
            std::vector<wxRect> strips = EdgeStrips(page->GetRect(), 3);
            for (const wxRect& r : EdgeStrips(wxRect(dlg->GetClientSize()), 3))
                strips.push_back(r);
            for (const wxRect& strip : strips)
                EXPECT_EQ(DifferingPixels(shown, skin, strip), 0)
                    << "strip " << strip.x << "," << strip.y << " " << strip.width << "x"
                    << strip.height;
        }
        dlg->Destroy();
        guitest::Yield(1);

        CAboutDlg about;
        ASSERT_TRUE(about.IsLoaded());
        about.Move(0, 0);
        about.Show();
        guitest::Yield(10);
        const wxWindow* banner = about.FindWindow(IDC_ABOUT_BANNER);
        ASSERT_NE(banner, nullptr);
        EXPECT_EQ(banner->GetRect().GetLeft(), 0);
        EXPECT_EQ(banner->GetSize().x, about.GetClientSize().x) << "the banner fills the width";
        for (const std::string& fault : guitest::CutChildren(&about))
            ADD_FAILURE() << "about box: " << fault;
        Save(Grab(&about),
             std::string("about") + (std::string(language) == "English" ? "" : "-de"));
        about.Hide();
        const std::string said = stderrText.Stop();
        EXPECT_EQ(said.find("Gtk-"), std::string::npos) << said;
    }
}
