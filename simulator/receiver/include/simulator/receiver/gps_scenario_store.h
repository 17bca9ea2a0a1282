#pragma once
// The GPS scenario and the published sky in the device state, shared by every
// process of the device root: the device console changes the scenario, the
// receivers (the terminal's COM7, devctl gps serve) follow it and publish
// what they see.
//
// The scenario is one text value ("gps.scenario", scenario.h) with a change
// count ("gps.revision") that a receiver reads once a burst, loading the
// scenario only when the count moved. Changes are read-modify-write steps in
// one transaction, so that two consoles changing the scenario at once lose
// neither change.

#include "simulator/gps/gps_receiver.h"
#include "simulator/gps/scenario.h"
#include "simulator/gps/sky.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace hh::sim {

/// The scenario stored (the defaults while none is); nullopt with the last
/// error set when the store cannot be read or holds a damaged scenario
/// (ERROR_FILE_CORRUPT).
std::optional<GpsScenario> LoadGpsScenario();
/// The change count; false with the last error set when unreadable.
bool GpsScenarioRevision(int64_t& revision);
/// Reads, changes and stores the scenario in one transaction and counts the
/// change; nothing is stored when change returns false or the store fails.
bool ChangeGpsScenario(const std::function<bool(GpsScenario&)>& change);

/// Stores the sky for the console (receivers do so once a second); false
/// with the last error set.
bool PublishGpsSky(const GpsSky& sky);
/// The last sky published; found false when none was.
bool ReadGpsSky(std::optional<GpsSky>& sky);

} // namespace hh::sim
