#include <platform/window/dialog_template.h>

#include <algorithm>
#include <array>

namespace hh::win {
namespace {

bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

struct FaceMapping {
    std::u16string_view named;
    std::u16string_view installed;
};

constexpr std::array<FaceMapping, 11> kFaces{{
    {u"MS Shell Dlg", u"Liberation Sans"},
    {u"MS Shell Dlg 2", u"Liberation Sans"},
    {u"MS Sans Serif", u"Liberation Sans"},
    {u"Microsoft Sans Serif", u"Liberation Sans"},
    {u"Tahoma", u"Liberation Sans"},
    {u"Arial", u"Liberation Sans"},
    {u"Courier New", u"Liberation Mono"},
    {u"Times New Roman", u"Liberation Serif"},
    {u"\u5B8B\u4F53", u"WenQuanYi Zen Hei"}, // 宋体
    {u"SimSun", u"WenQuanYi Zen Hei"},
    {u"\u65B0\u5B8B\u4F53", u"WenQuanYi Zen Hei"}, // 新宋体
}};

} // namespace

std::u16string MapFontFace(std::u16string_view face) {
    for (const auto& mapping : kFaces) {
        if (EqualsIgnoringAsciiCase(face, mapping.named)) {
            return std::u16string(mapping.installed);
        }
    }
    if (face.empty()) {
        return u"Liberation Sans";
    }
    return std::u16string(face);
}

} // namespace hh::win
