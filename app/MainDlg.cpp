#include "app/MainDlg.h"

#include "app/AboutDlg.h"
#include "app/Manual.h"
#include "app/StartupRules.h"
#include "controls/CustomToolbarCtrl.h"
#include "controls/HyperLink.h"
#include "controls/PageLook.h"
#include "controls/SkinImage.h"
#include "controls/UiScale.h"
#include "engine/Engine.h"
#include "pages/BurnDlg.h"
#include "pages/CreateDlg.h"
#include "pages/ImFilesDlg.h"
#include "pages/MountDlg.h"
#include "pages/UnmountDlg.h"
#include "port/Paths.h"
#include "port/Profile.h"
#include "port/ProfileSyntax.h"
#include "port/Shell.h"
#include "port/Utf.h"
#include "text/LangText.h"
#include "text/LangTextUi.h"
#include "text/Language.h"
#include "text/MessageBoxes.h"
#include "text/ProfileReader.h"

#include <wx/button.h>
#include <wx/dcclient.h>
#include <wx/display.h>
#include <wx/filename.h>
#include <wx/iconbndl.h>
#include <wx/image.h>
#include <wx/menu.h>

#include <algorithm>

using namespace text;

namespace ui {

std::function<void(wxWindow*, wxMenu&, const wxPoint&)> CMainDlg::s_popupMenu;

namespace {

// Where a new e-mail to support goes.
constexpr char kSupportMail[] = "mailto:support@spindle.example.org";

// Creates a page hidden; a page whose layout could not be loaded (a broken
// installation) is left out rather than used half made.
template <class Page> Page* MakePage(wxWindow* parent) {
    auto* page = new Page();
    if (page->Create(parent)) {
        page->Hide();
        return page;
    }
    if (page->GetHandle())
        page->Destroy();
    else
        delete page;
    return nullptr;
}

} // namespace

// clang-format off
wxBEGIN_EVENT_TABLE(CMainDlg, wxDialog)
    EVT_PAINT(CMainDlg::OnPaint)
    EVT_CHAR_HOOK(CMainDlg::OnCharHook)
    EVT_TOOL(engine::ID_PAGE_CREATE, CMainDlg::OnBtnCreate)
    EVT_TOOL(engine::ID_PAGE_FILES, CMainDlg::OnBtnFiles)
    EVT_TOOL(engine::ID_PAGE_MOUNT, CMainDlg::OnBtnMount)
    EVT_TOOL(engine::ID_PAGE_UNMOUNT, CMainDlg::OnBtnUnmount)
    EVT_TOOL(engine::ID_PAGE_BURN, CMainDlg::OnBtnBurn)
    EVT_TOOL(ID_BTN_HELP, CMainDlg::OnBtnHelp)
    EVT_MENU(ID_HELP_MANUAL, CMainDlg::OnHelpManual)
    EVT_MENU(ID_HELP_MAIL, CMainDlg::OnHelpSupport)
    EVT_MENU(ID_HELP_ABOUTBOX, CMainDlg::OnHelpAbout)
    EVT_MENU_RANGE(ID_LANGUAGE_AUTO, ID_LANGUAGE_LAST, CMainDlg::OnLanguage)
wxEND_EVENT_TABLE()
    // clang-format on

    CMainDlg::CMainDlg() {
    // The whole client area is painted from the skin: no erase in between.
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Create(nullptr, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize,
           wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxCLOSE_BOX);
    // Pages are laid out in dialog units of this font (6 x 13 px at the
    // normal text size), so it must be in place before the first page is
    // created. The skin and the client area grow with it (UiScale.h).
    SetFont(AgreedFont());
    CSkinImage* skin = AppSkin();
    bool haveSkin = skin && skin->IsOk();
    SetClientSize(haveSkin ? skin->GetWidth() : ScaledPx(kSkinWidth),
                  haveSkin ? skin->GetHeight() : ScaledPx(kSkinHeight));
    Centre();
    // Larger than the screen (large text on a small screen): the title bar
    // and the toolbar stay on it, what does not fit runs off at the bottom
    // right.
    const wxRect area = wxDisplay(this).GetClientArea();
    Move(std::max(GetPosition().x, area.x), std::max(GetPosition().y, area.y));

    // The layout's hidden default button: Enter presses it and nothing happens.
    auto* hidden =
        new wxButton(this, IDC_MAIN_HIDDEN_DEFAULT, wxString(), wxPoint(0, 0), wxSize(1, 1));
    hidden->Hide();
    SetDefaultItem(hidden);

    OnInitDialog();
}

CMainDlg::~CMainDlg() {
    Shutdown();
    wxWindow* owned[] = {m_pToolbar,  m_pCreateDlg,  m_pImFilesDlg,
                         m_pMountDlg, m_pUnmountDlg, m_pBurnDlg};
    for (wxWindow* w : owned)
        if (w)
            w->Destroy(); // child windows go at once
    m_pToolbar = nullptr;
    m_pCreateDlg = nullptr;
    m_pImFilesDlg = nullptr;
    m_pMountDlg = nullptr;
    m_pUnmountDlg = nullptr;
    m_pBurnDlg = nullptr;
}

bool CMainDlg::Destroy() {
    Shutdown();
    return wxDialog::Destroy();
}

void CMainDlg::Shutdown() {
    if (m_bShutDown)
        return;
    m_bShutDown = true;
    // The list of mounted drives first, then the engine.
    CUnmountDlg::WriteDrivesFile();
    // The pages still exist here, so the engine is released while its
    // callbacks could still reach them.
    engine::DeInitialize();
}

void CMainDlg::OnInitDialog() {
    SetIcons();

    char16_t text[kLangTextBufferSize];
    GetLangTextBuf(u"ID_PRODUCT_TITLE", text);
    SetTitle(ToWx(MakeWindowTitle(text)));

    m_pToolbar = new CCustomToolbarCtrl();
    m_pToolbar->Create(this, IDC_MAIN_TOOLBAR);
    m_pToolbar->InitButtons();

    CreatePages();

    m_nCurPage = engine::ID_PAGE_MOUNT;
    ShowCurrentPage();
}

void CMainDlg::SetIcons() {
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG))
        wxImage::AddHandler(new wxPNGHandler);
    wxIconBundle icons;
    for (int size : {16, 32, 48, 64, 128}) {
        wxString path = wxString::FromUTF8(port::ResourceDir()) +
                        wxString::Format("res/icons/app/spindle-%d.png", size);
        if (!wxFileName::FileExists(path))
            continue; // a missing picture costs the icon, nothing else
        wxBitmap bitmap(path, wxBITMAP_TYPE_PNG);
        wxIcon icon;
        if (bitmap.IsOk() && (icon.CopyFromBitmap(bitmap), icon.IsOk()))
            icons.AddIcon(icon);
    }
    if (!icons.IsEmpty())
        wxDialog::SetIcons(icons);
}

void CMainDlg::CreatePages() {
    // Created once, in this order, each hidden until shown; they keep their
    // state while another page is shown.
    m_pCreateDlg = MakePage<CCreateDlg>(this);
    m_pImFilesDlg = MakePage<CImFilesDlg>(this);
    m_pMountDlg = MakePage<CMountDlg>(this);
    m_pUnmountDlg = MakePage<CUnmountDlg>(this);
    m_pBurnDlg = MakePage<CBurnDlg>(this);
}

wxWindow* CMainDlg::Page(int pageId) const {
    switch (pageId) {
    case engine::ID_PAGE_CREATE:
        return m_pCreateDlg;
    case engine::ID_PAGE_FILES:
        return m_pImFilesDlg;
    case engine::ID_PAGE_MOUNT:
        return m_pMountDlg;
    case engine::ID_PAGE_UNMOUNT:
        return m_pUnmountDlg;
    case engine::ID_PAGE_BURN:
        return m_pBurnDlg;
    default:
        return nullptr;
    }
}

void CMainDlg::ShowCurrentPage() {
    const int order[] = {engine::ID_PAGE_CREATE, engine::ID_PAGE_FILES, engine::ID_PAGE_MOUNT,
                         engine::ID_PAGE_UNMOUNT, engine::ID_PAGE_BURN};
    for (int id : order)
        if (wxWindow* page = Page(id))
            page->Hide();
    for (int id : order)
        if (wxWindow* page = Page(id))
            page->SetSize(PageRect());

    if (wxWindow* page = Page(m_nCurPage)) {
        page->Show();
        if (m_nCurPage == engine::ID_PAGE_UNMOUNT)
            m_pUnmountDlg->RefreshList();
    }
    if (m_pToolbar)
        m_pToolbar->SetCheckedButton(m_nCurPage);
}

void CMainDlg::OpenImage(int pageId, const wxString& path) {
    if (path.empty()) { // the page alone (spindle --burn without a file)
        if (Page(pageId))
            SelectPage(pageId);
        return;
    }
    if (pageId == engine::ID_PAGE_BURN && m_pBurnDlg)
        m_pBurnDlg->ChooseImage(path);
    else if (pageId == engine::ID_PAGE_MOUNT && m_pMountDlg)
        m_pMountDlg->ChooseImage(path);
    else
        return;
    SelectPage(pageId);
}

void CMainDlg::SelectPage(int pageId) {
    if (m_nCurPage == pageId)
        return; // the page is already shown: nothing is hidden, shown or refreshed
    m_nCurPage = pageId;
    ShowCurrentPage();
}

void CMainDlg::OnBtnCreate(wxCommandEvent&) {
    SelectPage(engine::ID_PAGE_CREATE);
}
void CMainDlg::OnBtnFiles(wxCommandEvent&) {
    SelectPage(engine::ID_PAGE_FILES);
}
void CMainDlg::OnBtnMount(wxCommandEvent&) {
    SelectPage(engine::ID_PAGE_MOUNT);
}
void CMainDlg::OnBtnUnmount(wxCommandEvent&) {
    SelectPage(engine::ID_PAGE_UNMOUNT);
}
void CMainDlg::OnBtnBurn(wxCommandEvent&) {
    SelectPage(engine::ID_PAGE_BURN);
}

void CMainDlg::OnBtnHelp(wxCommandEvent&) {
    const wxPoint pointer = wxGetMousePosition();
    wxString text;
    wxMenu menu;
    menu.Append(ID_HELP_MANUAL, GetLangText("ID_HELP_ONLINEHELP", text) + "\tF1");
    menu.Append(ID_HELP_MAIL, GetLangText("ID_HELP_SUPPORT", text));
    menu.AppendSeparator();
    menu.AppendSubMenu(LanguageMenu(), GetLangText("ID_LANGUAGE_MENU", text));
    menu.AppendSeparator();
    menu.Append(ID_HELP_ABOUTBOX, GetLangText("ID_HELP_ABOUT", text));
    if (s_popupMenu)
        s_popupMenu(this, menu, pointer);
    else
        PopupMenu(&menu, ScreenToClient(pointer));
}

wxMenu* CMainDlg::LanguageMenu() {
    // Each language under its own name, the stored choice checked.
    const std::u16string choice = port::ToUtf16(StoredLanguageChoice());
    auto isChoice = [&](std::u16string_view name) {
        return port::ini::EqualNoCase(std::u16string_view(choice), name);
    };
    m_languages = LanguageSections(ReadLanguageFile());
    if (m_languages.size() > ID_LANGUAGE_LAST - ID_LANGUAGE_FIRST + 1)
        m_languages.resize(ID_LANGUAGE_LAST - ID_LANGUAGE_FIRST + 1);
    wxString text;
    auto* menu = new wxMenu();
    menu->AppendRadioItem(ID_LANGUAGE_AUTO, GetLangText("ID_LANGUAGE_AUTO", text));
    bool chosen = false;
    for (std::size_t i = 0; i < m_languages.size(); ++i) {
        wxString name = ToWx(m_languages[i]);
        name.Replace("&", "&&");
        const int id = ID_LANGUAGE_FIRST + static_cast<int>(i);
        menu->AppendRadioItem(id, name);
        if (!chosen && isChoice(m_languages[i])) {
            menu->Check(id, true);
            chosen = true;
        }
    }
    if (!chosen)
        menu->Check(ID_LANGUAGE_AUTO, true);
    return menu;
}

void CMainDlg::OnLanguage(wxCommandEvent& event) {
    std::string name = "auto";
    const auto index = static_cast<std::size_t>(event.GetId() - ID_LANGUAGE_FIRST);
    if (event.GetId() != ID_LANGUAGE_AUTO) {
        if (index >= m_languages.size())
            return;
        name = port::ToUtf8(m_languages[index]);
    }
    std::string stored;
    if (StoreLanguageChoice(name, stored) != LanguageChoice::kStored) {
        ErrorBox(FormatLangText("ID_LANGUAGE_NOTSAVED", {wxString::FromUTF8(port::ProfilePath())}));
        return;
    }
    // The pages set their texts once, when they are made: the new language
    // shows from the next start, which is said in that language.
    const std::u16string next =
        ResolveLanguage(LocaleFromEnvironment(), port::ToUtf16(stored), ReadLanguageFile());
    if (next == g_szLangSection)
        return;
    std::u16string said = GetLangTextIn(next, u"ID_LANGUAGE_NEXTSTART");
    if (said.empty())
        GetLangText(u"ID_LANGUAGE_NEXTSTART", said);
    InfoBox(ToWx(said));
}

void CMainDlg::OnHelpManual(wxCommandEvent&) {
    // Looked up beside the program's resources, never in the current
    // directory, and a missing manual is said so rather than ignored.
    const std::string path = ManualPath();
    if (!wxFileName::FileExists(wxString::FromUTF8(path))) {
        ErrorBox(FormatLangText("ID_HELP_NOMANUAL", {wxString::FromUTF8(path)}));
        return;
    }
    // Not waited for: the window goes on while the desktop opens it.
    const int result = OpenWithDesktop(wxString::FromUTF8(path));
    if (result <= 32)
        ShowOpenError(result);
}

void CMainDlg::OnHelpSupport(wxCommandEvent&) {
    const int result = OpenWithDesktop(kSupportMail);
    if (result <= 32)
        ShowOpenError(result);
}

void CMainDlg::OnHelpAbout(wxCommandEvent&) {
    // Made without a parent: while it runs, the main window owns it.
    CAboutDlg dlg;
    if (dlg.IsLoaded())
        dlg.ShowModal();
}

void CMainDlg::StopWork() {
    // A Stop button is enabled exactly while its work runs.
    wxButton* stops[] = {m_pCreateDlg ? m_pCreateDlg->m_btnStop : nullptr,
                         m_pImFilesDlg ? m_pImFilesDlg->m_btnStop : nullptr};
    for (wxButton* stop : stops) {
        if (!stop || !stop->IsEnabled())
            continue;
        wxCommandEvent click(wxEVT_BUTTON, stop->GetId());
        click.SetEventObject(stop);
        stop->ProcessWindowEvent(click);
    }
}

void CMainDlg::OnCharHook(wxKeyEvent& event) {
    // Escape ends the window like its close box, from whichever control of
    // whichever page has the keyboard. The toolkit's own handling would
    // look for a Cancel button, which the window has none of.
    if (event.GetKeyCode() == WXK_ESCAPE && event.GetModifiers() == wxMOD_NONE) {
        Close();
        return;
    }
    // The desktop's keys: Ctrl+Q quits like the close box, F1 opens the manual.
    if (event.GetKeyCode() == 'Q' && event.GetModifiers() == wxMOD_CONTROL) {
        Close();
        return;
    }
    if (event.GetKeyCode() == WXK_F1 && event.GetModifiers() == wxMOD_NONE) {
        wxCommandEvent open(wxEVT_MENU, ID_HELP_MANUAL);
        OnHelpManual(open);
        return;
    }
    event.Skip();
}

void CMainDlg::OnPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    CSkinImage* skin = AppSkin();
    if (skin && skin->Blit(dc, 0, 0, skin->GetWidth(), skin->GetHeight(), 0, 0))
        return;
    // No skin (a missing picture): a plain surface instead of garbage.
    dc.SetBackground(wxBrush(wxColour(234, 243, 250)));
    dc.Clear();
}

} // namespace ui
