#include "device_support.h"

#include <platform/system/error.h>
#include <simulator/state/device_state.h>

#include <charconv>

namespace hh::devctl {

uint32_t ParseUint32(const std::string& text, const std::string& what) {
    std::string_view digits = text;
    int base = 10;
    if (digits.starts_with("0x") || digits.starts_with("0X")) {
        digits.remove_prefix(2);
        base = 16;
    }
    uint32_t value = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) {
        throw CommandError("\"" + text + "\" is not a " + what);
    }
    return value;
}

int64_t ParseNumber(const std::string& text, int64_t min, int64_t max, const std::string& what) {
    std::string_view digits = text;
    bool negative = digits.starts_with('-');
    if (negative) {
        digits.remove_prefix(1);
    }
    int base = 10;
    if (digits.starts_with("0x") || digits.starts_with("0X")) {
        digits.remove_prefix(2);
        base = 16;
    }
    int64_t value = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) {
        throw CommandError("\"" + text + "\" is not a number (" + what + ")");
    }
    value = negative ? -value : value;
    if (value < min || value > max) {
        throw CommandError(what + " must lie between " + std::to_string(min) + " and " +
                           std::to_string(max) + ", not " + text);
    }
    return value;
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
