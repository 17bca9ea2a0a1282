#pragma once
// The device protocol: the stream devices of the handheld, the request codes
// each one answers with the sizes of their buffers, and the kernel's
// requests. The device interface library sends them; a backend (the
// simulated device, later real hardware) answers them. Sizes are in bytes;
// numbers are little-endian; "no buffers" means neither input nor output.

#include <cstdint>
#include <string_view>

namespace hh::protocol {

// Device names as programs open them, and the prefixes drivers register under.

inline constexpr char16_t kBacklightDevice[] = u"BKL1:";
inline constexpr char16_t kPowerDevice[] = u"PWR1:";
inline constexpr char16_t kUsbFunctionDevice[] = u"UFN1:";
inline constexpr char16_t kBluetoothDevice[] = u"ANT1:";
inline constexpr char16_t kCompassDevice[] = u"ECD1:";
inline constexpr char16_t kGSensorDevice[] = u"SMB1:";
inline constexpr char16_t kBarometerDevice[] = u"PSA1:";

inline constexpr std::string_view kBacklightPrefix = "BKL";
inline constexpr std::string_view kPowerPrefix = "PWR";
inline constexpr std::string_view kUsbFunctionPrefix = "UFN";
inline constexpr std::string_view kBluetoothPrefix = "ANT";
inline constexpr std::string_view kCompassPrefix = "ECD";
inline constexpr std::string_view kGSensorPrefix = "SMB";
inline constexpr std::string_view kBarometerPrefix = "PSA";

// "BKL1:", the backlight driver; it also drives the buzzer.

/// Input 4: the level.
inline constexpr uint32_t IOCTL_BKL_SET_LEVEL = 0x00220004;
/// Output 4: the level.
inline constexpr uint32_t IOCTL_BKL_GET_LEVEL = 0x00220008;
/// No buffers.
inline constexpr uint32_t IOCTL_BKL_SCREEN_ON = 0x00010005;
/// No buffers.
inline constexpr uint32_t IOCTL_BKL_SCREEN_OFF = 0x00010006;
/// Input 8: the level (4; 0 silences the buzzer), the scale (1), 3 reserved.
inline constexpr uint32_t IOCTL_BKL_TONE = 0x00000005;

// "PWR1:", the power driver.

/// Input 4: the value 1.
inline constexpr uint32_t IOCTL_POWER_PREPARE_SUSPEND = 3;
/// No buffers: the registry is restored at the next restart.
inline constexpr uint32_t IOCTL_POWER_RESTORE_REGISTRY = 4;
/// Output 4: the USB adapter status word.
inline constexpr uint32_t IOCTL_POWER_USB_ADAPTER = 5;
/// Output 2: the compass calibration's samples so far.
inline constexpr uint32_t IOCTL_POWER_SAMPLE_COUNT = 6;
/// Input 4: the value 1.
inline constexpr uint32_t IOCTL_POWER_PREPARE_RESTART = 7;
/// Output 16 (at least): the storage card's CID.
inline constexpr uint32_t IOCTL_POWER_CARD_ID = 10;
/// Input 4: the recover flag, kept across restarts.
inline constexpr uint32_t IOCTL_POWER_WRITE_RECOVER_FLAG = 11;
/// Output 4: the recover flag.
inline constexpr uint32_t IOCTL_POWER_READ_RECOVER_FLAG = 12;

/// The recover flag's value once a recovery is asked for, and what the
/// restart turns it into.
inline constexpr uint32_t kRecoverRequested = 100;
inline constexpr uint32_t kRecoverPending = 101;

// "UFN1:", the USB function controller.

/// Output 756: the client's name (128 UTF-16 characters) and description (250).
inline constexpr uint32_t IOCTL_UFN_GET_CURRENT_CLIENT = 0x0022000C;
/// Input 256: the client's name, "Serial_Class" or "Mass_Storage_Class", in UTF-16.
inline constexpr uint32_t IOCTL_UFN_CHANGE_CURRENT_CLIENT = 0x00220010;
inline constexpr uint32_t kUfnClientInfoSize = 756;
inline constexpr uint32_t kUfnClientNameSize = 256;

// "ANT1:", the Bluetooth power driver.

/// Input 4: non-zero switches the radio on.
inline constexpr uint32_t IOCTL_ANT_SET_POWER = 1000;

// "ECD1:", the electronic compass.

/// Input 4: the value 100.
inline constexpr uint32_t IOCTL_ECD_MEASURE_SINGLE = 6000;
/// No buffers.
inline constexpr uint32_t IOCTL_ECD_POWERDOWN = 6001;
/// Input 4: the level 0.
inline constexpr uint32_t IOCTL_ECD_HDOE_LEVEL = 6002;
/// No buffers: arms the Hall (XY plane) calibration.
inline constexpr uint32_t IOCTL_ECD_CAL_HALL = 6003;
/// Input 4: the formation 0.
inline constexpr uint32_t IOCTL_ECD_HANDSET_FORMATION = 6004;
/// Output 6.
inline constexpr uint32_t IOCTL_ECD_GET_HOFFSET = 6005;
/// Input 4, output 56.
inline constexpr uint32_t IOCTL_ECD_GET_HDATA = 6006;
/// Input 48 (the direction parameters), output 20: the signed 16-bit azimuth first.
inline constexpr uint32_t IOCTL_ECD_GET_DIRECTION = 6007;
/// Output 16.
inline constexpr uint32_t IOCTL_ECD_GET_DEBUG_INFO = 6008;
/// Output 6.
inline constexpr uint32_t IOCTL_ECD_GET_AOFFSET = 6009;
/// Input 4, output 56.
inline constexpr uint32_t IOCTL_ECD_GET_ADATA = 6010;
/// Output 4004: a NUL-terminated UTF-16 text.
inline constexpr uint32_t IOCTL_ECD_FCT_TEST = 6011;
/// No buffers: arms the Side (XZ plane) calibration.
inline constexpr uint32_t IOCTL_ECD_CAL_SIDE = 6012;
/// No buffers: arms the Upright calibration.
inline constexpr uint32_t IOCTL_ECD_CAL_UPRIGHT = 6013;
/// No buffers: arms the general calibration.
inline constexpr uint32_t IOCTL_ECD_CAL_GENERAL = 0x01010FC4;

// "SMB1:", the G-sensor.

/// Output 6: signed 16-bit X, Y, Z.
inline constexpr uint32_t IOCTL_SMB_GET_POSITION = 0x01012F8C;

// "PSA1:", the barometric sensor; every value is 4 bytes, signed except the
// pressure given to the driver.

/// Output: the altitude in metres.
inline constexpr uint32_t IOCTL_PSA_GET_ALTITUDE = 2000;
/// Output: the pressure in hundredths of a millibar.
inline constexpr uint32_t IOCTL_PSA_GET_PRESSURE = 2001;
/// Output: the temperature in tenths of a degree Celsius.
inline constexpr uint32_t IOCTL_PSA_GET_TEMPERATURE = 2002;
/// Input: the current altitude.
inline constexpr uint32_t IOCTL_PSA_SET_ALTITUDE = 2003;
/// Input: the current pressure (unsigned).
inline constexpr uint32_t IOCTL_PSA_SET_PRESSURE = 2004;

// The kernel's requests (KernelIoControl).

/// Input 4: a selector (kOsVersionSelector); output: the answer.
inline constexpr uint32_t IOCTL_HAL_GET_DEVICE_INFO = 0x01010004;
/// Output 16: the device identifier.
inline constexpr uint32_t IOCTL_HAL_GET_UUID = 0x01010034;
/// No buffers: restarts the device; on success the call does not come back.
inline constexpr uint32_t IOCTL_HAL_REBOOT = 0x0101003C;
/// IOCTL_HAL_GET_DEVICE_INFO's selector for the OS version: a NUL-terminated
/// UTF-16 text with "&" between its parts, up to the output's size.
inline constexpr uint32_t kOsVersionSelector = 358;

} // namespace hh::protocol
