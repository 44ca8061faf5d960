#include "port/Utf.h"

#include <cstdint>

namespace port {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf16(std::u16string& out, char32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// One byte that is not valid UTF-8: U+FFFD, or the byte escaped for a path.
void AppendBad(std::u16string& out, std::uint8_t b, bool escape) {
    out.push_back(escape ? static_cast<char16_t>(0xDC00 + b) : static_cast<char16_t>(kReplacement));
}

std::u16string Utf16From(std::string_view in, bool escape) {
    std::u16string out;
    out.reserve(in.size());
    const auto* p = reinterpret_cast<const std::uint8_t*>(in.data());
    const auto* end = p + in.size();
    while (p < end) {
        std::uint8_t b = *p;
        int extra;
        char32_t cp;
        if (b < 0x80) {
            extra = 0;
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            extra = 1;
            cp = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2;
            cp = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3;
            cp = b & 0x07;
        } else {
            AppendBad(out, b, escape);
            ++p;
            continue;
        }
        if (end - p < extra + 1) {
            // Cut short at the end: one U+FFFD for the rest, or each byte
            // escaped on its own.
            if (!escape) {
                out.push_back(kReplacement);
                break;
            }
            AppendBad(out, b, escape);
            ++p;
            continue;
        }
        bool ok = true;
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (!ok || cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            AppendBad(out, b, escape);
            ++p;
            continue;
        }
        AppendUtf16(out, cp);
        p += extra + 1;
    }
    return out;
}

std::string Utf8From(std::u16string_view in, bool escape) {
    std::string out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        char32_t u = in[i];
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
                u = 0x10000 + ((u - 0xD800) << 10) + (in[i + 1] - 0xDC00);
                ++i;
            } else {
                u = kReplacement;
            }
        } else if (escape && IsEscapedByte(u)) {
            out.push_back(static_cast<char>(u - 0xDC00));
            continue;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            u = kReplacement;
        }
        AppendUtf8(out, u);
    }
    return out;
}

} // namespace

std::u16string ToUtf16(std::string_view utf8) {
    return Utf16From(utf8, false);
}
std::string ToUtf8(std::u16string_view utf16) {
    return Utf8From(utf16, false);
}
std::u16string PathToUtf16(std::string_view path) {
    return Utf16From(path, true);
}
std::string PathToUtf8(std::u16string_view path) {
    return Utf8From(path, true);
}

std::size_t U16Length(const char16_t* s, std::size_t max) {
    std::size_t n = 0;
    if (!s)
        return 0;
    while (n < max && s[n])
        ++n;
    return n;
}

std::string EscapeControls(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0u;
        if (c == '\n' || c == '\r' || c == '\t') {
            out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
        } else if (IsControlByte(c)) {
            const auto u = static_cast<unsigned char>(c);
            out += {'\\', 'x', kHex[u >> 4], kHex[u & 0xF]};
        } else if (static_cast<unsigned char>(c) == 0xC2 && next >= 0x80 && next <= 0x9F) {
            out += {'\\', 'u', '0', '0', kHex[next >> 4], kHex[next & 0xF]};
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace port
