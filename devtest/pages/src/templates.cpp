// The dialog templates of V5520Demo, as the resource compiler lays them out.

#include <devtest/pages/ids.h>
#include <devtest/pages/templates.h>

#include <string>

namespace devtest {

namespace win = hh::win;

namespace {

constexpr uint32_t kChild = win::WS_CHILD | win::WS_VISIBLE;
constexpr uint32_t kTbsBoth = 0x0008;
constexpr uint32_t kPageStyle = win::WS_CHILD | win::WS_SYSMENU | win::DS_SETFONT;

win::ControlTemplate Control(uint16_t id, std::u16string_view cls, std::u16string_view text,
                             uint32_t style, win::Rect dlu) {
    return win::ControlTemplate{id, std::u16string(cls), std::u16string(text), style, dlu};
}
win::ControlTemplate Push(uint16_t id, std::u16string_view text, win::Rect dlu) {
    return Control(id, win::WC_BUTTON, text, kChild | win::WS_TABSTOP | win::BS_PUSHBUTTON, dlu);
}
win::ControlTemplate HiddenPush(uint16_t id, std::u16string_view text, win::Rect dlu) {
    return Control(id, win::WC_BUTTON, text, win::WS_CHILD | win::WS_TABSTOP | win::BS_PUSHBUTTON,
                   dlu);
}
win::ControlTemplate Group(std::u16string_view text, win::Rect dlu, bool visible = true) {
    return Control(IDC_STATIC, win::WC_BUTTON, text,
                   (visible ? kChild : win::WS_CHILD) | win::BS_GROUPBOX, dlu);
}
win::ControlTemplate Label(uint16_t id, std::u16string_view text, win::Rect dlu,
                           uint32_t align = win::SS_LEFT) {
    return Control(id, win::WC_STATIC, text, kChild | align, dlu);
}
win::ControlTemplate Slider(uint16_t id, win::Rect dlu) {
    return Control(id, win::TRACKBAR_CLASS, u"",
                   kChild | win::WS_TABSTOP | kTbsBoth | win::TBS_NOTICKS, dlu);
}
win::ControlTemplate DropList(uint16_t id, win::Rect dlu) {
    return Control(id, win::WC_COMBOBOX, u"",
                   kChild | win::WS_TABSTOP | win::WS_VSCROLL | win::CBS_DROPDOWNLIST, dlu);
}

win::DialogTemplate Page(int id, int width, int height, std::vector<win::ControlTemplate> controls,
                         uint32_t style = kPageStyle) {
    win::DialogTemplate tpl;
    tpl.id = id;
    tpl.fontFace = u"Microsoft Sans Serif";
    tpl.fontPointSize = 10;
    tpl.style = style;
    tpl.widthDlu = width;
    tpl.heightDlu = height;
    tpl.controls = std::move(controls);
    return tpl;
}

} // namespace

win::DialogTemplate MainDialogTemplate() {
    win::DialogTemplate tpl =
        Page(IDD_V5520DEMO_DIALOG, 127, 119,
             {Control(IDC_TAB, win::WC_TABCONTROL, u"", kChild | win::TCS_BOTTOM,
                      win::DluRect(0, 0, 129, 119))},
             win::WS_POPUP | win::WS_VISIBLE | win::WS_CAPTION | win::WS_SYSMENU |
                 win::DS_MODALFRAME | win::DS_SETFONT);
    tpl.caption = u"V5520Demo";
    tpl.exStyle = win::WS_EX_CAPTIONOKBTN | win::WS_EX_APPWINDOW;
    return tpl;
}

win::DialogTemplate SystemPageTemplate() {
    return Page(IDD_DLG_SYSTEM, 146, 106,
                {
                    Push(IDC_BTN_SHUTDOWN, u"Shutdown", win::DluRect(8, 12, 50, 14)),
                    Push(IDC_BTN_REBOOT, u"Reboot", win::DluRect(66, 12, 50, 14)),
                    Push(IDC_BTN_RECOVER, u"Recover", win::DluRect(9, 81, 50, 14)),
                    Label(IDC_STATIC_BATTERY, u"", win::DluRect(16, 46, 91, 18)),
                    Group(u"System Function", win::DluRect(3, 0, 121, 33)),
                    Group(u"Battery", win::DluRect(3, 34, 121, 35)),
                    Group(u"Recover Registry", win::DluRect(3, 71, 119, 28)),
                });
}

win::DialogTemplate InfoPageTemplate() {
    return Page(IDD_DLG_INFO, 130, 96,
                {
                    Label(IDC_STATIC_INFO, u"", win::DluRect(8, 13, 113, 78)),
                    Group(u"Device Information", win::DluRect(2, 0, 122, 94)),
                });
}

win::DialogTemplate UsbPageTemplate() {
    const uint32_t radio = kChild | win::WS_TABSTOP | win::BS_AUTORADIOBUTTON;
    return Page(IDD_DLG_USB, 142, 93,
                {
                    Control(IDC_RADIO_MASSSTORAGE, win::WC_BUTTON, u"massstorage",
                            radio | win::WS_GROUP, win::DluRect(10, 14, 56, 10)),
                    Control(IDC_RADIO_ACTIVESYNC, win::WC_BUTTON, u"activesync", radio,
                            win::DluRect(70, 14, 48, 10)),
                    Group(u"USB Setting", win::DluRect(4, 1, 121, 33)),
                });
}

win::DialogTemplate SwitchPageTemplate() {
    return Page(IDD_DLG_SWITCH, 145, 104,
                {
                    Push(IDC_BTN_BT, u"BT(On)", win::DluRect(36, 29, 50, 19)),
                    Group(u"BT Power Control", win::DluRect(4, 10, 121, 55)),
                });
}

win::DialogTemplate NotificationTemplate() {
    return Page(
        IDD_DLG_NOTIFICATION, 136, 103,
        {
            HiddenPush(IDC_BTN_NOTIFY_SHUTDOWN, u"shutdown", win::DluRect(13, 11, 50, 14)),
            HiddenPush(IDC_BTN_NOTIFY_CANCEL, u"cancel", win::DluRect(70, 11, 50, 14)),
            HiddenPush(IDC_BTN_NOTIFY_MASSSTORAGE, u"massstorage", win::DluRect(13, 62, 50, 14)),
            HiddenPush(IDC_BTN_NOTIFY_CHARGING, u"charging", win::DluRect(70, 62, 50, 14)),
        },
        win::WS_POPUP | win::WS_SYSMENU | win::DS_SETFONT);
}

win::DialogTemplate SensorPageTemplate() {
    return Page(IDD_DLG_SENSOR, 227, 105,
                {
                    Label(IDC_STATIC_LABELS, u"", win::DluRect(100, 0, 92, 86)),
                    Label(IDC_STATIC_ALTITUDE, u"", win::DluRect(150, 18, 70, 15)),
                    Label(IDC_STATIC_TEMPERATURE, u"", win::DluRect(149, 46, 78, 22)),
                    Label(IDC_STATIC_PRESSURE, u"", win::DluRect(148, 83, 53, 22)),
                    Label(IDC_STATIC_AZIMUTH, u"", win::DluRect(149, 78, 72, 27)),
                    Label(IDC_STATIC_CAL_STATUS, u"", win::DluRect(8, 79, 105, 8)),
                    Push(IDC_BTN_ADJUST, u"Adjust", win::DluRect(89, 91, 28, 9)),
                    Control(IDC_PROGRESS_CAL, win::PROGRESS_CLASS, u"", kChild | win::WS_BORDER,
                            win::DluRect(8, 92, 79, 7)),
                    Group(u"Sensor", win::DluRect(5, 0, 114, 71)),
                    Group(u"Adjust", win::DluRect(6, 70, 113, 33)),
                });
}

win::DialogTemplate GSensorPageTemplate() {
    return Page(IDD_DLG_GSENSOR, 231, 103,
                {
                    Label(IDC_STATIC_POSITION, u"Position(x,y,z):", win::DluRect(10, 18, 80, 23)),
                    Group(u"G-Sensor", win::DluRect(5, 6, 101, 41)),
                });
}

win::DialogTemplate BklPageTemplate() {
    return Page(IDD_DLG_BKL, 144, 104,
                {
                    Slider(IDC_SLIDER_BACKLIGHT, win::DluRect(15, 21, 94, 15)),
                    Label(IDC_STATIC_LEVEL, u"", win::DluRect(68, 13, 22, 8)),
                    Label(IDC_STATIC, u"Backlight:", win::DluRect(14, 13, 46, 8), win::SS_RIGHT),
                    Group(u"Adjust Backlight", win::DluRect(2, 0, 121, 45)),
                    Control(IDC_COMBO_SLEEP, win::WC_COMBOBOX, u"",
                            kChild | win::WS_TABSTOP | win::WS_VSCROLL | win::CBS_DROPDOWN,
                            win::DluRect(9, 55, 52, 45)),
                    Push(IDC_BTN_SET_SLEEP, u"Set", win::DluRect(70, 53, 40, 15)),
                    Group(u"Sleep Time", win::DluRect(2, 45, 121, 27)),
                    Push(IDC_BTN_SCREEN_OFF, u"TurnOff(Auto turn on after 2s)",
                         win::DluRect(10, 82, 104, 15)),
                    Group(u"Screen ON/OFF", win::DluRect(2, 72, 121, 31)),
                });
}

win::DialogTemplate VolPageTemplate() {
    return Page(IDD_DLG_VOL, 130, 98,
                {
                    Slider(IDC_SLIDER_LEVEL, win::DluRect(5, 8, 66, 15)),
                    Label(IDC_STATIC, u"level:", win::DluRect(72, 11, 17, 8)),
                    Label(IDC_STATIC_LEVEL_VALUE, u"1", win::DluRect(96, 11, 17, 8)),
                    Slider(IDC_SLIDER_SCALE, win::DluRect(5, 26, 66, 15)),
                    Label(IDC_STATIC, u"Scale:", win::DluRect(72, 26, 20, 8)),
                    Label(IDC_STATIC_SCALE_VALUE, u"0", win::DluRect(96, 26, 20, 8)),
                    Label(IDC_STATIC, u"BeepDur", win::DluRect(9, 46, 30, 8)),
                    DropList(IDC_COMBO_BEEP_DURATION, win::DluRect(43, 43, 36, 99)),
                    Label(IDC_STATIC, u"BeepCnt", win::DluRect(9, 61, 30, 8)),
                    DropList(IDC_COMBO_BEEP_COUNT, win::DluRect(43, 57, 36, 99)),
                    Label(IDC_STATIC, u"PauseDur", win::DluRect(9, 73, 30, 8)),
                    DropList(IDC_COMBO_PAUSE_DURATION, win::DluRect(43, 71, 36, 99)),
                    Push(IDC_BTN_PLAY, u"PLAY", win::DluRect(83, 45, 29, 14)),
                    Push(IDC_BTN_STOP, u"STOP", win::DluRect(83, 66, 29, 14)),
                    Group(u"Buzzer", win::DluRect(1, 1, 120, 91)),
                });
}

win::DialogTemplate KeyPageTemplate() {
    return Page(IDD_DLG_KEY, 142, 90,
                {
                    Push(IDC_BTN_KEY_BACK, u"back", win::DluRect(7, 13, 26, 15)),
                    Push(IDC_BTN_KEY_OK, u"ok", win::DluRect(36, 13, 26, 15)),
                    Push(IDC_BTN_KEY_UP, u"up", win::DluRect(65, 13, 26, 15)),
                    Push(IDC_BTN_KEY_DOWN, u"down", win::DluRect(95, 13, 26, 15)),
                    Group(u"Hardware Key", win::DluRect(2, 0, 124, 40)),
                    HiddenPush(IDC_BTN_LONG_BACK, u"back", win::DluRect(8, 58, 27, 15)),
                    HiddenPush(IDC_BTN_LONG_UP, u"up", win::DluRect(37, 58, 26, 15)),
                    HiddenPush(IDC_BTN_LONG_DOWN, u"down", win::DluRect(65, 58, 27, 15)),
                    Group(u"Key_Long pressed", win::DluRect(4, 47, 122, 34), false),
                });
}

} // namespace devtest
