#include "text/LangTextUi.h"

#include "port/Utf.h"
#include "text/LangText.h"

#include <wx/anybutton.h>
#include <wx/checkbox.h>
#include <wx/control.h>
#include <wx/radiobut.h>
#include <wx/textentry.h>

wxString& GetLangText(const wxString& key, wxString& str) {
    std::u16string text;
    GetLangText(port::ToUtf16(key.utf8_string()), text);
    str = wxString::FromUTF8(port::ToUtf8(text));
    return str;
}

wxString LangText(const wxString& key) {
    wxString text;
    return GetLangText(key, text);
}

void SetItemLangText(wxWindow* dialog, int id, const wxString& key) {
    wxString text;
    GetLangText(key, text);
    wxWindow* item = dialog ? dialog->FindWindow(id) : nullptr;
    if (!item)
        return; // a layout without that control: nothing to set, never a crash
    if (auto* entry = dynamic_cast<wxTextEntry*>(item))
        entry->ChangeValue(text);
    else if (dynamic_cast<wxAnyButton*>(item) || dynamic_cast<wxCheckBox*>(item) ||
             dynamic_cast<wxRadioButton*>(item))
        item->SetLabel(text); // with its mnemonic
    else if (auto* control = dynamic_cast<wxControl*>(item))
        control->SetLabelText(text);
    else
        item->SetLabel(text);
}
