#pragma once
// Dilution of precision from the geometry of the satellites a fix uses: the
// least-squares design matrix of unit lines of sight (east, north, up) and a
// receiver clock term, unweighted, as receivers compute it. A 3D fix solves
// for east, north, up and clock; a 2D fix holds the height and solves for
// east, north and clock, so that three satellites suffice.

#include <optional>
#include <span>

namespace hh::sim {

struct SkyDirection {
    double elevation = 0; ///< degrees
    double azimuth = 0;   ///< degrees from true north
};

struct Dop {
    double pdop = 0;
    double hdop = 0;
    double vdop = 0; ///< 0 for a 2D solution, which has no vertical
};

/// The DOPs of a 3D solution (at least four satellites) or, with twoD, of a
/// 2D solution (at least three); nothing when the geometry does not
/// determine the solution (too few satellites, or all on one cone).
std::optional<Dop> ComputeDop(std::span<const SkyDirection> satellites, bool twoD = false);

} // namespace hh::sim
