#include "text/LangTextUi.h"

#include "port/Errors.h"
#include "port/Utf.h"
#include "text/LangText.h"
#include "text/Placeholders.h"

#include <wx/anybutton.h>
#include <wx/checkbox.h>
#include <wx/control.h>
#include <wx/radiobut.h>
#include <wx/textentry.h>

#include <vector>

namespace text {

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

wxString FillPlaceholders(const wxString& pattern, std::initializer_list<wxString> args) {
    std::vector<std::u16string> wide;
    wide.reserve(args.size());
    for (const wxString& arg : args)
        wide.push_back(ToU16(arg));
    return ToWx(FillPlaceholders(std::u16string_view(ToU16(pattern)), wide));
}

wxString FormatLangText(const wxString& key, std::initializer_list<wxString> args) {
    wxString pattern;
    return FillPlaceholders(GetLangText(key, pattern), args);
}

wxString DescribeErrorText(std::uint32_t code) {
    const wxString text = LangText(wxString::Format("ID_ERROR_%u", code));
    return text.empty() ? wxString::FromUTF8(port::DescribeError(code)) : text;
}

std::u16string ToU16(const wxString& text) {
    std::u16string out;
    out.reserve(text.length());
    for (const wxUniChar c : text) {
        const char32_t cp = c.GetValue();
        if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

wxString ToWx(std::u16string_view text) {
    wxString out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        const bool pair = cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() &&
                          text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        if (pair)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
        out += wxUniChar(cp);
    }
    return out;
}

} // namespace text
