// Text helpers shared by the pages' initialisation.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>

class wxWindow;

namespace ui {

class CTransStatic;

struct ItemText {
    int id;
    const char* key;
};

// SetItemLangText for each pair, in the order given.
void SetItemsLangText(wxWindow* page, std::initializer_list<ItemText> items);

// Turns the layout's label `id` into a CTransStatic, sets its text from key
// and makes it bold. nullptr when the page has no such control.
CTransStatic* SetDescription(wxWindow* page, int id, const char* key);

// A file dialog's filter from the catalogue: `key`'s name with its
// patterns ("ISO images (*.iso)|*.iso"), then "All files" (every name, with
// or without a dot) when `withAll`.
std::string FileFilter(const char* key, const char* patterns, bool withAll);

// Labels wrap at their width as the platform's static controls do, and a
// control lower than the toolkit's minimum grows about its middle to that
// minimum. Run after the texts are set.
void FitControls(wxWindow* page);

} // namespace ui
