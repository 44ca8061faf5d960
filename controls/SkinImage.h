// The skin: one picture that the main window paints whole and of which every
// page, the toolbar and other skinned controls paint the piece that lies
// behind them, so the window looks like one surface.
#pragma once

#include <wx/bitmap.h>
#include <wx/dc.h>

#include <string>

class wxMemoryDC;

namespace ui {

// Size of the skin picture at scale 1: the main window's client area.
inline constexpr int kSkinWidth = 798;
inline constexpr int kSkinHeight = 527;

class CSkinImage {
public:
    CSkinImage() = default;
    ~CSkinImage();
    CSkinImage(const CSkinImage&) = delete;
    CSkinImage& operator=(const CSkinImage&) = delete;

    // Takes the bitmap over and records its size. False for an invalid bitmap
    // (the image is then empty and every Blit fails).
    bool Attach(const wxBitmap& bitmap);
    int GetWidth() const { return m_nWidth; }
    int GetHeight() const { return m_nHeight; }
    bool IsOk() const { return m_bitmap.IsOk(); }

    // Copies the rectangle (srcX, srcY, w, h) of the image to (x, y) of dc.
    // The memory context comes from the shared cache for the duration of the
    // copy. False when the image is empty or the copy fails.
    bool Blit(wxDC& dc, int x, int y, int w, int h, int srcX, int srcY,
              wxRasterOperationMode rop = wxCOPY);

    // Memory contexts created so far by all images (tests watch the cache).
    static int CreatedContexts();
    // Number of contexts waiting in the cache.
    static int CachedContexts();
    // Deletes every cached context (application exit, tests).
    static void ClearCache();

private:
    void BeginUse();
    void EndUse();

    wxBitmap m_bitmap;
    int m_nWidth = 0;
    int m_nHeight = 0;
    wxMemoryDC* m_pDC = nullptr; // context in use while drawing
    int m_nUses = 0;             // nested uses of m_pDC
};

// Loads the skin from resDir (ends in "/") at this desktop's scale
// (UiScale.h): skin.png or, for larger sizes and scaled displays,
// skin@2x.png. False when neither loads (the image is then left alone).
bool LoadAppSkin(CSkinImage& skin, const std::string& resDir);

// The application's skin, registered at start-up; nullptr before.
void SetAppSkin(CSkinImage* skin);
CSkinImage* AppSkin();

} // namespace ui
