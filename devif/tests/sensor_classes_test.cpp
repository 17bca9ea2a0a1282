// The sensor classes through libHalvix.so.

#include "halvix_fixture.h"

#include <simulator/compass/compass_driver.h>
#include <simulator/sensors/sensor_drivers.h>

namespace halvix_test {
namespace {

class SensorClassesTest : public HalvixTest {};

TEST_F(SensorClassesTest, NewObjectsAreClosedAndOpenOnce) {
    auto ecd = Script("ECD", Accept());
    auto smb = Script("SMB", Accept());
    auto psa = Script("PSA", Accept());
    CCompass compass;
    GSensorTst gsensor;
    SensorParamTst barometer;
    EXPECT_EQ(compass.IsOpen(), 0);
    EXPECT_EQ(compass.Close(), 0);
    EXPECT_EQ(compass.m_hDevice, sys::INVALID_HANDLE_VALUE);
    EXPECT_EQ(gsensor.IsOpen() + barometer.IsOpen(), 0);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(compass.Open(), 1);
        EXPECT_EQ(gsensor.Open(), 1);
        EXPECT_EQ(barometer.Open(), 1);
    }
    EXPECT_EQ(ecd->opens + smb->opens + psa->opens, 3);
    struct {
        std::shared_ptr<ScriptedDriver> driver;
        uint32_t share, flags;
    } opens[] = {{ecd, 0, 4}, {smb, 3, 0x10000000}, {psa, 0, 4}};
    for (auto& o : opens) {
        EXPECT_EQ(o.driver->lastOpen.access, 0xC0000000u);
        EXPECT_EQ(o.driver->lastOpen.shareMode, o.share);
        EXPECT_EQ(o.driver->lastOpen.disposition, 3u);
        EXPECT_EQ(o.driver->lastOpen.flags, o.flags);
    }
    EXPECT_EQ(compass.Close(), 0);
    EXPECT_EQ(compass.IsOpen(), 0);
    EXPECT_EQ(ecd->live, 0);
}

struct CompassCase {
    const char* name;
    int (CCompass::*method)();
    uint32_t code;
    std::vector<uint8_t> in;
    size_t outSize;
    bool closesOnRefusal;
};

TEST_F(SensorClassesTest, CompassMethodsSendTheirRequestsAndCloseAsTabled) {
    const std::vector<uint8_t> zero = {0, 0, 0, 0};
    const CompassCase cases[] = {
        {"SetModeMeasureSng", &CCompass::SetModeMeasureSng, 6000, {100, 0, 0, 0}, 0, false},
        {"SetModePowerdown", &CCompass::SetModePowerdown, 6001, {}, 0, true},
        {"SetHdoeLevel", &CCompass::SetHdoeLevel, 6002, zero, 0, false},
        {"SetModeConsciousCal_Hall", &CCompass::SetModeConsciousCal_Hall, 6003, {}, 0, false},
        {"SetHandsetFormation", &CCompass::SetHandsetFormation, 6004, zero, 0, true},
        {"GetHOffset", &CCompass::GetHOffset, 6005, {}, 6, true},
        {"GetHData", &CCompass::GetHData, 6006, zero, 56, true},
        {"GetDebugInformation", &CCompass::GetDebugInformation, 6008, {}, 16, true},
        {"GetAOffset", &CCompass::GetAOffset, 6009, {}, 6, true},
        {"GetAData", &CCompass::GetAData, 6010, zero, 56, true},
        {"FctTest", &CCompass::FctTest, 6011, {}, 4004, true},
        {"SetModeConsciousCal_Side", &CCompass::SetModeConsciousCal_Side, 6012, {}, 0, false},
        {"SetModeConsciousCal_Upright", &CCompass::SetModeConsciousCal_Upright, 6013, {}, 0, false},
        {"SetModeConsciousCal", &CCompass::SetModeConsciousCal, 0x01010FC4, {}, 0, false},
    };
    for (const CompassCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool accepted : {true, false}) {
            auto ecd = Script("ECD", accepted ? Accept() : Refuse());
            CCompass compass; // never opened: the method opens "ECD1:" itself
            EXPECT_EQ((compass.*c.method)(), accepted ? 1 : 0);
            ASSERT_EQ(ecd->opens, 1);
            std::vector<Seen> seen = ecd->seen();
            ASSERT_EQ(seen.size(), 1u);
            EXPECT_EQ(seen[0].code, c.code);
            EXPECT_EQ(seen[0].in, c.in);
            EXPECT_EQ(seen[0].outSize, c.outSize);
            EXPECT_EQ(compass.IsOpen(), accepted || !c.closesOnRefusal ? 1 : 0);
        }
    }
}

TEST_F(SensorClassesTest, CompassMethodsWithoutTheDriverSendNothing) {
    Off("ECD1");
    CCompass compass;
    EXPECT_EQ(compass.Open(), 0);
    EXPECT_EQ(compass.GetHData(), 0);
    EXPECT_EQ(compass.SetModeMeasureSng(), 0);
    EXPECT_EQ(compass.GetDirection(), 0);
    EXPECT_EQ(compass.IsOpen(), 0);
}

TEST_F(SensorClassesTest, DirectionAndAzimuthAreSharedByAllCompasses) {
    // The shared blocks start at zero only in a fresh process.
    EXPECT_EQ(sys::testing::RunInChild([] {
                  CCompass a;
                  CCompass b;
                  if (a.GetAzimuth() != 0 || a.GetDirection() != 0) {
                      return 1; // never opened: the request goes to an invalid handle
                  }
                  sim::StoreCompassAzimuth(-45);
                  if (a.Open() != 1 || a.GetDirection() != 1 || b.GetAzimuth() != -45) {
                      return 2;
                  }
                  sim::SetDriverAvailable("ECD1", false);
                  sim::StoreCompassAzimuth(10);
                  if (b.Open() != 0 || b.GetDirection() != 0 || b.GetAzimuth() != -45) {
                      return 3;
                  }
                  return 0;
              }),
              0);
}

TEST_F(SensorClassesTest, DirectionRequestCarriesTheParameterBlock) {
    auto ecd = Script("ECD", Accept(0x11));
    CCompass compass;
    ASSERT_EQ(compass.Open(), 1);
    ASSERT_EQ(compass.GetDirection(), 1);
    EXPECT_EQ(compass.GetAzimuth(), 0x1111);
    std::vector<Seen> seen = ecd->seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].code, 6007u);
    EXPECT_EQ(seen[0].outSize, 20u);
    const int16_t words[] = {0,  0, 0, 1, 0,  0, 0, -1, 0,  0, 0,      -1,
                             -1, 0, 0, 0, -1, 0, 0, 0,  -1, 1, 0x1020, 0};
    std::vector<uint8_t> expected(48);
    std::memcpy(expected.data(), words, 48);
    EXPECT_EQ(seen[0].in, expected);
}

TEST_F(SensorClassesTest, GSensorReadsSignedValuesAndClosesOnRefusal) {
    GSensorTst gsensor;
    _XYZ_POSITION position{7, 7, 7};
    EXPECT_EQ(gsensor.GetPosition(position), 0); // closed: untouched
    EXPECT_EQ(position.X + position.Y + position.Z, 21);
    ASSERT_TRUE(sim::StoreAcceleration({-12, 3, 980}));
    ASSERT_EQ(gsensor.Open(), 1);
    EXPECT_EQ(gsensor.GetPosition(position), 1);
    EXPECT_EQ(position.X, -12);
    EXPECT_EQ(position.Y, 3);
    EXPECT_EQ(position.Z, 980);

    auto smb = Script("SMB", Accept(0xFF));
    GSensorTst all;
    ASSERT_EQ(all.Open(), 1);
    EXPECT_EQ(all.GetPosition(position), 1);
    EXPECT_EQ(position.X, -1);
    EXPECT_EQ(smb->seen()[0].code, 0x01012F8Cu);
    EXPECT_EQ(smb->seen()[0].outSize, 6u);

    Script("SMB", Refuse());
    GSensorTst refused;
    ASSERT_EQ(refused.Open(), 1);
    position = {1, 2, 3};
    EXPECT_EQ(refused.GetPosition(position), 0);
    EXPECT_EQ(refused.IsOpen(), 0);
    EXPECT_EQ(position.X + position.Y + position.Z, 6);
}

TEST_F(SensorClassesTest, BarometerGettersAndSettersRoundTrip) {
    SensorParamTst barometer;
    int altitude = 0, pressure = 0, temperature = 0;
    EXPECT_EQ(barometer.GetCurAltitude(altitude), 0); // closed
    ASSERT_EQ(barometer.Open(), 1);
    ASSERT_TRUE(sim::StoreBarometer({512, 95460, -63}));
    EXPECT_EQ(barometer.GetCurAltitude(altitude), 1);
    EXPECT_EQ(barometer.GetCurPressure(pressure), 1);
    EXPECT_EQ(barometer.GetTemperature(temperature), 1);
    EXPECT_EQ(altitude, 512);
    EXPECT_EQ(pressure, 95460);
    EXPECT_EQ(temperature, -63);
    int newAltitude = 800;
    uint32_t newPressure = 92000;
    EXPECT_EQ(barometer.SetCurAltitude(newAltitude), 1);
    EXPECT_EQ(barometer.SetCurPressure(newPressure), 1);
    EXPECT_EQ(sim::ReadBarometer().value(), (sim::BarometerReading{800, 92000, -63}));
}

TEST_F(SensorClassesTest, ARefusedBarometerRequestClosesUntilOpenedAgain) {
    auto psa = Script("PSA", Refuse());
    SensorParamTst barometer;
    ASSERT_EQ(barometer.Open(), 1);
    int pressure = 5;
    EXPECT_EQ(barometer.GetCurPressure(pressure), 0);
    EXPECT_EQ(barometer.IsOpen(), 0);
    EXPECT_EQ(barometer.GetCurPressure(pressure), 0);
    EXPECT_EQ(psa->seen().size(), 1u);
    EXPECT_EQ(psa->seen()[0].code, 2001u);
    EXPECT_EQ(pressure, 5);
    struct {
        int (SensorParamTst::*get)(int&);
        uint32_t code;
    } getters[] = {{&SensorParamTst::GetCurAltitude, 2000},
                   {&SensorParamTst::GetCurPressure, 2001},
                   {&SensorParamTst::GetTemperature, 2002},
                   {&SensorParamTst::SetCurAltitude, 2003}};
    for (auto g : getters) {
        auto driver = Script("PSA", Accept());
        SensorParamTst s;
        ASSERT_EQ(s.Open(), 1);
        int value = 9;
        EXPECT_EQ((s.*g.get)(value), 1);
        EXPECT_EQ(driver->seen()[0].code, g.code);
        bool setter = g.code == 2003;
        EXPECT_EQ(driver->seen()[0].in.size(), setter ? 4u : 0u);
        EXPECT_EQ(driver->seen()[0].outSize, setter ? 0u : 4u);
    }
}

TEST_F(SensorClassesTest, CopiesHoldTheirOwnHandles) {
    auto smb = Script("SMB", Accept());
    {
        GSensorTst original;
        ASSERT_EQ(original.Open(), 1);
        GSensorTst copy(original);
        EXPECT_EQ(copy.IsOpen(), 1);
        EXPECT_NE(copy.m_hDevice, original.m_hDevice);
        EXPECT_EQ(original.Close(), 0);
        _XYZ_POSITION p{};
        EXPECT_EQ(copy.GetPosition(p), 1); // still open after the original closed
        EXPECT_EQ(smb->live, 1);

        GSensorTst assigned;
        ASSERT_EQ(assigned.Open(), 1);
        EXPECT_EQ(smb->live, 2);
        assigned = copy;
        EXPECT_EQ(smb->live, 1); // its own handle was closed first
        assigned = assigned;
        EXPECT_EQ(assigned.IsOpen(), 1);
        GSensorTst closed;
        assigned = closed;
        EXPECT_EQ(assigned.IsOpen(), 0);
        EXPECT_EQ(assigned.m_hDevice, sys::INVALID_HANDLE_VALUE);
    }
    EXPECT_EQ(smb->live, 0);

    CCompass compass;
    ASSERT_EQ(compass.Open(), 1);
    auto* copy = new CCompass(compass);
    compass.Close();
    EXPECT_EQ(copy->SetModeMeasureSng(), 1);
    delete copy;
    SensorParamTst barometer;
    ASSERT_EQ(barometer.Open(), 1);
    SensorParamTst second = barometer;
    second.Close();
    int altitude = 0;
    EXPECT_EQ(barometer.GetCurAltitude(altitude), 1);
}

TEST_F(SensorClassesTest, ObjectsKeepTheDeviceLayout) {
    static_assert(sizeof(_XYZ_POSITION) == 6);
    static_assert(sizeof(sys::HANDLE) == 4);
    CCompass compass;
    EXPECT_EQ(
        reinterpret_cast<char*>(&compass.m_bOpen) - reinterpret_cast<char*>(&compass.m_hDevice), 4);
}

} // namespace
} // namespace halvix_test
