#include "tests/guitest/Fixtures.h"

#include "controls/PageLook.h"
#include "tests/guitest/GuiTest.h"
#include "text/LangText.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dcclient.h>
#include <wx/radiobut.h>
#include <wx/stattext.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

using namespace text;
using namespace ui;

namespace guitest {

wxColour PatternPixel(int x, int y) {
    return wxColour(static_cast<unsigned char>(x * 7 + y * 3),
                    static_cast<unsigned char>(y * 5 + x),
                    static_cast<unsigned char>((x ^ y) * 11));
}

std::unique_ptr<CSkinImage> MakePatternSkin() {
    wxImage image(798, 527);
    for (int y = 0; y < image.GetHeight(); ++y) {
        for (int x = 0; x < image.GetWidth(); ++x) {
            const wxColour c = PatternPixel(x, y);
            image.SetRGB(x, y, c.Red(), c.Green(), c.Blue());
        }
    }
    auto skin = std::make_unique<CSkinImage>();
    skin->Attach(wxBitmap(image));
    return skin;
}

bool ScreenShowsPattern(const wxPoint& client, const wxRect& area, std::string& why,
                        const std::function<bool(int x, int y)>& skip) {
    int mismatches = 0;
    wxPoint first;
    auto settled = [&](const wxImage& screen) {
        mismatches = 0;
        for (int y = area.GetTop(); y <= area.GetBottom(); ++y) {
            for (int x = area.GetLeft(); x <= area.GetRight(); ++x) {
                if (skip && skip(x, y))
                    continue;
                const int sx = client.x + x, sy = client.y + y;
                const wxColour want = PatternPixel(x, y);
                if (sx >= screen.GetWidth() || sy >= screen.GetHeight() ||
                    screen.GetRed(sx, sy) != want.Red() ||
                    screen.GetGreen(sx, sy) != want.Green() ||
                    screen.GetBlue(sx, sy) != want.Blue()) {
                    if (mismatches++ == 0)
                        first = wxPoint(x, y);
                }
            }
        }
        return mismatches == 0;
    };
    wxImage screen;
    const bool same = GrabScreenWhen(screen, settled);
    why = std::to_string(mismatches) + " pixels differ, the first at " + std::to_string(first.x) +
          "," + std::to_string(first.y);
    return same;
}

void WriteLanguageFile(const std::string& dir, const std::string& section,
                       const std::map<std::string, std::string>& texts) {
    std::ofstream out(dir + "languiu.ini", std::ios::trunc);
    out << "[LANGUAGE]\nCURRENT=" << section << "\n\n[" << section << "]\n";
    for (const auto& [key, text] : texts)
        out << key << "=" << text << "\n";
    out.close();
    ::setenv("SPINDLE_PROGRAM_DIR", dir.c_str(), 1);
    g_szLangFile = u"languiu.ini";
}

void UseRealLanguageFile(const std::string& dir, const std::string& section) {
    const std::string text =
        spindle_test::ReadFile(std::string(SPINDLE_SOURCE_DIR) + "/res/languiu.ini");
    const std::string patched =
        std::regex_replace(text, std::regex("CURRENT=[^\r\n]*"), "CURRENT=" + section,
                           std::regex_constants::format_first_only);
    std::ofstream out(dir + "languiu.ini", std::ios::trunc);
    out << patched;
    out.close();
    ::setenv("SPINDLE_PROGRAM_DIR", dir.c_str(), 1);
    g_szLangFile = u"languiu.ini";
}

wxFrame* MakeSkinnedFrame() {
    auto* frame = new wxFrame(nullptr, wxID_ANY, "test", wxPoint(0, 0), wxDefaultSize,
                              wxCAPTION | wxCLOSE_BOX);
    frame->SetFont(wxFontInfo(8).Family(wxFONTFAMILY_SWISS).FaceName("DejaVu Sans Condensed"));
    frame->SetClientSize(798, 527);
    frame->SetBackgroundStyle(wxBG_STYLE_PAINT);
    // A second child, like the main window's hidden button, so the frame does
    // not stretch a lone page over its whole client area.
    (new wxWindow(frame, wxID_ANY, wxPoint(0, 0), wxSize(1, 1)))->Hide();
    frame->Bind(wxEVT_PAINT, [frame](wxPaintEvent&) {
        wxPaintDC dc(frame);
        if (CSkinImage* skin = AppSkin())
            skin->Blit(dc, 0, 0, skin->GetWidth(), skin->GetHeight(), 0, 0);
    });
    return frame;
}

namespace {

std::string Describe(const wxWindow* w) {
    std::ostringstream out;
    const wxRect r = w->GetRect();
    out << wxString(w->GetClassInfo()->GetClassName()).utf8_string() << " " << w->GetId() << " \""
        << w->GetLabel().utf8_string() << "\" at " << r.x << "," << r.y << " " << r.width << "x"
        << r.height;
    return out.str();
}

// Controls whose text the toolkit sizes: given less than their best size,
// they cut it. Labels are wrapped by the page and report their wrapped size.
bool ShowsItsText(const wxWindow* w) {
    return wxDynamicCast(w, wxButton) || wxDynamicCast(w, wxCheckBox) ||
           wxDynamicCast(w, wxRadioButton) || wxDynamicCast(w, wxStaticText);
}

} // namespace

std::vector<std::string> CutChildren(const wxWindow* parent) {
    std::vector<std::string> faults;
    const wxRect inside(parent->GetClientSize());
    for (const wxWindow* child : parent->GetChildren()) {
        if (!child->IsShown() || child->IsTopLevel())
            continue;
        const wxRect r = child->GetRect();
        if (!inside.Contains(r))
            faults.push_back("cut by its parent's edge: " + Describe(child));
        const wxSize best = child->GetBestSize();
        // A label that shortens its text with an ellipsis on purpose (a long
        // path) is not cut; its height still counts.
        const bool ellipsized =
            wxDynamicCast(child, wxStaticText) &&
            child->HasFlag(wxST_ELLIPSIZE_START | wxST_ELLIPSIZE_MIDDLE | wxST_ELLIPSIZE_END);
        if (ShowsItsText(child) && ((best.x > r.width && !ellipsized) || best.y > r.height))
            faults.push_back("needs " + std::to_string(best.x) + "x" + std::to_string(best.y) +
                             ": " + Describe(child));
        if (auto* label = wxDynamicCast(child, CTransStatic);
            label && label->NeededHeight() > r.height)
            faults.push_back("lines cut: " + Describe(child));
    }
    return faults;
}

} // namespace guitest
