// devctl uuid: the device identifier the kernel reports.
//
//   devctl uuid            the 16 bytes in hexadecimal
//   devctl uuid set HEX    32 hexadecimal digits ("-" allowed between pairs)

#include "device_support.h"

#include <simulator/kernel/simulated_kernel.h>
#include <simulator/state/driver_support.h>

#include <cstdio>
#include <memory>

namespace hh::devctl {

namespace {

void Show() {
    const std::string uuid = sim::HexText(Value(sim::DeviceUuid()));
    Print({{"uuid", uuid}}, [&] { std::printf("%s\n", uuid.c_str()); });
}

} // namespace

void AddUuidCommand(CLI::App& app) {
    CLI::App* uuid = app.add_subcommand("uuid", "The device identifier");
    auto hex = std::make_shared<std::string>();
    CLI::App* set = uuid->add_subcommand("set", "Sets the identifier");
    set->add_option("HEX", *hex, "32 hexadecimal digits")->required();
    set->callback([hex] {
        std::vector<uint8_t> bytes;
        if (!sim::ParseHexBytes(*hex, 16, bytes)) {
            throw CommandError("\"" + *hex + "\" is not 16 bytes of hexadecimal");
        }
        CheckState();
        Check(sim::StoreDeviceUuid(bytes), "the identifier could not be stored");
        Show();
    });
    AddJsonFlag(uuid);
    AddJsonFlag(set);
    ShowWhenAlone(uuid, Show);
}

} // namespace hh::devctl
