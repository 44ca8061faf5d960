// The page numbers: the main window's toolbar commands, one a page. The
// event relay reads them to tell which work the page shown stands for.
#pragma once

namespace engine {

inline constexpr int ID_PAGE_CREATE = 16129;  // image from a disc
inline constexpr int ID_PAGE_FILES = 16130;   // image from files
inline constexpr int ID_PAGE_MOUNT = 16131;   // mount an image; shown at start
inline constexpr int ID_PAGE_UNMOUNT = 16132; // dismount virtual drives
inline constexpr int ID_PAGE_BURN = 16133;    // burn an image

} // namespace engine
