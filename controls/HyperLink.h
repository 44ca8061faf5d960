// A static text turned into a link: drawn in link colours and underlined,
// with a hand cursor and the target as tool tip; a click (pressed and
// released on it, like a button), or Space while it has the focus, opens the
// target with the desktop (port/Shell.h) without waiting for it. Failures
// are reported in a message box whose texts are fixed here.
#pragma once

#include <wx/control.h>
#include <wx/cursor.h>
#include <wx/font.h>

#include <functional>

namespace ui {

// The hand cursor shared by all links: the toolkit's own, made by the first
// link that is set up and kept for the life of the process. Null until then,
// or when the toolkit has none (the links keep the ordinary cursor).
extern wxCursor* g_hLinkCursor;

// Window style of a link whose text is centred vertically in its rectangle
// (like a static text with a centred image); horizontal alignment comes from
// wxALIGN_CENTRE_HORIZONTAL and wxALIGN_RIGHT.
inline constexpr long HLS_CENTERIMAGE = wxALIGN_CENTRE_VERTICAL;

class CHyperLink : public wxControl {
public:
    // Option bits of m_nFlags.
    static constexpr int kUnderline = 1;
    static constexpr int kFitToText = 4;
    static constexpr int kFocusOnClick = 16;

    // Colours by state.
    static const wxColour kActiveColour; // has the focus or was pressed
    static const wxColour kOpenedColour; // opened before, not active
    static const wxColour kLinkColour;   // otherwise

    CHyperLink() = default;
    ~CHyperLink() override;

    // Creates the link and sets it up: text, font, fit, cursor, tool tip.
    bool Create(wxWindow* parent, wxWindowID id, const wxString& label, const wxPoint& pos,
                const wxSize& size, long style = 0, const wxFont& font = wxNullFont);

    // Takes the place of the static text `id` of dialog (as its layout made
    // it): the same rectangle, text, font, alignment, id and tab position.
    // False when dialog has no such child.
    bool SubclassDlgItem(int id, wxWindow* dialog);

    // Stores the target; a link already on screen is fitted to its text again
    // and shows the new target as its tool tip. The text is not changed.
    void SetTarget(const wxString& target);
    const wxString& GetTarget() const { return m_strTarget; }

    // Opens the target; on success the link keeps the opened colour, on
    // failure it beeps and shows ShowOpenError, also when the desktop says
    // so later (then the opened colour goes again). Returns the shell's
    // first result.
    int OpenTarget();

    // The colour the text is drawn in now.
    wxColour LinkColour() const;

    void SetLabel(const wxString& label) override;
    // Takes the focus when clicked, but like a label it is no tab stop, so
    // a dialog never starts with the focus on it.
    bool AcceptsFocus() const override { return true; }
    bool AcceptsFocusFromKeyboard() const override { return false; }

    bool m_bActive = false;  // has the focus or is pressed
    bool m_bHover = false;   // the pointer is over it
    bool m_bPressed = false; // the left button went down on it and is held
    bool m_bOpened = false;
    int m_nFlags = kUnderline | kFitToText | kFocusOnClick;
    wxString m_strTarget;
    wxFont m_fontLink;

protected:
    wxSize DoGetBestSize() const override;

private:
    void PreSubclassWindow();
    void FitToText();
    void Redraw();
    void UpdateActive();

    void OnPaint(wxPaintEvent& event);
    void OnMouseMove(wxMouseEvent& event);
    void OnEnter(wxMouseEvent& event);
    void OnLeave(wxMouseEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    void OnLeftUp(wxMouseEvent& event);
    void OnCaptureLost(wxMouseCaptureLostEvent& event);
    void OnSetFocus(wxFocusEvent& event);
    void OnKillFocus(wxFocusEvent& event);
    void OnKeyDown(wxKeyEvent& event);

    bool m_bFocused = false;

    wxDECLARE_EVENT_TABLE();
};

// "Can't open link:\n\n" and the text for a failed shell result.
wxString OpenErrorText(int result);
// Shows OpenErrorText(result) in a message box with the exclamation icon.
void ShowOpenError(int result);

// Opens target with the desktop (port::OpenWithShell) without waiting for
// the desktop's launcher. Returns the result known at once (above 32: it
// started). A failure the launcher reports later is shown by ShowOpenError
// on the GUI thread, after `failed` has run there.
int OpenWithDesktop(const wxString& target, std::function<void(int result)> failed = {});

} // namespace ui
