// The kernel services of a Linux machine:
//   the device identifier: /etc/machine-id hashed with this application's
//   key (machine-id(5): the raw id is never handed out);
//   the OS version: os-release's PRETTY_NAME, the kernel and the processor;
//   the OEM and platform texts: DMI or the device tree;
//   the power status: the battery and the mains supply;
//   the restart, the power-off and the forced suspend: the login manager.

#include "kernel_services.h"

#include "logind.h"
#include "machine.h"
#include "sysfs.h"
#include "writes.h"

#include <platform/protocol/device_protocol.h>
#include <platform/system/code_page.h>
#include <platform/system/driver_buffers.h>
#include <platform/system/posix.h>
#include <platform/system/recover_flag.h>

#include <systemd/sd-id128.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace hh::hw {

namespace {

namespace posix = sys::posix;

// The application key of the device identifier.
constexpr sd_id128_t kApplicationKey =
    SD_ID128_MAKE(4d, 2a, 0d, 44, c8, 3f, 48, ad, 87, 39, 52, c8, 25, 1c, d0, 28);

bool DeviceIdentifier(std::span<std::byte> out, uint32_t* bytesReturned) {
    sd_id128_t id{};
    int result = sd_id128_get_machine_app_specific(kApplicationKey, &id);
    if (result < 0) {
        // A machine without an identifier, or with an empty one (-ENOMEDIUM)
        // or one not yet made (-ENOPKG), has none to give.
        const int error = -result;
        return posix::Fail(error == ENOENT || error == ENOMEDIUM || error == ENOPKG
                               ? sys::ERROR_FILE_NOT_FOUND
                               : sys::ErrorFromErrno(error));
    }
    return sys::WriteOutput(out, id.bytes, bytesReturned);
}

// Copies text and its NUL into capacity characters; a text that does not fit
// is cut and fails with ERROR_INSUFFICIENT_BUFFER. Returns the characters
// written, the NUL included.
std::size_t CopyText(std::u16string_view text, char16_t* buffer, std::size_t capacity) {
    if (capacity == 0) {
        return 0;
    }
    const std::size_t n = std::min(text.size(), capacity - 1);
    text.copy(buffer, n);
    buffer[n] = u'\0';
    return n + 1;
}

bool CopiedWhole(std::u16string_view text, std::size_t written) {
    return written == text.size() + 1 || posix::Fail(sys::ERROR_INSUFFICIENT_BUFFER);
}

bool OsVersion(std::span<const std::byte> in, std::span<std::byte> out, uint32_t* bytesReturned) {
    uint32_t selector = 0;
    if (!sys::ReadInput(in, selector)) {
        return false;
    }
    if (selector != protocol::kOsVersionSelector) {
        return posix::Fail(sys::ERROR_NOT_SUPPORTED);
    }
    std::optional<MachineText> os = OsText();
    if (!os) {
        return false;
    }
    const std::u16string text = sys::Utf8ToUtf16(os->text);
    std::vector<char16_t> buffer(out.size() / sizeof(char16_t));
    const std::size_t written = CopyText(text, buffer.data(), buffer.size());
    std::memcpy(out.data(), buffer.data(), written * sizeof(char16_t));
    if (bytesReturned) {
        *bytesReturned = static_cast<uint32_t>(written * sizeof(char16_t));
    }
    return CopiedWhole(text, written);
}

// The restart: a stored recover flag of 100 becomes 101 first, as the
// device's boot code turns it, and goes back to 100 when the login manager
// refuses, so that a restart that did not happen changes nothing.
bool Restart() {
    if (!MayChangeMachine("the machine (restart)")) {
        return false;
    }
    sys::StateFileLock lock(sys::kRecoverFlagLock);
    std::optional<uint32_t> flag = sys::ReadStoredRecoverFlag();
    if (!flag) {
        return false;
    }
    const bool pending = *flag == protocol::kRecoverRequested;
    const sys::StateFileContents restarted = sys::RecoverFlagContents(protocol::kRecoverPending);
    if (pending && !sys::WriteStateFiles(std::span(&restarted, 1))) {
        return false;
    }
    std::fflush(nullptr);
    if (CallLoginManager("Reboot")) {
        return true;
    }
    const uint32_t error = sys::GetLastError();
    const sys::StateFileContents requested = sys::RecoverFlagContents(*flag);
    if (pending) {
        sys::WriteStateFiles(std::span(&requested, 1));
    }
    return posix::Fail(error);
}

// The battery's flag as the platform reports it: charging alone, else how
// full it is.
uint8_t BatteryFlag(const std::string& status, std::optional<int64_t> percent) {
    if (status == "Charging") {
        return 8;
    }
    if (!percent) {
        return 0xFF;
    }
    return *percent <= 5 ? 4 : *percent < 33 ? 2 : *percent >= 66 ? 1 : 0;
}

} // namespace

bool LinuxKernel::kernelIoControl(uint32_t code, std::span<const std::byte> in,
                                  std::span<std::byte> out, uint32_t* bytesReturned) {
    if (bytesReturned) {
        *bytesReturned = 0;
    }
    switch (code) {
    case protocol::IOCTL_HAL_GET_UUID:
        return DeviceIdentifier(out, bytesReturned);
    case protocol::IOCTL_HAL_GET_DEVICE_INFO:
        return OsVersion(in, out, bytesReturned);
    case protocol::IOCTL_HAL_REBOOT:
        return Restart();
    default:
        return posix::Fail(sys::ERROR_NOT_SUPPORTED);
    }
}

bool LinuxKernel::systemParametersInfo(uint32_t action, uint32_t uiParam, void* pvParam, uint32_t) {
    if (action != sys::SPI_GETPLATFORMTYPE && action != sys::SPI_GETOEMINFO) {
        return posix::Fail(sys::ERROR_NOT_SUPPORTED);
    }
    if (!pvParam) {
        return posix::Fail(sys::ERROR_INVALID_PARAMETER);
    }
    std::optional<MachineText> text = action == sys::SPI_GETOEMINFO ? OemText() : PlatformText();
    if (!text) {
        return false;
    }
    const std::u16string wide = sys::Utf8ToUtf16(text->text);
    return CopiedWhole(wide, CopyText(wide, static_cast<char16_t*>(pvParam), uiParam));
}

bool LinuxKernel::powerStatus(sys::SystemPowerStatusEx& status, bool) {
    std::vector<PowerSupply> supplies = FindPowerSupplies();
    if (supplies.empty()) {
        return posix::Fail(sys::ERROR_FILE_NOT_FOUND);
    }
    sys::SystemPowerStatusEx found;
    found.BatteryFlag = 0x80;
    bool battery = false;
    for (const PowerSupply& supply : supplies) {
        if (supply.type == "Mains") {
            const bool online = ReadInteger(supply.path + "/online").value_or(0) != 0;
            found.ACLineStatus = online || found.ACLineStatus == 1 ? 1 : 0;
        } else if (supply.type == "Battery" && !battery) {
            battery = true;
            std::optional<int64_t> percent = ReadInteger(supply.path + "/capacity");
            if (percent && (*percent < 0 || *percent > 100)) {
                percent.reset();
            }
            found.BatteryFlag =
                BatteryFlag(ReadAttribute(supply.path + "/status").value_or(""), percent);
            found.BatteryLifePercent = percent ? static_cast<uint8_t>(*percent) : 0xFF;
        }
    }
    status = found;
    return true;
}

uint32_t LinuxKernel::setSystemPowerState(const char16_t* name, uint32_t stateFlags, uint32_t) {
    if (name && *name) {
        return sys::ERROR_INVALID_PARAMETER;
    }
    const char* method = nullptr;
    const char* what = nullptr;
    switch (stateFlags) {
    case sys::POWER_STATE_ON:
        // A machine that runs this is on.
        return sys::ERROR_SUCCESS;
    case sys::POWER_STATE_SUSPEND:
        method = "Suspend";
        what = "the machine (suspend)";
        break;
    case sys::POWER_STATE_OFF:
        method = "PowerOff";
        what = "the machine (power off)";
        break;
    default:
        return sys::ERROR_INVALID_PARAMETER;
    }
    if (!MayChangeMachine(what)) {
        return sys::GetLastError();
    }
    std::fflush(nullptr);
    return CallLoginManager(method) ? sys::ERROR_SUCCESS : sys::GetLastError();
}

} // namespace hh::hw
