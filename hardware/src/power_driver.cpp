// "PWR1:": the USB adapter from the USB power supplies, the storage card's
// CID from the mmc bus, and the recover flag in the device root. The
// preparations before a suspend or a restart flush what programs wrote; the
// registry restore and the compass calibration's count are not this
// machine's (ERROR_NOT_SUPPORTED).

#include "drivers.h"
#include "machine.h"
#include "sysfs.h"

#include <platform/protocol/device_protocol.h>
#include <platform/system/driver_buffers.h>
#include <platform/system/posix.h>
#include <platform/system/recover_flag.h>

#include <unistd.h>

#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace hh::hw {

namespace {

namespace posix = sys::posix;

// The adapter status word: a USB supply delivers power.
constexpr uint32_t kUsbAdapterOnline = 1;

bool UsbAdapter(std::span<std::byte> out, uint32_t* bytesReturned) {
    bool found = false;
    uint32_t status = 0;
    for (const PowerSupply& supply : FindPowerSupplies()) {
        if (!IsUsbSupply(supply)) {
            continue;
        }
        found = true;
        if (ReadInteger(supply.path + "/online").value_or(0) != 0) {
            status = kUsbAdapterOnline;
        }
    }
    if (!found) {
        return posix::Fail(sys::ERROR_FILE_NOT_FOUND);
    }
    return sys::WriteOutput(out, status, bytesReturned);
}

// The card's CID: 32 hexadecimal digits, most significant byte first, which
// is the byte order of the device's own record.
bool CardId(std::span<std::byte> out, uint32_t* bytesReturned) {
    std::optional<std::string> card = FindCard();
    if (!card) {
        return posix::Fail(sys::ERROR_NOT_READY);
    }
    std::optional<std::string> text = ReadAttribute(*card + "/cid");
    if (!text) {
        return false;
    }
    std::array<uint8_t, 16> cid{};
    if (text->size() != 2 * cid.size()) {
        return posix::Fail(sys::ERROR_INVALID_DATA);
    }
    for (std::size_t i = 0; i < cid.size(); ++i) {
        const char* digits = text->data() + 2 * i;
        auto [stop, ec] = std::from_chars(digits, digits + 2, cid[i], 16);
        if (ec != std::errc() || stop != digits + 2) {
            return posix::Fail(sys::ERROR_INVALID_DATA);
        }
    }
    return sys::WriteOutput(out, cid, bytesReturned);
}

// What programs wrote reaches the disk before the machine sleeps or restarts.
bool Flush(std::span<const std::byte> in) {
    uint32_t value = 0;
    if (!sys::ReadInput(in, value)) {
        return false;
    }
    std::fflush(nullptr);
    ::sync();
    return true;
}

class PowerDevice : public sys::StreamDevice {
public:
    bool ioControl(uint32_t code, std::span<const std::byte> in, std::span<std::byte> out,
                   uint32_t* bytesReturned) override {
        if (bytesReturned) {
            *bytesReturned = 0;
        }
        switch (code) {
        case protocol::IOCTL_POWER_PREPARE_SUSPEND:
        case protocol::IOCTL_POWER_PREPARE_RESTART:
            return Flush(in);
        case protocol::IOCTL_POWER_USB_ADAPTER:
            return UsbAdapter(out, bytesReturned);
        case protocol::IOCTL_POWER_CARD_ID:
            return CardId(out, bytesReturned);
        case protocol::IOCTL_POWER_WRITE_RECOVER_FLAG: {
            uint32_t value = 0;
            return sys::ReadInput(in, value) && sys::StoreRecoverFlag(value);
        }
        case protocol::IOCTL_POWER_READ_RECOVER_FLAG: {
            std::optional<uint32_t> value = sys::ReadStoredRecoverFlag();
            return value && sys::WriteOutput(out, *value, bytesReturned);
        }
        default:
            return posix::Fail(sys::ERROR_NOT_SUPPORTED);
        }
    }
};

} // namespace

std::unique_ptr<sys::StreamDevice> PowerDriver::open(const sys::OpenRequest& request) {
    // The driver holds the recover flag, which every machine has.
    return OpenedDevice(request, true, std::make_unique<PowerDevice>());
}

} // namespace hh::hw
