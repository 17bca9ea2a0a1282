#pragma once
// The simulated Bluetooth power driver "ANT1:". IOCTL_ANT_SET_POWER switches the radio and keeps
// the value in the registry as "BTPower" under HKEY_LOCAL_MACHINE "Drivers\BuiltIn\ANT", as the
// device's driver does for its own bookkeeping.

#include <platform/protocol/device_protocol.h>
#include <platform/system/stream_device.h>

#include <cstdint>
#include <optional>

namespace hh::sim {

using protocol::IOCTL_ANT_SET_POWER;

/// Stores the value as the driver does; false with the last error set.
bool StoreBluetoothPower(uint32_t value);
/// "BTPower", or nullopt when it is absent or the registry cannot be read.
std::optional<uint32_t> ReadBluetoothPower();

class BluetoothDriver : public sys::StreamDriver {
public:
    std::unique_ptr<sys::StreamDevice> open(const sys::OpenRequest& request) override;
};

} // namespace hh::sim
