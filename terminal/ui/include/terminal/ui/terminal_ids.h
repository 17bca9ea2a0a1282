#pragma once
// Template 102 of the terminal window: its control ids and timers.

#include <platform/window/dialog_template.h>

#include <cstdint>

namespace terminal {

inline constexpr int IDD_TERMINAL = 102;
/// The program's icon (its window's large and small icon).
inline constexpr int IDR_MAINFRAME = 128;

inline constexpr int IDC_EDIT_RECEIVE = 1000;
inline constexpr int IDC_BTN_SAVE = 1001;
inline constexpr int IDC_BTN_CLEAR = 1002;
inline constexpr int IDC_COMBO_COM = 1003;
inline constexpr int IDC_COMBO_BAUD = 1004;
inline constexpr int IDC_COMBO_BYTESIZE = 1005;
inline constexpr int IDC_COMBO_STOPBITS = 1006;
inline constexpr int IDC_EDIT_SEND = 1007;
inline constexpr int IDC_BTN_SEND = 1008;
inline constexpr int IDC_BTN_OPEN = 1009;
inline constexpr int IDC_BTN_KEYBOARD = 1010;
inline constexpr int IDC_COMBO_PARITY = 1011;
inline constexpr int IDC_BTN_TASKBAR = 1012;
inline constexpr int IDC_TAB = 1013;
inline constexpr int IDC_BTN_EX = 1014;
inline constexpr int IDC_CHK_AUTO = 1016;
inline constexpr int IDC_CHK_END = 1017;
inline constexpr int IDC_EDIT_PERIOD = 1018;
inline constexpr int IDC_LABEL_COM = 1019;
inline constexpr int IDC_LABEL_BAUD = 1020;
inline constexpr int IDC_LABEL_PARITY = 1021;
inline constexpr int IDC_LABEL_BYTESIZE = 1022;
inline constexpr int IDC_LABEL_STOPBITS = 1023;
inline constexpr int IDC_LABEL_MS = 1024;
inline constexpr int IDC_CHK_ESC = 1025;
inline constexpr int IDC_CHK_CRLF = 1026;
inline constexpr int IDC_RX_COUNT = 1029;
inline constexpr int IDC_LABEL_R = 1030;
inline constexpr int IDC_LABEL_W = 1031;
inline constexpr int IDC_TX_COUNT = 1032;
inline constexpr int IDC_CHK_LOGALL = 1033;
inline constexpr int IDC_CHK_HEX = 1070;
inline constexpr int IDC_BTN_CLEAR_SEND = 1073;
inline constexpr int IDC_COMBO_PRESET = 1074;
inline constexpr int IDC_BTN_SEND_HEX = 1075;

/// Sends the auto-send text once per period while Auto is ticked.
inline constexpr std::uintptr_t TIMER_AUTOSEND = 2;
/// Enables the open/close button again after an open or a close.
inline constexpr std::uintptr_t TIMER_OPENBUTTON = 5;
inline constexpr std::uint32_t kOpenButtonLockMs = 1000;

/// The window title without and with an open port.
inline constexpr char16_t kTerminalTitle[] = u"VARDI 1.7I";

/// Template 102: caption "VARDI", 8 point "MS Shell Dlg", a popup with caption
/// and system menu whose caption OK button closes it. The control positions
/// are placeholders: start-up lays every control out from the client size.
hh::win::DialogTemplate TerminalTemplate();

} // namespace terminal
