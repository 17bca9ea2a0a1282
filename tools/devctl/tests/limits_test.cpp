// The limits of the verbs, each at its edge and one past it; the one number
// syntax every verb takes; the exact arguments of every export of devctl call;
// a beep sequence from the shell kept to its end.

#include <platform/system/testing.h>

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using hh::sys::testing::Captured;
using Args = std::vector<std::string>;

Captured Devctl(const Args& args) {
    return hh::sys::testing::RunProgram(DEVCTL_PATH, args);
}

std::string Joined(const Args& args) {
    std::string text;
    for (const std::string& a : args) {
        text += a + " ";
    }
    return text;
}

class LimitsTest : public hh::sys::testing::DeviceRootTest {
protected:
    // A refusal: a non-zero exit, nothing on standard output and one line on
    // standard error that mentions `mentions`.
    static void ExpectRefused(const Args& args, const std::string& mentions) {
        SCOPED_TRACE(Joined(args));
        Captured r = Devctl(args);
        EXPECT_NE(r.exitCode, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(mentions), std::string::npos) << r.err;
    }
};

struct Limit {
    Args atLimit;
    Args pastLimit;
};

TEST_F(LimitsTest, EveryDocumentedLimitHoldsAtItsEdgeAndRefusesOnePast) {
    const std::string hex32(32, 'A');
    const std::string text120(120, 'x');
    // 120 characters of two bytes each: the limit counts characters.
    std::string wide120;
    for (int i = 0; i < 120; ++i) {
        wide120 += "\xC3\xA9";
    }
    const Limit limits[] = {
        {{"battery", "set", "100"}, {"battery", "set", "101"}},
        {{"battery", "set", "0"}, {"battery", "set", "-1"}},
        {{"backlight", "level", "4294967295"}, {"backlight", "level", "4294967296"}},
        {{"backlight", "level", "0"}, {"backlight", "level", "-1"}},
        {{"usb", "adapter", "0xFFFFFFFF"}, {"usb", "adapter", "0x100000000"}},
        {{"accel", "32767", "0", "0"}, {"accel", "32768", "0", "0"}},
        {{"accel", "0", "-32768", "0"}, {"accel", "0", "-32769", "0"}},
        {{"accel", "0", "0", "32767"}, {"accel", "0", "0", "32768"}},
        {{"baro", "altitude", "2147483647"}, {"baro", "altitude", "2147483648"}},
        {{"baro", "pressure", "-2147483648"}, {"baro", "pressure", "-2147483649"}},
        {{"baro", "temperature", "-2147483648"}, {"baro", "temperature", "-2147483649"}},
        {{"compass", "azimuth", "32767"}, {"compass", "azimuth", "32768"}},
        {{"compass", "azimuth", "-32768"}, {"compass", "azimuth", "-32769"}},
        {{"compass", "rate", "10000"}, {"compass", "rate", "10001"}},
        {{"compass", "rate", "1"}, {"compass", "rate", "0"}},
        {{"power", "flag", "4294967295"}, {"power", "flag", "4294967296"}},
        {{"reg", "set", "HKLM\\init\\App", "n", "4294967295"},
         {"reg", "set", "HKLM\\init\\App", "n", "4294967296"}},
        {{"uuid", "set", hex32}, {"uuid", "set", hex32 + "AA"}},
        {{"card", "cid", hex32}, {"card", "cid", hex32 + "AA"}},
        {{"osinfo", "oem", text120}, {"osinfo", "oem", text120 + "x"}},
        {{"osinfo", "os", wide120}, {"osinfo", "os", wide120 + "x"}},
        {{"call", "SetBackLightLevel", "4294967295"}, {"call", "SetBackLightLevel", "4294967296"}},
        {{"call", "SetBKLSuspendTimeout", "0"}, {"call", "SetBKLSuspendTimeout", "-1"}},
        {{"call", "GetDeviceUUID", "4096"}, {"call", "GetDeviceUUID", "4097"}},
        {{"call", "GetCardID", "4096"}, {"call", "GetCardID", "4097"}},
        {{"call", "GetOemInfo", "8192"}, {"call", "GetOemInfo", "8193"}},
        {{"call", "GetOSVersion", "8192"}, {"call", "GetOSVersion", "8193"}},
        {{"call", "SpeakerBeepInternal", "4294967295", "255"},
         {"call", "SpeakerBeepInternal", "1", "256"}},
        {{"call", "ScreenOnOff", "2147483647"}, {"call", "ScreenOnOff", "2147483648"}},
        {{"call", "SetUSBMode", "-2147483648"}, {"call", "SetUSBMode", "-2147483649"}},
        {{"call", "SensorParamTst::SetCurPressure", "4294967295"},
         {"call", "SensorParamTst::SetCurPressure", "4294967296"}},
        {{"call", "SensorParamTst::SetCurAltitude", "-2147483648"},
         {"call", "SensorParamTst::SetCurAltitude", "-2147483649"}},
        // A count of 0 (or a level of 0) ends at once, so that the limits of
        // the durations can be tried without sounding them.
        {{"call", "BuzzerBeep", "1", "255", "600000", "0", "600000"},
         {"call", "BuzzerBeep", "1", "256", "0", "0", "0"}},
        {{"call", "BuzzerBeep", "1", "0", "0", "0", "600000"},
         {"call", "BuzzerBeep", "1", "0", "600001", "0", "0"}},
        {{"call", "BuzzerBeep", "1", "0", "0", "0", "0"},
         {"call", "BuzzerBeep", "1", "0", "0", "0", "600001"}},
        {{"call", "BuzzerBeep", "0", "0", "0", "10000", "0"},
         {"call", "BuzzerBeep", "0", "0", "0", "10001", "0"}},
    };
    for (const Limit& limit : limits) {
        {
            SCOPED_TRACE(Joined(limit.atLimit));
            Captured r = Devctl(limit.atLimit);
            EXPECT_EQ(r.exitCode, 0) << r.err;
            EXPECT_EQ(r.err, "");
        }
        ExpectRefused(limit.pastLimit, "");
    }
    // Waiting for an answer: the seconds are checked before anything is sent.
    ExpectRefused({"notify", "1", "--wait-answer", "86401"},
                  "SECONDS must lie between 0 and 86400");
    ExpectRefused({"notify", "1", "--wait-answer", "86400"}, "no program waits");
}

TEST_F(LimitsTest, EveryVerbTakesOneNumberSyntaxAndNothingElse) {
    ASSERT_EQ(Devctl({"battery", "set", "50"}).exitCode, 0);
    ASSERT_EQ(Devctl({"backlight", "level", "9"}).exitCode, 0);
    struct Case {
        Args args;
        std::string mentions;
    };
    const Case cases[] = {
        {{"battery", "set", "--", "--5"},
         "\"--5\" is not a number (the charge in percent: 0 to 100)"},
        {{"battery", "set", "+5"}, "\"+5\" is not a number"},
        {{"battery", "set", " 5"}, "\" 5\" is not a number"},
        {{"battery", "set", "5 "}, "\"5 \" is not a number"},
        {{"battery", "set", "-0x"}, "\"-0x\" is not a number"},
        {{"battery", "set", "5e1"}, "\"5e1\" is not a number"},
        {{"backlight", "level", "--", "--7"},
         "\"--7\" is not a number (the level: 0 to 4294967295)"},
        {{"backlight", "level", "0x-5"}, "\"0x-5\" is not a number"},
        {{"backlight", "level", "0x0x5"}, "\"0x0x5\" is not a number"},
        {{"backlight", "level", "-"}, "\"-\" is not a number"},
        {{"backlight", "level", ""}, "\"\" is not a number"},
        {{"accel", "1", "2", "0x-3"}, "\"0x-3\" is not a number (Z: -32768 to 32767)"},
        {{"compass", "rate", "0x+5"}, "\"0x+5\" is not a number"},
        {{"usb", "adapter", "99999999999999999999"}, "\"99999999999999999999\" is not a number"},
        {{"power", "flag", "--", "-1"}, "\"-1\" is not a 32-bit number"},
        {{"power", "flag", "0x-1"}, "\"0x-1\" is not a 32-bit number"},
        {{"reg", "set", "HKLM\\init\\App", "n", "+1"}, "\"+1\" is not a 32-bit number"},
        {{"notify", "--", "--1"}, "\"--1\" is not a 32-bit code"},
        {{"notify", "1", "--wait-answer", "+5"}, "\"+5\" is not a number (SECONDS: 0 to 86400)"},
        {{"call", "SetBackLightLevel", "--", "--1"}, "\"--1\" is not a number"},
        {{"call", "BuzzerBeep", "5", "1", "0x-1", "1", "1"}, "\"0x-1\" is not a number"},
    };
    for (const Case& c : cases) {
        ExpectRefused(c.args, c.mentions);
    }
    EXPECT_EQ(Devctl({"battery"}).out.rfind("percent: 50\n", 0), 0u) << "nothing was changed";
    EXPECT_EQ(Devctl({"backlight"}).out.rfind("level: 9\n", 0), 0u) << "nothing was changed";
}

TEST_F(LimitsTest, EachExportTakesExactlyItsArguments) {
    struct Case {
        Args args;
        std::string mentions;
    };
    const Case cases[] = {
        {{"call", "SetBackLightLevel", "1", "2"}, "SetBackLightLevel takes LEVEL"},
        {{"call", "SetBackLightLevel"}, "SetBackLightLevel takes LEVEL"},
        {{"call", "GetBatteryStatus", "99"}, "GetBatteryStatus takes no arguments"},
        {{"call", "Reboot", "now"}, "Reboot takes no arguments"},
        {{"call", "BuzzerStop", "1"}, "BuzzerStop takes no arguments"},
        {{"call", "GetCurSampleCnt", "2"}, "GetCurSampleCnt takes no arguments"},
        {{"call", "SetBTPower"}, "SetBTPower takes ON"},
        {{"call", "ScreenOnOff", "1", "1"}, "ScreenOnOff takes ON"},
        {{"call", "GetDeviceUUID", "16", "16"}, "GetDeviceUUID takes [SIZE]"},
        {{"call", "GetOSVersion", "256", "1"}, "GetOSVersion takes [SIZE]"},
        {{"call", "SpeakerBeepInternal", "1"}, "SpeakerBeepInternal takes LEVEL SCALE"},
        {{"call", "BuzzerBeep", "5", "10", "0", "1", "0", "9"},
         "BuzzerBeep takes LEVEL SCALE BEEP_MS COUNT PAUSE_MS"},
        {{"call", "CCompass::Open", "1"}, "CCompass::Open takes no arguments"},
        {{"call", "GSensorTst::GetPosition", "1"}, "GSensorTst::GetPosition takes no arguments"},
        {{"call", "SensorParamTst::SetCurAltitude"}, "SetCurAltitude takes the value"},
        {{"call", "SensorParamTst::SetCurAltitude", "1", "2"}, "SetCurAltitude takes the value"},
    };
    for (const Case& c : cases) {
        ExpectRefused(c.args, c.mentions);
    }
    // Nothing reached a driver: the backlight level is the default.
    EXPECT_EQ(Devctl({"call", "GetBackLightLevel"}).out, "50\n");
}

TEST_F(LimitsTest, ABeepSequenceFromTheShellRunsToItsEndAndEndsSilent) {
    // Beeps and pauses of 0 ms: the sequence lasts as long as its requests
    // take, and the call stays until the last of them.
    Captured call = Devctl({"call", "BuzzerBeep", "5", "10", "0", "300", "0"});
    ASSERT_EQ(call.exitCode, 0) << call.err;
    Captured log = Devctl({"buzzer", "log"});
    ASSERT_EQ(log.exitCode, 0);
    size_t tones = 0;
    for (size_t at = log.out.find("level 5 "); at != std::string::npos;
         at = log.out.find("level 5 ", at + 1)) {
        ++tones;
    }
    EXPECT_EQ(tones, 300u);
    EXPECT_TRUE(log.out.ends_with("level 0 scale 0 (silence)\n")) << log.out.substr(0, 200);
}

TEST_F(LimitsTest, AnEndingSignalStopsTheSequenceAndLeavesTheBuzzerSilent) {
    hh::sys::testing::Program call = hh::sys::testing::Program::Start(
        DEVCTL_PATH, {"call", "BuzzerBeep", "5", "10", "600000", "3", "0"});
    ASSERT_NE(call.pid(), 0);
    const bool sounding = hh::sys::testing::WaitUntil([] {
        return Devctl({"buzzer", "log"}).out.find("level 5 ") != std::string::npos;
    });
    ::kill(call.pid(), SIGINT);
    Captured r = call.finish();
    ASSERT_TRUE(sounding);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "devctl: the sequence was stopped by a signal\n");
    EXPECT_TRUE(Devctl({"buzzer", "log"}).out.ends_with("level 0 scale 0 (silence)\n"));
}

} // namespace
