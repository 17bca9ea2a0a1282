// --json: every verb that prints what it read or changed prints one JSON
// object on one line instead, for scripts; errors stay one line on standard
// error.

#include <platform/system/testing.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace {

using hh::sys::testing::Captured;
using Json = nlohmann::ordered_json;

Captured Devctl(const std::vector<std::string>& args) {
    return hh::sys::testing::RunProgram(DEVCTL_PATH, args);
}

class JsonOutputTest : public hh::sys::testing::DeviceRootTest {};

struct JsonCase {
    std::vector<std::string> args;
    const char* object; // the whole object, fields in their order
};

TEST_F(JsonOutputTest, EachReadingVerbPrintsOneObjectOnOneLine) {
    const JsonCase cases[] = {
        {{"battery", "set", "57", "--json"},
         R"({"percent":57,"charging":false,"ac":false,"present":true})"},
        {{"battery", "--json"}, R"({"percent":57,"charging":false,"ac":false,"present":true})"},
        {{"battery", "--json", "set", "--charging", "--ac"},
         R"({"percent":57,"charging":true,"ac":true,"present":true})"},
        {{"backlight", "level", "77", "--json"}, R"({"level":77,"screen":true})"},
        {{"backlight", "screen", "off", "--json"}, R"({"level":77,"screen":false})"},
        {{"bt", "--json"}, R"({"power":null})"},
        {{"bt", "on", "--json"}, R"({"power":true})"},
        {{"usb", "client", "mass-storage", "--json"},
         R"({"client":"Mass_Storage_Class","adapter":0})"},
        {{"card", "cid", "00112233445566778899AABBCCDDEEFF", "--json"},
         R"({"present":true,"cid":"00112233445566778899AABBCCDDEEFF"})"},
        {{"accel", "-12", "3", "980", "--json"}, R"({"x":-12,"y":3,"z":980})"},
        {{"baro", "altitude", "800", "--json"},
         R"({"altitude":800,"pressure":95460,"temperature":245})"},
        {{"compass", "--json"},
         R"({"azimuth":135,"next":"success","rate":50,)"
         R"("calibration":{"phase":"none","running":false,"samples":0,"target":0}})"},
        {{"buzzer", "log", "--json"}, R"({"tones":[]})"},
        {{"driver", "off", "ecd1", "--json"}, R"({"drivers":{"ECD1":false}})"},
        {{"uuid", "set", "0102030405060708090A0B0C0D0E0F10", "--json"},
         R"({"uuid":"0102030405060708090A0B0C0D0E0F10"})"},
        {{"osinfo", "os", "A&\"B\"", "--json"},
         R"({"platform":"V5520","oem":"Vekta V5520 Navigator","os":"A&\"B\""})"},
        {{"power", "flag", "--json"}, R"({"flag":0})"},
        {{"power", "state", "--json"}, R"({"suspended":false})"},
        {{"power", "requests", "--json"}, R"({"requests":[]})"},
        {{"reg", "get", "HKLM\\Drivers\\BuiltIn\\Compass", "Calibration_Vertical", "--json"},
         R"({"key":"HKLM\\Drivers\\BuiltIn\\Compass","name":"Calibration_Vertical",)"
         R"("type":"REG_DWORD","data":100})"},
        {{"reg", "list", "HKLM\\Drivers\\BuiltIn", "--json"},
         R"({"key":"HKLM\\Drivers\\BuiltIn","values":[],"subkeys":["ANT","Compass"]})"},
        {{"battery", "set", "--discharging", "--json"},
         R"({"percent":57,"charging":false,"ac":true,"present":true})"},
        {{"call", "GetBatteryStatus", "--json"}, R"({"call":"GetBatteryStatus","result":57})"},
        {{"call", "GetOSVersion", "--json"},
         R"({"call":"GetOSVersion","result":1,"text":"A\n\"B\""})"},
        {{"call", "GSensorTst::GetPosition", "--json"},
         R"({"call":"GSensorTst::GetPosition","open":1,"result":1,)"
         R"("position":{"x":-12,"y":3,"z":980}})"},
        {{"restart", "--json"}, R"({"restarted":true})"},
    };
    // A program's first start makes the device with its sample image.
    ASSERT_EQ(
        Devctl({"reg", "set", "HKLM\\Drivers\\BuiltIn\\Compass", "Calibration_Vertical", "100"})
            .exitCode,
        0);
    for (const JsonCase& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + (c.args.size() > 1 ? c.args[1] : ""));
        const Captured run = Devctl(c.args);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, "");
        ASSERT_FALSE(run.out.empty());
        EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << run.out;
        EXPECT_EQ(Json::parse(run.out), Json::parse(c.object));
        EXPECT_EQ(run.out, std::string(c.object) + "\n");
    }
}

TEST_F(JsonOutputTest, ErrorsStayOneLineOnStandardError) {
    const std::vector<std::string> cases[] = {
        {"battery", "set", "101", "--json"},
        {"reg", "get", "HKLM\\nothing", "here", "--json"},
        {"call", "GetBatteryStatus", "1", "--json"},
        {"driver", "off", "xyz1", "--json"},
    };
    ASSERT_EQ(Devctl({"battery", "set", "50"}).exitCode, 0);
    for (const auto& args : cases) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        const Captured run = Devctl(args);
        EXPECT_NE(run.exitCode, 0);
        EXPECT_EQ(run.out, "");
        ASSERT_FALSE(run.err.empty());
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        EXPECT_EQ(run.err.rfind("devctl: ", 0), 0u) << run.err;
    }
}

} // namespace
