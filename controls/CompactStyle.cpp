#include "controls/CompactStyle.h"

#include "controls/UiScale.h"

#include <string>

#include <dlfcn.h>

namespace ui {

namespace {

// The style sheet, its pixel sizes at this desktop's scale (UiScale.h).
// Sizes stay large enough for the agreed 8 pt font.
std::string Css() {
    const std::string pad = std::to_string(ScaledPx(6)) + "px";
    const std::string mark = std::to_string(ScaledPx(13)) + "px";
    return "button { min-height: 0; min-width: 0; padding: 0 " + pad +
           "; }\n"
           "combobox button { min-height: 0; padding-top: 0; padding-bottom: 0; }\n"
           "combobox entry, entry { min-height: 0; padding-top: 0; padding-bottom: 0; }\n"
           "checkbutton, radiobutton { min-height: 0; padding-top: 0; padding-bottom: 0; }\n"
           "check, radio { min-height: " +
           mark + "; min-width: " + mark +
           "; }\n"
           "spinbutton, spinbutton button { min-height: 0; }\n";
}

constexpr unsigned kPriorityApplication = 600; // GTK_STYLE_PROVIDER_PRIORITY_APPLICATION

bool g_bApplied = false;

} // namespace

bool ApplyCompactStyle() {
    if (g_bApplied)
        return true;
    // The toolkit is already loaded by wx; its functions are looked up at run
    // time so the build needs no GTK development headers.
    using NewProvider = void* (*)();
    using LoadData = int (*)(void*, const char*, long, void**);
    using DefaultScreen = void* (*)();
    using AddProvider = void (*)(void*, void*, unsigned);
    auto newProvider = reinterpret_cast<NewProvider>(dlsym(RTLD_DEFAULT, "gtk_css_provider_new"));
    auto loadData =
        reinterpret_cast<LoadData>(dlsym(RTLD_DEFAULT, "gtk_css_provider_load_from_data"));
    auto defaultScreen =
        reinterpret_cast<DefaultScreen>(dlsym(RTLD_DEFAULT, "gdk_screen_get_default"));
    auto addProvider = reinterpret_cast<AddProvider>(
        dlsym(RTLD_DEFAULT, "gtk_style_context_add_provider_for_screen"));
    if (!newProvider || !loadData || !defaultScreen || !addProvider)
        return false;
    void* screen = defaultScreen();
    void* provider = newProvider();
    if (!screen || !provider)
        return false;
    void* error = nullptr;
    const std::string css = Css();
    if (!loadData(provider, css.c_str(), -1, &error))
        return false;
    addProvider(screen, provider, kPriorityApplication);
    g_bApplied = true;
    return true;
}

} // namespace ui
