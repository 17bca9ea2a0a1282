#pragma once
// The ANSI code page of the device (CP_ACP) and the conversions between it and
// UTF-16, through glibc's iconv. The code page is Windows-1252 unless
// HANDHELD_CODEPAGE names another ("936", "1251", "WINDOWS-1251", any iconv
// name); an unknown name is reported once on the debug output and 1252 is used.
//
// As on the device: a character the code page cannot hold becomes its
// replacement character ('?'), a byte the code page leaves undefined (1252:
// 0x81, 0x8D, 0x8F, 0x90, 0x9D) maps to the control point of the same number
// and back, an invalid multi-byte sequence becomes '?', and a zero byte is an
// ordinary character unless the caller asks to stop at the first one.
// Single-byte code pages run from tables built once from iconv; multi-byte
// ones keep their iconv descriptors per thread.

#include <cstdint>
#include <string>
#include <string_view>

namespace hh::sys {

inline constexpr uint32_t CP_ACP = 0;
inline constexpr uint32_t CP_UTF8 = 65001;

/// The number of the ANSI code page in use (1252, 936, ...; 0 when the
/// configured name carries no number).
uint32_t GetACP();

/// Converts bytes of codePage (CP_ACP, CP_UTF8, or a number such as 936) to
/// UTF-16. cbMultiByte -1 means up to and including the terminating zero.
/// With cchWideChar 0 the needed size is returned; a short buffer gives 0 and
/// ERROR_INSUFFICIENT_BUFFER. flags are accepted and ignored.
int MultiByteToWideChar(uint32_t codePage, uint32_t flags, const char* multiByte, int cbMultiByte,
                        char16_t* wideChar, int cchWideChar);
/// Converts UTF-16 to codePage; characters it cannot hold become defaultChar
/// (null: the code page's own) and set *usedDefaultChar. Sizes as above.
int WideCharToMultiByte(uint32_t codePage, uint32_t flags, const char16_t* wideChar,
                        int cchWideChar, char* multiByte, int cbMultiByte, const char* defaultChar,
                        int* usedDefaultChar);

/// Where a conversion of bytes ends.
enum class StopAt { End, FirstZero };

/// ANSI bytes to UTF-16; with StopAt::FirstZero the text ends before the first zero byte.
std::u16string AnsiToWide(std::string_view bytes, StopAt stop = StopAt::End);
/// UTF-16 to ANSI bytes with the replacement character for what the code page cannot hold.
std::string WideToAnsi(std::u16string_view text, bool* usedDefaultChar = nullptr);

/// UTF-16 to UTF-8 and back; unpaired surrogates and invalid bytes become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

} // namespace hh::sys
