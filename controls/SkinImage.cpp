#include "controls/SkinImage.h"

#include "controls/DcCache.h"

#include <wx/dcmemory.h>

#include <atomic>

namespace {

CDcCache<wxMemoryDC>& Cache()
{
    static CDcCache<wxMemoryDC> cache;
    return cache;
}

std::atomic<int> g_createdContexts{0};
std::atomic<CSkinImage*> g_appSkin{nullptr};

} // namespace

CSkinImage::~CSkinImage()
{
    // A copy never outlives its Blit call, so no context is held here.
    if (m_pDC) {
        m_pDC->SelectObject(wxNullBitmap);
        delete m_pDC;
    }
}

bool CSkinImage::Attach(const wxBitmap& bitmap)
{
    m_bitmap = bitmap;
    if (!m_bitmap.IsOk()) {
        m_nWidth = m_nHeight = 0;
        return false;
    }
    m_nWidth = m_bitmap.GetWidth();
    m_nHeight = m_bitmap.GetHeight() < 0 ? -m_bitmap.GetHeight() : m_bitmap.GetHeight();
    return true;
}

void CSkinImage::BeginUse()
{
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

void CSkinImage::EndUse()
{
    if (--m_nUses > 0)
        return;
    m_pDC->SelectObject(wxNullBitmap);
    delete Cache().Give(m_pDC);
    m_pDC = nullptr;
}

bool CSkinImage::Blit(wxDC& dc, int x, int y, int w, int h, int srcX, int srcY,
                      wxRasterOperationMode rop)
{
    if (!m_bitmap.IsOk() || w <= 0 || h <= 0)
        return false;
    BeginUse();
    const bool ok = dc.Blit(x, y, w, h, m_pDC, srcX, srcY, rop);
    EndUse();
    return ok;
}

int CSkinImage::CreatedContexts() { return g_createdContexts.load(); }

int CSkinImage::CachedContexts() { return static_cast<int>(Cache().Count()); }

void CSkinImage::ClearCache()
{
    while (wxMemoryDC* p = Cache().Take())
        delete p;
}

void SetAppSkin(CSkinImage* skin) { g_appSkin.store(skin); }

CSkinImage* AppSkin() { return g_appSkin.load(); }
