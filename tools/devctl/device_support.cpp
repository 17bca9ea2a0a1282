#include "device_support.h"

#include <platform/system/error.h>
#include <simulator/state/device_state.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>
#include <string_view>

namespace hh::devctl {

namespace {

// The one number syntax of every verb: an optional minus sign, then decimal
// digits or "0x" and hexadecimal digits, and nothing else (no plus sign, no
// blank, no second sign, nothing after the digits). Empty when the text is
// not such a number or lies outside the 64-bit range.
std::optional<int64_t> ScanNumber(std::string_view text) {
    const bool negative = text.starts_with('-');
    if (negative) {
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    // An unsigned conversion takes no sign of its own, so "--5" and "0x-5" fail here.
    uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
    if (magnitude > limit) {
        return std::nullopt;
    }
    return negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
}

} // namespace

uint32_t ParseUint32(const std::string& text, const std::string& what) {
    std::optional<int64_t> value = ScanNumber(text);
    if (!value || *value < 0 || *value > int64_t{0xFFFFFFFF}) {
        throw CommandError("\"" + text + "\" is not a " + what);
    }
    return static_cast<uint32_t>(*value);
}

int64_t ParseNumber(const std::string& text, int64_t min, int64_t max, const std::string& what) {
    std::optional<int64_t> value = ScanNumber(text);
    if (!value) {
        throw CommandError("\"" + text + "\" is not a number (" + what + ": " +
                           std::to_string(min) + " to " + std::to_string(max) + ")");
    }
    if (*value < min || *value > max) {
        throw CommandError(what + " must lie between " + std::to_string(min) + " and " +
                           std::to_string(max) + ", not " + text);
    }
    return *value;
}

double ParseDecimal(const std::string& text, double min, double max, const std::string& what) {
    std::string_view digits = text;
    if (digits.starts_with('-')) {
        digits.remove_prefix(1);
    }
    const std::size_t point = digits.find('.');
    const std::string_view whole = digits.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view{} : digits.substr(point + 1);
    auto allDigits = [](std::string_view s) {
        return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    double value = 0;
    const bool shaped = !whole.empty() && allDigits(whole) && allDigits(fraction) &&
                        (point == std::string_view::npos || !fraction.empty());
    auto range = [&] {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%g and %g", min, max);
        return std::string(buf);
    };
    if (!shaped ||
        std::from_chars(text.data(), text.data() + text.size(), value).ec != std::errc()) {
        throw CommandError("\"" + text + "\" is not a number (" + what + ": between " + range() +
                           ")");
    }
    if (value < min || value > max) {
        throw CommandError(what + " must lie between " + range() + ", not " + text);
    }
    return value;
}

namespace {

// Set by the --json flag of whichever verb ran.
bool g_json = false;

} // namespace

void AddJsonFlag(CLI::App* verb) {
    verb->add_flag("--json", g_json, "Prints one JSON object instead of text");
}

bool JsonOutput() {
    return g_json;
}

void Print(const Json& object, const std::function<void()>& text) {
    if (!g_json) {
        text();
        return;
    }
    // A text that is not UTF-8 (a name taken from the device) shows its
    // undecodable bytes as U+FFFD instead of failing the verb.
    const std::string line = object.dump(-1, ' ', false, Json::error_handler_t::replace);
    std::printf("%s\n", line.c_str());
}

bool ParseOnOff(const std::string& text, const std::string& what) {
    if (text == "on" || text == "1") {
        return true;
    }
    if (text == "off" || text == "0") {
        return false;
    }
    throw CommandError("\"" + text + "\" is neither on nor off (" + what + ")");
}

void CheckState() {
    if (!sim::state::Check()) {
        throw CommandError(sim::state::StateErrorText());
    }
}

std::string FailureText() {
    std::string why = sim::state::StateErrorText();
    return why.empty() ? sys::ErrorText(sys::GetLastError()) : why;
}

void Check(bool ok, const std::string& doing) {
    if (ok) {
        return;
    }
    // A damaged store is the whole story, whatever was being done.
    if (sys::GetLastError() == sys::ERROR_FILE_CORRUPT) {
        throw CommandError(FailureText());
    }
    throw CommandError(doing + ": " + FailureText());
}

void ShowWhenAlone(CLI::App* verb, std::function<void()> show) {
    verb->callback([verb, show] {
        if (verb->get_subcommands().empty()) {
            RequireDevice();
            CheckState();
            show();
        }
    });
}

} // namespace hh::devctl
