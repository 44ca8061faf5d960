// A list of recently used image paths kept in the application profile under
// keys "hist0" (newest) to "hist9" (oldest) of one section. The create page
// keeps its list in section "New", the mount page in section "Mount". Two
// paths that differ only in case count as the same path.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ui {

class CRecentPaths {
public:
    static constexpr int kMaxEntries = 10;

    explicit CRecentPaths(std::string section) : m_strSection(std::move(section)) {}

    // hist0 to hist9 in that order; empty values are skipped, not ends of
    // the list.
    std::vector<std::string> Load() const;

    // The list after `path` was used: `items` (the list as the page shows
    // it) without its first entry equal to `path` regardless of case, with
    // `path` on top. hist0 to hist9 are written from its first ten entries,
    // the empty text where it has fewer; other keys of the section stay.
    // An empty path changes nothing and returns `items` as given.
    std::vector<std::string> Save(std::vector<std::string> items, const std::string& path) const;

    const std::string& Section() const { return m_strSection; }

    // Equal without regard to case (ASCII, Latin, Greek and Cyrillic letters).
    static bool SameWithoutCase(std::string_view a, std::string_view b);

private:
    std::string m_strSection;
};

} // namespace ui
