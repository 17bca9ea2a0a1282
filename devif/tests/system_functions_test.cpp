// The plain exports through libHalvix.so on the simulated device.

#include "halvix_fixture.h"

#include <platform/system/files.h>
#include <platform/system/registry.h>
#include <simulator/backlight/backlight_driver.h>
#include <simulator/bluetooth/bluetooth_driver.h>
#include <simulator/card/storage_card.h>
#include <simulator/kernel/simulated_kernel.h>
#include <simulator/power/power_driver.h>
#include <simulator/usb/usb_function_driver.h>

#include <array>
#include <string>
#include <thread>

namespace halvix_test {
namespace {

using sys::testing::CaptureInChild;
using sys::testing::ReadHost;
using sys::testing::WriteHost;

class SystemFunctionsTest : public HalvixTest {};

struct FailureCase {
    const char* name;
    const char* driver;
    std::function<int()> call;
    int failure;
};

TEST_F(SystemFunctionsTest, EveryDriverExportGivesItsFailureValueWithItsDriverOff) {
    uint8_t bytes[32] = {};
    char16_t text[64] = {};
    int16_t count = 5;
    const FailureCase cases[] = {
        {"SetBackLightLevel", "BKL1", [] { return SetBackLightLevel(10); }, 0},
        {"GetBackLightLevel", "BKL1", [] { return static_cast<int>(GetBackLightLevel()); }, 0},
        {"ScreenOnOff", "BKL1", [] { return ScreenOnOff(1); }, 0},
        {"ShutDown", "PWR1", [] { return ShutDown(); }, -1},
        {"Recover", "PWR1", [] { return Recover(); }, 0},
        {"GetUSBAdaptStus", "PWR1", [] { return static_cast<int>(GetUSBAdaptStus()); }, 0},
        {"GetCurSampleCnt", "PWR1", [&] { return GetCurSampleCnt(&count); }, 0},
        {"GetCardID", "PWR1", [&] { return GetCardID(bytes, 32); }, 0},
        {"GetUSBMode", "UFN1", [] { return GetUSBMode(); }, 0},
        {"SetUSBMode", "UFN1", [] { return SetUSBMode(1); }, 0},
        {"SetBTPower", "ANT1", [] { return SetBTPower(1); }, 0},
        {"GetDeviceUUID", "KERNEL", [&] { return GetDeviceUUID(bytes, 16); }, 0},
        {"GetOemInfo", "KERNEL", [&] { return GetOemInfo(text, 64); }, 0},
        {"GetPlatformInfo", "KERNEL", [&] { return GetPlatformInfo(text, 64); }, 0},
        {"GetOSVersion", "KERNEL", [&] { return GetOSVersion(text, sizeof text); }, 0},
        {"GetBatteryStatus", "KERNEL", [] { return GetBatteryStatus(); }, 0},
        {"IsPowerAC", "KERNEL", [] { return IsPowerAC(); }, 0},
        {"Reboot", "KERNEL", [] { return Reboot(); }, 0},
    };
    ASSERT_TRUE(sim::StoreBattery({50, false, true, false}));
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(sim::SetDriverAvailable(c.driver, false));
        EXPECT_EQ(c.call(), c.failure);
        ASSERT_TRUE(sim::SetDriverAvailable(c.driver, true));
    }
    EXPECT_EQ(count, 5);
    EXPECT_EQ(restarts, 0);
    EXPECT_FALSE(sim::DeviceSuspended().value());
}

TEST_F(SystemFunctionsTest, BacklightAndScreenRoundTripThroughTheDriver) {
    EXPECT_EQ(SetBackLightLevel(77), 1);
    EXPECT_EQ(GetBackLightLevel(), 77u);
    struct {
        int on;
        bool screenOn;
    } cases[] = {{0, false}, {1, true}, {0, false}, {2, true}, {-1, true}};
    for (auto c : cases) {
        EXPECT_EQ(ScreenOnOff(c.on), 1);
        EXPECT_EQ(sim::ReadBacklightState().value().screenOn, c.screenOn) << c.on;
    }
}

TEST_F(SystemFunctionsTest, BacklightRequestsCarryTheirCodesAndSizes) {
    auto bkl = Script("BKL", Refuse());
    EXPECT_EQ(SetBackLightLevel(9), 1); // the outcome is ignored
    EXPECT_EQ(GetBackLightLevel(), 0u);
    EXPECT_EQ(ScreenOnOff(2), 0); // the request's result
    EXPECT_EQ(ScreenOnOff(0), 0);
    std::vector<Seen> seen = bkl->seen();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].code, 0x00220004u);
    EXPECT_EQ(seen[0].in, (std::vector<uint8_t>{9, 0, 0, 0}));
    EXPECT_EQ(seen[1].code, 0x00220008u);
    EXPECT_EQ(seen[1].outSize, 4u);
    EXPECT_EQ(seen[2].code, 0x00010005u);
    EXPECT_EQ(seen[3].code, 0x00010006u);
    EXPECT_EQ(bkl->lastOpen.access, 0xC0000000u);
    EXPECT_EQ(bkl->lastOpen.shareMode, 3u);
    EXPECT_EQ(bkl->lastOpen.disposition, 4u);
    EXPECT_EQ(bkl->live, 0);
}

TEST_F(SystemFunctionsTest, RegistryBackedExportsFallBackToTheirDefaults) {
    struct Case {
        const char* name;
        sys::HKEY root;
        const char16_t* key;
        const char16_t* value;
        std::function<uint32_t()> call;
        uint32_t keyMissing;
    } cases[] = {
        {"GetBKLSuspendTimeout", sys::HKEY_CURRENT_USER, u"ControlPanel\\BackLight", u"ACTimeout",
         GetBKLSuspendTimeout, 15},
        {"GetBTPower", sys::HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\ANT", u"BTPower", GetBTPower,
         1},
        {"GetAdjustXYSampleCnt", sys::HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Compass",
         u"Calibration_Horizontal", GetAdjustXYSampleCnt, 1},
        {"GetAdjustXZSampleCnt", sys::HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Compass",
         u"Calibration_Vertical", GetAdjustXZSampleCnt, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sys::RegDeleteKeyW(c.root, c.key);
        EXPECT_EQ(c.call(), c.keyMissing);
        sys::HKEY key = nullptr;
        ASSERT_EQ(sys::RegCreateKeyExW(c.root, c.key, 0, nullptr, 0, sys::KEY_ALL_ACCESS, nullptr,
                                       &key, nullptr),
                  0);
        EXPECT_EQ(c.call(), 0u);
        uint32_t stored = 268800;
        sys::RegSetValueExW(key, c.value, 0, sys::REG_DWORD,
                            reinterpret_cast<const uint8_t*>(&stored), 4);
        sys::RegCloseKey(key);
        EXPECT_EQ(c.call(), 268800u);
    }
}

TEST_F(SystemFunctionsTest, SetBKLSuspendTimeoutCreatesTheKeyAndStoresBothValues) {
    sys::RegDeleteKeyW(sys::HKEY_CURRENT_USER, u"ControlPanel\\BackLight");
    EXPECT_EQ(SetBKLSuspendTimeout(60), 1);
    EXPECT_EQ(GetBKLSuspendTimeout(), 60u);
    sys::HKEY key = nullptr;
    ASSERT_EQ(sys::RegOpenKeyExW(sys::HKEY_CURRENT_USER, u"ControlPanel\\BackLight", 0,
                                 sys::KEY_READ, &key),
              0);
    uint32_t battery = 0, size = 4;
    EXPECT_EQ(sys::RegQueryValueExW(key, u"BatteryTimeout", nullptr, nullptr,
                                    reinterpret_cast<uint8_t*>(&battery), &size),
              0);
    sys::RegCloseKey(key);
    EXPECT_EQ(battery, 60u);
}

TEST_F(SystemFunctionsTest, DeviceUuidNeedsSixteenBytesAndWritesNoMore) {
    const std::vector<uint8_t> uuid = sim::DeviceUuid().value();
    struct {
        uint32_t size;
        int result;
    } cases[] = {{15, 0}, {16, 1}, {20, 1}};
    for (auto c : cases) {
        std::array<uint8_t, 24> buffer;
        buffer.fill(0xAA);
        EXPECT_EQ(GetDeviceUUID(buffer.data(), c.size), c.result) << c.size;
        for (size_t i = 0; i < buffer.size(); ++i) {
            uint8_t expected = c.result && i < 16 ? uuid[i] : 0xAA;
            EXPECT_EQ(buffer[i], expected) << c.size << " byte " << i;
        }
    }
    EXPECT_EQ(GetDeviceUUID(nullptr, 16), 0);
}

TEST_F(SystemFunctionsTest, DeviceTextsComeFromTheKernel) {
    ASSERT_TRUE(sim::StoreDeviceText("oem", "OEM text"));
    ASSERT_TRUE(sim::StoreDeviceText("platform", "PLATFORM"));
    ASSERT_TRUE(sim::StoreDeviceText("os", "A&B&&C"));
    char16_t text[64];
    EXPECT_EQ(GetOemInfo(text, 64), 1);
    EXPECT_EQ(std::u16string(text), u"OEM text");
    EXPECT_EQ(GetPlatformInfo(text, 64), 1);
    EXPECT_EQ(std::u16string(text), u"PLATFORM");
    EXPECT_EQ(GetPlatformInfo(text, 8), 0); // 8 characters do not hold it and its NUL
    EXPECT_EQ(GetOSVersion(text, sizeof text), 1);
    EXPECT_EQ(std::u16string(text), u"A\nB\n\nC");
}

TEST_F(SystemFunctionsTest, OSVersionLooksAtNoMoreCharactersThanTheSizeHolds) {
    // A kernel that writes nothing: the library walks the caller's buffer.
    struct Silent : sys::KernelServices {
        bool kernelIoControl(uint32_t, std::span<const std::byte>, std::span<std::byte>,
                             uint32_t*) override {
            return false;
        }
    };
    sys::RegisterKernelServices(std::make_shared<Silent>());
    char16_t text[7] = u"&&&&&&";
    EXPECT_EQ(GetOSVersion(text, 8), 0);
    EXPECT_EQ(std::u16string(text), u"\n\n\n\n&&");
    char16_t stops[6] = u"&&\0&&";
    GetOSVersion(stops, sizeof stops);
    EXPECT_EQ(std::u16string(stops, 5), std::u16string(u"\n\n\0&&", 5));
}

TEST_F(SystemFunctionsTest, BatteryFlagsGiveTheStatusAndLinePower) {
    struct Kernel : sys::KernelServices {
        sys::SystemPowerStatusEx status;
        bool answer = true;
        bool kernelIoControl(uint32_t, std::span<const std::byte>, std::span<std::byte>,
                             uint32_t*) override {
            return false;
        }
        bool powerStatus(sys::SystemPowerStatusEx& s, bool) override {
            s = status;
            return answer;
        }
    };
    auto kernel = std::make_shared<Kernel>();
    sys::RegisterKernelServices(kernel);
    struct {
        uint8_t line, flag, percent;
        int status, ac;
    } cases[] = {
        {1, 8, 40, -1, 1},   {0, 9, 40, 40, 0},   {1, 0x80, 40, 0, 1}, {0, 0xFF, 40, 0, 0},
        {0, 1, 100, 100, 0}, {2, 2, 255, 255, 0}, {0xFF, 4, 3, 3, 0},
    };
    for (auto c : cases) {
        kernel->status.ACLineStatus = c.line;
        kernel->status.BatteryFlag = c.flag;
        kernel->status.BatteryLifePercent = c.percent;
        EXPECT_EQ(GetBatteryStatus(), c.status) << int(c.flag);
        EXPECT_EQ(IsPowerAC(), c.ac) << int(c.line);
    }
    kernel->answer = false;
    EXPECT_EQ(GetBatteryStatus(), 0);
    EXPECT_EQ(IsPowerAC(), 0);
}

TEST_F(SystemFunctionsTest, TheSimulatedBatteryReachesTheExports) {
    struct {
        sim::Battery battery;
        int status, ac;
    } cases[] = {{{42, false, false, false}, 42, 0},
                 {{42, true, true, false}, -1, 1},
                 {{100, false, true, false}, 100, 1},
                 {{42, false, true, true}, 0, 1}};
    for (auto c : cases) {
        ASSERT_TRUE(sim::StoreBattery(c.battery));
        EXPECT_EQ(GetBatteryStatus(), c.status);
        EXPECT_EQ(IsPowerAC(), c.ac);
    }
}

TEST_F(SystemFunctionsTest, UsbModeFollowsTheCurrentClientsName) {
    EXPECT_EQ(GetUSBMode(), 0);
    EXPECT_EQ(SetUSBMode(5), 1);
    EXPECT_EQ(sim::CurrentUsbClient().value(), "Mass_Storage_Class");
    EXPECT_EQ(GetUSBMode(), 1);
    EXPECT_EQ(SetUSBMode(0), 1);
    EXPECT_EQ(GetUSBMode(), 0);

    struct {
        const char16_t* name;
        bool answers;
        int mode;
    } cases[] = {{u"Serial_Class", true, 0},
                 {u"Serial_ClassX", true, 0},
                 {u"Mass_Storage_Class", true, 1},
                 {u"Other", true, 1},
                 {u"Serial_Class", false, 0}};
    for (auto c : cases) {
        std::u16string name = c.name;
        bool answers = c.answers;
        auto ufn = Script("UFN", [name, answers](uint32_t, std::span<const std::byte>,
                                                 std::span<std::byte> out, uint32_t*) {
            if (answers) {
                std::memcpy(out.data(), name.c_str(), (name.size() + 1) * 2);
            }
            return answers;
        });
        EXPECT_EQ(GetUSBMode(), c.mode);
        ASSERT_EQ(ufn->seen().size(), 1u);
        EXPECT_EQ(ufn->seen()[0].code, 0x0022000Cu);
        EXPECT_EQ(ufn->seen()[0].outSize, 756u);
        EXPECT_EQ(ufn->lastOpen.access, 0xC0000100u);
        EXPECT_EQ(ufn->lastOpen.shareMode, 0u);
    }
}

TEST_F(SystemFunctionsTest, SetUsbModeSendsTheClassNameInTwoHundredFiftySixBytes) {
    auto ufn = Script("UFN", Refuse());
    EXPECT_EQ(SetUSBMode(5), 1); // the outcome is ignored
    EXPECT_EQ(SetUSBMode(0), 1);
    std::vector<Seen> seen = ufn->seen();
    ASSERT_EQ(seen.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(seen[i].code, 0x00220010u);
        ASSERT_EQ(seen[i].in.size(), 256u);
        std::u16string name(reinterpret_cast<const char16_t*>(seen[i].in.data()));
        EXPECT_EQ(name, i == 0 ? u"Mass_Storage_Class" : u"Serial_Class");
    }
}

TEST_F(SystemFunctionsTest, AnExclusiveUsbOpenRefusesASecond) {
    sys::HANDLE first =
        sys::CreateFileW(u"UFN1:", 0xC0000100u, 0, nullptr, sys::OPEN_EXISTING, 0, 0);
    ASSERT_NE(first, sys::INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetUSBMode(), 0);
    EXPECT_EQ(SetUSBMode(1), 0);
    sys::CloseHandle(first);
    EXPECT_EQ(SetUSBMode(1), 1);
    EXPECT_EQ(GetUSBMode(), 1);
}

TEST_F(SystemFunctionsTest, BluetoothPowerIsKeptInTheRegistryByTheDriver) {
    EXPECT_EQ(SetBTPower(1), 1);
    EXPECT_EQ(GetBTPower(), 1u);
    EXPECT_EQ(SetBTPower(0), 1);
    EXPECT_EQ(GetBTPower(), 0u);
    auto ant = Script("ANT", Refuse());
    EXPECT_EQ(SetBTPower(7), 0);
    ASSERT_EQ(ant->seen().size(), 1u);
    EXPECT_EQ(ant->seen()[0].code, 1000u);
    EXPECT_EQ(ant->seen()[0].in, (std::vector<uint8_t>{7, 0, 0, 0}));
    EXPECT_EQ(ant->lastOpen.flags, 4u);
}

TEST_F(SystemFunctionsTest, PowerRequestsAreRecordedWithTheirValues) {
    ASSERT_TRUE(sim::StoreUsbAdapterStatus(3));
    EXPECT_EQ(GetUSBAdaptStus(), 3u);
    EXPECT_EQ(Recover(), 1);
    EXPECT_EQ(ShutDown(), 0);
    EXPECT_TRUE(sim::DeviceSuspended().value());
    EXPECT_EQ(Reboot(), 1);
    EXPECT_EQ(restarts, 1);
    std::vector<sim::PowerRequest> requests;
    ASSERT_TRUE(sim::ReadPowerRequests(requests));
    std::vector<std::pair<uint32_t, uint32_t>> codes;
    for (const auto& r : requests) {
        codes.emplace_back(r.code, r.value);
    }
    EXPECT_EQ(codes, (std::vector<std::pair<uint32_t, uint32_t>>{
                         {4, 0}, {3, 1}, {sys::POWER_STATE_SUSPEND, 0}, {7, 1}}));
}

TEST_F(SystemFunctionsTest, ShutDownWithoutThePowerDriverDoesNotSuspend) {
    Off("PWR1");
    EXPECT_EQ(ShutDown(), -1);
    EXPECT_FALSE(sim::DeviceSuspended().value());
    EXPECT_EQ(Reboot(), 1); // the restart is still asked for
    EXPECT_EQ(restarts, 1);
}

TEST_F(SystemFunctionsTest, CardIdNeedsSixteenBytesAndPrintsTheError) {
    auto count = [](uint32_t size) {
        return CaptureInChild([size] {
            uint8_t buffer[32];
            std::memset(buffer, 0xAA, sizeof buffer);
            int result = GetCardID(buffer, size);
            std::vector<uint8_t> cid = sim::CardId().value();
            bool untouched = true;
            for (uint32_t i = 0; i < 32; ++i) {
                uint8_t expected = result && i < 16 ? cid[i] : 0xAA;
                untouched = untouched && buffer[i] == expected;
            }
            return untouched ? result : 9;
        });
    };
    sys::testing::Captured small = count(15);
    EXPECT_EQ(small.exitCode, 0);
    EXPECT_EQ(small.out, "");
    sys::testing::Captured exact = count(16);
    EXPECT_EQ(exact.exitCode, 1);
    EXPECT_EQ(exact.out, "GetCID Error:0\r\n");
    ASSERT_TRUE(sim::RemoveCard());
    sys::testing::Captured removed = count(32);
    EXPECT_EQ(removed.exitCode, 0);
    EXPECT_EQ(removed.out, "GetCID Error:" + std::to_string(sys::ERROR_NOT_READY) + "\r\n");
    ASSERT_TRUE(sim::InsertCard());
}

TEST_F(SystemFunctionsTest, CardIdBelowSixteenBytesOpensNothing) {
    auto pwr = Script("PWR", Accept());
    uint8_t buffer[15];
    EXPECT_EQ(GetCardID(buffer, 15), 0);
    EXPECT_EQ(pwr->opens, 0);
}

TEST_F(SystemFunctionsTest, CalibrationSampleCountComesFromThePowerDriver) {
    auto pwr = Script("PWR", [](uint32_t, std::span<const std::byte>, std::span<std::byte> out,
                                uint32_t* returned) {
        int16_t count = -2;
        std::memcpy(out.data(), &count, 2);
        *returned = 2;
        return true;
    });
    int16_t count = 0;
    EXPECT_EQ(GetCurSampleCnt(&count), 1);
    EXPECT_EQ(count, -2);
    ASSERT_EQ(pwr->seen().size(), 1u);
    EXPECT_EQ(pwr->seen()[0].code, 6u);
    EXPECT_EQ(pwr->seen()[0].outSize, 2u);
    EXPECT_EQ(pwr->lastOpen.shareMode, 0u);
    EXPECT_EQ(pwr->lastOpen.disposition, 3u);
    EXPECT_EQ(pwr->lastOpen.flags, 4u);
}

class DriveIconTest : public SystemFunctionsTest {
protected:
    void SetUp() override {
        SystemFunctionsTest::SetUp();
        WriteHost(root_ / "Windows" / "autorun.inf", "[autorun]\r\nicon=Vekta.ico\r\n");
        WriteHost(root_ / "Windows" / "Vekta.ico", "ICON");
    }
};

TEST_F(DriveIconTest, PutsBothFilesOnTheCardHidden) {
    EXPECT_EQ(UpdateDriveIcon(), 1);
    EXPECT_EQ(ReadHost(root_ / "SDMMC" / "autorun.inf"), "[autorun]\r\nicon=Vekta.ico\r\n");
    EXPECT_EQ(ReadHost(root_ / "SDMMC" / "Vekta.ico"), "ICON");
    for (const char16_t* path : {u"\\SDMMC\\autorun.inf", u"\\SDMMC\\Vekta.ico"}) {
        EXPECT_EQ(sys::GetFileAttributes(path) & 0x7, 0x7u);
    }
    EXPECT_EQ(UpdateDriveIcon(), 1); // read-only files in place are fine
}

TEST_F(DriveIconTest, LeavesAnExistingAutorunAsItIsApartFromItsAttributes) {
    WriteHost(root_ / "SDMMC" / "autorun.inf", "mine");
    EXPECT_EQ(UpdateDriveIcon(), 1);
    EXPECT_EQ(ReadHost(root_ / "SDMMC" / "autorun.inf"), "mine");
    EXPECT_EQ(sys::GetFileAttributes(u"\\SDMMC\\autorun.inf") & 0x7, 0x7u);
}

TEST_F(DriveIconTest, WithoutACardOrSourcesNothingIsTouched) {
    ASSERT_TRUE(sim::RemoveCard());
    EXPECT_EQ(UpdateDriveIcon(), 0);
    EXPECT_FALSE(std::filesystem::exists(root_ / "SDMMC"));
    ASSERT_TRUE(sim::InsertCard());
    std::filesystem::remove(root_ / "Windows" / "Vekta.ico");
    EXPECT_EQ(UpdateDriveIcon(), 0);
    EXPECT_TRUE(std::filesystem::exists(root_ / "SDMMC" / "autorun.inf"));
    EXPECT_FALSE(std::filesystem::exists(root_ / "SDMMC" / "Vekta.ico"));
}

TEST_F(SystemFunctionsTest, SixteenThreadsCallTheExportsAtOnce) {
    ASSERT_TRUE(sim::StoreBattery({64, false, true, false}));
    ASSERT_EQ(SetBackLightLevel(33), 1);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 16; ++t) {
        threads.emplace_back([&wrong] {
            for (int i = 0; i < 20; ++i) {
                uint8_t uuid[16];
                char16_t text[64];
                int16_t count = 0;
                bool ok = GetBackLightLevel() == 33 && GetBatteryStatus() == 64 &&
                          IsPowerAC() == 1 && GetDeviceUUID(uuid, 16) == 1 &&
                          GetOSVersion(text, sizeof text) == 1 && GetUSBMode() == 0 &&
                          GetCurSampleCnt(&count) == 1 && GetBKLSuspendTimeout() == 15;
                wrong += ok ? 0 : 1;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong, 0);
}

} // namespace
} // namespace halvix_test
