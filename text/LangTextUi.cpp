#include "text/LangTextUi.h"

#include "port/Utf.h"
#include "text/LangText.h"

#include <wx/control.h>
#include <wx/textentry.h>

wxString& GetLangText(const wxString& key, wxString& str) {
    std::u16string text;
    GetLangText(port::ToUtf16(key.utf8_string()), text);
    str = wxString::FromUTF8(port::ToUtf8(text));
    return str;
}

void SetItemLangText(wxWindow* dialog, int id, const wxString& key) {
    wxString text;
    GetLangText(key, text);
    wxWindow* item = dialog ? dialog->FindWindow(id) : nullptr;
    if (!item)
        return; // a layout without that control: nothing to set, never a crash
    // Texts are used as they stand: no mnemonic processing of '&'.
    if (auto* entry = dynamic_cast<wxTextEntry*>(item))
        entry->ChangeValue(text);
    else if (auto* control = dynamic_cast<wxControl*>(item))
        control->SetLabelText(text);
    else
        item->SetLabel(text);
}
