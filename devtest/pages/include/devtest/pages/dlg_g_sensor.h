#pragma once

#include <devif/halvix.h>
#include <platform/window/dialog.h>

#include <cstdint>

namespace devtest {

inline constexpr std::uintptr_t TIMER_GSENSOR = 10;
inline constexpr uint32_t kGSensorMs = 500;

/// "GSensor": the accelerometer's X, Y and Z.
class CDlgG_Sensor : public hh::win::Dialog {
public:
    CDlgG_Sensor();
    ~CDlgG_Sensor() override;

protected:
    bool OnInitDialog() override;
    void OnTimer(std::uintptr_t id) override;
    void OnDestroy() override;

private:
    GSensorTst* m_pGSensor = nullptr;
};

} // namespace devtest
