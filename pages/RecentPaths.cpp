#include "pages/RecentPaths.h"

#include "port/Profile.h"

#include <algorithm>

namespace ui {

namespace {

std::string HistKey(int i) {
    return "hist" + std::to_string(i);
}

// Decodes one UTF-8 sequence at s[i], advancing i. Malformed bytes stand for
// themselves, so two different malformed paths never compare equal.
char32_t NextCodePoint(std::string_view s, std::size_t& i) {
    const auto b = static_cast<unsigned char>(s[i]);
    const std::size_t extra = b >= 0xF0 && b < 0xF5   ? 3
                              : b >= 0xE0 && b < 0xF0 ? 2
                              : b >= 0xC2 && b < 0xE0 ? 1
                                                      : 0;
    char32_t cp = b & (0x3F >> extra);
    bool ok = extra > 0 && i + extra < s.size();
    for (std::size_t k = 1; ok && k <= extra; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        ok = (c & 0xC0) == 0x80;
        cp = (cp << 6) | (c & 0x3F);
    }
    if (!ok) {
        ++i;
        return b < 0x80 ? char32_t(b) : 0x110000u + b; // a raw byte, outside Unicode
    }
    i += extra + 1;
    return cp;
}

char32_t FoldCase(char32_t c) {
    if (c >= U'A' && c <= U'Z')
        return c + 32;
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) ||
        (c >= 0x410 && c <= 0x42F))
        return c + 32;
    if (c >= 0x400 && c <= 0x40F)
        return c + 80;
    // Latin Extended-A pairs capital/small letters on even/odd code points,
    // shifted by one from U+0139 to U+0148 and from U+0179 to U+017E.
    if (c >= 0x100 && c <= 0x137 && c != 0x130 && (c & 1) == 0)
        return c + 1;
    if (((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) && (c & 1) == 1)
        return c + 1;
    if (c >= 0x14A && c <= 0x177 && (c & 1) == 0)
        return c + 1;
    if (c == 0x178)
        return 0xFF;
    return c;
}

} // namespace

bool CRecentPaths::SameWithoutCase(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (FoldCase(NextCodePoint(a, i)) != FoldCase(NextCodePoint(b, j)))
            return false;
    }
    return i == a.size() && j == b.size();
}

std::vector<std::string> CRecentPaths::Load() const {
    std::vector<std::string> paths;
    for (int i = 0; i < kMaxEntries; ++i) {
        std::string value = port::GetProfileString(m_strSection, HistKey(i));
        if (!value.empty())
            paths.push_back(std::move(value));
    }
    return paths;
}

std::vector<std::string> CRecentPaths::Save(std::vector<std::string> items,
                                            const std::string& path) const {
    if (path.empty())
        return items;
    auto same = std::find_if(items.begin(), items.end(),
                             [&](const std::string& item) { return SameWithoutCase(item, path); });
    if (same != items.end())
        items.erase(same);
    items.insert(items.begin(), path);

    // One update of the section: the ten keys change together, and keys of
    // the section other than hist0 to hist9 are kept.
    port::ProfileEntries entries;
    port::ReadProfileSection(port::ProfilePath(), m_strSection, entries);
    for (int i = 0; i < kMaxEntries; ++i) {
        const std::string key = HistKey(i);
        const std::string value = i < static_cast<int>(items.size()) ? items[i] : std::string();
        auto it = std::find_if(entries.begin(), entries.end(),
                               [&](const auto& e) { return SameWithoutCase(e.first, key); });
        if (it != entries.end())
            it->second = value;
        else
            entries.emplace_back(key, value);
    }
    port::WriteProfileSection(port::ProfilePath(), m_strSection, entries);
    return items;
}

} // namespace ui
