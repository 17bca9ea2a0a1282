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
        {{"gps", "--json"},
         R"({"position":{"latitude":48.1173,"longitude":11.5167,"altitude":545.4},)"
         R"("blocked":{"kind":"none"},"starts":0,"last_start":"cold"})"},
        {{"gps", "position", "48.5", "9.25", "400", "--json"},
         R"({"position":{"latitude":48.5,"longitude":9.25,"altitude":400.0},)"
         R"("blocked":{"kind":"none"},"starts":0,"last_start":"cold"})"},
        {{"gps", "block", "--below", "12.5", "--json"},
         R"({"position":{"latitude":48.5,"longitude":9.25,"altitude":400.0},)"
         R"("blocked":{"kind":"below","elevation":12.5},"starts":0,"last_start":"cold"})"},
        {{"gps", "block", "7", "3", "--json"},
         R"({"position":{"latitude":48.5,"longitude":9.25,"altitude":400.0},)"
         R"("blocked":{"kind":"prns","prns":[3,7]},"starts":0,"last_start":"cold"})"},
        {{"gps", "start", "warm", "--json"},
         R"({"position":{"latitude":48.5,"longitude":9.25,"altitude":400.0},)"
         R"("blocked":{"kind":"prns","prns":[3,7]},"starts":1,"last_start":"warm"})"},
        {{"gps", "unblock", "--json"},
         R"({"position":{"latitude":48.5,"longitude":9.25,"altitude":400.0},)"
         R"("blocked":{"kind":"none"},"starts":1,"last_start":"warm"})"},
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

// The sky and the time to first fix change with the clock and the seed: their
// objects are checked by their shape.
TEST_F(JsonOutputTest, GpsSkyAndTtffPrintOneObject) {
    ASSERT_EQ(Devctl({"gps", "position", "48.5", "9.25"}).exitCode, 0);
    Captured run = Devctl({"gps", "sky", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << run.out;
    Json sky = Json::parse(run.out);
    EXPECT_TRUE(sky["receiver"].is_null());
    EXPECT_EQ(sky["latitude"], 48.5);
    ASSERT_FALSE(sky["satellites"].empty());
    for (const Json& satellite : sky["satellites"]) {
        EXPECT_EQ(satellite.size(), 5u) << satellite;
        EXPECT_TRUE(satellite["snr"].is_null()) << satellite;
        EXPECT_FALSE(satellite["used"].get<bool>()) << satellite;
    }

    run = Devctl({"gps", "ttff", "--runs", "2", "--speed", "400", "--seed", "3", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << run.out;
    Json ttff = Json::parse(run.out);
    EXPECT_EQ(ttff["start"], "cold");
    ASSERT_EQ(ttff["runs"].size(), 2u);
    for (const Json& r : ttff["runs"]) {
        EXPECT_LE(r["fix_2d_s"].get<double>(), r["fix_3d_s"].get<double>()) << r;
    }
    const Json& fix3D = ttff["fix_3d_s"];
    EXPECT_LE(fix3D["min"].get<double>(), fix3D["median"].get<double>());
    EXPECT_LE(fix3D["median"].get<double>(), fix3D["max"].get<double>());
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
