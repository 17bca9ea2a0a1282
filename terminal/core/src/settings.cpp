#include "terminal/core/settings.h"

#include <limits>

namespace terminal {

uint8_t ByteSizeFromPosition(int position) {
    switch (position) {
    case 0:
        return 5;
    case 1:
        return 6;
    case 2:
        return 7;
    default:
        return 8;
    }
}

uint8_t StopBitsFromPosition(int position) {
    switch (position) {
    case 1:
        return 1;
    case 2:
        return 2;
    default:
        return 0;
    }
}

uint8_t ParityFromPosition(int position) {
    switch (position) {
    case 0:
        return 2;
    case 1:
        return 3;
    case 3:
        return 1;
    case 4:
        return 4;
    default:
        return 0;
    }
}

uint32_t BaudFromText(std::u16string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > std::numeric_limits<int32_t>::max()) {
            value = std::numeric_limits<int32_t>::max();
        }
    }
    return static_cast<uint32_t>(negative ? -value : value);
}

} // namespace terminal
