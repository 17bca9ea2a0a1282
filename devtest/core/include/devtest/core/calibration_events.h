#pragma once
// The eight calibration events as the page shares them with the compass
// driver: named, manual reset, made (or opened) in index order.

#include <devtest/core/calibration.h>
#include <platform/system/event.h>

#include <array>

namespace devtest {

class CalibrationEvents : public CalibrationEventSource {
public:
    /// No events yet: a wait only times out until Create.
    CalibrationEvents() = default;
    ~CalibrationEvents() override;
    CalibrationEvents(const CalibrationEvents&) = delete;
    CalibrationEvents& operator=(const CalibrationEvents&) = delete;

    /// Creates or opens the eight events in index order; a name that cannot
    /// be made stays a null handle, which a wait skips.
    void Create();

    uint32_t Wait(uint32_t timeoutMs) override;
    void Reset(int index) override;
    /// Closes the handles in index order.
    void Close();

private:
    std::array<hh::sys::Event, 8> m_hCalEvents;
};

} // namespace devtest
