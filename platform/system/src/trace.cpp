#include "platform/system/trace.h"

#include "platform/system/code_page.h"
#include "platform/system/posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace hh::sys {

namespace {

void WriteStdout(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    // Trace lines must reach a pipe even when the process is ended right after.
    std::fflush(stdout);
}

void WriteDebug(const std::string& text) {
    if (const char* log = std::getenv("HANDHELD_DEBUG_LOG"); log && *log) {
        // O_APPEND keeps the texts of several processes whole.
        const posix::Fd fd(::open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
        if (fd.valid()) {
            posix::WriteAll(fd.get(), text);
            return;
        }
    }
    std::fflush(stderr);
    posix::WriteAll(STDERR_FILENO, text);
}

// One conversion of a wide format, taken apart.
struct Directive {
    std::string flags;
    std::string width;
    std::string precision; // with its '.'
    bool hasPrecision = false;
    int precisionValue = -1;
    std::string length; // "", "h", "hh", "l", "ll", "L", "z", "j", "t", "I64", "I32"
    char16_t conversion = 0;
};

std::string NarrowDirective(const Directive& directive, const char* length, char conversion) {
    std::string text = "%" + directive.flags + directive.width + directive.precision + length;
    text += conversion;
    return text;
}

template <typename... Args>
std::string FormatOne(const std::string& directive, Args... args) {
    int size = std::snprintf(nullptr, 0, directive.c_str(), args...);
    if (size <= 0) {
        return {};
    }
    std::string out(static_cast<size_t>(size) + 1, '\0');
    std::snprintf(out.data(), out.size(), directive.c_str(), args...);
    out.resize(static_cast<size_t>(size));
    return out;
}

// Pads a converted string to the width the way %s does, counting characters.
std::string PadString(const Directive& directive, const std::string& utf8, std::size_t characters) {
    std::size_t width =
        directive.width.empty() ? 0 : std::strtoul(directive.width.c_str(), nullptr, 10);
    if (characters >= width) {
        return utf8;
    }
    std::string pad(width - characters, ' ');
    return directive.flags.find('-') != std::string::npos ? utf8 + pad : pad + utf8;
}

std::string FormatWideString(const Directive& directive, const char16_t* text) {
    std::u16string_view view = text ? std::u16string_view(text) : std::u16string_view(u"(null)");
    if (directive.hasPrecision && directive.precisionValue >= 0 &&
        view.size() > static_cast<size_t>(directive.precisionValue)) {
        view = view.substr(0, static_cast<size_t>(directive.precisionValue));
    }
    return PadString(directive, Utf16ToUtf8(view), view.size());
}

std::string FormatNarrowString(const Directive& directive, const char* text) {
    return FormatOne(NarrowDirective(directive, "", 's'), text ? text : "(null)");
}

bool IsIntegerConversion(char16_t c) {
    return c == u'd' || c == u'i' || c == u'u' || c == u'x' || c == u'X' || c == u'o';
}

bool IsFloatConversion(char16_t c) {
    return c == u'f' || c == u'F' || c == u'e' || c == u'E' || c == u'g' || c == u'G' ||
           c == u'a' || c == u'A';
}

std::string FormatInteger(const Directive& directive, va_list& args) {
    char conversion = static_cast<char>(directive.conversion);
    bool isSigned = conversion == 'd' || conversion == 'i';
    const std::string& l = directive.length;
    if (l == "ll" || l == "I64" || l == "j" || (l == "l" && sizeof(long) == 8) || l == "z" ||
        l == "t") {
        if (isSigned) {
            return FormatOne(NarrowDirective(directive, "ll", conversion), va_arg(args, long long));
        }
        return FormatOne(NarrowDirective(directive, "ll", conversion),
                         va_arg(args, unsigned long long));
    }
    // int, short and char arguments all arrive promoted to int.
    const char* narrowLength = l == "h" ? "h" : l == "hh" ? "hh" : "";
    if (isSigned) {
        return FormatOne(NarrowDirective(directive, narrowLength, conversion), va_arg(args, int));
    }
    return FormatOne(NarrowDirective(directive, narrowLength, conversion),
                     va_arg(args, unsigned int));
}

// Reads the digits or '*' of a width or precision.
std::string ReadNumber(const char16_t*& p, va_list& args, int& value) {
    value = -1;
    if (*p == u'*') {
        ++p;
        value = va_arg(args, int);
        return std::to_string(value);
    }
    std::string digits;
    while (*p >= u'0' && *p <= u'9') {
        digits += static_cast<char>(*p++);
    }
    if (!digits.empty()) {
        value = std::atoi(digits.c_str());
    }
    return digits;
}

} // namespace

std::string FormatV(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int size = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (size <= 0) {
        return {};
    }
    std::string out(static_cast<size_t>(size) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<size_t>(size));
    return out;
}

std::string FormatWideV(const char16_t* format, va_list argsIn) {
    std::string out;
    if (!format) {
        return out;
    }
    va_list args;
    va_copy(args, argsIn);
    std::u16string literal;
    for (const char16_t* p = format; *p;) {
        if (*p != u'%') {
            literal += *p++;
            continue;
        }
        out += Utf16ToUtf8(literal);
        literal.clear();
        ++p;
        if (*p == u'%') {
            out += '%';
            ++p;
            continue;
        }
        Directive directive;
        while (*p == u'-' || *p == u'+' || *p == u' ' || *p == u'#' || *p == u'0') {
            directive.flags += static_cast<char>(*p++);
        }
        int widthValue = -1;
        directive.width = ReadNumber(p, args, widthValue);
        if (widthValue < 0 && !directive.width.empty()) {
            // A negative '*' width means left alignment.
            directive.flags += '-';
            directive.width = std::to_string(-widthValue);
        }
        if (*p == u'.') {
            ++p;
            directive.hasPrecision = true;
            bool star = *p == u'*';
            if (ReadNumber(p, args, directive.precisionValue).empty() && !star) {
                // A lone '.' is a precision of zero.
                directive.precisionValue = 0;
            }
            // A negative '*' precision counts as none.
            directive.hasPrecision = directive.precisionValue >= 0;
            if (directive.hasPrecision) {
                directive.precision.push_back('.');
                directive.precision.append(std::to_string(directive.precisionValue));
            }
        }
        if (p[0] == u'I' && p[1] == u'6' && p[2] == u'4') {
            directive.length = "I64";
            p += 3;
        } else if (p[0] == u'I' && p[1] == u'3' && p[2] == u'2') {
            p += 3;
        } else {
            while (*p == u'h' || *p == u'l' || *p == u'L' || *p == u'z' || *p == u'j' ||
                   *p == u't' || *p == u'w') {
                directive.length += static_cast<char>(*p++);
            }
        }
        directive.conversion = *p;
        if (!directive.conversion) {
            break;
        }
        ++p;
        char16_t c = directive.conversion;
        if (c == u's' || c == u'S') {
            bool narrow = directive.length == "h" || (c == u'S' && directive.length.empty());
            if (narrow) {
                out += FormatNarrowString(directive, va_arg(args, const char*));
            } else {
                out += FormatWideString(directive, va_arg(args, const char16_t*));
            }
        } else if (c == u'c' || c == u'C') {
            int value = va_arg(args, int);
            bool narrow = directive.length == "h" || (c == u'C' && directive.length.empty());
            char16_t unit = narrow ? static_cast<char16_t>(static_cast<unsigned char>(value))
                                   : static_cast<char16_t>(value);
            out += PadString(directive, Utf16ToUtf8(std::u16string_view(&unit, 1)), 1);
        } else if (IsIntegerConversion(c)) {
            out += FormatInteger(directive, args);
        } else if (IsFloatConversion(c)) {
            if (directive.length == "L") {
                out += FormatOne(NarrowDirective(directive, "L", static_cast<char>(c)),
                                 va_arg(args, long double));
            } else {
                out += FormatOne(NarrowDirective(directive, "", static_cast<char>(c)),
                                 va_arg(args, double));
            }
        } else if (c == u'p') {
            out += FormatOne(NarrowDirective(directive, "", 'p'), va_arg(args, void*));
        } else if (c == u'n') {
            // Writing through a pointer taken from a format is never honoured.
            va_arg(args, void*);
        } else {
            // Unknown conversions are shown as written.
            out += '%';
            out += Utf16ToUtf8(std::u16string_view(&c, 1));
        }
    }
    out += Utf16ToUtf8(literal);
    va_end(args);
    return out;
}

int TraceVPrintf(const char* format, va_list args) {
    std::string text = FormatV(format, args);
    WriteStdout(text);
    return static_cast<int>(text.size());
}

int TracePrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = TraceVPrintf(format, args);
    va_end(args);
    return n;
}

int TraceVPrintfW(const char16_t* format, va_list args) {
    std::string text = FormatWideV(format, args);
    WriteStdout(text);
    return static_cast<int>(text.size());
}

int TracePrintfW(const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    int n = TraceVPrintfW(format, args);
    va_end(args);
    return n;
}

void OutputDebugStringA(const char* text) {
    if (text) {
        WriteDebug(text);
    }
}

void OutputDebugStringW(const char16_t* text) {
    if (text) {
        WriteDebug(Utf16ToUtf8(text));
    }
}

void DebugPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteDebug(FormatV(format, args));
    va_end(args);
}

void DebugPrintfW(const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    WriteDebug(FormatWideV(format, args));
    va_end(args);
}

} // namespace hh::sys
