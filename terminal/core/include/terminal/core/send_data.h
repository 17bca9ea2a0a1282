#pragma once
// What SEND, send_Hex and auto-send put on the line: the data bytes of the
// send box and the optional ending bytes, bounded by the 1024-byte send buffer.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace terminal {

inline constexpr size_t kSendBufferSize = 1024;
/// Text sends keep at most this many bytes of the converted text.
inline constexpr size_t kTextSendLimit = 1022;

/// The ending check boxes.
struct SendEndings {
    bool end = false;  ///< End(0x1A)
    bool crLf = false; ///< \r\n(0D0A)
    bool esc = false;  ///< Esc(0x1B)
};

/// The bytes of a hexadecimal send: character pairs read as hexadecimal numbers
/// ("1A2B3" gives 0x1A 0x2B; an odd last character is ignored). A pair is read
/// like "0x" + pair through strtoul: its leading hexadecimal digits count, a
/// pair that starts with none gives 0.
std::vector<uint8_t> HexSendBytes(std::u16string_view text);

/// The send buffer's content: data, then 0x1A, 0x0D 0x0A, 0x1B as ticked. The
/// data is cut so that data and endings always fit the 1024-byte buffer (text
/// sends additionally keep at most 1022 data bytes).
std::vector<uint8_t> BuildSendBuffer(std::vector<uint8_t> data, bool hexSend,
                                     const SendEndings& endings);

/// The W count added by one send: the characters of the send box text.
int32_t SentCharacterCount(std::u16string_view text);

} // namespace terminal
