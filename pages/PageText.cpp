#include "pages/PageText.h"

#include "controls/PageLook.h"
#include "text/LangTextUi.h"

#include <wx/stattext.h>

void SetItemsLangText(wxWindow* page, std::initializer_list<ItemText> items)
{
    for (const ItemText& item : items)
        SetItemLangText(page, item.id, wxString(item.key));
}

CTransStatic* SetDescription(wxWindow* page, int id, const char* key)
{
    CTransStatic* label = CTransStatic::Replace(page, id);
    if (!label)
        return nullptr;
    wxString text;
    GetLangText(wxString(key), text);
    label->SetLabelText(text);
    label->SetBold(true);
    return label;
}

void WrapLabels(wxWindow* page)
{
    for (wxWindow* child : page->GetChildren()) {
        auto* label = wxDynamicCast(child, wxStaticText);
        if (!label)
            continue;
        const int width = label->GetSize().x;
        if (label->GetBestSize().x > width)
            label->Wrap(width);
    }
}
