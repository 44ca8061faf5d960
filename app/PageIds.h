// Command numbers of the toolbar buttons, which double as page numbers, and
// the other fixed window ids of the main window.
#pragma once

inline constexpr int ID_PAGE_CREATE = 16129;  // image from a disc
inline constexpr int ID_PAGE_FILES = 16130;   // image from files
inline constexpr int ID_PAGE_MOUNT = 16131;   // mount an image; shown at start
inline constexpr int ID_PAGE_UNMOUNT = 16132; // dismount virtual drives
inline constexpr int ID_PAGE_BURN = 16133;    // burn an image
inline constexpr int ID_BTN_HELP = 16134;     // help menu, not a page

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
