// The library's dynamic symbol table holds exactly its exports.

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

std::set<std::string> Expected() {
    std::set<std::string> names = {"SetBackLightLevel",
                                   "GetBackLightLevel",
                                   "SetBKLSuspendTimeout",
                                   "GetBKLSuspendTimeout",
                                   "ScreenOnOff",
                                   "GetDeviceUUID",
                                   "GetOemInfo",
                                   "GetPlatformInfo",
                                   "GetOSVersion",
                                   "ShutDown",
                                   "Reboot",
                                   "Recover",
                                   "GetUSBMode",
                                   "SetUSBMode",
                                   "GetUSBAdaptStus",
                                   "GetBatteryStatus",
                                   "IsPowerAC",
                                   "GetBTPower",
                                   "SetBTPower",
                                   "GetCardID",
                                   "GetAdjustXYSampleCnt",
                                   "GetAdjustXZSampleCnt",
                                   "GetCurSampleCnt",
                                   "UpdateDriveIcon",
                                   "BuzzerBeep",
                                   "BuzzerStop",
                                   "SpeakerBeepInternal(unsigned int, unsigned char)"};
    for (std::string c : {"CCompass", "GSensorTst", "SensorParamTst"}) {
        for (std::string member :
             {c + "::" + c + "()", c + "::" + c + "(" + c + " const&)",
              c + "::operator=(" + c + " const&)", c + "::~" + c + "()", c + "::IsOpen() const",
              c + "::Open()", c + "::Close()", "vtable for " + c, "typeinfo for " + c,
              "typeinfo name for " + c}) {
            names.insert(member);
        }
    }
    for (std::string m :
         {"SetModeMeasureSng", "SetModePowerdown", "SetHdoeLevel", "SetModeConsciousCal_Hall",
          "SetHandsetFormation", "GetHOffset", "GetHData", "GetDirection", "GetDebugInformation",
          "GetAOffset", "GetAData", "FctTest", "SetModeConsciousCal_Side",
          "SetModeConsciousCal_Upright", "SetModeConsciousCal", "GetAzimuth"}) {
        names.insert("CCompass::" + m + "()");
    }
    names.insert("GSensorTst::GetPosition(_XYZ_POSITION&)");
    for (std::string m : {"GetCurAltitude(int&)", "GetCurPressure(int&)", "GetTemperature(int&)",
                          "SetCurAltitude(int&)", "SetCurPressure(unsigned int&)"}) {
        names.insert("SensorParamTst::" + m);
    }
    return names;
}

TEST(SymbolsTest, TheDynamicSymbolTableHoldsExactlyTheExports) {
    std::string command = std::string("nm -D --defined-only -C ") + HALVIX_PATH;
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> found;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
        // "ADDRESS TYPE NAME"
        size_t first = text.find(' ');
        size_t second = first == std::string::npos ? first : text.find(' ', first + 1);
        if (second != std::string::npos) {
            found.insert(text.substr(second + 1));
        }
    }
    ASSERT_EQ(::pclose(pipe), 0);
    std::set<std::string> expected = Expected();
    std::set<std::string> missing, extra;
    for (const std::string& name : expected) {
        if (!found.contains(name)) {
            missing.insert(name);
        }
    }
    for (const std::string& name : found) {
#if defined(__SANITIZE_ADDRESS__)
        // The undefined-behaviour sanitizer's vptr checks emit the type
        // information of the standard library's polymorphic bases.
        if (name.starts_with("typeinfo for std::") || name.starts_with("typeinfo name for std::")) {
            continue;
        }
#endif
        if (!expected.contains(name)) {
            extra.insert(name);
        }
    }
    EXPECT_EQ(missing, std::set<std::string>{});
    EXPECT_EQ(extra, std::set<std::string>{});
}

} // namespace
