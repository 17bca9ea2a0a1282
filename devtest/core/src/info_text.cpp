#include <devtest/core/info_text.h>

#include <cstdio>

namespace devtest {

namespace {

void AppendHex(std::u16string& text, uint8_t byte) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", byte);
    text += static_cast<char16_t>(digits[0]);
    text += static_cast<char16_t>(digits[1]);
}

} // namespace

std::u16string UuidAscii(const std::array<uint8_t, 16>& uuid) {
    std::u16string ascii;
    for (uint8_t byte : uuid) {
        if (byte == 0) {
            break;
        }
        ascii += static_cast<char16_t>(byte);
    }
    return ascii;
}

std::string CardIdTrace(const std::array<uint8_t, 16>& cardId) {
    std::string trace;
    for (uint8_t byte : cardId) {
        char piece[4];
        std::snprintf(piece, sizeof piece, "%02X-", byte);
        trace += piece;
    }
    return trace;
}

std::u16string TextOfBuffer(std::span<const char16_t> buffer) {
    std::size_t n = 0;
    while (n < buffer.size() && buffer[n] != 0) {
        ++n;
    }
    return std::u16string(buffer.data(), n);
}

std::u16string BuildInfoText(const DeviceInfo& info) {
    std::u16string text = u"uuid:";
    std::u16string ascii;
    if (info.uuid) {
        for (std::size_t i = 0; i < info.uuid->size(); ++i) {
            if (i == 8) {
                text += u"\r\n";
            }
            AppendHex(text, (*info.uuid)[i]);
        }
        ascii = UuidAscii(*info.uuid);
    }
    text += u"\r\nuuid(ASCII):" + ascii;
    text += u"\r\nOEM:" + info.oem;
    text += u"\r\nPlatformType:" + info.platform;
    text += u"\r\nOSVersion:" + info.osVersion;
    if (info.cardId) {
        text += u"\r\nCard SerialID:";
        for (std::size_t i = 0; i < info.cardId->size(); ++i) {
            if (i == 6) {
                text += u"\r\n";
            }
            AppendHex(text, (*info.cardId)[i]);
        }
    }
    return text;
}

} // namespace devtest
