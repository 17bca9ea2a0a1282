#include "terminal/ui/terminal_ids.h"

namespace terminal {

using namespace hh::win;

namespace {

constexpr std::uint32_t kCheckBox = BS_AUTOCHECKBOX | WS_TABSTOP;
constexpr std::uint32_t kPushButton = BS_PUSHBUTTON | WS_TABSTOP;
constexpr std::uint32_t kLabel = SS_LEFT;
constexpr std::uint32_t kList = CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP;

ControlTemplate Make(int id, const char16_t* cls, const char16_t* text, std::uint32_t style,
                     Rect dlu) {
    return ControlTemplate{static_cast<std::uint16_t>(id), cls, text,
                           WS_CHILD | WS_VISIBLE | style,  dlu, 0};
}

} // namespace

DialogTemplate TerminalTemplate() {
    DialogTemplate tpl;
    tpl.id = IDD_TERMINAL;
    tpl.caption = u"VARDI";
    tpl.fontFace = u"MS Shell Dlg";
    tpl.fontPointSize = 8;
    tpl.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT;
    tpl.exStyle = WS_EX_APPWINDOW | WS_EX_CAPTIONOKBTN;
    tpl.widthDlu = 240;
    tpl.heightDlu = 136;
    // The tab control comes before the receive display so that the display
    // lies above it; start-up replaces every rectangle below.
    tpl.controls = {
        Make(IDC_TAB, WC_TABCONTROL, u"", TCS_BOTTOM | WS_TABSTOP, DluRect(0, 0, 240, 77)),
        Make(IDC_EDIT_RECEIVE, WC_EDIT, u"",
             ES_MULTILINE | ES_AUTOVSCROLL | ES_NOHIDESEL | WS_VSCROLL | WS_BORDER | WS_TABSTOP,
             DluRect(2, 2, 234, 62)),
        Make(IDC_LABEL_COM, WC_STATIC, u"COM", kLabel, DluRect(0, 81, 21, 11)),
        Make(IDC_COMBO_COM, WC_COMBOBOX, u"", CBS_DROPDOWN | CBS_SORT | WS_VSCROLL | WS_TABSTOP,
             DluRect(23, 78, 48, 60)),
        Make(IDC_LABEL_BAUD, WC_STATIC, u"Baud", kLabel, DluRect(0, 93, 21, 11)),
        Make(IDC_COMBO_BAUD, WC_COMBOBOX, u"", kList, DluRect(23, 90, 48, 60)),
        Make(IDC_LABEL_PARITY, WC_STATIC, u"Parity", kLabel, DluRect(0, 106, 21, 11)),
        Make(IDC_COMBO_PARITY, WC_COMBOBOX, u"", kList, DluRect(23, 103, 48, 60)),
        Make(IDC_LABEL_BYTESIZE, WC_STATIC, u"ByteSize", kLabel, DluRect(71, 81, 33, 11)),
        Make(IDC_COMBO_BYTESIZE, WC_COMBOBOX, u"", kList, DluRect(105, 78, 34, 60)),
        Make(IDC_LABEL_STOPBITS, WC_STATIC, u"StopBits", kLabel, DluRect(71, 93, 33, 11)),
        Make(IDC_COMBO_STOPBITS, WC_COMBOBOX, u"", kList, DluRect(105, 90, 34, 60)),
        Make(IDC_BTN_OPEN, WC_BUTTON, u"open", kPushButton, DluRect(147, 78, 29, 12)),
        Make(IDC_BTN_CLEAR, WC_BUTTON, u"clear", kPushButton, DluRect(176, 78, 29, 12)),
        Make(IDC_BTN_KEYBOARD, WC_BUTTON, u"keybd", kPushButton, DluRect(205, 78, 29, 12)),
        Make(IDC_BTN_EX, WC_BUTTON, u"EX", kPushButton, DluRect(147, 90, 29, 12)),
        Make(IDC_BTN_TASKBAR, WC_BUTTON, u"tkbar", kPushButton, DluRect(176, 90, 29, 12)),
        Make(IDC_BTN_SAVE, WC_BUTTON, u"save", kPushButton, DluRect(205, 90, 29, 12)),
        Make(IDC_LABEL_R, WC_STATIC, u"R:", kLabel, DluRect(147, 102, 14, 12)),
        Make(IDC_RX_COUNT, WC_STATIC, u"0", kLabel, DluRect(161, 102, 29, 12)),
        Make(IDC_LABEL_W, WC_STATIC, u"W:", kLabel, DluRect(193, 102, 14, 12)),
        Make(IDC_TX_COUNT, WC_STATIC, u"0", kLabel, DluRect(208, 102, 29, 12)),
        Make(IDC_CHK_LOGALL, WC_BUTTON, u"Log all", kCheckBox, DluRect(71, 106, 48, 11)),
        Make(IDC_CHK_HEX, WC_BUTTON, u"HEX", kCheckBox, DluRect(119, 106, 28, 11)),
        Make(IDC_CHK_AUTO, WC_BUTTON, u"Auto", kCheckBox, DluRect(0, 78, 55, 11)),
        Make(IDC_EDIT_PERIOD, WC_EDIT, u"", ES_NUMBER | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP,
             DluRect(55, 78, 29, 11)),
        Make(IDC_LABEL_MS, WC_STATIC, u"ms", kLabel, DluRect(84, 79, 36, 11)),
        Make(IDC_BTN_SEND, WC_BUTTON, u"SEND", kPushButton, DluRect(0, 90, 29, 12)),
        Make(IDC_EDIT_SEND, WC_EDIT, u"", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP,
             DluRect(31, 90, 67, 12)),
        Make(IDC_BTN_CLEAR_SEND, WC_BUTTON, u"C", kPushButton, DluRect(98, 90, 10, 12)),
        Make(IDC_BTN_SEND_HEX, WC_BUTTON, u"send_Hex", kPushButton, DluRect(108, 90, 30, 12)),
        Make(IDC_CHK_END, WC_BUTTON, u"End(0x1A)", kCheckBox, DluRect(0, 106, 48, 11)),
        Make(IDC_CHK_ESC, WC_BUTTON, u"Esc(0x1B)", kCheckBox, DluRect(48, 106, 48, 11)),
        Make(IDC_CHK_CRLF, WC_BUTTON, u"\\r\\n(0D0A)", kCheckBox, DluRect(96, 106, 48, 11)),
        Make(IDC_COMBO_PRESET, WC_COMBOBOX, u"", kList, DluRect(0, 117, 120, 60)),
    };
    return tpl;
}

} // namespace terminal
