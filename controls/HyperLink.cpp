#include "controls/HyperLink.h"

#include "port/DialogHooks.h"
#include "port/Shell.h"
#include "text/LangTextUi.h"

#include <wx/app.h>
#include <wx/dcclient.h>
#include <wx/tooltip.h>
#include <wx/utils.h>
#include <wx/weakref.h>

using namespace text;

namespace ui {

wxCursor* g_hLinkCursor = nullptr;

const wxColour CHyperLink::kActiveColour(0, 128, 128);
const wxColour CHyperLink::kOpenedColour(128, 0, 128);
const wxColour CHyperLink::kLinkColour(0, 0, 255);

// clang-format off
wxBEGIN_EVENT_TABLE(CHyperLink, wxControl)
    EVT_PAINT(CHyperLink::OnPaint)
    EVT_MOTION(CHyperLink::OnMouseMove)
    EVT_ENTER_WINDOW(CHyperLink::OnEnter)
    EVT_LEAVE_WINDOW(CHyperLink::OnLeave)
    EVT_LEFT_DOWN(CHyperLink::OnLeftDown)
    EVT_LEFT_UP(CHyperLink::OnLeftUp)
    EVT_MOUSE_CAPTURE_LOST(CHyperLink::OnCaptureLost)
    EVT_SET_FOCUS(CHyperLink::OnSetFocus)
    EVT_KILL_FOCUS(CHyperLink::OnKillFocus)
    EVT_KEY_DOWN(CHyperLink::OnKeyDown)
wxEND_EVENT_TABLE()
    // clang-format on

    CHyperLink::~CHyperLink() {
    if (HasCapture())
        ReleaseMouse();
}

bool CHyperLink::Create(wxWindow* parent, wxWindowID id, const wxString& label, const wxPoint& pos,
                        const wxSize& size, long style, const wxFont& font) {
    // Nothing is painted but the text: what lies under the link shows.
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    const long align = style & (wxALIGN_CENTRE_HORIZONTAL | wxALIGN_RIGHT | HLS_CENTERIMAGE);
    if (!wxControl::Create(parent, id, pos, size, align | wxBORDER_NONE, wxDefaultValidator,
                           "CHyperLink"))
        return false;
    wxControl::SetLabel(label);
    if (font.IsOk())
        SetFont(font);
    // A window of this kind takes no keyboard focus in GTK unless told so:
    // a click would leave the keyboard where it was.
    SetCanFocus(true);
    PreSubclassWindow();
    return true;
}

bool CHyperLink::SubclassDlgItem(int id, wxWindow* dialog) {
    wxWindow* old = dialog ? dialog->FindWindow(id) : nullptr;
    if (!old)
        return false;
    wxWindow* parent = old->GetParent();
    const wxRect rect = old->GetRect();
    const wxString label = old->GetLabel();
    const wxFont font = old->GetFont();
    const long style = old->GetWindowStyleFlag();
    wxWindow* const next = old->GetNextSibling();
    old->Destroy();
    if (!Create(parent, id, label, rect.GetPosition(), rect.GetSize(), style, font))
        return false;
    if (next)
        MoveBeforeInTabOrder(next);
    return true;
}

void CHyperLink::PreSubclassWindow() {
    if (m_strTarget.empty())
        m_strTarget = GetLabel();
    if (GetLabel().empty())
        wxControl::SetLabel(m_strTarget);

    wxFont font = GetFont();
    if (font.IsOk()) {
        font.SetUnderlined((m_nFlags & kUnderline) != 0);
        m_fontLink = font;
        SetFont(m_fontLink);
        FitToText();
    } else {
        m_nFlags &= ~kFitToText;
    }

    if (!g_hLinkCursor) {
        auto* cursor = new wxCursor(wxCURSOR_HAND);
        if (cursor->IsOk())
            g_hLinkCursor = cursor; // kept for every later link, never freed
        else
            delete cursor;
    }
    if (g_hLinkCursor)
        SetCursor(*g_hLinkCursor);

    SetToolTip(m_strTarget);
}

void CHyperLink::SetLabel(const wxString& label) {
    if (label == GetLabel())
        return;
    wxControl::SetLabel(label);
    Redraw();
}

wxSize CHyperLink::DoGetBestSize() const {
    wxClientDC dc(const_cast<CHyperLink*>(this));
    dc.SetFont(m_fontLink.IsOk() ? m_fontLink : GetFont());
    return dc.GetTextExtent(GetLabelText());
}

void CHyperLink::FitToText() {
    if (!(m_nFlags & kFitToText))
        return;
    wxRect rect = GetRect();
    const wxSize client = GetClientSize();
    const wxSize border = GetSize() - client;
    wxClientDC dc(this);
    dc.SetFont(m_fontLink);
    const wxSize text = dc.GetTextExtent(GetLabelText());
    const long style = GetWindowStyleFlag();

    if (style & HLS_CENTERIMAGE) {
        const int shrink = (rect.height - text.y) / 2;
        rect.y += shrink;
        rect.height -= 2 * shrink;
    } else {
        rect.height = text.y;
    }
    if (style & wxALIGN_CENTRE_HORIZONTAL) {
        const int shrink = (rect.width - text.x) / 2;
        rect.x += shrink;
        rect.width -= 2 * shrink;
    } else if (style & wxALIGN_RIGHT) {
        rect.x += rect.width - text.x;
        rect.width = text.x;
    } else {
        rect.width = text.x;
    }
    SetSize(rect.x, rect.y, rect.width + border.x, rect.height + border.y, wxSIZE_ALLOW_MINUS_ONE);
    Refresh();
}

void CHyperLink::SetTarget(const wxString& target) {
    m_strTarget = target;
    if (!GetHandle())
        return;
    Hide();
    FitToText();
    SetToolTip(m_strTarget);
    Show();
}

wxColour CHyperLink::LinkColour() const {
    if (m_bActive)
        return kActiveColour;
    return m_bOpened ? kOpenedColour : kLinkColour;
}

void CHyperLink::Redraw() {
    Refresh(true);
}

int CHyperLink::OpenTarget() {
    wxWeakRef<CHyperLink> self(this);
    const int result = OpenWithDesktop(m_strTarget, [self](int) {
        if (!self)
            return;
        self->m_bOpened = false;
        self->Redraw();
        wxBell();
    });
    if (result > 32) {
        m_bOpened = true;
        Redraw();
        return result;
    }
    // The message box takes the mouse: a press ends, hover tracking starts
    // afresh after it.
    if (HasCapture())
        ReleaseMouse();
    m_bPressed = false;
    m_bHover = false;
    UpdateActive();
    wxBell();
    ShowOpenError(result);
    return result;
}

void CHyperLink::OnPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    dc.SetFont(m_fontLink.IsOk() ? m_fontLink : GetFont());
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    dc.SetTextForeground(LinkColour());
    const wxString text = GetLabelText();
    const wxSize extent = dc.GetTextExtent(text);
    const wxSize client = GetClientSize();
    const long style = GetWindowStyleFlag();
    int x = 0, y = 0;
    if (style & wxALIGN_CENTRE_HORIZONTAL)
        x = (client.x - extent.x) / 2;
    else if (style & wxALIGN_RIGHT)
        x = client.x - extent.x;
    if (style & HLS_CENTERIMAGE)
        y = (client.y - extent.y) / 2;
    dc.DrawText(text, x, y);
}

// The pointer's place is followed by the window's enter and leave reports
// (and by motion while a press holds the mouse); nothing holds the mouse
// for hovering, so keys and the other windows' clicks are never taken.
void CHyperLink::OnMouseMove(wxMouseEvent& event) {
    const bool inside = wxRect(GetClientSize()).Contains(event.GetPosition());
    if (inside != m_bHover) {
        m_bHover = inside;
        Redraw();
    }
}

void CHyperLink::OnEnter(wxMouseEvent& event) {
    OnMouseMove(event);
}

void CHyperLink::OnLeave(wxMouseEvent&) {
    if (m_bHover) {
        m_bHover = false;
        Redraw();
    }
}

void CHyperLink::UpdateActive() {
    const bool active = m_bFocused || m_bPressed;
    if (active != m_bActive) {
        m_bActive = active;
        Redraw();
    }
}

void CHyperLink::OnLeftDown(wxMouseEvent& event) {
    if (m_nFlags & kFocusOnClick)
        SetFocus();
    // Held until the button comes up, wherever the pointer goes meanwhile.
    m_bPressed = true;
    if (!HasCapture())
        CaptureMouse();
    m_bHover = wxRect(GetClientSize()).Contains(event.GetPosition());
    UpdateActive();
}

void CHyperLink::OnLeftUp(wxMouseEvent& event) {
    if (!m_bPressed)
        return;
    m_bPressed = false;
    if (HasCapture())
        ReleaseMouse();
    UpdateActive();
    // Like a button: released off the link, the click is taken back.
    if (wxRect(GetClientSize()).Contains(event.GetPosition()))
        OpenTarget();
}

void CHyperLink::OnCaptureLost(wxMouseCaptureLostEvent&) {
    m_bPressed = false;
    m_bHover = false;
    UpdateActive();
    Redraw();
}

void CHyperLink::OnSetFocus(wxFocusEvent& event) {
    m_bFocused = true;
    UpdateActive();
    event.Skip();
}

void CHyperLink::OnKillFocus(wxFocusEvent& event) {
    m_bFocused = false;
    UpdateActive();
    event.Skip();
}

void CHyperLink::OnKeyDown(wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_SPACE)
        OpenTarget();
    else
        event.Skip();
}

wxString OpenErrorText(int result) {
    wxString text;
    switch (result) {
    case 0:
        text = "The operating system is out\nof memory or resources.";
        break;
    case 2:
        text = "The specified file was not found.";
        break;
    case 3:
        text = "The specified path was not found.";
        break;
    case 5:
        text = "The operating system denied\naccess to the specified file.";
        break;
    case 8:
        text = "There was not enough memory to complete the operation.";
        break;
    case 11:
        text = "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
        break;
    case 26:
        text = "A sharing violation occurred. ";
        break;
    case 27:
        text = "The filename association is\nincomplete or invalid.";
        break;
    case 28:
        text = "The DDE transaction could not\nbe completed because the request timed out.";
        break;
    case 29:
        text = "The DDE transaction failed.";
        break;
    case 30:
        text = "The DDE transaction could not\nbe completed because other DDE transactions\nwere "
               "being processed.";
        break;
    case 31:
        text = "There is no application associated\nwith the given filename extension.";
        break;
    case 32:
        text = "The specified dynamic-link library was not found.";
        break;
    default:
        text = wxString::Format("Unknown Error (%d) occurred.", result);
        break;
    }
    return "Can't open link:\n\n" + text;
}

void ShowOpenError(int result) {
    port::MessageBoxRequest request;
    request.text = OpenErrorText(result).utf8_string();
    // The framework's box is captioned with the application's title.
    wxString caption;
    GetLangText("ID_PRODUCT_TITLE", caption);
    if (caption.empty() && wxTheApp)
        caption = wxTheApp->GetAppDisplayName();
    request.caption = caption.utf8_string();
    request.style = port::MB_OK | port::MB_ICONWARNING; // the exclamation icon
    port::ShowMessageBox(request);
}

int OpenWithDesktop(const wxString& target, std::function<void(int result)> failed) {
    // The launcher's late verdict comes on a thread of its own; the report
    // is made on the GUI thread, unless the application has gone by then.
    return port::OpenWithShell(target.utf8_string(), [failed = std::move(failed)](int result) {
        if (wxAppConsole* app = wxAppConsole::GetInstance())
            app->CallAfter([failed, result] {
                if (failed)
                    failed(result);
                ShowOpenError(result);
            });
    });
}

} // namespace ui
