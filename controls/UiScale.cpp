#include "controls/UiScale.h"

#include <wx/dcscreen.h>
#include <wx/display.h>
#include <wx/image.h>
#include <wx/log.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace ui {

wxFont AgreedFont() {
    return wxFont(wxFontInfo(8).FaceName("DejaVu Sans Condensed"));
}

double ScaleFromBaseUnits(int baseX, int baseY) {
    if (baseX <= 0 || baseY <= 0)
        return 1.0;
    return std::max(static_cast<double>(baseX) / kAgreedBaseX,
                    static_cast<double>(baseY) / kAgreedBaseY);
}

double UiScale() {
    static double scale = 0;
    if (scale > 0)
        return scale;
    // The toolkit's dialog base units: the average width of the 52 ASCII
    // letters, rounded, and the line height.
    wxScreenDC dc;
    dc.SetFont(AgreedFont());
    wxCoord width = 0, height = 0;
    dc.GetTextExtent("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", &width, &height);
    scale = ScaleFromBaseUnits((width / 26 + 1) / 2, height);
    return scale;
}

int ScaledPx(int px) {
    return static_cast<int>(std::lround(px * UiScale()));
}

double DeviceScale() {
    const double scale = wxDisplay().GetScaleFactor();
    return scale > 0 ? scale : 1.0;
}

int PickArtSize(const std::vector<int>& widths, int needed) {
    int best = -1;
    for (int i = 0; i < static_cast<int>(widths.size()); ++i) {
        const int w = widths[static_cast<std::size_t>(i)];
        if (best < 0) {
            best = i;
            continue;
        }
        const int b = widths[static_cast<std::size_t>(best)];
        const bool fits = w >= needed, bestFits = b >= needed;
        if ((fits && (!bestFits || w < b)) || (!fits && !bestFits && w > b))
            best = i;
    }
    return best;
}

wxBitmap LoadScaledArt(const std::vector<std::pair<int, std::string>>& candidates,
                       const wxSize& logical, double deviceScale) {
    std::vector<std::pair<int, std::string>> present;
    for (const auto& candidate : candidates) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(candidate.second, ec))
            present.push_back(candidate);
    }
    const wxSize device(static_cast<int>(std::lround(logical.x * deviceScale)),
                        static_cast<int>(std::lround(logical.y * deviceScale)));
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG))
        wxImage::AddHandler(new wxPNGHandler);
    // Best first; a file that does not load gives way to the next best.
    while (!present.empty()) {
        std::vector<int> widths;
        for (const auto& p : present)
            widths.push_back(p.first);
        const auto at = present.begin() + PickArtSize(widths, device.x);
        wxLogNull quiet;
        wxImage image;
        if (image.LoadFile(wxString::FromUTF8(at->second), wxBITMAP_TYPE_PNG) && image.IsOk()) {
            if (image.GetSize() != device)
                image.Rescale(device.x, device.y, wxIMAGE_QUALITY_HIGH);
            return wxBitmap(image, -1, deviceScale);
        }
        present.erase(at);
    }
    return wxBitmap();
}

} // namespace ui
