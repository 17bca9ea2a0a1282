#include "xml_characters.h"

#include <cstdint>

namespace recovery {

namespace {

bool IsXmlChar(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

bool Utf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<uint8_t>(bytes[i]);
        const std::size_t extra = lead < 0x80           ? 0
                                  : (lead >> 5) == 0x6  ? 1
                                  : (lead >> 4) == 0xE  ? 2
                                  : (lead >> 3) == 0x1E ? 3
                                                        : 4;
        if (extra == 4 || bytes.size() - i <= extra) {
            return false;
        }
        char32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<uint8_t>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            c = (c << 6) | (next & 0x3F);
        }
        static constexpr char32_t kShortest[] = {0, 0x80, 0x800, 0x10000};
        if (c < kShortest[extra] || !IsXmlChar(c)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

char32_t Unit(std::string_view bytes, std::size_t at, std::size_t size, bool bigEndian) {
    char32_t unit = 0;
    for (std::size_t k = 0; k < size; ++k) {
        const auto byte = static_cast<uint8_t>(bytes[at + (bigEndian ? k : size - 1 - k)]);
        unit = (unit << 8) | byte;
    }
    return unit;
}

bool Utf16(std::string_view bytes, bool bigEndian) {
    if (bytes.size() % 2 != 0) {
        return false;
    }
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        char32_t c = Unit(bytes, i, 2, bigEndian);
        if (c >= 0xD800 && c <= 0xDBFF && i + 2 < bytes.size()) {
            const char32_t low = Unit(bytes, i + 2, 2, bigEndian);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (!IsXmlChar(c)) {
            return false;
        }
    }
    return true;
}

bool Utf32(std::string_view bytes, bool bigEndian) {
    if (bytes.size() % 4 != 0) {
        return false;
    }
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
        if (!IsXmlChar(Unit(bytes, i, 4, bigEndian))) {
            return false;
        }
    }
    return true;
}

bool Latin1(std::string_view bytes) {
    for (char byte : bytes) {
        if (!IsXmlChar(static_cast<uint8_t>(byte))) {
            return false;
        }
    }
    return true;
}

} // namespace

bool HoldsOnlyXmlCharacters(std::string_view bytes, pugi::xml_encoding encoding) {
    switch (encoding) {
    case pugi::encoding_utf16_le:
        return Utf16(bytes, false);
    case pugi::encoding_utf16_be:
        return Utf16(bytes, true);
    case pugi::encoding_utf32_le:
        return Utf32(bytes, false);
    case pugi::encoding_utf32_be:
        return Utf32(bytes, true);
    case pugi::encoding_latin1:
        return Latin1(bytes);
    default:
        return Utf8(bytes);
    }
}

bool ReferencesOnlyXmlCharacters(std::string_view text) {
    for (std::size_t at = text.find("&#"); at != std::string_view::npos;
         at = text.find("&#", at + 2)) {
        std::size_t i = at + 2;
        const bool hex = i < text.size() && text[i] == 'x';
        i += hex ? 1 : 0;
        const std::size_t first = i;
        char32_t value = 0;
        for (; i < text.size() && text[i] != ';'; ++i) {
            const char c = text[i];
            const int digit = c >= '0' && c <= '9'          ? c - '0'
                              : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                            : -1;
            if (digit < 0) {
                return false;
            }
            value = value * (hex ? 16 : 10) + static_cast<char32_t>(digit);
            if (value > 0x10FFFF) {
                return false;
            }
        }
        if (i == first || i == text.size() || !IsXmlChar(value)) {
            return false;
        }
    }
    return true;
}

} // namespace recovery
