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
    sim::BarometerReading r = Value(sim::ReadBarometer());
    Print({{"altitude", r.altitude}, {"pressure", r.pressure}, {"temperature", r.temperature}},
          [&] {
              std::printf("altitude: %d m\npressure: %d (1/100 mb)\ntemperature: %d (1/10 C)\n",
                          r.altitude, r.pressure, r.temperature);
          });
}

} // namespace

void AddBaroCommand(CLI::App& app) {
    CLI::App* baro = app.add_subcommand("baro", "The barometric sensor");
    for (auto [name, part] : {std::pair{"altitude", sim::BarometerPart::Altitude},
                              std::pair{"pressure", sim::BarometerPart::Pressure},
                              std::pair{"temperature", sim::BarometerPart::Temperature}}) {
        auto value = std::make_shared<std::string>();
        CLI::App* sub = baro->add_subcommand(name, std::string("Sets the ") + name);
        sub->add_option("N", *value, "A 32-bit signed number")->required();
        AddJsonFlag(sub);
        sub->callback([value, what = std::string("the ") + name, part] {
            auto n = static_cast<int32_t>(ParseNumber(*value, INT32_MIN, INT32_MAX, what));
            CheckState();
            Check(sim::StoreBarometerPart(part, n), "the reading could not be stored");
            Show();
        });
    }
    AddJsonFlag(baro);
    ShowWhenAlone(baro, Show);
}

} // namespace hh::devctl
