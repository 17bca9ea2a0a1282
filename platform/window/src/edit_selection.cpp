#include <platform/window/edit_selection.h>

#include <climits>

namespace hh::win {

EditSelection ApplySetSel(long start, long end, std::size_t textLength, EditSelection current) {
    if (start == -1) {
        // Deselects: the caret stays where it was.
        return EditSelection{current.caret, current.caret};
    }
    auto clamp = [textLength](long pos) {
        if (pos < 0) {
            return textLength;
        }
        return static_cast<std::size_t>(pos) > textLength ? textLength
                                                          : static_cast<std::size_t>(pos);
    };
    return EditSelection{clamp(start), clamp(end)};
}

std::size_t CrLfToDisplayPos(std::u16string_view text, std::size_t pos) {
    std::size_t display = 0;
    for (std::size_t i = 0; i < pos && i < text.size(); ++i) {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            if (i + 1 < pos) {
                ++i; // CR LF is one break
            } else {
                break; // between CR and LF: the break itself
            }
        }
        ++display;
    }
    return display;
}

std::size_t DisplayToCrLfPos(std::u16string_view text, std::size_t displayPos) {
    std::size_t i = 0;
    for (std::size_t display = 0; display < displayPos && i < text.size(); ++display) {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            i += 2;
        } else {
            ++i;
        }
    }
    return i;
}

std::u16string CrLfToDisplay(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r') {
            out.push_back(u'\n');
            if (i + 1 < text.size() && text[i + 1] == u'\n') {
                ++i;
            }
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::u16string DisplayToCrLf(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size() + text.size() / 16);
    for (char16_t c : text) {
        if (c == u'\n' || c == u'\u2029') {
            out += u"\r\n";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

long ParseDlgItemInt(std::u16string_view text, bool isSigned, bool* translated) {
    auto fail = [translated] {
        if (translated) {
            *translated = false;
        }
        return 0L;
    };
    std::size_t i = 0;
    while (i < text.size() && text[i] == u' ') {
        ++i;
    }
    bool negative = false;
    if (isSigned && i < text.size() && text[i] == u'-') {
        negative = true;
        ++i;
    }
    const std::size_t digitsStart = i;
    long long value = 0;
    const long long limit = isSigned ? (negative ? -static_cast<long long>(INT_MIN) : INT_MAX)
                                     : static_cast<long long>(UINT_MAX);
    while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
        value = value * 10 + (text[i] - u'0');
        if (value > limit) {
            return fail();
        }
        ++i;
    }
    if (i == digitsStart) {
        return fail();
    }
    while (i < text.size() && text[i] == u' ') {
        ++i;
    }
    if (i != text.size()) {
        return fail();
    }
    if (translated) {
        *translated = true;
    }
    return static_cast<long>(negative ? -value : value);
}

std::u16string FormatDlgItemInt(long value, bool isSigned) {
    long long v = isSigned ? static_cast<long long>(static_cast<int>(value))
                           : static_cast<long long>(static_cast<unsigned>(value));
    const bool negative = v < 0;
    unsigned long long magnitude =
        negative ? static_cast<unsigned long long>(-v) : static_cast<unsigned long long>(v);
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    return negative ? u"-" + digits : digits;
}

} // namespace hh::win
