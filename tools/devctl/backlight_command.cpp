// devctl backlight: the backlight driver's level and the screen.
//
//   devctl backlight                 level and screen
//   devctl backlight level N         0 to 4294967295, as the driver takes it
//   devctl backlight screen on|off

#include "device_support.h"

#include <simulator/backlight/backlight_driver.h>

#include <cstdio>
#include <memory>

namespace hh::devctl {

namespace {

void Show() {
    sim::BacklightState s = Value(sim::ReadBacklightState());
    Print({{"level", s.level}, {"screen", s.screenOn}},
          [&] { std::printf("level: %u\nscreen: %s\n", s.level, s.screenOn ? "on" : "off"); });
}

} // namespace

void AddBacklightCommand(CLI::App& app) {
    CLI::App* backlight = app.add_subcommand("backlight", "The backlight level and the screen");
    auto value = std::make_shared<std::string>();
    CLI::App* level = backlight->add_subcommand("level", "Sets the backlight level");
    level->add_option("N", *value, "The level, 0 to 4294967295")->required();
    level->callback([value] {
        CheckState();
        auto n = static_cast<uint32_t>(ParseNumber(*value, 0, 0xFFFFFFFFll, "the level"));
        Check(sim::StoreBacklightLevel(n), "the level could not be stored");
        Show();
    });
    auto onOff = std::make_shared<std::string>();
    CLI::App* screen = backlight->add_subcommand("screen", "Switches the screen on or off");
    screen->add_option("STATE", *onOff, "on or off")->required();
    screen->callback([onOff] {
        bool on = ParseOnOff(*onOff, "the screen");
        CheckState();
        Check(sim::StoreScreenOn(on), "the screen state could not be stored");
        Show();
    });
    for (CLI::App* verb : {backlight, level, screen}) {
        AddJsonFlag(verb);
    }
    ShowWhenAlone(backlight, Show);
}

} // namespace hh::devctl
