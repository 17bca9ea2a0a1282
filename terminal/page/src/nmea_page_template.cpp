#include "terminal/page/dlg_nmea.h"

namespace terminal {
namespace {

using hh::win::ControlTemplate;
using hh::win::DluRect;

// Captions have no id of their own.
constexpr std::uint16_t kNoId = 0xFFFF;

constexpr int kPillarWidth = 12;
constexpr int kPillarHeight = 35;

// The status column right of the pillars: a caption and its centred value per row.
constexpr int kCaptionX = 147;
constexpr int kCaptionWidth = 23;
constexpr int kValueX = 171;
constexpr int kValueWidth = 33;
constexpr int kRowHeight = 8;

ControlTemplate Label(int id, std::u16string text, std::uint32_t style, hh::win::Rect dlu) {
    return ControlTemplate{static_cast<std::uint16_t>(id), hh::win::WC_STATIC, std::move(text),
                           style | hh::win::SS_NOPREFIX | hh::win::WS_CHILD | hh::win::WS_VISIBLE,
                           dlu};
}

} // namespace

hh::win::DialogTemplate NmeaPageTemplate() {
    using namespace hh::win;
    DialogTemplate tpl;
    tpl.id = IDD_NMEA;
    tpl.style = WS_CHILD | DS_SETFONT | DS_CONTROL;
    tpl.fontFace = u"MS Shell Dlg";
    tpl.fontPointSize = 8;
    tpl.widthDlu = 205;
    tpl.heightDlu = 67;

    for (int i = 0; i < nmea::kPillars; ++i) {
        tpl.controls.push_back(Label(IDC_PILLAR_FIRST + i, u"", SS_LEFT,
                                     DluRect(i * kPillarWidth, 0, kPillarWidth, kPillarHeight)));
    }
    for (int i = 0; i < nmea::kPillars; ++i) {
        tpl.controls.push_back(
            Label(IDC_PRN_FIRST + i, u"60", SS_CENTER,
                  DluRect(i * kPillarWidth, kPillarHeight + 1, kPillarWidth, kRowHeight)));
    }

    struct Row {
        const char16_t* caption;
        int valueId;
        const char16_t* valueText;
    };
    const Row rows[] = {
        {u"PDOP", IDC_PDOP, u"PDOP"}, {u"HDOP", IDC_HDOP, u"HDOP"}, {u"VDOP", IDC_VDOP, u"VDOP"},
        {u"View", IDC_VIEW, u"View"}, {u"Use", IDC_USE, u"Use"},    {u"Fix", IDC_FIX, u"NA"},
        {u"TTFF", IDC_TTFF, u""},
    };
    int y = 0;
    for (const Row& row : rows) {
        tpl.controls.push_back(
            Label(kNoId, row.caption, SS_LEFT, DluRect(kCaptionX, y, kCaptionWidth, kRowHeight)));
        tpl.controls.push_back(Label(row.valueId, row.valueText, SS_CENTER,
                                     DluRect(kValueX, y, kValueWidth, kRowHeight)));
        y += kRowHeight;
    }

    // Position and time below the pillars, the two buttons at the bottom right.
    tpl.controls.push_back(
        Label(IDC_LATITUDE, u"N00\u00B000.0000'", SS_LEFT, DluRect(0, 46, 62, kRowHeight)));
    tpl.controls.push_back(
        Label(IDC_LONGITUDE, u"E00\u00B000.0000'", SS_LEFT, DluRect(64, 46, 66, kRowHeight)));
    tpl.controls.push_back(
        Label(IDC_TIME_DATE, u"time date", SS_LEFT, DluRect(0, 57, 74, kRowHeight)));
    tpl.controls.push_back(ControlTemplate{IDC_CHK_ANALYZE, WC_BUTTON, u"Analyze",
                                           BS_AUTOCHECKBOX | WS_TABSTOP | WS_CHILD | WS_VISIBLE,
                                           DluRect(132, 56, 40, 10)});
    tpl.controls.push_back(ControlTemplate{IDC_BTN_COLD, WC_BUTTON, u"Cold",
                                           BS_PUSHBUTTON | WS_TABSTOP | WS_CHILD | WS_VISIBLE,
                                           DluRect(174, 56, 30, 11)});
    return tpl;
}

} // namespace terminal
