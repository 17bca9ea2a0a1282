#include "simulator/state/driver_support.h"

#include "simulator/state/device_state.h"

namespace hh::sim {

namespace {

std::string Key(std::string_view name) {
    return "driver." + std::string(name) + ".off";
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

const std::vector<std::string>& SwitchableDrivers() {
    static const std::vector<std::string> names = {"BKL1", "PWR1", "UFN1", "ANT1",
                                                   "ECD1", "SMB1", "PSA1", "KERNEL"};
    return names;
}

std::string CanonicalDriverName(std::string_view name) {
    std::string upper;
    for (char c : name) {
        upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    if (!upper.empty() && upper.back() == ':') {
        upper.pop_back();
    }
    for (const std::string& known : SwitchableDrivers()) {
        if (upper == known) {
            return known;
        }
    }
    return {};
}

bool DriverAvailable(std::string_view canonicalName, uint32_t offError) {
    int64_t off = 0;
    if (!state::GetInt(Key(canonicalName), 0, off)) {
        return false;
    }
    return off == 0 || FailWith(offError);
}

bool SetDriverAvailable(std::string_view canonicalName, bool available) {
    return state::SetInt(Key(canonicalName), available ? 0 : 1);
}

bool ParseHexBytes(std::string_view text, size_t size, std::vector<uint8_t>& bytes) {
    bytes.clear();
    int high = -1;
    for (char c : text) {
        if (c == '-' || c == ':' || c == ' ') {
            if (high >= 0) {
                return false;
            }
            continue;
        }
        int digit = HexDigit(c);
        if (digit < 0) {
            return false;
        }
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<uint8_t>(high * 16 + digit));
            high = -1;
        }
    }
    return high < 0 && bytes.size() == size;
}

std::string HexText(std::span<const uint8_t> bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string text;
    for (uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

} // namespace hh::sim
