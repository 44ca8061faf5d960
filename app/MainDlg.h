// The program's only top-level window: the skin as background, the toolbar
// along the top and five pages at one rectangle, exactly one of them shown.
#pragma once

#include "app/PageIds.h"

#include <wx/dialog.h>

#include <functional>
#include <string>
#include <vector>

class wxMenu;

namespace ui {

class CCustomToolbarCtrl;
class CCreateDlg;
class CImFilesDlg;
class CMountDlg;
class CUnmountDlg;
class CBurnDlg;

class CMainDlg : public wxDialog {
public:
    // Creates the window and initialises it: icon, title, toolbar, pages, and
    // the mount page shown.
    CMainDlg();
    ~CMainDlg() override;

    // Runs the shutdown once, then destroys the window the toolkit's way.
    bool Destroy() override;

    void ShowCurrentPage();
    // Shows the mount or burn page with path chosen on it (a file handed
    // over on the command line); an empty path shows the page alone.
    void OpenImage(int pageId, const wxString& path);

    CCustomToolbarCtrl* m_pToolbar = nullptr;
    CCreateDlg* m_pCreateDlg = nullptr;
    CImFilesDlg* m_pImFilesDlg = nullptr;
    CMountDlg* m_pMountDlg = nullptr;
    CUnmountDlg* m_pUnmountDlg = nullptr;
    CBurnDlg* m_pBurnDlg = nullptr;
    int m_nCurPage = engine::ID_PAGE_CREATE;

    // Stops a running copy and a running build as their Stop buttons do.
    void StopWork();

    // The five pages in creation order (create, files, mount, unmount, burn).
    wxWindow* Page(int pageId) const;

    void OnBtnCreate(wxCommandEvent& event);
    void OnBtnFiles(wxCommandEvent& event);
    void OnBtnMount(wxCommandEvent& event);
    void OnBtnUnmount(wxCommandEvent& event);
    void OnBtnBurn(wxCommandEvent& event);
    void OnBtnHelp(wxCommandEvent& event);
    void OnHelpManual(wxCommandEvent& event);
    void OnHelpSupport(wxCommandEvent& event);
    void OnHelpAbout(wxCommandEvent& event);
    // Help, Language: keeps the choice in the config folder; the window
    // speaks it from the next start and says so in the chosen language.
    void OnLanguage(wxCommandEvent& event);

    // Shows a popup menu with its top left corner at a screen position and
    // returns when it closes; the chosen entry arrives as a menu command.
    // Null: the toolkit's popup. Tests replace it to see the menu.
    static std::function<void(wxWindow* owner, wxMenu& menu, const wxPoint& screen)> s_popupMenu;

private:
    void OnInitDialog();
    void SetIcons();
    void CreatePages();
    void SelectPage(int pageId);
    wxMenu* LanguageMenu();
    void Shutdown();

    void OnPaint(wxPaintEvent& event);
    void OnCharHook(wxKeyEvent& event);

    bool m_bShutDown = false;
    // The language sections offered by the last Help menu, by entry.
    std::vector<std::u16string> m_languages;

    wxDECLARE_EVENT_TABLE();
};

} // namespace ui
