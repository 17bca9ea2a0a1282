// "ANT1:" over the rfkill switches of the Bluetooth radios
// (/sys/class/rfkill/<n>/{type,soft,hard}). The radio's state is kept in the
// registry value the device's driver keeps, "BTPower" under
// HKEY_LOCAL_MACHINE "Drivers\BuiltIn\ANT", which GetBTPower reads.

#include "drivers.h"
#include "machine.h"
#include "sysfs.h"
#include "writes.h"

#include <common/reg_key.h>
#include <platform/protocol/device_protocol.h>
#include <platform/system/driver_buffers.h>
#include <platform/system/posix.h>

namespace hh::hw {

namespace {

namespace posix = sys::posix;

constexpr const char16_t* kKey = u"Drivers\\BuiltIn\\ANT";
constexpr const char16_t* kValue = u"BTPower";

bool StorePower(uint32_t on) {
    RegKey key;
    return key.Create(sys::HKEY_LOCAL_MACHINE, kKey) && key.WriteDword(kValue, on);
}

bool SetPower(uint32_t on) {
    std::vector<std::string> radios = FindBluetoothRadios();
    if (radios.empty()) {
        return posix::Fail(sys::ERROR_FILE_NOT_FOUND);
    }
    if (!MayChangeMachine(on ? "the Bluetooth radio (on)" : "the Bluetooth radio (off)")) {
        return false;
    }
    // soft 1 blocks the radio.
    for (const std::string& radio : radios) {
        if (!WriteAttribute(radio + "/soft", on ? "0" : "1")) {
            return false;
        }
    }
    return StorePower(on ? 1 : 0);
}

class BluetoothDevice : public sys::StreamDevice {
public:
    bool ioControl(uint32_t code, std::span<const std::byte> in, std::span<std::byte>,
                   uint32_t* bytesReturned) override {
        if (bytesReturned) {
            *bytesReturned = 0;
        }
        if (code != protocol::IOCTL_ANT_SET_POWER) {
            return posix::Fail(sys::ERROR_NOT_SUPPORTED);
        }
        uint32_t on = 0;
        return sys::ReadInput(in, on) && SetPower(on);
    }
};

} // namespace

std::optional<bool> BluetoothRadioOn() {
    std::vector<std::string> radios = FindBluetoothRadios();
    if (radios.empty()) {
        posix::Fail(sys::ERROR_FILE_NOT_FOUND);
        return std::nullopt;
    }
    for (const std::string& radio : radios) {
        if (ReadInteger(radio + "/soft").value_or(1) == 0 &&
            ReadInteger(radio + "/hard").value_or(0) == 0) {
            return true;
        }
    }
    return false;
}

void MirrorBluetoothPower() {
    std::optional<bool> on = BluetoothRadioOn();
    constexpr uint32_t kAbsent = 0xFFFFFFFFu;
    RegKey key;
    if (!on || !key.Create(sys::HKEY_LOCAL_MACHINE, kKey)) {
        return;
    }
    const uint32_t stored = key.ReadDword(kValue, kAbsent);
    if (stored == kAbsent || (stored != 0) != *on) {
        key.WriteDword(kValue, *on ? 1 : 0);
    }
}

std::unique_ptr<sys::StreamDevice> BluetoothDriver::open(const sys::OpenRequest& request) {
    return OpenedDevice(request, !FindBluetoothRadios().empty(),
                        std::make_unique<BluetoothDevice>());
}

} // namespace hh::hw
