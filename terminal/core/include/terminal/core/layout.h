#pragma once
// Where the terminal window puts its controls, computed from the client size.
// Every division is an integer division that drops the remainder.

#include <cstdint>
#include <vector>

namespace terminal {

struct ControlRect {
    uint16_t id;
    int x;
    int y;
    int width;
    int height;
};

/// Stands for the NMEA page in the layout; its rectangle is relative to the tab control.
inline constexpr uint16_t kLayoutNmeaPage = 129;

/// The rectangles of every control of the terminal window for a client area of
/// width w and height h on a screen screenWidth pixels wide.
std::vector<ControlRect> ComputeTerminalLayout(int w, int h, int screenWidth);

} // namespace terminal
