#pragma once
// The terminal's port settings: the lists the dialog offers, their initial
// selections, and the mapping from a list position to the line-setting codes.
// Codes are taken by position, not by text, as the lists are shown.

#include <array>
#include <cstdint>
#include <string_view>

namespace terminal {

/// One settings list: its entries in the order shown and the entry selected at start-up.
struct SettingsList {
    const std::u16string_view* entries;
    int count;
    int initialSelection;
};

inline constexpr std::u16string_view kComEntries[] = {
    u"COM0:", u"COM1:", u"COM2:", u"COM3:", u"COM4:",  u"COM5:",
    u"COM6:", u"COM7:", u"COM8:", u"COM9:", u"COM10:",
};
inline constexpr std::u16string_view kBaudEntries[] = {
    u"4800",   u"9600",   u"14400", u"19200", u"38400", u"56000", u"115200",
    u"128000", u"256000", u"2400",  u"1200",  u"600",   u"300",   u"110",
};
inline constexpr std::u16string_view kByteSizeEntries[] = {u"5", u"6", u"7", u"8"};
inline constexpr std::u16string_view kStopBitsEntries[] = {u"1", u"1.5", u"2"};
inline constexpr std::u16string_view kParityEntries[] = {u"Even", u"Mark", u"None", u"Odd",
                                                         u"Space"};

inline constexpr SettingsList kComList{kComEntries, 11, 7};
inline constexpr SettingsList kBaudList{kBaudEntries, 14, 4};
inline constexpr SettingsList kByteSizeList{kByteSizeEntries, 4, 3};
inline constexpr SettingsList kStopBitsList{kStopBitsEntries, 3, 0};
inline constexpr SettingsList kParityList{kParityEntries, 5, 2};

/// DCB byte size for a ByteSize list position: 0..2 give 5..7, anything else 8.
uint8_t ByteSizeFromPosition(int position);
/// DCB stop-bits code: position 1 gives 1 (one and a half), 2 gives 2 (two), anything else 0.
uint8_t StopBitsFromPosition(int position);
/// DCB parity code: 0 even (2), 1 mark (3), 3 odd (1), 4 space (4), anything else none (0).
uint8_t ParityFromPosition(int position);
/// The baud rate of a Baud list text, read as a decimal number the way _wtol reads it
/// (leading blanks, optional sign, digits; no number gives 0).
uint32_t BaudFromText(std::u16string_view text);

} // namespace terminal
