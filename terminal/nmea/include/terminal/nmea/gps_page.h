#pragma once
// What the GPS page shows for one parsed chunk, worked out without a window:
// field values, the position and time texts, the bar geometry and the walk
// that puts the satellites of the GSV records on the twelve signal pillars.
// The page paints the result; nothing here draws.

#include "terminal/nmea/nmea.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace terminal::nmea {

/// Number of signal pillars on the page.
inline constexpr int32_t kPillars = 12;

/// Decimal value of a field text as the page reads it: leading blanks, an
/// optional sign, then digits up to the first other character; empty or no
/// digits gives 0; values beyond 32 bits saturate.
int32_t FieldValue(const char16_t* text);

/// The latitude label: hemisphere, then the text with "°" at position 3 and
/// "'" appended ("N4807.0380" -> "N48°07.0380'"). A 0 hemisphere adds nothing.
std::u16string FormatLatitude(char16_t hemisphere, const char16_t* latitude);

/// The longitude label: hemisphere, then the text with "°" two characters
/// before the first "." and "'" appended ("E01131.0000" -> "E011°31.0000'").
/// Without a "." the "°" goes to the front.
std::u16string FormatLongitude(char16_t hemisphere, const char16_t* longitude);

/// The time label: the first 6 characters of the time with ":" inserted at
/// positions 2 and 5, a blank and the date ("081836.00", "130998" ->
/// "08:18:36 130998").
std::u16string FormatTimeDate(const char16_t* time, const char16_t* date);

/// First row of a pillar's bar: h * (60 - snr) / 60 truncated toward zero,
/// kept within [0, h] so that SNR 60 and above fill the pillar and SNR 0 or
/// below leaves no bar.
int32_t BarTop(int32_t height, int32_t snr);

/// How a pillar is painted after a chunk.
enum class PillarPaint {
    Untouched, ///< beyond this chunk's satellites: keeps its last drawing
    NoFix,     ///< grey bar: no fix, or the satellite is not in the used list
    Fix2D,     ///< light yellow bar: used in a 2D fix
    Fix3D,     ///< red bar: used in a 3D fix
    NoBar,     ///< background and SNR text only
};

/// One pillar of the walk. Text views point into the NmeaState walked.
struct PillarDraw {
    PillarPaint paint = PillarPaint::Untouched;
    std::u16string_view prn; ///< the PRN label under the pillar
    std::u16string_view snr; ///< the SNR text drawn at the pillar's top
    int32_t barTop = 0;      ///< the bar fills rows barTop to the pillar's bottom
};

/// Everything the page sets for one chunk. Labels not set keep what ClearLabels
/// left; text views point into the NmeaState walked.
struct PillarWalk {
    std::array<PillarDraw, kPillars> pillars{};
    int32_t drawn = 0;          ///< pillars 0 .. drawn-1 were painted
    int32_t fix = 0;            ///< GSA fix type value once a pillar was drawn, else 0
    bool stopTtff = false;      ///< a satellite was drawn with a 2D or 3D fix
    bool setStatus = false;     ///< at least one pillar drawn: the labels below apply
    std::u16string_view inView; ///< "View" label: GSV record 0's satellites in view
    std::u16string_view used;   ///< "Use" label: GGA satellites used
    std::u16string_view pdop, hdop, vdop;
    bool setPosition = false; ///< fix 2 or 3: latitude and longitude apply
    std::u16string latitude;
    std::u16string longitude;
    std::u16string timeDate;
    std::u16string_view fixLabel; ///< "NA", "2D", "3D", or empty: leave the label
};

/// Walks the satellites of the GSV records onto the pillars, pillarHeight
/// pixels tall, as the page does for one chunk.
PillarWalk WalkPillars(const NmeaState& nmea, int32_t pillarHeight);

} // namespace terminal::nmea
