#pragma once
// ShowTaskBar: shows or hides the platform's task bar window "HHTaskBar", sets
// the work area and moves the calling dialog over the whole screen. Used by the
// terminal (hide at start, toggle with "tkbar", show at the end) and the
// recovery tool (hide at start).

#include <platform/window/dialog.h>

/// 1. ShowWindow(showCommand) on the window of class "HHTaskBar", if there is one;
/// 2. reads the screen size; 3. sets the work area to 0, 0, screen width,
/// screen height + heightChange; 4. sleeps 100 ms on the platform clock;
/// 5. moves the dialog to 0, 0 with the full screen size (also when the bar shows).
void ShowTaskBar(hh::win::Dialog& dialog, int showCommand, int heightChange);
