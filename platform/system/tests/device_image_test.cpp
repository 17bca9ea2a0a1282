#include <platform/system/device_image.h>
#include <platform/system/error.h>
#include <platform/system/files.h>
#include <platform/system/registry.h>
#include <platform/system/testing.h>

#include <cstring>
#include <optional>

namespace hh::sys {
namespace {

using namespace testing;

class DeviceImageTest : public DeviceRootTest {
protected:
    void SetUp() override {
        DeviceRootTest::SetUp();
        std::filesystem::remove_all(root_);
    }
};

TEST_F(DeviceImageTest, ProvisionsANewRootWithTheSampleImage) {
    std::string error;
    ASSERT_TRUE(PrepareDeviceRoot(error)) << error;
    EXPECT_TRUE(std::filesystem::is_directory(root_ / ".device"));
    for (std::u16string_view folder :
         {u"\\Windows", u"\\SDMMC\\VARDI", u"\\SDMMC\\Restel", u"\\SDMMC\\V5520Demo",
          u"\\SDMMC\\startup", u"\\SDMMC\\MaroltData\\AppData",
          u"\\SDMMC\\Recovery\\ResidentFlash\\Marolt"}) {
        EXPECT_EQ(GetFileAttributes(folder), FILE_ATTRIBUTE_DIRECTORY)
            << std::string(folder.begin(), folder.end());
    }
    EXPECT_EQ(GetFileAttributes(u"\\SDMMC"), FILE_ATTRIBUTE_MOUNT_POINT);
    EXPECT_EQ(GetFileAttributes(u"\\ResidentFlash"), FILE_ATTRIBUTE_MOUNT_POINT);
    EXPECT_EQ(GetFileAttributes(u"\\SDMMC\\Recovery\\ResidentFlash\\Marolt\\nav.exe"),
              FILE_ATTRIBUTE_NORMAL);

    const std::string xml = ReadHost(root_ / "SDMMC/Restel/Path.xml");
    EXPECT_NE(xml.find("<Recovery><Paths Count=\"1\" Src0=\"\\SDMMC\\Recovery\\ResidentFlash\" "
                       "Dst0=\"\\ResidentFlash\"/></Recovery>"),
              std::string::npos)
        << xml;
    EXPECT_NE(ReadHost(root_ / "Windows/autorun.inf").find("icon=Vekta.ico"), std::string::npos);

    // A well-formed icon: the header, one 16x16 32-bit image right after it,
    // and exactly as many bytes as the directory entry promises.
    const std::string ico = ReadHost(root_ / "Windows/Vekta.ico");
    ASSERT_GE(ico.size(), 62u);
    auto u16 = [&](std::size_t at) {
        return static_cast<unsigned char>(ico[at]) | static_cast<unsigned char>(ico[at + 1]) << 8;
    };
    auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    EXPECT_EQ(u16(0), 0);
    EXPECT_EQ(u16(2), 1);
    EXPECT_EQ(u16(4), 1);
    EXPECT_EQ(static_cast<unsigned char>(ico[6]), 16);
    EXPECT_EQ(u16(12), 32);
    EXPECT_EQ(u32(18), 22);
    EXPECT_EQ(ico.size(), 22u + u32(14));
    EXPECT_EQ(u32(22), 40);
    EXPECT_EQ(u32(30), 32); // twice the height: image and mask
}

TEST_F(DeviceImageTest, LeavesAnExistingDeviceAlone) {
    std::string error;
    ASSERT_TRUE(PrepareDeviceRoot(error)) << error;
    // The user changed things and a recovery removed the user data.
    WriteHost(root_ / "SDMMC/Restel/Path.xml", "<mine/>");
    std::filesystem::remove_all(root_ / "SDMMC/MaroltData/AppData");
    ASSERT_TRUE(PrepareDeviceRoot(error)) << error;
    EXPECT_EQ(ReadHost(root_ / "SDMMC/Restel/Path.xml"), "<mine/>");
    EXPECT_FALSE(std::filesystem::exists(root_ / "SDMMC/MaroltData/AppData"));

    // A root holding only the state folder is still new.
    std::filesystem::remove_all(root_);
    WriteHost(root_ / ".device/boot", "1");
    ASSERT_TRUE(PrepareDeviceRoot(error)) << error;
    EXPECT_TRUE(std::filesystem::exists(root_ / "SDMMC/Restel/Path.xml"));
    EXPECT_EQ(ReadHost(root_ / ".device/boot"), "1");
}

/// The compass calibrations' counts as the registry holds them (nullopt when absent).
std::optional<uint32_t> CalibrationCount(const char16_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Compass", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    uint32_t value = 0;
    uint32_t size = sizeof value;
    const long result =
        RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<uint8_t*>(&value), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? std::optional<uint32_t>(value) : std::nullopt;
}

TEST_F(DeviceImageTest, ANewDeviceHoldsTheCalibrationCountsAndKeepsTheUsersOwn) {
    struct Case {
        const char* what;
        std::optional<uint32_t> userHorizontal; // set before the first start
        std::optional<uint32_t> horizontal;
        std::optional<uint32_t> vertical;
    };
    const Case cases[] = {
        {"fresh", std::nullopt, 200, 100},
        {"a count the user set first", 300, 300, 100},
        {"a count of 0 the user set first", 0, 0, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(root_);
        if (c.userHorizontal) {
            HKEY key = nullptr;
            ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Compass", 0, nullptr,
                                      0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                      ERROR_SUCCESS);
            RegSetValueExW(key, u"Calibration_Horizontal", 0, REG_DWORD,
                           reinterpret_cast<const uint8_t*>(&*c.userHorizontal), 4);
            RegCloseKey(key);
        }
        std::string error;
        ASSERT_TRUE(PrepareDeviceRoot(error)) << error;
        EXPECT_EQ(CalibrationCount(u"Calibration_Horizontal"), c.horizontal);
        EXPECT_EQ(CalibrationCount(u"Calibration_Vertical"), c.vertical);
    }
    // An existing device keeps a registry without them: the user removed them.
    HKEY key = nullptr;
    ASSERT_EQ(
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Compass", 0, KEY_ALL_ACCESS, &key),
        ERROR_SUCCESS);
    RegDeleteValueW(key, u"Calibration_Vertical");
    RegCloseKey(key);
    std::string error;
    ASSERT_TRUE(PrepareDeviceRoot(error)) << error;
    EXPECT_EQ(CalibrationCount(u"Calibration_Vertical"), std::nullopt);
}

TEST_F(DeviceImageTest, ADamagedRegistryIsReportedAndNothingIsWritten) {
    WriteHost(root_ / ".device/registry.db", std::string(8192, 'x'));
    std::string error;
    EXPECT_FALSE(PrepareDeviceRoot(error));
    EXPECT_NE(error.find("cannot write the device registry"), std::string::npos) << error;
    EXPECT_EQ(ReadHost(root_ / ".device/registry.db"), std::string(8192, 'x'));
    EXPECT_FALSE(std::filesystem::exists(root_ / "SDMMC"));
}

TEST_F(DeviceImageTest, ExplainsARootThatCannotBeMade) {
    WriteHost(base_ / "file", "x");
    ::setenv("HANDHELD_ROOT", (base_ / "file/root").c_str(), 1);
    std::string error;
    EXPECT_FALSE(PrepareDeviceRoot(error));
    EXPECT_NE(error.find("cannot create the device root"), std::string::npos) << error;
    EXPECT_NE(error.find((base_ / "file/root").string()), std::string::npos) << error;
}

} // namespace
} // namespace hh::sys
