#pragma once

#include <devif/halvix.h>
#include <devtest/core/calibration.h>
#include <devtest/core/calibration_events.h>
#include <devtest/pages/compass_of_page.h>
#include <platform/window/dialog.h>

#include <cstdint>
#include <string>

namespace devtest {

/// "Sensor": altitude, temperature, pressure, azimuth and the calibration.
class CDlgSensor : public hh::win::Dialog, private CalibrationView {
public:
    CDlgSensor();
    ~CDlgSensor() override;
    const Calibration& Cal() const { return m_cal; }

protected:
    bool OnInitDialog() override;
    void OnCommand(int id, int code) override;
    void OnTimer(std::uintptr_t id) override;
    void OnDestroy() override;

private:
    void ReadSensor();
    void ShowValue(int id, const std::u16string& text);
    // CalibrationView.
    void SetTimer(std::uintptr_t id, uint32_t periodMs) override;
    void KillTimer(std::uintptr_t id) override;
    void SetProgress(int position) override;
    void SetStatus(std::u16string_view text) override;
    void ShowMessage(std::u16string_view text, std::u16string_view caption) override;
    void EnableAdjust(bool enable) override;
    void ShowAzimuth(int16_t degrees) override;
    void Trace(std::string_view text) override;

    SensorParamTst* m_pSensor = nullptr;
    CCompass* m_pCompass = nullptr;
    CalibrationEvents m_hCalEvents;
    CompassOfPage m_compass;
    Calibration m_cal;
};

} // namespace devtest
