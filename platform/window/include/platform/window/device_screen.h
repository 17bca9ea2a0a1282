#pragma once
// What the device's hardware does to the device screen, drawn on a desktop so
// that a person sees what the device would show: the screen switched off or
// the device suspended (dark), the backlight level (dimmed), the buzzer
// sounding (a small marker in the top right corner). And the device's keypad:
// its keys reach the focused window of this program as the keypad driver
// delivers them.

#include <platform/system/device_display.h>

#include <functional>

namespace hh::win {

/// How the device screen draws a display state.
struct DisplayEffect {
    bool dark = false;
    /// Opacity (0 to 255) of the black laid over the screen for the backlight level.
    int dimAlpha = 0;
    bool buzzerMarker = false;
    friend bool operator==(const DisplayEffect&, const DisplayEffect&) = default;
};

/// The effect of a state: dark while off or suspended; level 100 (or more)
/// undimmed, level 0 dimmed to 200 of 255.
DisplayEffect EffectFor(const sys::DisplayState& state);

/// From now on the device screen (HANDHELD_SCREEN) follows the drivers'
/// display state: at once for changes made in this process (drawn before the
/// call returns when made on the UI thread, so a screen switched off during a
/// blocking wait is dark meanwhile), and within a quarter of a second for
/// changes other processes make. Nothing is drawn on the host screen. Call it
/// after the Application is made; it lasts as long as the Application.
void FollowDeviceDisplay();
/// The effect the device screen shows now (default while not following).
DisplayEffect ShownDisplayEffect();

/// Delivers a key of the device's keypad (0xC1 to 0xC4 for back, up, down and
/// ok) to the focused window of this program, as a key press or release
/// passing through the dialogs' pre-translation. From any thread; keys arrive
/// in the order posted.
void PostHardwareKey(int virtualKey, bool pressed);

/// Runs fn on the UI thread each time this program becomes the active
/// application on the host (the user clicked into its window).
void OnProgramActivated(std::function<void()> fn);

} // namespace hh::win
