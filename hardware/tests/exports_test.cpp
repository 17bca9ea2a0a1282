// Every export of the library through the Linux backend, against a handheld,
// a laptop and a machine without any of the hardware, changes not allowed.

#include "testbed.h"

#include <devif/halvix.h>
#include <platform/protocol/device_protocol.h>
#include <platform/system/code_page.h>
#include <platform/system/error.h>
#include <platform/system/stream_device.h>
#include <platform/system/testing.h>

#include <gtest/gtest.h>
#include <hardware/linux_device.h>
#include <sys/utsname.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <span>
#include <string>

namespace hh::hw::testing {
namespace {

using Results = std::map<std::string, std::string>;

std::string Text(const char16_t* text) {
    return sys::Utf16ToUtf8(text);
}

std::string Hex(const uint8_t* bytes, std::size_t n) {
    std::string text;
    for (std::size_t i = 0; i < n; ++i) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
        text += digits;
    }
    return text;
}

// What every export answers, as text; the identifier and OS version only by
// whether they came.
Results CallEveryExport() {
    Results r;
    r["GetBackLightLevel"] = std::to_string(GetBackLightLevel());
    r["SetBackLightLevel(80)"] = std::to_string(SetBackLightLevel(80));
    r["ScreenOnOff(0)"] = std::to_string(ScreenOnOff(0));
    r["GetBKLSuspendTimeout"] = std::to_string(GetBKLSuspendTimeout());
    std::array<uint8_t, 16> uuid{};
    r["GetDeviceUUID"] = std::to_string(GetDeviceUUID(uuid.data(), 16));
    std::array<char16_t, 64> oem{};
    const int oemResult = GetOemInfo(oem.data(), 64);
    r["GetOemInfo"] = std::to_string(oemResult) + (oemResult ? " " + Text(oem.data()) : "");
    std::array<char16_t, 64> platform{};
    const int platformResult = GetPlatformInfo(platform.data(), 64);
    r["GetPlatformInfo"] =
        std::to_string(platformResult) + (platformResult ? " " + Text(platform.data()) : "");
    std::array<char16_t, 128> os{};
    r["GetOSVersion"] = std::to_string(GetOSVersion(os.data(), 256));
    r["ShutDown"] = std::to_string(ShutDown());
    r["Reboot"] = std::to_string(Reboot());
    r["Recover"] = std::to_string(Recover());
    r["GetUSBAdaptStus"] = std::to_string(GetUSBAdaptStus());
    r["GetBatteryStatus"] = std::to_string(GetBatteryStatus());
    r["IsPowerAC"] = std::to_string(IsPowerAC());
    r["GetUSBMode"] = std::to_string(GetUSBMode());
    r["SetUSBMode(1)"] = std::to_string(SetUSBMode(1));
    r["GetBTPower"] = std::to_string(GetBTPower());
    r["SetBTPower(1)"] = std::to_string(SetBTPower(1));
    r["GetAdjustXYSampleCnt"] = std::to_string(GetAdjustXYSampleCnt());
    int16_t samples = 7;
    r["GetCurSampleCnt"] = std::to_string(GetCurSampleCnt(&samples));
    std::array<uint8_t, 32> card{};
    const int cardResult = GetCardID(card.data(), 32);
    r["GetCardID(32)"] =
        std::to_string(cardResult) + (cardResult ? " " + Hex(card.data(), 16) : "");
    GSensorTst gsensor;
    _XYZ_POSITION position{};
    const int gsensorOpen = gsensor.Open();
    const int positionResult = gsensor.GetPosition(position);
    r["GSensorTst"] = std::to_string(gsensorOpen) + " " + std::to_string(positionResult) + " " +
                      std::to_string(position.X) + " " + std::to_string(position.Y) + " " +
                      std::to_string(position.Z);
    CCompass compass;
    const int compassOpen = compass.Open();
    const int measure = compass.SetModeMeasureSng();
    const int direction = compass.GetDirection();
    // The azimuth is the process's last one; only a direction just read is this machine's.
    r["CCompass"] = std::to_string(compassOpen) + " " + std::to_string(measure) + " " +
                    std::to_string(direction) + " " +
                    (direction ? std::to_string(compass.GetAzimuth()) : "-") + " calibration " +
                    std::to_string(compass.SetModeConsciousCal_Hall());
    SensorParamTst barometer;
    int pressure = 0;
    int altitude = 0;
    int temperature = 0;
    const int barometerOpen = barometer.Open();
    const int pressureResult = barometer.GetCurPressure(pressure);
    const int altitudeResult = barometer.GetCurAltitude(altitude);
    const int temperatureResult = barometer.GetTemperature(temperature);
    r["SensorParamTst"] = std::to_string(barometerOpen) + " " + std::to_string(pressureResult) +
                          " " + std::to_string(pressure) + " " + std::to_string(altitudeResult) +
                          " " + std::to_string(altitude) + " " + std::to_string(temperatureResult) +
                          " " + std::to_string(temperature);
    return r;
}

class LinuxExportsTest : public sys::testing::DeviceRootTest {
protected:
    Results callOn(MachineKind kind) {
        testbed_.emplace(kind);
        RegisterLinuxDevice();
        return CallEveryExport();
    }
    std::optional<Testbed> testbed_;
};

// Whatever the machine, these come from the device root or the system files.
const Results kEveryMachine = {
    {"GetBKLSuspendTimeout", "15"},
    {"GetDeviceUUID", "1"},
    {"GetOSVersion", "1"},
    // Changes of the machine are refused; ShutDown reports the refusal's error.
    {"ShutDown", "5"},
    {"Reboot", "0"},
    {"Recover", "0"},
    {"GetAdjustXYSampleCnt", "1"},
    {"GetCurSampleCnt", "0"},
};

Results With(Results own) {
    own.insert(kEveryMachine.begin(), kEveryMachine.end());
    return own;
}

TEST_F(LinuxExportsTest, TheHandheldAnswersFromItsHardware) {
    EXPECT_EQ(callOn(MachineKind::Handheld),
              With({
                  {"GetBackLightLevel", "37"},
                  // Sent, so 1 as the library reports it; the level stays.
                  {"SetBackLightLevel(80)", "1"},
                  {"ScreenOnOff(0)", "0"},
                  {"GetOemInfo", "1 Vekta V5520 handheld"},
                  {"GetPlatformInfo", "1 Vekta V5520 handheld"},
                  {"GetUSBAdaptStus", "1"},
                  {"GetBatteryStatus", "57"},
                  {"IsPowerAC", "0"},
                  {"GetUSBMode", "0"},
                  {"SetUSBMode(1)", "1"},
                  {"GetBTPower", "0"},
                  {"SetBTPower(1)", "0"},
                  {"GetCardID(32)", "1 035344534430324780A1B2C3D40105C1"},
                  {"GSensorTst", "1 1 0 -12 980"},
                  {"CCompass", "1 1 1 45 calibration 0"},
                  {"SensorParamTst", "1 1 95460 1 500 1 245"},
              }));
    EXPECT_EQ(testbed_->read(kHandheldBrightness), "370");
    EXPECT_EQ(testbed_->read(kHandheldScreen), "0");
    EXPECT_EQ(testbed_->read(kHandheldRadio), "1");
    EXPECT_EQ(testbed_->linkedFunctions(), std::vector<std::string>{"acm.usb0"});
}

TEST_F(LinuxExportsTest, TheLaptopHasNoSensorsCardOrUsbFunction) {
    EXPECT_EQ(callOn(MachineKind::Laptop),
              With({
                  // acpi_video0 (firmware, 60 of 120) before intel_backlight (raw).
                  {"GetBackLightLevel", "50"},
                  {"SetBackLightLevel(80)", "1"},
                  {"ScreenOnOff(0)", "0"},
                  {"GetOemInfo", "1 Example Computers Notebook 14 Gen 3"},
                  {"GetPlatformInfo", "1 Notebook 14 Gen 3"},
                  {"GetUSBAdaptStus", "0"},
                  // Charging; the mouse's battery is not the machine's.
                  {"GetBatteryStatus", "-1"},
                  {"IsPowerAC", "1"},
                  {"GetUSBMode", "0"},
                  {"SetUSBMode(1)", "0"},
                  {"GetBTPower", "1"},
                  {"SetBTPower(1)", "0"},
                  {"GetCardID(32)", "0"},
                  {"GSensorTst", "0 0 0 0 0"},
                  {"CCompass", "0 0 0 - calibration 0"},
                  {"SensorParamTst", "0 0 0 0 0 0 0"},
              }));
}

TEST_F(LinuxExportsTest, AMachineWithoutTheHardwareGivesEveryFailureValue) {
    EXPECT_EQ(callOn(MachineKind::Bare), With({
                                             {"GetBackLightLevel", "0"},
                                             {"SetBackLightLevel(80)", "0"},
                                             {"ScreenOnOff(0)", "0"},
                                             {"GetOemInfo", "0"},
                                             {"GetPlatformInfo", "0"},
                                             {"GetUSBAdaptStus", "0"},
                                             {"GetBatteryStatus", "0"},
                                             {"IsPowerAC", "0"},
                                             {"GetUSBMode", "0"},
                                             {"SetUSBMode(1)", "0"},
                                             // The registry key is missing.
                                             {"GetBTPower", "1"},
                                             {"SetBTPower(1)", "0"},
                                             {"GetCardID(32)", "0"},
                                             {"GSensorTst", "0 0 0 0 0"},
                                             {"CCompass", "0 0 0 - calibration 0"},
                                             {"SensorParamTst", "0 0 0 0 0 0 0"},
                                         }));
}

// What a driver or the kernel reports, request by request.
struct RequestCase {
    const char16_t* device;
    uint32_t code;
    std::vector<std::byte> in;
    std::size_t outSize;
    uint32_t error; ///< ERROR_SUCCESS when the request succeeds
};

std::vector<std::byte> Word(uint32_t value) {
    std::vector<std::byte> bytes(4);
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

uint32_t Outcome(const RequestCase& c) {
    sys::SetLastError(sys::ERROR_SUCCESS);
    std::unique_ptr<sys::StreamDevice> device = sys::OpenStreamDevice(
        c.device, sys::GENERIC_READ | sys::GENERIC_WRITE, 0, sys::OPEN_EXISTING, 0);
    if (!device) {
        return sys::GetLastError();
    }
    std::vector<std::byte> out(c.outSize);
    return device->ioControl(c.code, c.in, out, nullptr) ? sys::ERROR_SUCCESS : sys::GetLastError();
}

TEST_F(LinuxExportsTest, MissingHardwareIsNotFoundAndRefusedChangesAreDenied) {
    using namespace protocol;
    const RequestCase handheld[] = {
        {kBacklightDevice, IOCTL_BKL_SET_LEVEL, Word(80), 0, sys::ERROR_ACCESS_DENIED},
        {kBacklightDevice, IOCTL_BKL_SET_LEVEL, Word(0), 0, sys::ERROR_INVALID_PARAMETER},
        {kBacklightDevice, IOCTL_BKL_SET_LEVEL, Word(101), 0, sys::ERROR_INVALID_PARAMETER},
        {kBacklightDevice, IOCTL_BKL_SCREEN_ON, {}, 0, sys::ERROR_ACCESS_DENIED},
        {kBacklightDevice, IOCTL_BKL_GET_LEVEL, {}, 2, sys::ERROR_INSUFFICIENT_BUFFER},
        {kBluetoothDevice, IOCTL_ANT_SET_POWER, Word(0), 0, sys::ERROR_ACCESS_DENIED},
        {kUsbFunctionDevice,
         IOCTL_UFN_GET_CURRENT_CLIENT,
         {},
         kUfnClientInfoSize,
         sys::ERROR_SUCCESS},
        {kPowerDevice, IOCTL_POWER_SAMPLE_COUNT, {}, 2, sys::ERROR_NOT_SUPPORTED},
        {kPowerDevice, IOCTL_POWER_RESTORE_REGISTRY, {}, 0, sys::ERROR_NOT_SUPPORTED},
        {kCompassDevice, IOCTL_ECD_CAL_SIDE, {}, 0, sys::ERROR_NOT_SUPPORTED},
        {kCompassDevice, IOCTL_ECD_GET_DIRECTION, {}, 20, sys::ERROR_INVALID_PARAMETER},
        {kBarometerDevice, IOCTL_PSA_SET_ALTITUDE, Word(500), 0, sys::ERROR_NOT_SUPPORTED},
    };
    const RequestCase bare[] = {
        {kBacklightDevice, IOCTL_BKL_GET_LEVEL, {}, 4, sys::ERROR_FILE_NOT_FOUND},
        {kBluetoothDevice, IOCTL_ANT_SET_POWER, Word(1), 0, sys::ERROR_FILE_NOT_FOUND},
        {kCompassDevice, IOCTL_ECD_MEASURE_SINGLE, Word(100), 0, sys::ERROR_FILE_NOT_FOUND},
        {kGSensorDevice, IOCTL_SMB_GET_POSITION, {}, 6, sys::ERROR_FILE_NOT_FOUND},
        {kBarometerDevice, IOCTL_PSA_GET_PRESSURE, {}, 4, sys::ERROR_FILE_NOT_FOUND},
        {kUsbFunctionDevice,
         IOCTL_UFN_GET_CURRENT_CLIENT,
         {},
         kUfnClientInfoSize,
         sys::ERROR_NOT_SUPPORTED},
        {kPowerDevice, IOCTL_POWER_USB_ADAPTER, {}, 4, sys::ERROR_FILE_NOT_FOUND},
        {kPowerDevice, IOCTL_POWER_CARD_ID, {}, 16, sys::ERROR_NOT_READY},
        {kPowerDevice, IOCTL_POWER_READ_RECOVER_FLAG, {}, 4, sys::ERROR_SUCCESS},
        {u"BKL2:", IOCTL_BKL_GET_LEVEL, {}, 4, sys::ERROR_FILE_NOT_FOUND},
    };
    for (auto [kind, cases] :
         {std::pair{MachineKind::Handheld, std::span<const RequestCase>(handheld)},
          std::pair{MachineKind::Bare, std::span<const RequestCase>(bare)}}) {
        Testbed testbed(kind);
        RegisterLinuxDevice();
        for (const RequestCase& c : cases) {
            EXPECT_EQ(sys::ErrorText(Outcome(c)), sys::ErrorText(c.error))
                << sys::Utf16ToUtf8(c.device) << " request " << c.code;
        }
    }
    Testbed bare2(MachineKind::Bare);
    sys::SystemPowerStatusEx status;
    EXPECT_FALSE(sys::GetSystemPowerStatusEx(&status, true));
    EXPECT_EQ(sys::GetLastError(), sys::ERROR_FILE_NOT_FOUND);
}

TEST_F(LinuxExportsTest, TheIdentifierIsStableAndNotTheRawMachineId) {
    Testbed testbed(MachineKind::Bare);
    RegisterLinuxDevice();
    std::array<uint8_t, 16> first{};
    std::array<uint8_t, 16> second{};
    ASSERT_EQ(GetDeviceUUID(first.data(), 16), 1);
    ASSERT_EQ(GetDeviceUUID(second.data(), 16), 1);
    EXPECT_EQ(first, second);
    std::string machineId = sys::testing::ReadHost("/etc/machine-id");
    machineId.resize(32);
    for (char& c : machineId) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    EXPECT_NE(Hex(first.data(), 16), machineId);
    // An application-specific identifier is a version 4 UUID.
    EXPECT_EQ(first[6] >> 4, 4);
}

TEST_F(LinuxExportsTest, TheOsVersionIsTheReleaseTheKernelAndTheProcessor) {
    Testbed testbed(MachineKind::Bare);
    RegisterLinuxDevice();
    std::array<char16_t, 256> os{};
    ASSERT_EQ(GetOSVersion(os.data(), 512), 1);
    utsname system{};
    ASSERT_EQ(::uname(&system), 0);
    const std::string text = Text(os.data());
    EXPECT_NE(text.find(std::string("\n") + system.sysname + " " + system.release + "\n" +
                        system.machine),
              std::string::npos)
        << text;
    // Eight bytes hold three characters and the NUL.
    std::array<char16_t, 4> small{};
    EXPECT_EQ(GetOSVersion(small.data(), 8), 0);
    EXPECT_EQ(std::u16string(small.data(), 3), sys::Utf8ToUtf16(text.substr(0, 3)));
    EXPECT_EQ(small[3], u'\0');
}

} // namespace
} // namespace hh::hw::testing
