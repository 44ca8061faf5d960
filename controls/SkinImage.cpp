#include "controls/SkinImage.h"

#include "controls/DcCache.h"
#include "controls/UiScale.h"

#include <wx/dcmemory.h>

#include <atomic>

namespace ui {

namespace {

CDcCache<wxMemoryDC>& Cache() {
    static CDcCache<wxMemoryDC> cache;
    return cache;
}

std::atomic<int> g_createdContexts{0};
std::atomic<CSkinImage*> g_appSkin{nullptr};

} // namespace

CSkinImage::~CSkinImage() {
    // A copy never outlives its Blit call, so no context is held here.
    if (m_pDC) {
        m_pDC->SelectObject(wxNullBitmap);
        delete m_pDC;
    }
}

bool CSkinImage::Attach(const wxBitmap& bitmap) {
    m_bitmap = bitmap;
    if (!m_bitmap.IsOk()) {
        m_nWidth = m_nHeight = 0;
        return false;
    }
    // Sizes in logical pixels: a picture made for a scaled display has more
    // pixels than it covers.
    const wxSize size = m_bitmap.GetLogicalSize();
    m_nWidth = size.x;
    m_nHeight = size.y < 0 ? -size.y : size.y;
    return true;
}

void CSkinImage::BeginUse() {
    if (!m_pDC) {
        m_pDC = Cache().Take();
        if (!m_pDC) {
            m_pDC = new wxMemoryDC();
            ++g_createdContexts;
        }
        m_pDC->SelectObject(m_bitmap);
    }
    ++m_nUses;
}

void CSkinImage::EndUse() {
    if (--m_nUses > 0)
        return;
    m_pDC->SelectObject(wxNullBitmap);
    delete Cache().Give(m_pDC);
    m_pDC = nullptr;
}

bool CSkinImage::Blit(wxDC& dc, int x, int y, int w, int h, int srcX, int srcY,
                      wxRasterOperationMode rop) {
    if (!m_bitmap.IsOk() || w <= 0 || h <= 0)
        return false;
    BeginUse();
    const bool ok = dc.Blit(x, y, w, h, m_pDC, srcX, srcY, rop);
    EndUse();
    return ok;
}

int CSkinImage::CreatedContexts() {
    return g_createdContexts.load();
}

int CSkinImage::CachedContexts() {
    return static_cast<int>(Cache().Count());
}

void CSkinImage::ClearCache() {
    while (wxMemoryDC* p = Cache().Take())
        delete p;
}

bool LoadAppSkin(CSkinImage& skin, const std::string& resDir) {
    const wxSize logical(ScaledPx(kSkinWidth), ScaledPx(kSkinHeight));
    const wxBitmap bitmap =
        LoadScaledArt({{kSkinWidth, resDir + "skin.png"}, {2 * kSkinWidth, resDir + "skin@2x.png"}},
                      logical, DeviceScale());
    return bitmap.IsOk() && skin.Attach(bitmap);
}

void SetAppSkin(CSkinImage* skin) {
    g_appSkin.store(skin);
}

CSkinImage* AppSkin() {
    return g_appSkin.load();
}

} // namespace ui
