#include "pages/HistoryCombo.h"

#include <wx/combobox.h>

#include <string>
#include <vector>

namespace ui {

void FillFromHistory(const CRecentPaths& history, wxComboBox& combo) {
    combo.Clear();
    for (const std::string& path : history.Load())
        combo.Append(wxString::FromUTF8(path));
}

void PutInHistory(const CRecentPaths& history, wxComboBox& combo, const wxString& path) {
    if (path.empty())
        return;
    std::vector<std::string> items;
    for (const wxString& item : combo.GetStrings())
        items.push_back(item.utf8_string());
    items = history.Save(std::move(items), path.utf8_string());
    // Clear() empties the text as well.
    const wxString text = combo.GetValue();
    combo.Clear();
    for (const std::string& item : items)
        combo.Append(wxString::FromUTF8(item));
    combo.SetValue(text);
}

} // namespace ui
