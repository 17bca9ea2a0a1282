#include <recovery/app/screens.h>

#include <algorithm>
#include <cstdio>

namespace recovery {

namespace {

std::u16string Ascii(const char* text) {
    std::u16string out;
    for (; *text; ++text) {
        out += static_cast<char16_t>(static_cast<unsigned char>(*text));
    }
    return out;
}

template <typename... Args>
std::u16string Format(const char* format, Args... args) {
    char text[128];
    std::snprintf(text, sizeof text, format, args...);
    return Ascii(text);
}

} // namespace

ScreenLayout LayoutFor(int width, int height, int progressHeight) {
    const int button = (width - 90) / 2;
    ScreenLayout layout;
    layout.progress = {10, height / 2 + 10, width - 20, progressHeight};
    layout.no = {30, 140, button, 50};
    layout.yes = {button + 60, 140, button, 50};
    return layout;
}

Placement WarningBand(int width, int height, int titleBottom) {
    const int top = std::max(80, titleBottom);
    const int bottom = std::max(top, LayoutFor(width, height, 0).no.y);
    return {0, top, width, bottom - top};
}

std::u16string ProgressText(uint32_t copied, uint32_t total) {
    if (total == 0) {
        return u"Recovering....";
    }
    const auto percent = static_cast<int>(uint64_t{copied} * 100 / total);
    return Format("Recovering Marolt...%d%%", percent);
}

std::u16string CountdownText(int32_t seconds) {
    return Format("Restart in %d s", seconds);
}

std::u16string RecoverFailedText(uint32_t error) {
    return Format("Recover failed(%d)!Press OK to reboot.", static_cast<int32_t>(error));
}

std::u16string FlagFailedText(uint32_t error) {
    return Format("Recover flag failed(%d),nothing was changed.", static_cast<int32_t>(error));
}

} // namespace recovery
