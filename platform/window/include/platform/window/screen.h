#pragma once
// The device screen. HANDHELD_SCREEN=WxH (for example 480x272) makes it a
// screen of that size drawn as one window on the desktop, with every window
// without parent inside it; otherwise the host screen is the device screen.
// Display orientation 90 (or 270) swaps width and height and the windows that
// covered the screen follow. The task bar "HHTaskBar" is a 25-pixel strip at
// the bottom of the screen while shown; the work area is kept as set.

#include <platform/window/win_types.h>

#include <cstdint>
#include <string_view>

namespace hh::win {

class Window;

/// The screen's variable for the --help of a program that opens windows, in
/// the columns of its environment section.
inline constexpr std::string_view kDeviceScreenHelp =
    "  HANDHELD_SCREEN               WxH: the device screen the window fills (e.g.\n"
    "                                480x272)\n";

/// Height of the task bar strip in pixels.
inline constexpr int kTaskBarHeight = 25;

/// GetSystemMetrics: SM_CXSCREEN, SM_CYSCREEN, SM_CYCAPTION; 0 for others.
int GetSystemMetrics(int index);

/// SystemParametersInfo for SPI_SETWORKAREA (pvParam: const Rect*) and
/// SPI_GETWORKAREA (pvParam: Rect*); false for other actions or a null pointer.
bool SystemParametersInfo(std::uint32_t action, std::uint32_t uiParam, void* pvParam,
                          std::uint32_t winIni);
Rect GetWorkArea();

/// FindWindow by class name ("HHTaskBar") and, when given, window text.
Window* FindWindow(std::u16string_view className, std::u16string_view windowName = {});

/// ShowWindow for any window (a null window gives false).
bool ShowWindow(Window* window, int command);

/// The software input panel: SIPF_ON shows the on-screen keyboard, SIPF_OFF hides it.
bool SipShowIM(std::uint32_t flags);
bool IsInputPanelVisible();

/// The part of DEVMODE the display settings use.
struct DevMode {
    std::uint16_t dmSize = sizeof(DevMode);
    std::uint32_t dmFields = 0;
    std::uint32_t dmDisplayOrientation = 0;
    std::uint32_t dmPelsWidth = 0;
    std::uint32_t dmPelsHeight = 0;
};

/// ChangeDisplaySettingsEx for the orientation: DM_DISPLAYQUERYORIENTATION with
/// CDS_TEST gives the supported orientations (DMDO_0 | DMDO_90 | DMDO_180 |
/// DMDO_270) in dmDisplayOrientation; DM_DISPLAYORIENTATION with CDS_TEST reads
/// the current one, with CDS_RESET or 0 sets it. Returns DISP_CHANGE_SUCCESSFUL
/// or a DISP_CHANGE_ failure.
long ChangeDisplaySettingsEx(const char16_t* deviceName, DevMode* mode, void* window,
                             std::uint32_t flags, void* param);

/// The current orientation (DMDO_0, DMDO_90, ...).
std::uint32_t DisplayOrientation();

/// Reads a HANDHELD_SCREEN value "WxH" (for example "480x272"); false for
/// anything else (the host screen is used then).
bool ParseScreenSize(std::string_view text, int* width, int* height);

} // namespace hh::win
