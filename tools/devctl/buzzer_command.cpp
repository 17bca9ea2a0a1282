// devctl buzzer: the tone requests the backlight driver received.
//
//   devctl buzzer log     one line per request: device tick, milliseconds since
//                         the previous one, level and scale (level 0 = silence)
//   devctl buzzer clear   empties the log

#include "device_support.h"

#include <simulator/backlight/backlight_driver.h>

#include <cstdio>

namespace hh::devctl {

namespace {

void ShowLog() {
    std::vector<sim::ToneRequest> tones;
    Check(sim::ReadToneLog(tones), "the tone log could not be read");
    int64_t previous = tones.empty() ? 0 : tones.front().atMs;
    for (const sim::ToneRequest& t : tones) {
        std::printf("%lld +%lld level %u scale %u%s\n", static_cast<long long>(t.atMs),
                    static_cast<long long>(t.atMs - previous), t.level, t.scale,
                    t.level ? "" : " (silence)");
        previous = t.atMs;
    }
}

} // namespace

void AddBuzzerCommand(CLI::App& app) {
    CLI::App* buzzer = app.add_subcommand("buzzer", "The buzzer's tone log");
    buzzer->add_subcommand("log", "Prints the tone requests with their times")->callback([] {
        RequireDevice();
        ShowLog();
    });
    buzzer->add_subcommand("clear", "Empties the tone log")->callback([] {
        RequireDevice();
        Check(sim::ClearToneLog(), "the tone log could not be cleared");
    });
    ShowWhenAlone(buzzer, ShowLog);
}

} // namespace hh::devctl
