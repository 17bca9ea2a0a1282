#include "terminal/core/receive_text.h"

#include <algorithm>

namespace terminal {

void AppendHexChunkText(std::span<const uint8_t> bytes, std::u16string& out) {
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    out.reserve(out.size() + bytes.size() * 2 + 2);
    for (uint8_t b : bytes) {
        if (b >= 0x10) {
            out.push_back(kDigits[b >> 4]);
        }
        out.push_back(kDigits[b & 0x0F]);
    }
    out.append(u"\r\n");
}

std::u16string HexChunkText(std::span<const uint8_t> bytes) {
    std::u16string out;
    AppendHexChunkText(bytes, out);
    return out;
}

std::span<const uint8_t> BytesBeforeZero(std::span<const uint8_t> bytes) {
    auto zero = std::find(bytes.begin(), bytes.end(), uint8_t{0});
    return bytes.first(static_cast<size_t>(zero - bytes.begin()));
}

} // namespace terminal
