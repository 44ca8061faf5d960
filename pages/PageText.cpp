#include "pages/PageText.h"

#include "controls/PageLook.h"
#include "text/LangTextUi.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

using namespace text;

namespace ui {

void SetItemsLangText(wxWindow* page, std::initializer_list<ItemText> items) {
    for (const ItemText& item : items)
        SetItemLangText(page, item.id, wxString(item.key));
}

std::string FileFilter(const char* key, const char* patterns, bool withAll) {
    std::string filter = LangText(key).utf8_string() + "|" + patterns;
    if (withAll)
        filter += "|" + LangText("ID_FILTER_ALL").utf8_string() + "|*";
    return filter;
}

CTransStatic* SetDescription(wxWindow* page, int id, const char* key) {
    CTransStatic* label = CTransStatic::Replace(page, id);
    if (!label)
        return nullptr;
    wxString text;
    GetLangText(wxString(key), text);
    label->SetLabelText(text);
    label->SetBold(true);
    return label;
}

void FitControls(wxWindow* page) {
    for (wxWindow* child : page->GetChildren()) {
        if (auto* label = wxDynamicCast(child, wxStaticText)) {
            if (label->GetBestSize().x > label->GetSize().x)
                label->Wrap(label->GetSize().x);
            label->InvalidateBestSize();
        }
        const bool fits = wxDynamicCast(child, wxStaticText) || wxDynamicCast(child, wxButton) ||
                          wxDynamicCast(child, wxCheckBox) || wxDynamicCast(child, wxChoice) ||
                          wxDynamicCast(child, wxComboBox) || wxDynamicCast(child, wxTextCtrl);
        if (!fits)
            continue;
        // Grow a control that is lower than the toolkit needs, about its
        // middle, so it stays in line with its neighbours.
        const wxSize best = child->GetBestSize();
        wxRect rect = child->GetRect();
        if (best.y > rect.height) {
            rect.y -= (best.y - rect.height) / 2;
            rect.height = best.y;
            child->SetSize(rect);
        }
    }
}

} // namespace ui
