// The plain device functions: one driver request, registry value or platform
// service per call, nothing kept between calls.

#include <common/reg_key.h>
#include <devif/halvix.h>
#include <platform/protocol/device_protocol.h>
#include <platform/system/error.h>
#include <platform/system/files.h>
#include <platform/system/stream_device.h>
#include <platform/system/trace.h>

#include <cstring>

using namespace hh::sys;
using namespace hh::protocol;

namespace {

constexpr uint32_t kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr uint32_t kBusAccess = kReadWrite | 0x100;
constexpr uint32_t kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

constexpr const char16_t* kBackLightKey = u"ControlPanel\\BackLight";
constexpr const char16_t* kBluetoothKey = u"Drivers\\BuiltIn\\ANT";
constexpr const char16_t* kCompassKey = u"Drivers\\BuiltIn\\Compass";

// A program of another project links the library alone and registers no
// backend: the platform then loads the device's own at the first request.
const bool g_bBackendOnDemand = [] {
    LoadBackendOnDemand();
    return true;
}();

// A driver handle for the length of one call.
class Driver {
public:
    Driver(const char16_t* name, uint32_t access, uint32_t share, uint32_t disposition,
           uint32_t flags)
        : m_handle(CreateFileW(name, access, share, nullptr, disposition, flags, 0)) {}
    ~Driver() {
        if (m_handle != INVALID_HANDLE_VALUE) {
            CloseHandle(m_handle);
        }
    }
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

    bool IsOpen() const { return m_handle != INVALID_HANDLE_VALUE; }
    bool Request(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize) {
        uint32_t returned = 0;
        return DeviceIoControl(m_handle, code, in, inSize, out, outSize, &returned, nullptr);
    }

private:
    HANDLE m_handle;
};

Driver Backlight() {
    return Driver(kBacklightDevice, kReadWrite, kShareReadWrite, OPEN_ALWAYS, 0);
}

Driver Power() {
    return Driver(kPowerDevice, kReadWrite, kShareReadWrite, OPEN_ALWAYS, 0);
}

Driver UsbFunction() {
    return Driver(kUsbFunctionDevice, kBusAccess, 0, OPEN_EXISTING, 0);
}

// A 32-bit value of a key, with the key-missing and value-missing defaults.
uint32_t ReadRegistry(HKEY root, const char16_t* key, const char16_t* value, uint32_t keyMissing) {
    RegKey reg;
    if (!reg.Open(root, key)) {
        return keyMissing;
    }
    return reg.ReadDword(value, 0);
}

// Opens a file or folder for reading and closes it again.
bool ProbePath(const char16_t* path) {
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, 0);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(h);
    return true;
}

} // namespace

extern "C" {

int SetBackLightLevel(uint32_t level) {
    Driver bkl = Backlight();
    if (!bkl.IsOpen()) {
        return 0;
    }
    bkl.Request(IOCTL_BKL_SET_LEVEL, &level, sizeof level, nullptr, 0);
    return 1;
}

uint32_t GetBackLightLevel() {
    uint32_t level = 0;
    Driver bkl = Backlight();
    if (!bkl.IsOpen() || !bkl.Request(IOCTL_BKL_GET_LEVEL, nullptr, 0, &level, sizeof level)) {
        return 0;
    }
    return level;
}

int ScreenOnOff(int on) {
    Driver bkl = Backlight();
    if (!bkl.IsOpen()) {
        return 0;
    }
    return bkl.Request(on ? IOCTL_BKL_SCREEN_ON : IOCTL_BKL_SCREEN_OFF, nullptr, 0, nullptr, 0) ? 1
                                                                                                : 0;
}

int SetBKLSuspendTimeout(uint32_t seconds) {
    RegKey reg;
    if (!reg.Create(HKEY_CURRENT_USER, kBackLightKey)) {
        return 0;
    }
    reg.WriteDword(u"ACTimeout", seconds);
    reg.WriteDword(u"BatteryTimeout", seconds);
    return 1;
}

uint32_t GetBKLSuspendTimeout() {
    return ReadRegistry(HKEY_CURRENT_USER, kBackLightKey, u"ACTimeout", 15);
}

int GetDeviceUUID(uint8_t* buffer, uint32_t size) {
    if (!buffer || size < 16) {
        return 0;
    }
    uint8_t uuid[16] = {};
    uint32_t returned = 0;
    if (!KernelIoControl(IOCTL_HAL_GET_UUID, {}, std::as_writable_bytes(std::span(uuid)),
                         &returned)) {
        return 0;
    }
    std::memcpy(buffer, uuid, sizeof uuid);
    return 1;
}

int GetOemInfo(char16_t* buffer, uint32_t size) {
    return SystemParametersInfoW(SPI_GETOEMINFO, size, buffer, 2) ? 1 : 0;
}

int GetPlatformInfo(char16_t* buffer, uint32_t size) {
    return SystemParametersInfoW(SPI_GETPLATFORMTYPE, size, buffer, 2) ? 1 : 0;
}

int GetOSVersion(char16_t* buffer, uint32_t size) {
    uint32_t selector = kOsVersionSelector;
    uint32_t returned = 0;
    std::span<std::byte> out;
    if (buffer) {
        out = {reinterpret_cast<std::byte*>(buffer), size};
    }
    bool ok = KernelIoControl(IOCTL_HAL_GET_DEVICE_INFO, std::as_bytes(std::span(&selector, 1)),
                              out, &returned);
    if (buffer) {
        for (uint32_t i = 0; i < size / 2 && buffer[i] != u'\0'; ++i) {
            if (buffer[i] == u'&') {
                buffer[i] = u'\n';
            }
        }
    }
    return ok ? 1 : 0;
}

int ShutDown() {
    {
        Driver pwr = Power();
        if (!pwr.IsOpen()) {
            return -1;
        }
        uint32_t one = 1;
        pwr.Request(IOCTL_POWER_PREPARE_SUSPEND, &one, sizeof one, nullptr, 0);
    }
    return static_cast<int>(SetSystemPowerState(nullptr, POWER_STATE_SUSPEND, POWER_FORCE));
}

int Reboot() {
    {
        Driver pwr = Power();
        if (pwr.IsOpen()) {
            uint32_t one = 1;
            pwr.Request(IOCTL_POWER_PREPARE_RESTART, &one, sizeof one, nullptr, 0);
        }
    }
    uint32_t returned = 0;
    return KernelIoControl(IOCTL_HAL_REBOOT, {}, {}, &returned) ? 1 : 0;
}

int Recover() {
    Driver pwr = Power();
    return pwr.IsOpen() && pwr.Request(IOCTL_POWER_RESTORE_REGISTRY, nullptr, 0, nullptr, 0) ? 1
                                                                                             : 0;
}

uint32_t GetUSBAdaptStus() {
    uint32_t status = 0;
    Driver pwr = Power();
    if (!pwr.IsOpen() ||
        !pwr.Request(IOCTL_POWER_USB_ADAPTER, nullptr, 0, &status, sizeof status)) {
        return 0;
    }
    return status;
}

int GetCurSampleCnt(int16_t* count) {
    Driver pwr(kPowerDevice, kReadWrite, 0, OPEN_EXISTING, FILE_ATTRIBUTE_SYSTEM);
    if (!pwr.IsOpen()) {
        return 0;
    }
    return pwr.Request(IOCTL_POWER_SAMPLE_COUNT, nullptr, 0, count, count ? 2 : 0) ? 1 : 0;
}

int GetCardID(uint8_t* buffer, uint32_t size) {
    if (size < 16) {
        return 0;
    }
    Driver pwr = Power();
    if (!pwr.IsOpen()) {
        return 0;
    }
    SetLastError(ERROR_SUCCESS);
    bool ok = pwr.Request(IOCTL_POWER_CARD_ID, nullptr, 0, buffer, buffer ? size : 0);
    TracePrintf("GetCID Error:%d\r\n", static_cast<int>(GetLastError()));
    return ok ? 1 : 0;
}

int GetUSBMode() {
    char16_t info[756 / 2] = {};
    {
        Driver ufn = UsbFunction();
        if (!ufn.IsOpen() ||
            !ufn.Request(IOCTL_UFN_GET_CURRENT_CLIENT, nullptr, 0, info, sizeof info)) {
            return 0;
        }
    }
    return std::memcmp(info, u"Serial_Class", 12 * sizeof(char16_t)) == 0 ? 0 : 1;
}

int SetUSBMode(int mode) {
    Driver ufn = UsbFunction();
    char16_t name[256 / 2];
    const char16_t* text = mode ? u"Mass_Storage_Class" : u"Serial_Class";
    size_t length = mode ? 18 : 12;
    std::memcpy(name, text, (length + 1) * sizeof(char16_t));
    // The characters after the NUL are not the driver's to read; they are
    // cleared all the same, so that no stack contents leave the library.
    std::memset(name + length + 1, 0, sizeof name - (length + 1) * sizeof(char16_t));
    if (!ufn.IsOpen()) {
        return 0;
    }
    ufn.Request(IOCTL_UFN_CHANGE_CURRENT_CLIENT, name, sizeof name, nullptr, 0);
    return 1;
}

int GetBatteryStatus() {
    SystemPowerStatusEx status;
    if (!GetSystemPowerStatusEx(&status, true)) {
        return 0;
    }
    if (status.BatteryFlag == 8) {
        return -1;
    }
    if (status.BatteryFlag == 0x80 || status.BatteryFlag == 0xFF) {
        return 0;
    }
    return status.BatteryLifePercent;
}

int IsPowerAC() {
    SystemPowerStatusEx status;
    return GetSystemPowerStatusEx(&status, true) && status.ACLineStatus == 1 ? 1 : 0;
}

uint32_t GetBTPower() {
    return ReadRegistry(HKEY_LOCAL_MACHINE, kBluetoothKey, u"BTPower", 1);
}

int SetBTPower(uint32_t on) {
    Driver ant(kBluetoothDevice, kReadWrite, 0, OPEN_EXISTING, FILE_ATTRIBUTE_SYSTEM);
    return ant.IsOpen() && ant.Request(IOCTL_ANT_SET_POWER, &on, sizeof on, nullptr, 0) ? 1 : 0;
}

uint32_t GetAdjustXYSampleCnt() {
    return ReadRegistry(HKEY_LOCAL_MACHINE, kCompassKey, u"Calibration_Horizontal", 1);
}

uint32_t GetAdjustXZSampleCnt() {
    return ReadRegistry(HKEY_LOCAL_MACHINE, kCompassKey, u"Calibration_Vertical", 1);
}

int UpdateDriveIcon() {
    if (!ProbePath(u"\\SDMMC")) {
        return 0;
    }
    if (!ProbePath(u"\\SDMMC\\autorun.inf") &&
        !CopyFile(u"\\Windows\\autorun.inf", u"\\SDMMC\\autorun.inf", false)) {
        return 0;
    }
    if (!ProbePath(u"\\SDMMC\\Vekta.ico") &&
        !CopyFile(u"\\Windows\\Vekta.ico", u"\\SDMMC\\Vekta.ico", false)) {
        return 0;
    }
    for (const char16_t* path : {u"\\SDMMC\\autorun.inf", u"\\SDMMC\\Vekta.ico"}) {
        uint32_t attributes = GetFileAttributes(path);
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            SetFileAttributes(path, attributes | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                        FILE_ATTRIBUTE_SYSTEM);
        }
    }
    return 1;
}

} // extern "C"
