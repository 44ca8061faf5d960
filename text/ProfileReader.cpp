#include "text/ProfileReader.h"

#include "port/FileOps.h"
#include "port/Paths.h"
#include "port/ProfileSyntax.h"
#include "port/Utf.h"

#include <algorithm>
#include <iterator>

namespace text {

namespace {

// Largest file read; language files are a few dozen KiB.
constexpr std::size_t kMaxFileSize = 16u << 20;

bool ReadFileBytes(const std::string& path, std::string& out) {
    auto data = port::ReadWholeFile(path, kMaxFileSize);
    if (data)
        out = std::move(*data);
    return data.has_value();
}

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

} // namespace

CProfileReader::~CProfileReader() = default;

std::u16string CProfileReader::Decode(std::string_view bytes) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() >= 2 &&
        ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF))) {
        bool little = byte(0) == 0xFF;
        std::u16string out;
        out.reserve(bytes.size() / 2);
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            unsigned lo = little ? byte(i) : byte(i + 1);
            unsigned hi = little ? byte(i + 1) : byte(i);
            out.push_back(static_cast<char16_t>(lo | (hi << 8)));
        }
        return out;
    }
    if (bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF)
        bytes.remove_prefix(3);
    return port::ToUtf16(bytes);
}

std::u16string CProfileReader::FindValue(std::u16string_view text, std::u16string_view section,
                                         std::u16string_view key) {
    namespace ini = port::ini;
    std::u16string result;
    // 0: before the wanted section, 1: inside it, 2: done.
    int state = 0;
    ini::ForEachLine(text, [&](std::u16string_view line) {
        std::u16string_view name, value;
        switch (ini::ParseLine(line, name, value)) {
        case ini::LineKind::Section:
            if (state == 1) {
                state = 2; // only the first section of that name counts
                return false;
            }
            if (ini::EqualNoCase(name, section))
                state = 1;
            return true;
        case ini::LineKind::Entry:
            if (state == 1 && ini::EqualNoCase(name, key)) {
                result.assign(ini::Unquote(value));
                state = 2;
                return false;
            }
            return true;
        case ini::LineKind::Other:
            return true;
        }
        return true;
    });
    if (result.size() > kLangTextMaxLength) {
        result.resize(kLangTextMaxLength);
        // Never leave half of a surrogate pair at the cut.
        if (IsHighSurrogate(result.back()))
            result.pop_back();
    }
    return result;
}

void CProfileReader::ReadString(std::u16string_view section, std::u16string_view key,
                                std::u16string_view file, char16_t* out) {
    out[0] = 0;
    std::string bytes;
    if (file.empty() || !ReadFileBytes(port::ResourceDir() + port::ToUtf8(file), bytes))
        return;
    std::u16string value = FindValue(Decode(bytes), section, key);
    std::size_t n = std::min(value.size(), kLangTextMaxLength);
    std::copy_n(value.data(), n, out);
    out[n] = 0;
}

} // namespace text
