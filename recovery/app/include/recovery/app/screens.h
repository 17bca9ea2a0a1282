#pragma once
// What the recovery screens show and where their controls stand, as plain
// arithmetic and text (no window needed).

#include <cstdint>
#include <string>

namespace recovery {

/// Where a control stands, in client pixels.
struct Placement {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Placement&) const = default;
};

/// Positions of the dialog's controls for a client area of width x height.
struct ScreenLayout {
    Placement progress;
    Placement no;
    Placement yes;
};

/// The progress bar across the lower half, NO on the left and YES on the
/// right, 30 pixels apart with 30-pixel margins.
ScreenLayout LayoutFor(int width, int height, int progressHeight);

/// Where the confirmation warning is centred: from y 80, or from the title's
/// bottom when its wrapped lines reach further, down to the buttons' top, so
/// that the buttons never cover it.
Placement WarningBand(int width, int height, int titleBottom);

/// "Recovering...." before anything is counted, else "Recovering Marolt...N%"
/// with N = copied * 100 / total, truncated (computed in 64 bits).
std::u16string ProgressText(uint32_t copied, uint32_t total);
/// "Restart in N s".
std::u16string CountdownText(int32_t seconds);
/// "Recover failed(N)!Press OK to reboot." (N printed as a signed number).
std::u16string RecoverFailedText(uint32_t error);
/// "Recover flag failed(N),nothing was changed."
std::u16string FlagFailedText(uint32_t error);

} // namespace recovery
