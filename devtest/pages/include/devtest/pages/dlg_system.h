#pragma once

#include <platform/window/dialog.h>

#include <cstdint>

namespace devtest {

inline constexpr std::uintptr_t TIMER_BATTERY = 1;
inline constexpr uint32_t kBatteryMs = 1000;

/// "System": shut down, restart, restore the registry, the battery line.
class CDlgSystem : public hh::win::Dialog {
public:
    CDlgSystem();

protected:
    bool OnInitDialog() override;
    void OnCommand(int id, int code) override;
    void OnTimer(std::uintptr_t id) override;
};

} // namespace devtest
