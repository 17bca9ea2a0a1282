#include "terminal/core/send_data.h"

#include <algorithm>

namespace terminal {

namespace {
int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if (c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    if (c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    return -1;
}
} // namespace

std::vector<uint8_t> HexSendBytes(std::u16string_view text) {
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        int high = HexDigit(text[i]);
        int low = HexDigit(text[i + 1]);
        uint8_t value = 0;
        if (high >= 0) {
            value = static_cast<uint8_t>(low >= 0 ? high * 16 + low : high);
        }
        bytes.push_back(value);
    }
    return bytes;
}

std::vector<uint8_t> BuildSendBuffer(std::vector<uint8_t> data, bool hexSend,
                                     const SendEndings& endings) {
    const size_t endingBytes =
        (endings.end ? 1 : 0) + (endings.crLf ? 2 : 0) + (endings.esc ? 1 : 0);
    size_t limit = kSendBufferSize - endingBytes;
    if (!hexSend) {
        limit = std::min(limit, kTextSendLimit);
    }
    if (data.size() > limit) {
        data.resize(limit);
    }
    if (endings.end) {
        data.push_back(0x1A);
    }
    if (endings.crLf) {
        data.push_back(0x0D);
        data.push_back(0x0A);
    }
    if (endings.esc) {
        data.push_back(0x1B);
    }
    return data;
}

int32_t SentCharacterCount(std::u16string_view text) {
    return static_cast<int32_t>(text.size());
}

} // namespace terminal
