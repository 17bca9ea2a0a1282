#pragma once
// Helpers shared by the parser tests: fill expected structs field by field and
// print decoded states readably when a comparison fails.

#include "terminal/nmea/nmea.h"

#include <algorithm>
#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

namespace terminal::nmea {

template <std::size_t N>
void Set(char16_t (&field)[N], std::u16string_view text) {
    std::fill(field, field + N, u'\0');
    std::copy_n(text.data(), std::min(text.size(), N - 1), field);
}

// ASCII rendering of UTF-16 test texts; anything else shows as "?".
inline std::string Narrow(std::u16string_view text) {
    std::string out;
    for (char16_t ch : text) {
        out.push_back(ch < 0x80 ? static_cast<char>(ch) : '?');
    }
    return out;
}

// Sentences in tests are written as UTF-8/ASCII literals; the chunk is UTF-16.
inline std::u16string Widen(std::string_view text) {
    std::u16string out;
    for (unsigned char ch : text) {
        out.push_back(ch);
    }
    return out;
}

void PrintTo(const NmeaState& state, std::ostream* os);

} // namespace terminal::nmea
