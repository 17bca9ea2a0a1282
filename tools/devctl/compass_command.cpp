// devctl compass: the simulated compass and its calibration.
//
//   devctl compass                  azimuth, how the next calibration ends,
//                                   samples per second, the calibration so far
//   devctl compass azimuth DEGREES  -32768 to 32767
//   devctl compass next success|failure|error|stop|stuck
//   devctl compass rate N           samples per second, 1 to 10000

#include "device_support.h"

#include <simulator/compass/compass_driver.h>

#include <cstdio>
#include <memory>

namespace hh::devctl {

namespace {

void Show() {
    sim::CalibrationStatus c = Value(sim::ReadCalibrationStatus());
    const int azimuth = Value(sim::CompassAzimuth());
    const std::string next = Value(sim::CalibrationOutcome());
    const int rate = Value(sim::CalibrationSampleRate());
    Print({{"azimuth", azimuth},
           {"next", next},
           {"rate", rate},
           {"calibration",
            {{"phase", c.phase},
             {"running", c.running},
             {"samples", c.samples},
             {"target", c.target}}}},
          [&] {
              std::printf("azimuth: %d\nnext: %s\nrate: %d\ncalibration: %s %s %d/%d\n", azimuth,
                          next.c_str(), rate, c.phase.c_str(), c.running ? "running" : "idle",
                          c.samples, c.target);
          });
}

} // namespace

void AddCompassCommand(CLI::App& app) {
    CLI::App* compass = app.add_subcommand("compass", "The compass and its calibration");
    auto degrees = std::make_shared<std::string>();
    CLI::App* azimuth = compass->add_subcommand("azimuth", "Sets the heading");
    azimuth->add_option("DEGREES", *degrees, "The heading in degrees, -32768 to 32767")->required();
    azimuth->callback([degrees] {
        auto d = static_cast<int16_t>(ParseNumber(*degrees, -32768, 32767, "the heading"));
        CheckState();
        Check(sim::StoreCompassAzimuth(d), "the heading could not be stored");
        Show();
    });
    auto outcome = std::make_shared<std::string>();
    CLI::App* next = compass->add_subcommand("next", "How the next calibrations end");
    next->add_option("OUTCOME", *outcome, "success, failure, error, stop or stuck")->required();
    next->callback([outcome] {
        if (!sim::IsCalibrationOutcome(*outcome)) {
            throw CommandError("\"" + *outcome +
                               "\" is not an outcome (success, failure, error, stop or stuck)");
        }
        CheckState();
        Check(sim::StoreCalibrationOutcome(*outcome), "the outcome could not be stored");
        Show();
    });
    auto value = std::make_shared<std::string>();
    CLI::App* rate = compass->add_subcommand("rate", "Samples per second while calibrating");
    rate->add_option("N", *value, "1 to 10000")->required();
    rate->callback([value] {
        int n = static_cast<int>(ParseNumber(*value, 1, 10000, "samples per second"));
        CheckState();
        Check(sim::StoreCalibrationSampleRate(n), "the rate could not be stored");
        Show();
    });
    for (CLI::App* verb : {compass, azimuth, next, rate}) {
        AddJsonFlag(verb);
    }
    ShowWhenAlone(compass, Show);
}

} // namespace hh::devctl
