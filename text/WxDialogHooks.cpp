#include "text/WxDialogHooks.h"

#include "port/DialogHooks.h"
#include "text/CaseBlindFilter.h"

#include <wx/app.h>
#include <wx/dirdlg.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>
#include <wx/thread.h>

#include <future>
#include <memory>

namespace text {

namespace {

int ShowMessageBoxNow(const port::MessageBoxRequest& request) {
    long style = wxCENTRE;
    bool yesNo = (request.style & port::MB_BUTTONMASK) == port::MB_YESNO;
    style |= yesNo ? wxYES_NO : wxOK;
    switch (request.style & port::MB_ICONMASK) {
    case port::MB_ICONINFORMATION:
        style |= wxICON_INFORMATION;
        break;
    case port::MB_ICONWARNING:
        style |= wxICON_WARNING;
        break;
    case port::MB_ICONERROR:
        style |= wxICON_ERROR;
        break;
    default:
        style |= wxICON_NONE;
        break;
    }
    wxWindow* owner = wxTheApp ? wxTheApp->GetTopWindow() : nullptr;
    if (owner && !owner->IsShown())
        owner = nullptr;
    wxMessageDialog dialog(owner, wxString::FromUTF8(request.text),
                           wxString::FromUTF8(request.caption), style);
    int answer = dialog.ShowModal();
    if (yesNo)
        return answer == wxID_YES ? 6 : 7; // IDYES, IDNO (closing counts as no)
    return 1;                              // IDOK
}

int ClosedBoxAnswer(const port::MessageBoxRequest& request) {
    return (request.style & port::MB_BUTTONMASK) == port::MB_YESNO ? 7 : 1; // IDNO, IDOK
}

int ShowMessageBoxOnGuiThread(const port::MessageBoxRequest& request) {
    if (wxThread::IsMain())
        return ShowMessageBoxNow(request);
    // No application object: nothing can show a window for a worker any
    // more (and a window shown off the GUI thread would break the toolkit).
    if (!wxTheApp)
        return ClosedBoxAnswer(request);
    // The queued call alone owns the promise. When the application ends
    // before running it, the call is dropped unrun, the promise breaks, and
    // the worker gets a closed box's answer instead of waiting forever.
    auto answer = std::make_shared<std::promise<int>>();
    auto future = answer->get_future();
    wxTheApp->CallAfter(
        [answer = std::move(answer), request] { answer->set_value(ShowMessageBoxNow(request)); });
    try {
        return future.get();
    } catch (const std::future_error&) {
        return ClosedBoxAnswer(request);
    }
}

} // namespace

std::unique_ptr<wxFileDialog> MakeFileDialog(const port::FileDialogRequest& request) {
    long style = request.save ? wxFD_SAVE : wxFD_OPEN;
    if (request.save && request.overwritePrompt)
        style |= wxFD_OVERWRITE_PROMPT;
    if (!request.save && request.mustExist)
        style |= wxFD_FILE_MUST_EXIST;
    if (!request.save && request.multiSelect)
        style |= wxFD_MULTIPLE;
    wxString title = request.title.empty() ? wxString(wxFileSelectorPromptStr)
                                           : wxString::FromUTF8(request.title);
    // The platform's form may end in "|" or "||"; the toolkit wants none.
    wxString filter = wxString::FromUTF8(request.filter);
    while (filter.EndsWith("|"))
        filter.RemoveLast();
    if (filter.empty())
        filter = wxFileSelectorDefaultWildcardStr;
    auto dialog = std::make_unique<wxFileDialog>(
        static_cast<wxWindow*>(request.owner), title, wxString::FromUTF8(request.defaultDir),
        wxString::FromUTF8(request.defaultFile), filter, style);
    MakeFiltersCaseBlind(*dialog);
    return dialog;
}

namespace {

std::optional<std::string> ShowFileDialogNow(const port::FileDialogRequest& request) {
    std::unique_ptr<wxFileDialog> dialog = MakeFileDialog(request);
    if (dialog->ShowModal() != wxID_OK)
        return std::nullopt;
    if (!request.save && request.multiSelect) {
        wxArrayString paths;
        dialog->GetPaths(paths);
        std::string list;
        for (const wxString& path : paths)
            list += path.utf8_string() + '\0';
        return list;
    }
    return dialog->GetPath().utf8_string();
}

std::optional<std::string> ShowFolderDialogNow(const port::FolderDialogRequest& request) {
    wxDirDialog dialog(static_cast<wxWindow*>(request.owner), wxString::FromUTF8(request.title),
                       wxString::FromUTF8(request.defaultPath),
                       wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
    if (dialog.ShowModal() != wxID_OK)
        return std::nullopt;
    return dialog.GetPath().utf8_string();
}

} // namespace

void InstallWxDialogHooks() {
    port::SetMessageBoxHook(ShowMessageBoxOnGuiThread);
    port::SetFileDialogHook(ShowFileDialogNow);
    port::SetFolderDialogHook(ShowFolderDialogNow);
}

} // namespace text
