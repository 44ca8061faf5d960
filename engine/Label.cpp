#include "engine/Label.h"

namespace engine {

void LabelToOptions(std::u16string_view label, EngineOptions& options) {
    const std::size_t n = label.size() < kMaxLabel ? label.size() : kMaxLabel;
    for (std::size_t i = 0; i < n; ++i)
        options.VolumeLabel[i] = static_cast<char>(label[i] & 0xFF);
    options.VolumeLabel[n] = '\0';
}

std::u16string LabelFromOptions(const EngineOptions& options) {
    std::u16string out;
    for (char c : options.VolumeLabel) {
        if (c == '\0')
            break;
        out += static_cast<char16_t>(static_cast<unsigned char>(c));
    }
    return out;
}

std::u16string LabelRoundTrip(std::u16string_view label) {
    EngineOptions o{};
    LabelToOptions(label, o);
    return LabelFromOptions(o);
}

} // namespace engine
