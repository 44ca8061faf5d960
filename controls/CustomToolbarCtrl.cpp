#include "controls/CustomToolbarCtrl.h"

#include "controls/PageLook.h"
#include "controls/ToolbarCustomizeDlg.h"
#include "controls/UiScale.h"
#include "port/Paths.h"
#include "text/LangTextUi.h"

#include <wx/dcbuffer.h>
#include <wx/dcgraph.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/settings.h>

#include <algorithm>
#include <cwchar>
#include <filesystem>

using namespace text;

namespace ui {

int g_nToolbarHeight = 0;

namespace {

int g_nColorDepth = 0;

// At scale 1; the bar scales them with the desktop (UiScale.h).
constexpr int kTop = 4;     // space above the buttons
constexpr int kBottom = 4;  // space below the buttons
constexpr int kIconPad = 4; // space above and below the icon
constexpr int kTextPad = 4; // space below the caption

struct ButtonDef {
    const char* icon;
    const char* key;
};
constexpr ButtonDef kDefs[] = {
    {"create", "ID_MAIN_BTN_CREATE"}, {"files", "ID_MAIN_BTN_FILES"},
    {"mount", "ID_MAIN_BTN_MOUNT"},   {"unmount", "ID_MAIN_BTN_UNMOUNT"},
    {"burn", "ID_MAIN_BTN_BURNCD"},   {"help", "ID_MAIN_BTN_HELP"},
};
constexpr int kDefCount = static_cast<int>(std::size(kDefs));

ToolbarButton Separator() {
    ToolbarButton b;
    b.iBitmap = -1;
    b.idCommand = 0;
    b.fsState = TBSTATE_ENABLED;
    b.fsStyle = BTNS_SEP;
    b.iString = -1;
    return b;
}

} // namespace

void SetToolbarColorDepth(int bits) {
    g_nColorDepth = bits;
}

int ToolbarButtonWidth(int widestCaption, int clientWidth, int buttonCount) {
    const int w = widestCaption + 10;
    const int s = clientWidth / (buttonCount > 0 ? buttonCount : 1);
    return w > s ? s : w;
}

std::vector<int> ParseToolbarLayout(std::string_view layout) {
    std::vector<int> out;
    for (std::size_t i = 0; i + 1 < layout.size(); i += 2) {
        const char a = layout[i], b = layout[i + 1];
        if (a < '0' || a > '9' || b < '0' || b > '9')
            break;
        out.push_back((a - '0') * 10 + (b - '0'));
    }
    return out;
}

bool CCustomToolbarCtrl::Create(wxWindow* parent, wxWindowID id) {
    m_nIndent = ScaledPx(kIndent);
    m_nIconSize = ScaledPx(kIconSize);
    m_nSeparatorWidth = ScaledPx(kSeparatorWidth);
    m_nTop = ScaledPx(kTop);
    m_nBottom = ScaledPx(kBottom);
    m_nIconPad = ScaledPx(kIconPad);
    m_nTextPad = ScaledPx(kTextPad);
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    if (!wxControl::Create(parent, id, wxPoint(0, 0), wxSize(0, 0), wxBORDER_NONE,
                           wxDefaultValidator, "CCustomToolbarCtrl"))
        return false;
    Bind(wxEVT_PAINT, &CCustomToolbarCtrl::OnPaint, this);
    Bind(wxEVT_SIZE, &CCustomToolbarCtrl::OnSize, this);
    Bind(wxEVT_SYS_COLOUR_CHANGED, &CCustomToolbarCtrl::OnSysColourChanged, this);
    Bind(wxEVT_MOTION, &CCustomToolbarCtrl::OnMotion, this);
    Bind(wxEVT_LEAVE_WINDOW, &CCustomToolbarCtrl::OnLeave, this);
    Bind(wxEVT_LEFT_DOWN, &CCustomToolbarCtrl::OnLeftDown, this);
    Bind(wxEVT_LEFT_UP, &CCustomToolbarCtrl::OnLeftUp, this);
    Bind(wxEVT_LEFT_DCLICK, &CCustomToolbarCtrl::OnDoubleClick, this);
    Bind(wxEVT_MOUSE_CAPTURE_LOST, &CCustomToolbarCtrl::OnCaptureLost, this);
    return true;
}

void CCustomToolbarCtrl::InitButtons() {
    LoadButtonImages(true);
    m_nButtons = 0;
    m_items.clear();
    for (int i = 0; i < kDefCount; ++i) {
        ToolbarButton& b = m_aButtons[i];
        b = ToolbarButton();
        b.iBitmap = i;
        b.idCommand = kFirstCommand + i;
        b.fsState = TBSTATE_ENABLED;
        b.fsStyle = BTNS_BUTTON;
        b.iString = i;
        AddItem(b);
        ++m_nButtons;
    }
    m_strDefaultLayout.clear();
    for (int i = 0; i < kDefCount; ++i) {
        m_strDefaultLayout += static_cast<char>('0' + i / 10);
        m_strDefaultLayout += static_cast<char>('0' + i % 10);
    }
    UpdateButtonTexts();
    SetCaptionMode();
    UpdateButtonWidth();
    AutoSize();
    g_nToolbarHeight = GetSize().y;
}

void CCustomToolbarCtrl::AddItem(const ToolbarButton& button) {
    m_items.push_back(button);
}

void CCustomToolbarCtrl::SetCaptionMode() {
    m_bCaptionMode = true;
}

void CCustomToolbarCtrl::LoadButtonImages(bool redraw) {
    const bool keepAlpha = g_nColorDepth == 0 || g_nColorDepth >= 24;
    const std::string dir = port::ResourceDir() + "res/icons/toolbar/";
    const double deviceScale = DeviceScale();
    std::vector<wxBitmap> list;
    for (const ButtonDef& def : kDefs) {
        std::vector<std::pair<int, std::string>> files;
        for (int size : {16, 32, 48, 96})
            files.emplace_back(size, dir + def.icon + "-" + std::to_string(size) + ".png");
        wxBitmap bitmap = LoadScaledArt(files, wxSize(m_nIconSize, m_nIconSize), deviceScale);
        if (!bitmap.IsOk())
            continue; // a missing icon is simply not appended
        if (!keepAlpha && bitmap.HasAlpha()) {
            wxImage image = bitmap.ConvertToImage();
            image.ConvertAlphaToMask();
            bitmap = wxBitmap(image, -1, deviceScale);
        }
        list.push_back(bitmap);
    }
    m_imageList.swap(list);
    if (!m_bCaptionMode) {
        m_nButtonWidth = 0;
        m_nButtonHeight = 0;
    }
    if (redraw)
        RefreshLayout();
}

void CCustomToolbarCtrl::UpdateButtonTexts() {
    if (!GetHandle())
        return;
    for (int i = 0; i < m_nButtons && i < kDefCount; ++i) {
        wxString text;
        GetLangText(wxString(kDefs[i].key), text);
        const std::wstring wide = text.ToStdWstring();
        const std::size_t n = std::min<std::size_t>(wide.size(), kTextLen - 1);
        std::wmemcpy(m_aszText[i], wide.data(), n);
        m_aszText[i][n] = L'\0';
    }
    AutoSize();
    UpdateButtonWidth();
    Refresh();
}

void CCustomToolbarCtrl::UpdateButtonWidth() {
    if (!m_bCaptionMode) {
        m_nButtonWidth = 0;
        m_nButtonHeight = 0;
        return;
    }
    wxClientDC dc(this);
    dc.SetFont(GetFont());
    int widest = 0;
    for (const ToolbarButton& b : m_items) {
        if (b.fsStyle & BTNS_SEP || b.iString < 0 || b.iString >= kMaxButtons)
            continue;
        wxCoord w = 0, h = 0;
        dc.GetTextExtent(wxString(m_aszText[b.iString]), &w, &h);
        widest = std::max(widest, static_cast<int>(w));
    }
    m_nButtonWidth = ToolbarButtonWidth(widest, GetClientSize().x, GetButtonCount());
    m_nButtonHeight = m_nIconPad + m_nIconSize + m_nIconPad + dc.GetCharHeight() + m_nTextPad;
    Refresh();
}

void CCustomToolbarCtrl::AutoSize() {
    // Like a top-aligned toolbar: as wide as the parent, as high as a button.
    const int width = GetParent() ? GetParent()->GetClientSize().x : GetSize().x;
    const int buttonHeight = m_nButtonHeight > 0 ? m_nButtonHeight : m_nIconPad * 2 + m_nIconSize;
    const wxSize size(width, m_nTop + buttonHeight + m_nBottom);
    if (GetSize() != size)
        SetSize(0, 0, size.x, size.y);
}

void CCustomToolbarCtrl::RefreshLayout() {
    UpdateButtonWidth();
    AutoSize();
    if (GetSize().y == g_nToolbarHeight) {
        Refresh(true);
        Update();
    }
}

namespace {

void SetCheckedState(ToolbarButton& b, bool on) {
    b.fsState = on ? static_cast<std::uint8_t>(b.fsState | TBSTATE_CHECKED)
                   : static_cast<std::uint8_t>(b.fsState & ~TBSTATE_CHECKED);
}

} // namespace

void CCustomToolbarCtrl::SetCheckedButton(int id) {
    // The bar's button and its record both keep the state, so a button that
    // customisation takes out and puts back keeps its checked look.
    auto setChecked = [this](int cmd, bool on) {
        for (ToolbarButton& b : m_items) {
            if (b.idCommand == cmd && !(b.fsStyle & BTNS_SEP))
                SetCheckedState(b, on);
        }
        for (int i = 0; i < m_nButtons; ++i) {
            if (m_aButtons[i].idCommand == cmd)
                SetCheckedState(m_aButtons[i], on);
        }
    };
    if (m_nCheckedId != -1)
        setChecked(m_nCheckedId, false);
    setChecked(id, true);
    m_nCheckedId = id;
    Refresh();
}

bool CCustomToolbarCtrl::IsButtonChecked(int id) const {
    for (const ToolbarButton& b : m_items) {
        if (b.idCommand == id && !(b.fsStyle & BTNS_SEP))
            return (b.fsState & TBSTATE_CHECKED) != 0;
    }
    return false;
}

wxString CCustomToolbarCtrl::GetCaption(int index) const {
    if (index < 0 || index >= kMaxButtons)
        return wxString();
    return wxString(m_aszText[index]);
}

std::vector<int> CCustomToolbarCtrl::GetLayout() const {
    std::vector<int> layout;
    for (const ToolbarButton& b : m_items)
        layout.push_back(b.fsStyle & BTNS_SEP ? kToolbarSeparator : static_cast<int>(b.iString));
    return layout;
}

void CCustomToolbarCtrl::SetLayout(const std::vector<int>& layout) {
    // Keep the state of the buttons that leave the bar in their records.
    for (auto it = m_items.rbegin(); it != m_items.rend(); ++it) {
        for (int i = 0; i < m_nButtons; ++i) {
            if (!(it->fsStyle & BTNS_SEP) && m_aButtons[i].idCommand == it->idCommand) {
                m_aButtons[i].fsState = it->fsState;
                m_aButtons[i].fsStyle = it->fsStyle;
                m_aButtons[i].iString = it->iString;
            }
        }
    }
    m_items.clear();
    for (int index : layout) {
        if (index == kToolbarSeparator)
            AddItem(Separator());
        else if (index >= 0 && index < m_nButtons)
            AddItem(m_aButtons[index]);
    }
    m_nHot = m_nPressed = -1;
    UpdateButtonTexts();
    SetCaptionMode();
    UpdateButtonWidth();
    AutoSize();
}

void CCustomToolbarCtrl::ResetButtons() {
    SetLayout(ParseToolbarLayout(m_strDefaultLayout));
}

void CCustomToolbarCtrl::Customize() {
    CToolbarCustomizeDlg dlg(this);
    dlg.ShowModal();
}

wxRect CCustomToolbarCtrl::GetItemRect(int pos) const {
    const int buttonWidth = m_nButtonWidth > 0 ? m_nButtonWidth : m_nIconSize + 2 * m_nIconPad;
    const int buttonHeight = m_nButtonHeight > 0 ? m_nButtonHeight : m_nIconSize + 2 * m_nIconPad;
    int x = m_nIndent;
    for (int i = 0; i < pos && i < GetButtonCount(); ++i)
        x += m_items[static_cast<std::size_t>(i)].fsStyle & BTNS_SEP ? m_nSeparatorWidth
                                                                     : buttonWidth;
    const bool sep = pos >= 0 && pos < GetButtonCount() &&
                     (m_items[static_cast<std::size_t>(pos)].fsStyle & BTNS_SEP);
    return wxRect(x, m_nTop, sep ? m_nSeparatorWidth : buttonWidth, buttonHeight);
}

int CCustomToolbarCtrl::HitTest(const wxPoint& pt) const {
    for (int i = 0; i < GetButtonCount(); ++i) {
        if (!(m_items[static_cast<std::size_t>(i)].fsStyle & BTNS_SEP) &&
            GetItemRect(i).Contains(pt))
            return i;
    }
    return -1;
}

void CCustomToolbarCtrl::ClickItem(int pos) {
    if (pos < 0 || pos >= GetButtonCount())
        return;
    const ToolbarButton& b = m_items[static_cast<std::size_t>(pos)];
    if (b.fsStyle & BTNS_SEP || !(b.fsState & TBSTATE_ENABLED))
        return;
    wxCommandEvent event(wxEVT_TOOL, b.idCommand);
    event.SetEventObject(this);
    if (GetParent())
        GetParent()->ProcessWindowEvent(event);
}

void CCustomToolbarCtrl::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    if (!PaintSkinBehind(this, dc))
        PaintPlainBackground(GetParent() ? GetParent() : this, dc);
    wxGCDC gdc(dc);
    gdc.SetFont(GetFont());
    gdc.SetTextForeground(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNTEXT));
    for (int i = 0; i < GetButtonCount(); ++i) {
        const ToolbarButton& b = m_items[static_cast<std::size_t>(i)];
        const wxRect r = GetItemRect(i);
        if (b.fsStyle & BTNS_SEP) {
            gdc.SetPen(wxPen(wxColour(0, 0, 0, 60)));
            gdc.DrawLine(r.x + r.width / 2, r.y + 6, r.x + r.width / 2, r.GetBottom() - 6);
            continue;
        }
        const bool checked = (b.fsState & TBSTATE_CHECKED) != 0;
        const bool pressed = i == m_nPressed && i == m_nHot;
        if (checked || pressed || i == m_nHot) {
            // Tints that read on light and dark skins alike.
            wxColour fill(20, 110, 170, checked ? 48 : 24);
            wxColour edge(20, 100, 160, checked ? 150 : 80);
            if (pressed) {
                fill = wxColour(10, 70, 120, 70);
                edge = wxColour(10, 70, 120, 170);
            }
            gdc.SetBrush(wxBrush(fill));
            gdc.SetPen(wxPen(edge, 1));
            gdc.DrawRoundedRectangle(wxRect(r).Deflate(1), 4);
        }
        const wxPoint offset = pressed ? wxPoint(1, 1) : wxPoint(0, 0);
        if (b.iBitmap >= 0 && b.iBitmap < GetImageCount())
            gdc.DrawBitmap(m_imageList[static_cast<std::size_t>(b.iBitmap)],
                           r.x + (r.width - m_nIconSize) / 2 + offset.x,
                           r.y + m_nIconPad + offset.y, true);
        if (m_bCaptionMode && b.iString >= 0 && b.iString < kMaxButtons) {
            const wxString caption = wxControl::Ellipsize(
                wxString(m_aszText[b.iString]), gdc, wxELLIPSIZE_END, std::max(r.width - 4, 1));
            const wxSize ext = gdc.GetTextExtent(caption);
            gdc.DrawText(caption, r.x + (r.width - ext.x) / 2 + offset.x,
                         r.y + m_nIconPad + m_nIconSize + m_nIconPad + offset.y);
        }
    }
}

void CCustomToolbarCtrl::OnSize(wxSizeEvent& event) {
    event.Skip();
    if (m_bCaptionMode)
        UpdateButtonWidth(); // the width rule depends on the client width
}

void CCustomToolbarCtrl::OnSysColourChanged(wxSysColourChangedEvent& event) {
    event.Skip();
    LoadButtonImages(true);
}

void CCustomToolbarCtrl::OnMotion(wxMouseEvent& event) {
    const int hot = HitTest(event.GetPosition());
    if (hot != m_nHot) {
        m_nHot = hot;
        Refresh(false);
    }
}

void CCustomToolbarCtrl::OnLeave(wxMouseEvent&) {
    if (m_nHot != -1 && !HasCapture()) {
        m_nHot = -1;
        Refresh(false);
    }
}

void CCustomToolbarCtrl::OnLeftDown(wxMouseEvent& event) {
    m_nPressed = HitTest(event.GetPosition());
    m_nHot = m_nPressed;
    if (m_nPressed != -1 && !HasCapture() && IsShownOnScreen())
        CaptureMouse();
    Refresh(false);
}

void CCustomToolbarCtrl::OnLeftUp(wxMouseEvent& event) {
    if (HasCapture())
        ReleaseMouse();
    const int pressed = m_nPressed;
    m_nPressed = -1;
    m_nHot = HitTest(event.GetPosition());
    Refresh(false);
    if (pressed != -1 && pressed == m_nHot)
        ClickItem(pressed);
}

void CCustomToolbarCtrl::OnDoubleClick(wxMouseEvent&) {
    m_nPressed = -1;
    Customize();
}

void CCustomToolbarCtrl::OnCaptureLost(wxMouseCaptureLostEvent&) {
    m_nPressed = -1;
    Refresh(false);
}

} // namespace ui
