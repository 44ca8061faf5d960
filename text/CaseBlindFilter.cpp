#include "text/CaseBlindFilter.h"

#include <wx/filedlg.h>
#include <wx/filefn.h>
#include <wx/tokenzr.h>

#include <dlfcn.h>
#include <fnmatch.h>
#include <string>
#include <vector>

namespace text {

namespace {

// The GTK 3 types and functions used here, looked up at run time like the
// rest of the toolkit's calls, so the build needs no GTK headers.
struct FilterInfo {
    int contains;
    const char* filename;
    const char* uri;
    const char* displayName;
    const char* mimeType;
};
struct SList {
    void* data;
    SList* next;
};
constexpr int kFilterDisplayName = 1 << 2; // GTK_FILE_FILTER_DISPLAY_NAME

using Patterns = std::vector<std::string>;
using CustomFunc = int (*)(const FilterInfo*, void*);
using DestroyFunc = void (*)(void*);
using ListFilters = SList* (*)(void*);
using AddCustom = void (*)(void*, int, CustomFunc, void*, DestroyFunc);
using FreeList = void (*)(SList*);

template <class F> F Lookup(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_DEFAULT, name));
}

int MatchesFolded(const FilterInfo* info, void* data) {
    if (!info || !info->displayName)
        return 0;
    for (const std::string& pattern : *static_cast<Patterns*>(data)) {
        if (fnmatch(pattern.c_str(), info->displayName, FNM_CASEFOLD) == 0)
            return 1;
    }
    return 0;
}

void DeletePatterns(void* data) {
    delete static_cast<Patterns*>(data);
}

} // namespace

bool MakeFiltersCaseBlind(wxFileDialog& dialog) {
    auto listFilters = Lookup<ListFilters>("gtk_file_chooser_list_filters");
    auto addCustom = Lookup<AddCustom>("gtk_file_filter_add_custom");
    auto freeList = Lookup<FreeList>("g_slist_free");
    void* chooser = dialog.GetHandle();
    if (!listFilters || !addCustom || !freeList || !chooser)
        return false;
    wxArrayString descriptions, filters;
    wxParseCommonDialogsFilter(dialog.GetWildcard(), descriptions, filters);
    SList* list = listFilters(chooser);
    std::size_t n = 0;
    for (SList* item = list; item && n < filters.size(); item = item->next, ++n) {
        auto* patterns = new Patterns();
        wxStringTokenizer tokens(filters[n], ";");
        while (tokens.HasMoreTokens()) {
            std::string pattern = tokens.GetNextToken().Trim().Trim(false).utf8_string();
            // "*.*" means every file, as it does where it comes from, also
            // "README" and "Makefile" without a dot.
            patterns->push_back(pattern == "*.*" ? "*" : pattern);
        }
        addCustom(item->data, kFilterDisplayName, MatchesFolded, patterns, DeletePatterns);
    }
    freeList(list);
    return true;
}

} // namespace text
