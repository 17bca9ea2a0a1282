#include "simulator/bluetooth/bluetooth_driver.h"

#include <platform/system/registry.h>
#include <simulator/state/driver_support.h>

namespace hh::sim {

namespace {

constexpr const char16_t* kKey = u"Drivers\\BuiltIn\\ANT";
constexpr const char16_t* kValue = u"BTPower";

class BluetoothDevice : public sys::StreamDevice {
public:
    bool ioControl(uint32_t code, std::span<const std::byte> in, std::span<std::byte>,
                   uint32_t*) override {
        if (code != IOCTL_ANT_SET_POWER) {
            return FailWith(sys::ERROR_NOT_SUPPORTED);
        }
        uint32_t value = 0;
        return ReadInput(in, value) && StoreBluetoothPower(value);
    }
};

} // namespace

bool StoreBluetoothPower(uint32_t value) {
    sys::HKEY key = nullptr;
    long error = sys::RegCreateKeyExW(sys::HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0,
                                      sys::KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (error == sys::ERROR_SUCCESS) {
        error = sys::RegSetValueExW(key, kValue, 0, sys::REG_DWORD,
                                    reinterpret_cast<const uint8_t*>(&value), sizeof value);
        sys::RegCloseKey(key);
    }
    return error == sys::ERROR_SUCCESS || FailWith(static_cast<uint32_t>(error));
}

std::optional<uint32_t> ReadBluetoothPower() {
    sys::HKEY key = nullptr;
    if (sys::RegOpenKeyExW(sys::HKEY_LOCAL_MACHINE, kKey, 0, sys::KEY_READ, &key) !=
        sys::ERROR_SUCCESS) {
        return std::nullopt;
    }
    uint32_t value = 0;
    uint32_t size = sizeof value;
    uint32_t type = 0;
    long error = sys::RegQueryValueExW(key, kValue, nullptr, &type,
                                       reinterpret_cast<uint8_t*>(&value), &size);
    sys::RegCloseKey(key);
    if (error != sys::ERROR_SUCCESS || type != sys::REG_DWORD) {
        return std::nullopt;
    }
    return value;
}

std::unique_ptr<sys::StreamDevice> BluetoothDriver::open(const sys::OpenRequest& request) {
    if (request.index != 1) {
        FailWith(sys::ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    if (!DriverAvailable("ANT1")) {
        return nullptr;
    }
    return std::make_unique<BluetoothDevice>();
}

} // namespace hh::sim
