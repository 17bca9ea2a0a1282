// devctl accel: the G-sensor's reading.
//
//   devctl accel          X Y Z
//   devctl accel X Y Z    signed 16-bit values

#include "device_support.h"

#include <simulator/sensors/sensor_drivers.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace hh::devctl {

void AddAccelCommand(CLI::App& app) {
    CLI::App* accel = app.add_subcommand("accel", "The G-sensor's X, Y and Z");
    auto values = std::make_shared<std::vector<std::string>>();
    accel->add_option("XYZ", *values, "X Y Z, signed 16-bit each")->expected(0, 3);
    AddJsonFlag(accel);
    accel->callback([values] {
        RequireDevice();
        CheckState();
        if (!values->empty()) {
            if (values->size() != 3) {
                throw CommandError("give all three of X, Y and Z");
            }
            sim::Acceleration a;
            a.x = static_cast<int16_t>(ParseNumber((*values)[0], -32768, 32767, "X"));
            a.y = static_cast<int16_t>(ParseNumber((*values)[1], -32768, 32767, "Y"));
            a.z = static_cast<int16_t>(ParseNumber((*values)[2], -32768, 32767, "Z"));
            Check(sim::StoreAcceleration(a), "the reading could not be stored");
        }
        sim::Acceleration a = Value(sim::ReadAcceleration());
        Print({{"x", a.x}, {"y", a.y}, {"z", a.z}},
              [&] { std::printf("%d %d %d\n", a.x, a.y, a.z); });
    });
}

} // namespace hh::devctl
