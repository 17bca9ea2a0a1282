// devctl bt: Bluetooth power as the driver "ANT1:" keeps it ("BTPower").
//
//   devctl bt            on, off, or "unknown" when the driver never stored it
//   devctl bt on|off

#include "device_support.h"

#include <simulator/bluetooth/bluetooth_driver.h>

#include <cstdio>
#include <memory>

namespace hh::devctl {

namespace {

void Show() {
    std::optional<uint32_t> power = sim::ReadBluetoothPower();
    Print({{"power", power ? Json(*power != 0) : Json(nullptr)}}, [&] {
        std::printf("%s\n", !power ? "unknown" : *power ? "on" : "off");
    });
}

} // namespace

void AddBluetoothCommand(CLI::App& app) {
    CLI::App* bt = app.add_subcommand("bt", "Bluetooth power");
    auto state = std::make_shared<std::string>();
    bt->add_option("STATE", *state, "on or off");
    AddJsonFlag(bt);
    bt->callback([state] {
        RequireDevice();
        if (!state->empty()) {
            bool on = ParseOnOff(*state, "Bluetooth power");
            Check(sim::StoreBluetoothPower(on ? 1 : 0), "Bluetooth power could not be stored");
        }
        Show();
    });
}

} // namespace hh::devctl
