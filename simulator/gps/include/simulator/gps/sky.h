#pragma once
// What a receiver saw at one moment, as it publishes it in the device state
// for the console's "devctl gps sky", and its text form.

#include "simulator/gps/gps_receiver.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hh::sim {

struct GpsSky {
    std::string receiver;    ///< who published it, e.g. "COM7 (process 4711)"
    int64_t publishedAt = 0; ///< host time of publication, seconds since 1970
    int64_t utc = 0;         ///< the receiver's UTC
    GpsFix fix = GpsFix::None;
    std::vector<GpsSatellite> satellites;
};

/// The sky as text, and back; nullopt for text that is not one.
std::string SerializeGpsSky(const GpsSky& sky);
std::optional<GpsSky> ParseGpsSky(std::string_view text);

} // namespace hh::sim
