// devctl baro: the barometric sensor.
//
//   devctl baro                    altitude (m), pressure (1/100 mb), temperature (1/10 °C)
//   devctl baro altitude|pressure|temperature N

#include "device_support.h"

#include <simulator/sensors/sensor_drivers.h>

#include <cstdio>
#include <memory>

namespace hh::devctl {

namespace {

void Show() {
    sim::BarometerReading r = sim::ReadBarometer();
    std::printf("altitude: %d m\npressure: %d (1/100 mb)\ntemperature: %d (1/10 C)\n", r.altitude,
                r.pressure, r.temperature);
}

} // namespace

void AddBaroCommand(CLI::App& app) {
    CLI::App* baro = app.add_subcommand("baro", "The barometric sensor");
    for (const char* part : {"altitude", "pressure", "temperature"}) {
        auto value = std::make_shared<std::string>();
        std::string name = part;
        CLI::App* sub = baro->add_subcommand(name, "Sets the " + name);
        sub->add_option("N", *value, "A 32-bit signed number")->required();
        sub->callback([value, name] {
            auto n = static_cast<int32_t>(ParseNumber(*value, INT32_MIN, INT32_MAX, "the " + name));
            CheckState();
            sim::BarometerReading r = sim::ReadBarometer();
            (name == "altitude" ? r.altitude : name == "pressure" ? r.pressure : r.temperature) = n;
            Check(sim::StoreBarometer(r), "the reading could not be stored");
            Show();
        });
    }
    ShowWhenAlone(baro, Show);
}

} // namespace hh::devctl
