// Command numbers of the toolbar buttons, which double as page numbers
// (engine/PageIds.h), and the other fixed window ids of the main window.
#pragma once

#include "engine/PageIds.h"

namespace ui {

inline constexpr int ID_BTN_HELP = 16134; // help menu, not a page

inline constexpr int IDC_MAIN_TOOLBAR = 16127;
inline constexpr int IDC_MAIN_HIDDEN_DEFAULT = 1052;

inline constexpr int ID_HELP_MANUAL = 16150;
inline constexpr int ID_HELP_MAIL = 16151;
inline constexpr int ID_HELP_ABOUTBOX = 16154;

// Help menu, Language: follow the desktop, then one entry per language
// section of the language file, in file order.
inline constexpr int ID_LANGUAGE_AUTO = 16160;
inline constexpr int ID_LANGUAGE_FIRST = 16161;
inline constexpr int ID_LANGUAGE_LAST = 16199;

} // namespace ui
