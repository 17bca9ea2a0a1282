#include "terminal/core/capture_name.h"

#include <ctime>
#include <string>

namespace terminal {

namespace {

void AppendDecimal(std::u16string& out, int value) {
    for (const char c : std::to_string(value)) {
        out.push_back(static_cast<char16_t>(c));
    }
}

} // namespace

LocalTime CurrentLocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                     parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

std::u16string FormatTimestamp(const LocalTime& time) {
    std::u16string text;
    AppendDecimal(text, time.year);
    text.push_back(u'-');
    AppendDecimal(text, time.month);
    text.push_back(u'-');
    AppendDecimal(text, time.day);
    text.push_back(u'_');
    AppendDecimal(text, time.hour);
    text.push_back(u'-');
    AppendDecimal(text, time.minute);
    text.push_back(u'-');
    AppendDecimal(text, time.second);
    return text;
}

std::u16string ProgramDirOf(std::u16string_view modulePath) {
    const size_t slash = modulePath.rfind(u'\\');
    if (slash == std::u16string_view::npos) {
        return {};
    }
    return std::u16string(modulePath.substr(0, slash + 1));
}

std::u16string BuildSaveFileName(std::u16string_view programDir, const LocalTime& time) {
    std::u16string name(programDir);
    name += u"SAVE";
    name += FormatTimestamp(time);
    name += u".txt";
    return name;
}

} // namespace terminal
