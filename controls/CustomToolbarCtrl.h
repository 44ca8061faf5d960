// The main window's toolbar: six large buttons, a 48 px icon (at scale 1,
// UiScale.h) with a caption below each, all of one width, the visible page's button drawn checked.
// Owner-drawn over the skin (a native toolbar would paint an opaque band).
// A click on a button sends wxEVT_TOOL with the button's command to the
// parent; a double-click opens the customisation dialog.
#pragma once

#include "engine/PageIds.h"

#include <wx/bitmap.h>
#include <wx/control.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ui {

// Height of the toolbar window after InitButtons; 0 before.
extern int g_nToolbarHeight;

// Colour depth of the toolbar icons in bits (32, 24, 16, 8, 4; 0 = default),
// decided at start-up. Below 24 bits icons lose their alpha for a plain mask.
void SetToolbarColorDepth(int bits);

// One button record of the toolbar.
struct ToolbarButton {
    int iBitmap = 0;   // image index, -1 for a separator
    int idCommand = 0; // command sent on click, 0 for a separator
    std::uint8_t fsState = 0;
    std::uint8_t fsStyle = 0;
    std::uint8_t bReserved[2] = {0, 0};
    std::intptr_t dwData = 0;
    std::intptr_t iString = 0; // caption index, -1 for a separator
};

inline constexpr std::uint8_t TBSTATE_CHECKED = 0x01;
inline constexpr std::uint8_t TBSTATE_ENABLED = 0x04;
inline constexpr std::uint8_t BTNS_BUTTON = 0x00;
inline constexpr std::uint8_t BTNS_SEP = 0x01;
inline constexpr int kToolbarSeparator = 99; // in a layout string

// Width of every button: the widest caption + 10, but no more than the
// client width shared among the buttons (a count of 0 counts as 1).
int ToolbarButtonWidth(int widestCaption, int clientWidth, int buttonCount);

// Reads a layout string of two-digit button indices (99 = separator). Stops
// at the first pair that is not two digits; a trailing odd digit is ignored.
std::vector<int> ParseToolbarLayout(std::string_view layout);

class CCustomToolbarCtrl : public wxControl {
public:
    static constexpr int kMaxButtons = 12;
    static constexpr int kTextLen = 200; // caption buffer, terminator included
    // Sizes in pixels at scale 1.
    static constexpr int kIndent = 100;
    static constexpr int kIconSize = 48;
    static constexpr int kFirstCommand = engine::ID_PAGE_CREATE;
    static constexpr int kSeparatorWidth = 8;

    CCustomToolbarCtrl() = default;
    bool Create(wxWindow* parent, wxWindowID id);

    // Adds the six buttons with their icons and captions and sizes the bar.
    void InitButtons();
    // Unchecks the checked button (if any) and checks the one with command id.
    void SetCheckedButton(int id);
    void LoadButtonImages(bool redraw);
    void UpdateButtonTexts();
    void UpdateButtonWidth();
    void RefreshLayout();
    // Rebuilds the buttons from the default layout (the dialog's Reset).
    void ResetButtons();
    // Opens the customisation dialog (modal).
    void Customize();

    // The buttons now in the bar, as button indices (kToolbarSeparator for a
    // separator); SetLayout replaces them (unknown indices are skipped).
    std::vector<int> GetLayout() const;
    void SetLayout(const std::vector<int>& layout);

    int GetButtonCount() const { return static_cast<int>(m_items.size()); }
    int GetButtonWidth() const { return m_nButtonWidth; }
    int GetIconSize() const { return m_nIconSize; }
    const ToolbarButton& GetItem(int pos) const {
        return m_items.at(static_cast<std::size_t>(pos));
    }
    wxRect GetItemRect(int pos) const;
    int HitTest(const wxPoint& pt) const; // position in the bar, -1 for none
    bool IsButtonChecked(int id) const;
    wxString GetCaption(int index) const; // caption of button index
    int GetImageCount() const { return static_cast<int>(m_imageList.size()); }
    int GetHotItem() const { return m_nHot; }

    // Simulated clicks for the keyboard-less paths and tests: sends the
    // command of the button at position pos as a real click would.
    void ClickItem(int pos);

    int m_nCheckedId = -1;
    int m_nButtons = 0;
    ToolbarButton m_aButtons[kMaxButtons] = {};
    wchar_t m_aszText[kMaxButtons][kTextLen] = {};
    std::string m_strDefaultLayout;

private:
    void AddItem(const ToolbarButton& button);
    void SetCaptionMode();
    void AutoSize();

    void OnPaint(wxPaintEvent& event);
    void OnSize(wxSizeEvent& event);
    void OnSysColourChanged(wxSysColourChangedEvent& event);
    void OnMotion(wxMouseEvent& event);
    void OnLeave(wxMouseEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    void OnLeftUp(wxMouseEvent& event);
    void OnDoubleClick(wxMouseEvent& event);
    void OnCaptureLost(wxMouseCaptureLostEvent& event);

    // The sizes of the k constants at this desktop's scale.
    int m_nIndent = kIndent;
    int m_nIconSize = kIconSize;
    int m_nSeparatorWidth = kSeparatorWidth;
    int m_nTop = 4, m_nBottom = 4, m_nIconPad = 4, m_nTextPad = 4;

    std::vector<ToolbarButton> m_items; // the buttons in the bar, in order
    std::vector<wxBitmap> m_imageList;
    bool m_bCaptionMode = false;
    int m_nButtonWidth = 0;
    int m_nButtonHeight = 0;
    int m_nHot = -1;
    int m_nPressed = -1;
};

} // namespace ui
