#include <devtest/core/page_tables.h>
#include <devtest/core/sensor_text.h>

#include <string>

namespace devtest {

const std::array<SleepTime, 8> kSleepTimes = {{
    {u"15s", 15},
    {u"30s", 30},
    {u"1min", 60},
    {u"2min", 120},
    {u"5min", 300},
    {u"10min", 600},
    {u"30min", 1800},
    {u"Never", 268800},
}};

int SleepTimeIndex(uint32_t seconds) {
    for (std::size_t i = 0; i < kSleepTimes.size(); ++i) {
        if (kSleepTimes[i].seconds == seconds) {
            return static_cast<int>(i);
        }
    }
    return 1;
}

uint32_t SleepTimeSeconds(std::u16string_view text) {
    for (const SleepTime& entry : kSleepTimes) {
        if (entry.text == text) {
            return entry.seconds;
        }
    }
    return 0;
}

std::array<ListItem, 6> DurationItems() {
    std::array<ListItem, 6> items;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const uint32_t ms = i == 0 ? 50 : static_cast<uint32_t>(i) * 100;
        items[i] = {Widen(std::to_string(ms) + " ms"), ms};
    }
    return items;
}

std::array<ListItem, 10> CountItems() {
    std::array<ListItem, 10> items;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const auto n = static_cast<uint32_t>(i + 1);
        items[i] = {Widen(std::to_string(n)), n};
    }
    return items;
}

const std::array<HardwareKey, 4> kHardwareKeys = {{
    {0xC1, 1010, u"back"},
    {0xC2, 1012, u"up"},
    {0xC3, 1013, u"down"},
    {0xC4, 1022, u"ok"},
}};

const HardwareKey* FindHardwareKey(int virtualKey) {
    for (const HardwareKey& key : kHardwareKeys) {
        if (key.virtualKey == virtualKey) {
            return &key;
        }
    }
    return nullptr;
}

NotificationAction NotificationFor(uint32_t code) {
    using W = NotificationAction::Window;
    using B = NotificationAction::Buttons;
    switch (code) {
    case EVENTID_LOWBATTERY:
        return {u"EVENTID_LOWBATTERY", W::Show, B::None};
    case EVENTID_MASSSTORAGE:
        return {u"EVENTID_MASSSTORAGE", W::Show, B::None};
    case EVENTID_HIDE:
        return {std::nullopt, W::Hide, B::None};
    case EVENTID_SHUTDOWN:
        return {u"EVENTID_SHUTDOWN", W::Show, B::ShutdownCancel};
    case EVENTID_MASS_OR_CHARGING:
        return {u"EVENTID_MASS_OR_CHARGING", W::Show, B::MassStorageCharging};
    default:
        return {};
    }
}

} // namespace devtest
