#include <devtest/core/page_tables.h>

#include <gtest/gtest.h>

namespace devtest {
namespace {

TEST(SleepTime, StoredSecondsSelectTheirEntryOrThirtySeconds) {
    const std::pair<uint32_t, int> rows[] = {
        {15, 0},   {30, 1},     {60, 2}, {120, 3}, {300, 4},        {600, 5},
        {1800, 6}, {268800, 7}, {45, 1}, {0, 1},   {0xFFFFFFFF, 1},
    };
    for (auto [seconds, index] : rows) {
        EXPECT_EQ(SleepTimeIndex(seconds), index) << seconds;
    }
}

TEST(SleepTime, TextsGiveTheirSecondsAndAnythingElseZero) {
    const std::pair<std::u16string_view, uint32_t> rows[] = {
        {u"15s", 15},   {u"30s", 30},    {u"1min", 60},    {u"2min", 120},
        {u"5min", 300}, {u"10min", 600}, {u"30min", 1800}, {u"Never", 268800},
        {u"never", 0},  {u"20s", 0},     {u"", 0},         {u"30s ", 0},
    };
    for (auto [text, seconds] : rows) {
        EXPECT_EQ(SleepTimeSeconds(text), seconds);
    }
}

TEST(BuzzerLists, DurationsAndCounts) {
    const auto durations = DurationItems();
    const std::u16string texts[] = {u"50 ms",  u"100 ms", u"200 ms",
                                    u"300 ms", u"400 ms", u"500 ms"};
    const uint32_t values[] = {50, 100, 200, 300, 400, 500};
    for (std::size_t i = 0; i < durations.size(); ++i) {
        EXPECT_EQ(durations[i].text, texts[i]);
        EXPECT_EQ(durations[i].value, values[i]);
    }
    const auto counts = CountItems();
    EXPECT_EQ(counts.front().text, u"1");
    EXPECT_EQ(counts.back().text, u"10");
    EXPECT_EQ(counts.back().value, 10u);
    EXPECT_EQ(durations[kBeepDurationStart].value, 50u);
    EXPECT_EQ(durations[kPauseDurationStart].value, 100u);
    EXPECT_EQ(counts[kBeepCountStart].value, 5u);
}

TEST(HardwareKeys, TheFourCodesAndNothingElse) {
    const std::tuple<int, int, std::u16string_view> rows[] = {
        {0xC1, 1010, u"back"}, {0xC2, 1012, u"up"}, {0xC3, 1013, u"down"}, {0xC4, 1022, u"ok"}};
    for (auto [vk, button, name] : rows) {
        const HardwareKey* key = FindHardwareKey(vk);
        ASSERT_NE(key, nullptr) << vk;
        EXPECT_EQ(key->buttonId, button);
        EXPECT_EQ(key->name, name);
    }
    EXPECT_EQ(FindHardwareKey(0xC0), nullptr);
    EXPECT_EQ(FindHardwareKey(0xC5), nullptr);
}

TEST(Notification, EveryCodeOfTheTable) {
    using W = NotificationAction::Window;
    using B = NotificationAction::Buttons;
    const std::pair<uint32_t, NotificationAction> rows[] = {
        {1, {u"EVENTID_LOWBATTERY", W::Show, B::None}},
        {2, {u"EVENTID_MASSSTORAGE", W::Show, B::None}},
        {100, {std::nullopt, W::Hide, B::None}},
        {200, {u"EVENTID_SHUTDOWN", W::Show, B::ShutdownCancel}},
        {300, {u"EVENTID_MASS_OR_CHARGING", W::Show, B::MassStorageCharging}},
        {0, {}},
        {7, {}},
        {0xFFFFFFFF, {}},
    };
    for (const auto& [code, action] : rows) {
        EXPECT_EQ(NotificationFor(code), action) << code;
    }
}

} // namespace
} // namespace devtest
