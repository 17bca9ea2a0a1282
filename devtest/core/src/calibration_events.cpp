#include <devtest/core/calibration_events.h>
#include <platform/system/clock.h>
#include <platform/system/wait.h>

#include <vector>

namespace devtest {

namespace sys = hh::sys;

void CalibrationEvents::Create() {
    for (std::size_t i = 0; i < m_hCalEvents.size(); ++i) {
        m_hCalEvents[i] = sys::Event::Create(sys::EventReset::Manual, false, kCalEventNames[i]);
    }
}

CalibrationEvents::~CalibrationEvents() {
    Close();
}

uint32_t CalibrationEvents::Wait(uint32_t timeoutMs) {
    // A handle that could not be made is left out; the indexes of the others
    // still name their events.
    std::vector<const sys::Waitable*> handles;
    std::vector<uint32_t> index;
    for (std::size_t i = 0; i < m_hCalEvents.size(); ++i) {
        if (m_hCalEvents[i]) {
            handles.push_back(&m_hCalEvents[i]);
            index.push_back(static_cast<uint32_t>(i));
        }
    }
    if (handles.empty()) {
        sys::Sleep(timeoutMs);
        return sys::WAIT_TIMEOUT;
    }
    const uint32_t result = sys::WaitForMultipleObjects(handles, timeoutMs);
    if (result < handles.size()) {
        return index[result];
    }
    return result;
}

void CalibrationEvents::Reset(int index) {
    if (index >= 0 && index < static_cast<int>(m_hCalEvents.size())) {
        sys::EventModify(m_hCalEvents[static_cast<std::size_t>(index)], sys::EVENT_RESET);
    }
}

void CalibrationEvents::Close() {
    for (sys::Event& event : m_hCalEvents) {
        event.close();
    }
}

} // namespace devtest
