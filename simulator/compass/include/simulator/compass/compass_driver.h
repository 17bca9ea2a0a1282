#pragma once
// The simulated electronic compass "ECD1:" with its calibration.
//
// Requests 6000-6013 and 0x01010FC4, with the buffer sizes the library uses:
// 6000 measure (input 4), 6001 power down, 6002 hdoe level (input 4), 6003 arm
// the Hall (XY plane) calibration, 6004 handset formation (input 4), 6005 Hall
// offset (output 6), 6006 Hall data (input 4, output 56), 6007 direction
// (input 48, output 20: signed 16-bit azimuth first), 6008 debug information
// (output 16), 6009 acceleration offset (output 6), 6010 acceleration data
// (input 4, output 56), 6011 self test (output 4004: UTF-16 text), 6012 arm
// the Side (XZ plane) calibration, 6013 arm the Upright calibration,
// 0x01010FC4 arm the general calibration.
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

#include <platform/system/stream_device.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hh::sim {

inline constexpr uint32_t IOCTL_ECD_MEASURE_SINGLE = 6000;
inline constexpr uint32_t IOCTL_ECD_POWERDOWN = 6001;
inline constexpr uint32_t IOCTL_ECD_CAL_HALL = 6003;
inline constexpr uint32_t IOCTL_ECD_GET_DIRECTION = 6007;
inline constexpr uint32_t IOCTL_ECD_FCT_TEST = 6011;
inline constexpr uint32_t IOCTL_ECD_CAL_SIDE = 6012;
inline constexpr uint32_t IOCTL_ECD_CAL_UPRIGHT = 6013;
inline constexpr uint32_t IOCTL_ECD_CAL_GENERAL = 0x01010FC4;

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
