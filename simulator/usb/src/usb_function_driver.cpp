#include "simulator/usb/usb_function_driver.h"

#include <platform/system/code_page.h>
#include <simulator/state/device_state.h>
#include <simulator/state/driver_support.h>

#include <mutex>

namespace hh::sim {

namespace {

// Opens of this process: how many, and whether one of them is exclusive.
struct Sharing {
    std::mutex mutex;
    int open = 0;
    bool exclusive = false;
};

Sharing& TheSharing() {
    static Sharing sharing;
    return sharing;
}

std::u16string Description(const std::string& client) {
    return client == kSerialClient ? u"Serial USB client (device synchronisation)"
                                   : u"USB mass storage client (storage card)";
}

class UsbFunctionDevice : public sys::StreamDevice {
public:
    explicit UsbFunctionDevice(bool exclusive) : m_exclusive(exclusive) {}
    ~UsbFunctionDevice() override {
        Sharing& s = TheSharing();
        std::lock_guard lock(s.mutex);
        --s.open;
        if (m_exclusive) {
            s.exclusive = false;
        }
    }

    bool ioControl(uint32_t code, std::span<const std::byte> in, std::span<std::byte> out,
                   uint32_t* bytesReturned) override {
        switch (code) {
        case IOCTL_UFN_GET_CURRENT_CLIENT: {
            if (out.size() < kUfnClientInfoSize) {
                return FailWith(sys::ERROR_INSUFFICIENT_BUFFER);
            }
            std::optional<std::string> read = CurrentUsbClient();
            if (!read) {
                return false;
            }
            const std::string& client = *read;
            char16_t record[kUfnClientInfoSize / 2] = {};
            std::u16string name = sys::Utf8ToUtf16(client).substr(0, 127);
            std::u16string description = Description(client).substr(0, 249);
            name.copy(record, name.size());
            description.copy(record + 128, description.size());
            std::memcpy(out.data(), record, kUfnClientInfoSize);
            if (bytesReturned) {
                *bytesReturned = kUfnClientInfoSize;
            }
            return true;
        }
        case IOCTL_UFN_CHANGE_CURRENT_CLIENT: {
            if (in.size() < kUfnClientNameSize) {
                return FailWith(sys::ERROR_INVALID_PARAMETER);
            }
            char16_t name[kUfnClientNameSize / 2];
            std::memcpy(name, in.data(), sizeof name);
            std::u16string text(name, std::char_traits<char16_t>::length(name) < 128
                                          ? std::char_traits<char16_t>::length(name)
                                          : 128);
            return StoreUsbClient(sys::Utf16ToUtf8(text));
        }
        default:
            return FailWith(sys::ERROR_NOT_SUPPORTED);
        }
    }

private:
    bool m_exclusive;
};

} // namespace

std::optional<std::string> CurrentUsbClient() {
    std::string client;
    if (!state::GetText("usb.client", kSerialClient, client)) {
        return std::nullopt;
    }
    return client;
}

bool StoreUsbClient(const std::string& name) {
    if (name != kSerialClient && name != kMassStorageClient) {
        return FailWith(sys::ERROR_INVALID_PARAMETER);
    }
    return state::SetText("usb.client", name);
}

std::unique_ptr<sys::StreamDevice> UsbFunctionDriver::open(const sys::OpenRequest& request) {
    if (request.index != 1) {
        FailWith(sys::ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    if (!DriverAvailable("UFN1")) {
        return nullptr;
    }
    Sharing& s = TheSharing();
    std::lock_guard lock(s.mutex);
    bool exclusive = request.shareMode == 0;
    if (s.exclusive || (exclusive && s.open > 0)) {
        FailWith(sys::ERROR_SHARING_VIOLATION);
        return nullptr;
    }
    ++s.open;
    s.exclusive = exclusive;
    return std::make_unique<UsbFunctionDevice>(exclusive);
}

} // namespace hh::sim
