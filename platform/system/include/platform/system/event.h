#pragma once
// Events as on the device: manual or automatic reset, with one 32-bit data
// word. A named event is shared by every process of the same device root
// (opening an existing name returns the same event); events of two device
// roots never meet. Names are case-sensitive, at most 260 characters, without
// a backslash.

#include <platform/system/wait.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace hh::sys {

inline constexpr uint32_t EVENT_RESET = 2;
inline constexpr uint32_t EVENT_SET = 3;

enum class EventReset { Manual, Automatic };

class Event : public Waitable {
public:
    /// A null handle.
    Event() = default;

    /// CreateEventW: makes an event, or opens the existing one of that name
    /// (then `reset` and `initiallySet` are ignored and the last error is
    /// ERROR_ALREADY_EXISTS; otherwise ERROR_SUCCESS). An empty name makes an
    /// unnamed event. Returns a null handle with the last error set on failure
    /// (ERROR_INVALID_NAME, ERROR_FILENAME_EXCED_RANGE, ERROR_INVALID_HANDLE
    /// when the name belongs to a mutex, or a host error).
    static Event Create(EventReset reset, bool initiallySet, std::string_view name = {});
    static Event Create(EventReset reset, bool initiallySet, std::u16string_view name);

    /// Signals: a manual-reset event stays set until reset; an automatic-reset
    /// event releases one waiter and resets itself, or stays set until one
    /// comes. False (ERROR_INVALID_HANDLE) on a null handle.
    bool set();
    bool reset();
    /// SetEventData: stores one word on the event, replacing the previous one.
    bool setData(uint32_t data);
    /// GetEventData: the last word stored (0 on a null handle).
    uint32_t data() const;
    /// The name as given (UTF-8), empty for an unnamed event.
    std::string name() const;
};

/// EventModify with EVENT_SET or EVENT_RESET; other functions fail with
/// ERROR_INVALID_PARAMETER.
bool EventModify(Event& event, uint32_t function);
inline bool SetEvent(Event& event) {
    return event.set();
}
inline bool ResetEvent(Event& event) {
    return event.reset();
}
inline bool SetEventData(Event& event, uint32_t data) {
    return event.setData(data);
}
inline uint32_t GetEventData(const Event& event) {
    return event.data();
}

} // namespace hh::sys
