// "UFN1:" over a configfs USB gadget (/sys/kernel/config/usb_gadget/<g>):
// the client is the function linked into the gadget's configuration, a serial
// one (acm, gser) or a mass-storage one. Changing it unbinds the gadget from
// its controller (UDC), links the other function in place of the first and
// binds the gadget again. A machine without such a gadget has no USB
// function to choose (ERROR_NOT_SUPPORTED); a USB role switch only tells
// host from device, not which client the device offers.

#include "drivers.h"
#include "machine.h"
#include "sysfs.h"
#include "writes.h"

#include <platform/protocol/device_protocol.h>
#include <platform/system/code_page.h>
#include <platform/system/driver_buffers.h>
#include <platform/system/posix.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstring>

namespace hh::hw {

namespace {

namespace posix = sys::posix;

constexpr std::u16string_view kSerialClient = u"Serial_Class";
constexpr std::u16string_view kMassStorageClient = u"Mass_Storage_Class";

enum class Client { Serial, MassStorage };

std::optional<Client> ClientOfFunction(std::string_view function) {
    if (function.starts_with("acm.") || function.starts_with("gser.")) {
        return Client::Serial;
    }
    if (function.starts_with("mass_storage.")) {
        return Client::MassStorage;
    }
    return std::nullopt;
}

// The configuration that carries the functions: the gadget's first.
std::optional<std::string> Configuration(const std::string& gadget) {
    std::vector<std::string> configs = FolderEntries(gadget + "/configs");
    if (configs.empty()) {
        posix::Fail(sys::ERROR_NOT_READY);
        return std::nullopt;
    }
    return gadget + "/configs/" + configs.front();
}

// The client of the serial or mass-storage function linked into the configuration.
std::optional<Client> LinkedClient(const std::string& config) {
    for (const std::string& entry : FolderEntries(config)) {
        if (LinkTarget(config + "/" + entry)) {
            if (std::optional<Client> client = ClientOfFunction(entry)) {
                return client;
            }
        }
    }
    posix::Fail(sys::ERROR_NOT_READY);
    return std::nullopt;
}

bool GetClient(std::span<std::byte> out, uint32_t* bytesReturned) {
    if (out.size() < protocol::kUfnClientInfoSize) {
        return posix::Fail(sys::ERROR_INSUFFICIENT_BUFFER);
    }
    std::optional<std::string> gadget = FindUsbGadget();
    std::optional<std::string> config = gadget ? Configuration(*gadget) : std::nullopt;
    std::optional<Client> client = config ? LinkedClient(*config) : std::nullopt;
    if (!client) {
        return false;
    }
    // The client's name (128 characters) and its description (250).
    std::array<char16_t, protocol::kUfnClientInfoSize / 2> record{};
    std::u16string_view name = *client == Client::Serial ? kSerialClient : kMassStorageClient;
    std::u16string description = sys::Utf8ToUtf16("configfs gadget " + *gadget);
    name.copy(record.data(), name.size());
    description.copy(record.data() + 128, std::min<std::size_t>(description.size(), 249));
    std::memcpy(out.data(), record.data(), protocol::kUfnClientInfoSize);
    if (bytesReturned) {
        *bytesReturned = protocol::kUfnClientInfoSize;
    }
    return true;
}

// Relinks the configuration to the function of the wanted client while the
// gadget is unbound; it is bound again to the controller it had.
bool SwitchClient(const std::string& gadget, const std::string& config, Client wanted) {
    std::string function;
    for (const std::string& name : FolderEntries(gadget + "/functions")) {
        if (ClientOfFunction(name) == wanted) {
            function = name;
            break;
        }
    }
    if (function.empty()) {
        return posix::Fail(sys::ERROR_NOT_SUPPORTED);
    }
    std::optional<std::string> controller = ReadAttribute(gadget + "/UDC");
    if (!controller) {
        return false;
    }
    if (!controller->empty() && !WriteAttribute(gadget + "/UDC", "\n")) {
        return false;
    }
    // Relative to the configuration's folder, so that the links change in
    // the folder that was looked at. configfs takes a link's target as an
    // absolute path.
    posix::Fd folder(::open(config.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    bool ok = folder.valid() || posix::FailErrno();
    for (const std::string& entry : ok ? FolderEntries(config) : std::vector<std::string>()) {
        if (LinkTarget(config + "/" + entry) && ClientOfFunction(entry) && entry != function &&
            ::unlinkat(folder.get(), entry.c_str(), 0) != 0) {
            ok = posix::FailErrno();
        }
    }
    if (ok && !Exists(config + "/" + function) &&
        ::symlinkat((gadget + "/functions/" + function).c_str(), folder.get(), function.c_str()) !=
            0) {
        ok = posix::FailErrno();
    }
    // The gadget goes back to its controller even when the relinking failed.
    if (!controller->empty() && !WriteAttribute(gadget + "/UDC", *controller)) {
        return false;
    }
    return ok;
}

bool SetClient(std::span<const std::byte> in) {
    if (in.size() < protocol::kUfnClientNameSize) {
        return posix::Fail(sys::ERROR_INVALID_PARAMETER);
    }
    std::array<char16_t, protocol::kUfnClientNameSize / 2> name{};
    std::memcpy(name.data(), in.data(), protocol::kUfnClientNameSize);
    std::u16string_view text(name.data(), name.size());
    text = text.substr(0, text.find(u'\0'));
    std::optional<Client> wanted;
    if (text == kSerialClient) {
        wanted = Client::Serial;
    } else if (text == kMassStorageClient) {
        wanted = Client::MassStorage;
    } else {
        return posix::Fail(sys::ERROR_INVALID_PARAMETER);
    }
    std::optional<std::string> gadget = FindUsbGadget();
    std::optional<std::string> config = gadget ? Configuration(*gadget) : std::nullopt;
    return config && MayChangeMachine("the USB function") &&
           SwitchClient(*gadget, *config, *wanted);
}

class UsbFunctionDevice : public sys::StreamDevice {
public:
    bool ioControl(uint32_t code, std::span<const std::byte> in, std::span<std::byte> out,
                   uint32_t* bytesReturned) override {
        if (bytesReturned) {
            *bytesReturned = 0;
        }
        switch (code) {
        case protocol::IOCTL_UFN_GET_CURRENT_CLIENT:
            return GetClient(out, bytesReturned);
        case protocol::IOCTL_UFN_CHANGE_CURRENT_CLIENT:
            return SetClient(in);
        default:
            return posix::Fail(sys::ERROR_NOT_SUPPORTED);
        }
    }
};

} // namespace

std::unique_ptr<sys::StreamDevice> UsbFunctionDriver::open(const sys::OpenRequest& request) {
    if (request.index == 1 && !FindUsbGadget()) {
        posix::Fail(sys::ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    return OpenedDevice(request, true, std::make_unique<UsbFunctionDevice>());
}

} // namespace hh::hw
