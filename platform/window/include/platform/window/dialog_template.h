#pragma once
// Dialog templates as data: a dialog and its controls with 16-bit ids, window
// classes, texts, styles and rectangles in dialog units, and the conversion of
// dialog units to pixels from the template's font as the window system does it
// (horizontal units are a quarter, vertical units an eighth of the font's base
// units). No Qt here; the font measurement lives in the window layer.

#include <platform/window/win_types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hh::win {

struct ControlTemplate {
    std::uint16_t id = 0;
    std::u16string windowClass; ///< "BUTTON", "EDIT", "STATIC", "COMBOBOX", "SysTabControl32", ...
    std::u16string text;
    std::uint32_t style = 0; ///< as compiled: a control without WS_VISIBLE starts hidden
    Rect dlu;                ///< left, top, right, bottom in dialog units
    std::uint32_t exStyle = 0;
};

/// The dialog units of a control at x, y with width w and height h.
constexpr Rect DluRect(int x, int y, int w, int h) {
    return Rect{x, y, x + w, y + h};
}

struct DialogTemplate {
    int id = 0;
    std::u16string caption;
    std::u16string fontFace = u"MS Shell Dlg";
    int fontPointSize = 8;
    std::uint32_t style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT;
    std::uint32_t exStyle = 0;
    int widthDlu = 0;
    int heightDlu = 0;
    std::vector<ControlTemplate> controls;
};

/// The font's base units: average character width and character height in pixels.
struct BaseUnits {
    int cx = 0;
    int cy = 0;
    friend constexpr bool operator==(const BaseUnits&, const BaseUnits&) = default;
};

/// The dots per inch fonts are converted with; the device's screen has 96.
inline constexpr int kScreenDpi = 96;

/// A template's point size as a font height in pixels (character height, as -lfHeight).
constexpr int PointSizeToPixels(int points) {
    return MulDiv(points, kScreenDpi, 72);
}

/// Average character width the way the window system derives it from the
/// advance of the 52 letters "A".."Z" "a".."z": (advance / 26 + 1) / 2.
constexpr int AverageCharWidth(int advanceOfAlphabet) {
    return (advanceOfAlphabet / 26 + 1) / 2;
}

/// Maps each edge of a rectangle in dialog units to pixels (MapDialogRect).
constexpr Rect DluToPixels(const Rect& dlu, BaseUnits units) {
    return Rect{MulDiv(dlu.left, units.cx, 4), MulDiv(dlu.top, units.cy, 8),
                MulDiv(dlu.right, units.cx, 4), MulDiv(dlu.bottom, units.cy, 8)};
}

/// The installed face that stands for a face a template or program names:
/// "MS Shell Dlg", "MS Sans Serif", "Microsoft Sans Serif", "Tahoma" and
/// "Arial" are drawn with "Liberation Sans", "宋体"/"SimSun" with
/// "WenQuanYi Zen Hei"; other faces are used as named.
std::u16string MapFontFace(std::u16string_view face);

} // namespace hh::win
