#pragma once
// The sample image of a new device: what a fresh device root holds so that
// every program has something to work on at its first start.

#include <string>

namespace hh::sys {

/// Creates a missing device root and its state folder, and provisions the
/// sample image into a root that holds nothing else yet: the registry values
/// a device has from its making (the compass calibrations' sample counts
/// "Calibration_Horizontal" 200 and "Calibration_Vertical" 100 under
/// HKEY_LOCAL_MACHINE "Drivers\BuiltIn\Compass"), the volumes
/// \ResidentFlash and \SDMMC, \Windows with autorun.inf and Vekta.ico, the
/// program folders, the recovery tool's Path.xml with its source tree, and
/// the navigation program's user data. A root that already holds anything is
/// left as it is and nothing is ever overwritten: neither a file nor a
/// registry value that is there. False with a message for the user in
/// `error` when the root cannot be created or filled.
bool PrepareDeviceRoot(std::string& error);

} // namespace hh::sys
