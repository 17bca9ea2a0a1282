#pragma once
// What the device's screen shows as its drivers set it: the screen switched
// off, the backlight level, the buzzer sounding, the device suspended. The
// drivers own that state (a backend shares it between the processes of the
// device root); the window layer draws its effect on the device screen. The
// backend registers a source for it, and a driver that changes it in this
// process calls DisplayStateChanged so the screen follows at once.

#include <cstdint>
#include <functional>
#include <memory>

namespace hh::sys {

struct DisplayState {
    bool screenOn = true;
    /// The backlight driver's level; the BKL page uses 1 (darkest) to 100.
    uint32_t backlightLevel = 100;
    bool buzzerSounding = false;
    /// A forced suspend: the screen stays dark until the device is woken.
    bool suspended = false;
    friend bool operator==(const DisplayState&, const DisplayState&) = default;
};

/// The backend's view of the display state.
class DisplayStateSource {
public:
    virtual ~DisplayStateSource() = default;
    virtual DisplayState displayState() = 0;
};

/// Registers (or, with null, removes) the backend's source.
void RegisterDisplayStateSource(std::shared_ptr<DisplayStateSource> source);
/// True while a source is registered.
bool HasDisplayStateSource();
/// The state from the registered source; the defaults (screen on, level 100,
/// silent, awake) without one.
DisplayState CurrentDisplayState();

/// Called by a driver after it changed the state; runs every observer on the
/// calling thread.
void DisplayStateChanged();
/// Observers of DisplayStateChanged; returns an id for removal.
int AddDisplayObserver(std::function<void()> observer);
void RemoveDisplayObserver(int id);

} // namespace hh::sys
