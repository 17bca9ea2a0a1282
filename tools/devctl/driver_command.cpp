// devctl driver: makes a driver unavailable, so that its opens fail.
//
//   devctl driver                 every driver with on or off
//   devctl driver off|on NAME     bkl1, pwr1, ufn1, ant1, ecd1, smb1, psa1 or kernel

#include "device_support.h"

#include <platform/system/error.h>
#include <simulator/state/driver_support.h>

#include <cstdio>
#include <memory>

namespace hh::devctl {

namespace {

// {"drivers": {"bkl1": true, ...}}, or one "NAME on|off" line per driver.
void PrintDrivers(const Json& drivers) {
    Print({{"drivers", drivers}}, [&] {
        for (const auto& [name, on] : drivers.items()) {
            std::printf("%s %s\n", name.c_str(), on.get<bool>() ? "on" : "off");
        }
    });
}

void Show() {
    Json drivers = Json::object();
    for (const std::string& name : sim::SwitchableDrivers()) {
        const bool on = sim::DriverAvailable(name);
        if (!on && sys::GetLastError() != sys::ERROR_FILE_NOT_FOUND) {
            throw CommandError(FailureText());
        }
        drivers[name] = on;
    }
    PrintDrivers(drivers);
}

void Switch(const std::string& name, bool on) {
    std::string canonical = sim::CanonicalDriverName(name);
    if (canonical.empty()) {
        throw CommandError("\"" + name +
                           "\" is not a driver (bkl1, pwr1, ufn1, ant1, ecd1, smb1, psa1, kernel)");
    }
    CheckState();
    Check(sim::SetDriverAvailable(canonical, on), "the driver could not be switched");
    PrintDrivers({{canonical, on}});
}

} // namespace

void AddDriverCommand(CLI::App& app) {
    CLI::App* driver = app.add_subcommand("driver", "Switches drivers off and on");
    for (bool on : {false, true}) {
        auto name = std::make_shared<std::string>();
        CLI::App* sub =
            driver->add_subcommand(on ? "on" : "off", on ? "Makes a driver available again"
                                                         : "Makes a driver unavailable");
        sub->add_option("NAME", *name, "The driver")->required();
        AddJsonFlag(sub);
        sub->callback([name, on] { Switch(*name, on); });
    }
    AddJsonFlag(driver);
    ShowWhenAlone(driver, Show);
}

} // namespace hh::devctl
