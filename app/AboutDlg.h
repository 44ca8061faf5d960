// The about box: banner, two information lines (the second carries this
// build's version), the home page and support links, and Close.
#pragma once

#include <wx/dialog.h>

class wxButton;

namespace ui {

class CHyperLink;

inline constexpr int IDC_ABOUT_BANNER = 1000;
inline constexpr int IDC_ABOUT_HOMEPAGE = 1041;
inline constexpr int IDC_ABOUT_SUPPORT = 1042;
inline constexpr int IDC_ABOUT_CLOSE = 1; // the dialog's OK command

class CAboutDlg : public wxDialog {
public:
    // Loads layout IDD_ABOUT and initialises it. With no parent the box is
    // owned by the application's main window when it runs.
    explicit CAboutDlg(wxWindow* parent = nullptr);
    ~CAboutDlg() override;

    // False when the layout could not be loaded (a broken installation).
    bool IsLoaded() const { return m_bLoaded; }

    CHyperLink* m_ctrlHomePage = nullptr;
    CHyperLink* m_ctrlSupport = nullptr;
    wxButton* m_btnClose = nullptr;

private:
    void DoDataExchange();
    bool OnInitDialog();
    void ShowBanner();

    bool m_bLoaded = false;
};

} // namespace ui
