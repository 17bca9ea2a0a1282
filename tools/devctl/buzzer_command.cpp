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
    Json list = Json::array();
    int64_t previous = tones.empty() ? 0 : tones.front().atMs;
    for (const sim::ToneRequest& t : tones) {
        list.push_back({{"tick", t.atMs},
                        {"after_ms", t.atMs - previous},
                        {"level", t.level},
                        {"scale", t.scale}});
        previous = t.atMs;
    }
    Print({{"tones", list}}, [&] {
        for (const Json& t : list) {
            const uint32_t level = t["level"];
            std::printf("%lld +%lld level %u scale %u%s\n", t["tick"].get<long long>(),
                        t["after_ms"].get<long long>(), level, t["scale"].get<unsigned>(),
                        level ? "" : " (silence)");
        }
    });
}

} // namespace

void AddBuzzerCommand(CLI::App& app) {
    CLI::App* buzzer = app.add_subcommand("buzzer", "The buzzer's tone log");
    CLI::App* log = buzzer->add_subcommand("log", "Prints the tone requests with their times");
    log->callback([] {
        RequireDevice();
        ShowLog();
    });
    buzzer->add_subcommand("clear", "Empties the tone log")->callback([] {
        RequireDevice();
        Check(sim::ClearToneLog(), "the tone log could not be cleared");
    });
    AddJsonFlag(buzzer);
    AddJsonFlag(log);
    ShowWhenAlone(buzzer, ShowLog);
}

} // namespace hh::devctl
