#pragma once
// The Linux backend's stream drivers, one file each. A driver opens when the
// machine has its hardware (ERROR_FILE_NOT_FOUND otherwise) and finds the
// hardware again at every request.

#include <platform/system/stream_device.h>

#include <memory>
#include <optional>

namespace hh::hw {

/// "BKL1:": the backlight (/sys/class/backlight) and the buzzer (an evdev beeper).
class BacklightDriver : public sys::StreamDriver {
public:
    std::unique_ptr<sys::StreamDevice> open(const sys::OpenRequest& request) override;
};

/// "PWR1:": the USB supply, the storage card's CID, the recover flag.
class PowerDriver : public sys::StreamDriver {
public:
    std::unique_ptr<sys::StreamDevice> open(const sys::OpenRequest& request) override;
};

/// "UFN1:": the USB function of a configfs gadget.
class UsbFunctionDriver : public sys::StreamDriver {
public:
    std::unique_ptr<sys::StreamDevice> open(const sys::OpenRequest& request) override;
};

/// "ANT1:": the Bluetooth radios' rfkill switches.
class BluetoothDriver : public sys::StreamDriver {
public:
    std::unique_ptr<sys::StreamDevice> open(const sys::OpenRequest& request) override;
};

/// Whether a Bluetooth radio is on (blocked neither by software nor by a
/// switch); nothing, with ERROR_FILE_NOT_FOUND, without a radio.
std::optional<bool> BluetoothRadioOn();
/// Stores the radios' state where GetBTPower reads it, when it differs from
/// what is stored (the registry value "BTPower"). Nothing happens without a
/// radio or when the registry cannot be written.
void MirrorBluetoothPower();

/// "ECD1:": an IIO magnetometer.
class CompassDriver : public sys::StreamDriver {
public:
    std::unique_ptr<sys::StreamDevice> open(const sys::OpenRequest& request) override;
};

/// "SMB1:": an IIO accelerometer.
class GSensorDriver : public sys::StreamDriver {
public:
    std::unique_ptr<sys::StreamDevice> open(const sys::OpenRequest& request) override;
};

/// "PSA1:": an IIO pressure sensor.
class BarometerDriver : public sys::StreamDriver {
public:
    std::unique_ptr<sys::StreamDevice> open(const sys::OpenRequest& request) override;
};

/// The device made for a request, or null with the last error set: only the
/// first instance ("PWR1:") exists, and only while `present` holds.
std::unique_ptr<sys::StreamDevice> OpenedDevice(const sys::OpenRequest& request, bool present,
                                                std::unique_ptr<sys::StreamDevice> device);

} // namespace hh::hw
