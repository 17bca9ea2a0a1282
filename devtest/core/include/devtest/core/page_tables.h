#pragma once
// The tables of the test pages: the backlight sleep times, the buzzer lists,
// the hardware keys and the notification codes with what each does to the
// notification window.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace devtest {

struct SleepTime {
    std::u16string_view text;
    uint32_t seconds;
};

/// The sleep-time list of the BKL page, in list order. "Never" is 268800 s.
extern const std::array<SleepTime, 8> kSleepTimes;
/// The list index that a stored sleep time selects: the entry with exactly
/// those seconds, else 1 ("30s").
int SleepTimeIndex(uint32_t seconds);
/// The seconds of a list text (compared case-sensitively); 0 for any other text.
uint32_t SleepTimeSeconds(std::u16string_view text);

/// One entry of a buzzer list: its text and the value it carries as item data.
struct ListItem {
    std::u16string text;
    uint32_t value;
};

/// Beep and pause durations: "50 ms" ... "500 ms".
std::array<ListItem, 6> DurationItems();
/// Beep counts: "1" ... "10".
std::array<ListItem, 10> CountItems();
inline constexpr int kBeepDurationStart = 0;
inline constexpr int kPauseDurationStart = 1;
inline constexpr int kBeepCountStart = 4;

/// The four hardware keys of the KEY page.
struct HardwareKey {
    int virtualKey;
    int buttonId;
    std::u16string_view name;
};
extern const std::array<HardwareKey, 4> kHardwareKeys;
/// The key of a virtual-key code, or null for any other code.
const HardwareKey* FindHardwareKey(int virtualKey);
/// The KEY page's button text while a key is held.
inline constexpr std::u16string_view kKeyPressedText = u"press";

/// The notification codes: the data word of "EVENT_OVL_TARVEN".
inline constexpr uint32_t EVENTID_LOWBATTERY = 1;
inline constexpr uint32_t EVENTID_MASSSTORAGE = 2;
inline constexpr uint32_t EVENTID_HIDE = 100;
inline constexpr uint32_t EVENTID_SHUTDOWN = 200;
inline constexpr uint32_t EVENTID_MASS_OR_CHARGING = 300;
/// The answers: the data word set on "EVENT_OVL_SELECTION".
inline constexpr uint32_t SELECTION_MASSSTORAGE = 1;
inline constexpr uint32_t SELECTION_CHARGING = 2;

inline constexpr char16_t kNotifyEventName[] = u"EVENT_OVL_TARVEN";
inline constexpr char16_t kSelectionEventName[] = u"EVENT_OVL_SELECTION";

/// What a notification code does to the notification window. Its four
/// buttons are hidden first, whatever the code.
struct NotificationAction {
    enum class Window { Unchanged, Show, Hide };
    enum class Buttons { None, ShutdownCancel, MassStorageCharging };
    std::optional<std::u16string_view> text; ///< the new text, or none to keep it
    Window window = Window::Unchanged;
    Buttons buttons = Buttons::None;
    friend bool operator==(const NotificationAction&, const NotificationAction&) = default;
};
NotificationAction NotificationFor(uint32_t code);

} // namespace devtest
