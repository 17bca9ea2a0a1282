#pragma once
// Helpers for offscreen tests of dialogs: act like the user (click, select,
// type, press keys), let the UI thread handle what is due, and look at what a
// control shows. Call them on the UI thread (the test's main thread).

#include <platform/system/clock.h>
#include <platform/window/dialog.h>
#include <platform/window/message_box.h>

#include <QImage>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string_view>
#include <thread>

namespace hh::win::testing {

/// Handles every event and posted call that is due now.
void ProcessEvents();
/// Handles events until pred holds or the real-time limit passes; returns pred().
bool ProcessEventsUntil(const std::function<bool()>& pred,
                        std::chrono::milliseconds limit = std::chrono::seconds(5));

/// A mouse click on the control, as the user does it (also toggles auto check boxes).
void Click(Dialog& dialog, int id);
/// Chooses entry index of a combo box as the user does (CBN_SELCHANGE follows).
void SelectComboEntry(Dialog& dialog, int id, int index);
/// Clicks tab index of a tab control (TCN_SELCHANGE follows).
void SelectTab(Dialog& dialog, int id, int index);
/// Gives the control the focus and types the text key by key.
void TypeText(Dialog& dialog, int id, std::u16string_view text);
/// WM_KEYDOWN and WM_KEYUP of a virtual key at the focused window (or the dialog).
void KeyDown(Dialog& dialog, int virtualKey);
void KeyUp(Dialog& dialog, int virtualKey);
void PressKey(Dialog& dialog, int virtualKey);
void PressEnter(Dialog& dialog);
void PressEscape(Dialog& dialog);
/// A key pressed and released on the keyboard: the platform delivers it to the
/// window that has the keyboard focus, as a real keyboard does (Enter, Escape,
/// Tab, Space, Up, Down, letters, digits). False when no window has the focus.
bool PressKeyOnKeyboard(int virtualKey);
/// The caption's OK (or close) button.
void PressCaptionOk(Dialog& dialog);

/// Runs dialog modally with whileOpen queued to run once its loop runs; returns DoModal's result.
std::intptr_t RunModal(Dialog& dialog, std::function<void()> whileOpen);

/// What the control (or the dialog) shows now, rendered offscreen.
QImage Grab(Window& window);
QImage GrabControl(Dialog& dialog, int id);

/// Starts a thread that advances the test clock by step once a thread sleeps
/// on it (for code that sleeps on the UI thread). Join it after the call.
std::thread AdvanceWhenBlocked(hh::sys::TestClock& clock, std::chrono::milliseconds step);

/// Advances the clock and lets the UI thread deliver the timers that fell due.
void AdvanceAndProcess(hh::sys::TestClock& clock, std::chrono::milliseconds step);

} // namespace hh::win::testing
