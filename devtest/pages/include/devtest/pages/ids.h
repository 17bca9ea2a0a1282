#pragma once
// The resource ids of V5520Demo: dialog templates, controls and the icon.

#include <cstdint>

namespace devtest {

inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDD_V5520DEMO_DIALOG = 102;
inline constexpr int IDD_DLG_VOL = 129;
inline constexpr int IDD_DLG_BKL = 130;
inline constexpr int IDD_DLG_INFO = 131;
inline constexpr int IDD_DLG_SYSTEM = 132;
inline constexpr int IDD_DLG_SENSOR = 136;
inline constexpr int IDD_DLG_KEY = 137;
inline constexpr int IDD_DLG_USB = 138;
inline constexpr int IDD_DLG_SWITCH = 139;
inline constexpr int IDD_DLG_NOTIFICATION = 140;
inline constexpr int IDD_DLG_GSENSOR = 141;

/// Statics and group boxes that no code addresses.
inline constexpr uint16_t IDC_STATIC = 0xFFFF;

// Main dialog.
inline constexpr int IDC_TAB = 1000;

// System page (132).
inline constexpr int IDC_BTN_SHUTDOWN = 1008;
inline constexpr int IDC_BTN_REBOOT = 1009;
inline constexpr int IDC_BTN_RECOVER = 1020;
inline constexpr int IDC_STATIC_BATTERY = 1024;

// DevInfo page (131).
inline constexpr int IDC_STATIC_INFO = 1005;

// USB page (138).
inline constexpr int IDC_RADIO_MASSSTORAGE = 1006;
inline constexpr int IDC_RADIO_ACTIVESYNC = 1007;

// Switch page (139).
inline constexpr int IDC_BTN_BT = 1020;

// Notification window (140).
inline constexpr int IDC_BTN_NOTIFY_SHUTDOWN = 1008;
inline constexpr int IDC_BTN_NOTIFY_CANCEL = 1021;
inline constexpr int IDC_BTN_NOTIFY_MASSSTORAGE = 1009;
inline constexpr int IDC_BTN_NOTIFY_CHARGING = 1022;

// Sensor page (136).
inline constexpr int IDC_STATIC_LABELS = 1011;
inline constexpr int IDC_STATIC_ALTITUDE = 1012;
inline constexpr int IDC_STATIC_TEMPERATURE = 1013;
inline constexpr int IDC_STATIC_PRESSURE = 1014;
inline constexpr int IDC_STATIC_AZIMUTH = 1015;
inline constexpr int IDC_BTN_ADJUST = 1017;
inline constexpr int IDC_STATIC_CAL_STATUS = 1018;
inline constexpr int IDC_PROGRESS_CAL = 1033;

// GSensor page (141).
inline constexpr int IDC_STATIC_POSITION = 1034;

// BKL page (130).
inline constexpr int IDC_SLIDER_BACKLIGHT = 1003;
inline constexpr int IDC_STATIC_LEVEL = 1004;
inline constexpr int IDC_BTN_SET_SLEEP = 1020;
inline constexpr int IDC_COMBO_SLEEP = 1021;
inline constexpr int IDC_BTN_SCREEN_OFF = 1027;

// SPK page (129).
inline constexpr int IDC_BTN_STOP = 1016;
inline constexpr int IDC_BTN_PLAY = 1018;
inline constexpr int IDC_COMBO_BEEP_DURATION = 1026;
inline constexpr int IDC_COMBO_PAUSE_DURATION = 1027;
inline constexpr int IDC_SLIDER_LEVEL = 1028;
inline constexpr int IDC_SLIDER_SCALE = 1029;
inline constexpr int IDC_STATIC_LEVEL_VALUE = 1030;
inline constexpr int IDC_STATIC_SCALE_VALUE = 1031;
inline constexpr int IDC_COMBO_BEEP_COUNT = 1032;

// KEY page (137).
inline constexpr int IDC_BTN_KEY_BACK = 1010;
inline constexpr int IDC_BTN_KEY_UP = 1012;
inline constexpr int IDC_BTN_KEY_DOWN = 1013;
inline constexpr int IDC_BTN_KEY_OK = 1022;
inline constexpr int IDC_BTN_LONG_BACK = 1020;
inline constexpr int IDC_BTN_LONG_UP = 1027;
inline constexpr int IDC_BTN_LONG_DOWN = 1032;

/// The private message that carries a notification code to the UI thread.
inline constexpr uint32_t WM_SHOW_EVENT = 0x0400 + 1;

} // namespace devtest
