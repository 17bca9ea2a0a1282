#pragma once
// The DevInfo page's text: the device identifier in hexadecimal and as ASCII,
// the OEM, platform and OS version texts and, when the card answered, the
// storage card's identifier.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace devtest {

/// What the page collected. An item whose query failed is empty (the
/// identifier absent), so the page never shows bytes nobody wrote.
struct DeviceInfo {
    std::optional<std::array<uint8_t, 16>> uuid;
    std::u16string oem;
    std::u16string platform;
    std::u16string osVersion;
    /// The first 16 bytes of the card's identification record, when GetCardID succeeded.
    std::optional<std::array<uint8_t, 16>> cardId;
};

/// "uuid:" with eight bytes per line, "uuid(ASCII):", "OEM:", "PlatformType:",
/// "OSVersion:" and, with a card identifier, "Card SerialID:" with six bytes
/// on its first line and ten on the second; lines end with "\r\n".
std::u16string BuildInfoText(const DeviceInfo& info);

/// The identifier as text, one character per byte, up to the first zero byte.
std::u16string UuidAscii(const std::array<uint8_t, 16>& uuid);

/// The trace printed while the card line is built: "%02X-" for each of the 16 bytes.
std::string CardIdTrace(const std::array<uint8_t, 16>& cardId);

/// A text a library call wrote into a buffer of that many characters: up to
/// its terminating zero, or the whole buffer when it has none.
std::u16string TextOfBuffer(std::span<const char16_t> buffer);

} // namespace devtest
