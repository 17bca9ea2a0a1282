#pragma once
// Trace output: printf-style lines on the standard output, and the debug
// output (OutputDebugString), which goes to standard error without a prefix,
// or is appended to the file named by HANDHELD_DEBUG_LOG.
//
// The wide forms take a UTF-16 format as wprintf does on the device: %s and
// %c take UTF-16 strings and characters, %hs/%S and %hc/%C narrow ones; the
// result is written as UTF-8. %n is never honoured. Each call writes its text
// in one piece, so lines of concurrent threads and processes do not mix.

#include <cstdarg>
#include <string>

namespace hh::sys {

/// printf to the standard output; returns the number of bytes written.
int TracePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
int TraceVPrintf(const char* format, va_list args);
/// wprintf to the standard output (UTF-16 format and string arguments).
int TracePrintfW(const char16_t* format, ...);
int TraceVPrintfW(const char16_t* format, va_list args);

/// Writes the text to the debug output as it is.
void OutputDebugStringA(const char* text);
void OutputDebugStringW(const char16_t* text);
/// Formatted debug output, narrow and wide.
void DebugPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void DebugPrintfW(const char16_t* format, ...);

/// The text a printf format gives, as UTF-8.
std::string FormatV(const char* format, va_list args);
/// The text a wide format gives, as UTF-8.
std::string FormatWideV(const char16_t* format, va_list args);

} // namespace hh::sys
