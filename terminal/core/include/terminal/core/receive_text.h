#pragma once
// How one read of received bytes becomes text for the receive display.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace terminal {

/// The reader's buffer; one read takes at most kReadBufferSize - 1 bytes so
/// that a terminating zero always fits for the text conversion.
inline constexpr size_t kReadBufferSize = 4096;
/// The display is emptied (and logged first when Log all is on) once this many
/// bytes have arrived since it was last emptied by the reader.
inline constexpr int32_t kDisplayFlushBytes = 29000;

/// Hexadecimal view: each byte as "%X" (upper case, no leading zero, no
/// separator), then CR LF. {0x0A, 0x80, 0xFF} gives "A80FF\r\n".
std::u16string HexChunkText(std::span<const uint8_t> bytes);

/// Text view: the bytes up to the first zero byte (all of them when there is none).
std::span<const uint8_t> BytesBeforeZero(std::span<const uint8_t> bytes);

/// Appends hexadecimal chunk text to an existing string without reallocating per byte.
void AppendHexChunkText(std::span<const uint8_t> bytes, std::u16string& out);

} // namespace terminal
