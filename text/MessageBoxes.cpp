#include "text/MessageBoxes.h"

#include "port/DialogHooks.h"
#include "text/LangTextUi.h"

namespace text {

namespace {

int Show(const wxString& text, const wxString& caption, unsigned style) {
    port::MessageBoxRequest request;
    request.text = text.utf8_string();
    request.caption = caption.utf8_string();
    request.style = style;
    return port::ShowMessageBox(request);
}

} // namespace

int InfoBox(const wxString& text) {
    wxString caption;
    GetLangText("ID_INFORMATION", caption);
    return Show(text, caption, port::MB_OK | port::MB_ICONINFORMATION);
}

int ErrorBox(const wxString& text) {
    return Show(text, LangText("ID_ERROR"), port::MB_OK | port::MB_ICONERROR);
}

int WarningBox(const wxString& text) {
    wxString caption;
    GetLangText("ID_WARNING", caption);
    return Show(text, caption, port::MB_OK | port::MB_ICONWARNING);
}

int QuestionBox(const wxString& text) {
    wxString caption;
    GetLangText("ID_QUESTION", caption);
    return Show(text, caption, port::MB_YESNO);
}

} // namespace text
