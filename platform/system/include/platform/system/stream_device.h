#pragma once
// Stream devices ("COM7:", "PWR1:", "bkl1:") and kernel requests. The platform
// defines the driver interfaces; a backend (the simulated device, or later a
// real-hardware backend) registers its drivers at program start, and programs
// reach them only through OpenStreamDevice and KernelIoControl.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace hh::sys {

inline constexpr uint32_t GENERIC_READ = 0x80000000u;
inline constexpr uint32_t GENERIC_WRITE = 0x40000000u;
inline constexpr uint32_t FILE_SHARE_READ = 0x1;
inline constexpr uint32_t FILE_SHARE_WRITE = 0x2;
inline constexpr uint32_t CREATE_NEW = 1;
inline constexpr uint32_t CREATE_ALWAYS = 2;
inline constexpr uint32_t OPEN_EXISTING = 3;
inline constexpr uint32_t OPEN_ALWAYS = 4;
inline constexpr uint32_t TRUNCATE_EXISTING = 5;

/// How a stream device was asked for.
struct OpenRequest {
    std::string prefix; ///< upper-case three-letter driver prefix, "PWR"
    unsigned index = 0; ///< the digit(s) before the colon, 1 in "PWR1:"
    uint32_t access = 0;
    uint32_t shareMode = 0;
    uint32_t disposition = OPEN_EXISTING;
    uint32_t flags = 0;
};

/// One open instance of a stream driver. Failing calls return false and set
/// the calling thread's last error.
class StreamDevice {
public:
    virtual ~StreamDevice() = default;
    /// DeviceIoControl: one request code with an input and an output buffer.
    virtual bool ioControl(uint32_t code, std::span<const std::byte> in, std::span<std::byte> out,
                           uint32_t* bytesReturned);
    virtual bool read(std::span<std::byte> buffer, uint32_t& bytesRead);
    virtual bool write(std::span<const std::byte> data, uint32_t& bytesWritten);
};

/// A driver reached by its prefix; open() makes one instance or returns null
/// with the last error set.
class StreamDriver {
public:
    virtual ~StreamDriver() = default;
    virtual std::unique_ptr<StreamDevice> open(const OpenRequest& request) = 0;
};

/// SYSTEM_POWER_STATUS_EX as GetSystemPowerStatusEx fills it.
struct SystemPowerStatusEx {
    uint8_t ACLineStatus = 0xFF; ///< 0 offline, 1 online, 0xFF unknown
    uint8_t BatteryFlag = 0xFF;  ///< 1 high, 2 low, 4 critical, 8 charging, 0x80 none, 0xFF unknown
    uint8_t BatteryLifePercent = 0xFF; ///< 0 to 100, 0xFF unknown
    uint8_t Reserved1 = 0;
    uint32_t BatteryLifeTime = 0xFFFFFFFFu;
    uint32_t BatteryFullLifeTime = 0xFFFFFFFFu;
    uint8_t Reserved2 = 0;
    uint8_t BackupBatteryFlag = 0xFF;
    uint8_t BackupBatteryLifePercent = 0xFF;
    uint8_t Reserved3 = 0;
    uint32_t BackupBatteryLifeTime = 0xFFFFFFFFu;
    uint32_t BackupBatteryFullLifeTime = 0xFFFFFFFFu;
};

inline constexpr uint32_t SPI_GETPLATFORMTYPE = 257;
inline constexpr uint32_t SPI_GETOEMINFO = 258;
inline constexpr uint32_t POWER_STATE_ON = 0x00010000u;
inline constexpr uint32_t POWER_STATE_OFF = 0x00020000u;
inline constexpr uint32_t POWER_STATE_SUSPEND = 0x00200000u;
inline constexpr uint32_t POWER_FORCE = 0x00001000u;

/// The kernel's requests (KernelIoControl) and system services for the
/// running backend. The services a backend does not offer fail with
/// ERROR_NOT_SUPPORTED.
class KernelServices {
public:
    virtual ~KernelServices() = default;
    virtual bool kernelIoControl(uint32_t code, std::span<const std::byte> in,
                                 std::span<std::byte> out, uint32_t* bytesReturned) = 0;
    /// SystemParametersInfoW for the device texts (SPI_GETPLATFORMTYPE,
    /// SPI_GETOEMINFO): uiParam is the buffer's size in characters.
    virtual bool systemParametersInfo(uint32_t action, uint32_t uiParam, void* pvParam,
                                      uint32_t winIni);
    virtual bool powerStatus(SystemPowerStatusEx& status, bool update);
    /// SetSystemPowerState: 0 (ERROR_SUCCESS) when accepted, else an error number.
    virtual uint32_t setSystemPowerState(const char16_t* state, uint32_t stateFlags,
                                         uint32_t options);
};

/// Registers (or replaces) the driver for a prefix such as "PWR" or "COM".
void RegisterStreamDriver(std::string_view prefix, std::shared_ptr<StreamDriver> driver);
/// Removes a driver (tests, backend shutdown).
void UnregisterStreamDriver(std::string_view prefix);
void RegisterKernelServices(std::shared_ptr<KernelServices> services);

/// The file name of the device's backend module, which lies beside the
/// platform library: its entry kBackendEntry (extern "C" int(void)) prepares
/// the device root and registers what a program of the suite registers at
/// its start, 1 when done, else 0 after saying why in one line on standard
/// error.
inline constexpr const char* kBackendModule = "device-backend.so";
inline constexpr const char* kBackendEntry = "hh_register_device_backend";

/// Lets a process whose program registered no backend reach the device all
/// the same: from now on, the first device open or kernel request that finds
/// no kernel services registered loads the backend module and runs its
/// entry, once per process. The device library turns this on when it is
/// loaded, for a program of another project that links the library alone;
/// the suite's programs register their backend at start and never need it.
/// Without the module, or when its entry fails, nothing is registered and
/// devices stay unknown (ERROR_FILE_NOT_FOUND).
void LoadBackendOnDemand();

/// Opens "PWR1:" and the like: prefix matched case-insensitively, index, colon.
/// Returns null with ERROR_FILE_NOT_FOUND for an unknown device, or whatever
/// the driver reports.
std::unique_ptr<StreamDevice> OpenStreamDevice(std::u16string_view name, uint32_t access,
                                               uint32_t shareMode, uint32_t disposition,
                                               uint32_t flags);
/// Splits a device name into prefix and index; false when it is not one.
bool ParseStreamDeviceName(std::u16string_view name, OpenRequest& request);

/// Sends a kernel request to the registered backend; false with
/// ERROR_NOT_SUPPORTED when none is registered.
bool KernelIoControl(uint32_t code, std::span<const std::byte> in, std::span<std::byte> out,
                     uint32_t* bytesReturned);

/// SystemParametersInfoW of the kernel services; false with ERROR_NOT_SUPPORTED
/// when none are registered or the action is not theirs.
bool SystemParametersInfoW(uint32_t action, uint32_t uiParam, void* pvParam, uint32_t winIni);
/// GetSystemPowerStatusEx: false when the status cannot be had (status untouched).
bool GetSystemPowerStatusEx(SystemPowerStatusEx* status, bool update);
/// SetSystemPowerState: ERROR_SUCCESS when the backend accepted the state.
uint32_t SetSystemPowerState(const char16_t* state, uint32_t stateFlags, uint32_t options);

} // namespace hh::sys
