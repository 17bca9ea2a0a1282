#pragma once
// The words of one line of the receiver's text forms in the device state
// (the scenario, the published sky): "keyword value value...", single blanks.

#include <charconv>
#include <string_view>
#include <system_error>
#include <vector>

namespace hh::sim {

/// Splits a line into words separated by single blanks.
inline std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    while (!line.empty()) {
        const std::size_t blank = line.find(' ');
        words.push_back(line.substr(0, blank));
        line = blank == std::string_view::npos ? std::string_view{} : line.substr(blank + 1);
    }
    return words;
}

/// A whole word as a number; false for an empty word or anything after it.
template <typename T>
bool ReadWord(std::string_view word, T& value) {
    auto [ptr, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
    return !word.empty() && ec == std::errc() && ptr == word.data() + word.size();
}

} // namespace hh::sim
