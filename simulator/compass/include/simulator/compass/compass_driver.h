#pragma once
// The simulated electronic compass "ECD1:" with its calibration.
//
// Requests: IOCTL_ECD_* of the device protocol.
//
// Calibration: arming signals "AKSPEC_EVENT_HALL_CAL_PROCESSING" and starts
// counting samples at the configured rate (samples per second of device
// time) towards the phase's registry count under HKEY_LOCAL_MACHINE
// "Drivers\BuiltIn\Compass": "Calibration_Horizontal" for Hall and general,
// "Calibration_Vertical" for Side and Upright (a missing count is stored as
// 200 or 100 first). The power driver reports the count (its request 6). When
// it reaches the target the calibration ends as the console chose
// (CalibrationOutcome), signalling one of the eight named manual-reset events
// "AKSPEC_EVENT_..." from a thread of the driver in the process that armed it;
// "stuck" stops the count at half the target and signals nothing. Powering
// down ends a calibration without an event; the self test signals
// "AKSPEC_EVENT_TEST".

#include <platform/protocol/device_protocol.h>
#include <platform/system/stream_device.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hh::sim {

using protocol::IOCTL_ECD_CAL_GENERAL;
using protocol::IOCTL_ECD_CAL_HALL;
using protocol::IOCTL_ECD_CAL_SIDE;
using protocol::IOCTL_ECD_CAL_UPRIGHT;
using protocol::IOCTL_ECD_FCT_TEST;
using protocol::IOCTL_ECD_GET_ADATA;
using protocol::IOCTL_ECD_GET_AOFFSET;
using protocol::IOCTL_ECD_GET_DEBUG_INFO;
using protocol::IOCTL_ECD_GET_DIRECTION;
using protocol::IOCTL_ECD_GET_HDATA;
using protocol::IOCTL_ECD_GET_HOFFSET;
using protocol::IOCTL_ECD_HANDSET_FORMATION;
using protocol::IOCTL_ECD_HDOE_LEVEL;
using protocol::IOCTL_ECD_MEASURE_SINGLE;
using protocol::IOCTL_ECD_POWERDOWN;

/// The eight calibration events, in their index order.
inline constexpr const char* kCalibrationEvents[8] = {"AKSPEC_EVENT_TEST",
                                                      "AKSPEC_EVENT_HALL_CAL_PROCESSING",
                                                      "AKSPEC_EVENT_HALL_CAL_SUCCESS",
                                                      "AKSPEC_EVENT_SIDE_CAL_SUCCESS",
                                                      "AKSPEC_EVENT_UPRIGHT_CAL_SUCCESS",
                                                      "AKSPEC_EVENT_HALL_CAL_FAILURE",
                                                      "AKSPEC_EVENT_HALL_CAL_STOP",
                                                      "AKSPEC_EVENT_ERROR"};

/// How the next calibrations end: "success", "failure", "error", "stop", "stuck".
/// The readers below give nothing, with the last error set, when the device
/// state cannot be read.
bool IsCalibrationOutcome(std::string_view outcome);
std::optional<std::string> CalibrationOutcome();
bool StoreCalibrationOutcome(std::string_view outcome);

inline constexpr int kDefaultSampleRate = 50;
std::optional<int> CalibrationSampleRate();
/// Samples per second, 1 to 10000; false with ERROR_INVALID_PARAMETER otherwise.
bool StoreCalibrationSampleRate(int samplesPerSecond);

/// The simulated heading in degrees (-32768 to 32767; 0 to 359 in use).
std::optional<int16_t> CompassAzimuth();
bool StoreCompassAzimuth(int16_t degrees);

/// The calibration as the console shows it.
struct CalibrationStatus {
    std::string phase; ///< "none", "hall", "side", "upright", "general"
    bool running = false;
    int target = 0;
    int samples = 0; ///< what request 6 of the power driver reports
};
std::optional<CalibrationStatus> ReadCalibrationStatus();

class CompassDriver : public sys::StreamDriver {
public:
    std::unique_ptr<sys::StreamDevice> open(const sys::OpenRequest& request) override;
};

/// Ends this process's calibration watcher, if one waits (tests call it
/// before their clock goes).
void StopCalibrationWatcher();

} // namespace hh::sim
