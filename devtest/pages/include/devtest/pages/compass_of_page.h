#pragma once

#include <devif/halvix.h>
#include <devtest/core/calibration.h>

#include <cstdint>

namespace devtest {

/// The compass and the library's sample count as the calibration uses them.
class CompassOfPage : public CompassDevice {
public:
    CCompass* compass = nullptr;
    int Open() override;
    int Close() override;
    int IsOpen() override;
    int SetModeMeasureSng() override;
    int SetModePowerdown() override;
    int SetModeConsciousCal_Hall() override;
    int SetModeConsciousCal_Side() override;
    int GetDirection() override;
    int16_t GetAzimuth() override;
    int GetCurSampleCnt(int16_t& count) override;
};

} // namespace devtest
