// The profile readers: a language file's bytes decoded and looked up, the
// application profile's sections read. The first byte picks how much of the
// input names the section and key looked for.
#include "MemFile.h"
#include "port/Profile.h"
#include "text/ProfileReader.h"

#include <string_view>

using namespace text;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    std::size_t nameBytes = data[0] % 16;
    if (nameBytes > size - 1)
        nameBytes = size - 1;
    std::string_view names(reinterpret_cast<const char*>(data + 1), nameBytes);
    std::string_view bytes(reinterpret_cast<const char*>(data + 1 + nameBytes),
                           size - 1 - nameBytes);
    std::u16string text = CProfileReader::Decode(bytes);
    std::u16string nameText = CProfileReader::Decode(names);
    std::u16string_view section(nameText), key;
    if (auto cut = section.find(u'='); cut != section.npos) {
        key = section.substr(cut + 1);
        section = section.substr(0, cut);
    }
    if (CProfileReader::FindValue(text, section, key).size() > kLangTextMaxLength)
        __builtin_trap();
    // The application profile's own reader, and its escaping round trip.
    static MemFile file;
    port::ProfileEntries entries;
    if (file.Set(data + 1 + nameBytes, bytes.size()))
        port::ReadProfileSection(file.path(), std::string_view(names).substr(0, names.find('=')),
                                 entries);
    if (port::UnescapeProfileValue(port::EscapeProfileValue(bytes)) != bytes)
        __builtin_trap();
    port::UnescapeProfileValue(bytes);
    return 0;
}
