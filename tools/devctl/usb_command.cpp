// devctl usb: the USB function controller's client and the adapter status.
//
//   devctl usb                           client and adapter status
//   devctl usb client serial|mass-storage
//   devctl usb adapter N                 the status word "PWR1:" reports

#include "device_support.h"

#include <simulator/power/power_driver.h>
#include <simulator/usb/usb_function_driver.h>

#include <cstdio>
#include <memory>

namespace hh::devctl {

namespace {

void Show() {
    const std::string client = Value(sim::CurrentUsbClient());
    const uint32_t adapter = Value(sim::UsbAdapterStatus());
    Print({{"client", client}, {"adapter", adapter}},
          [&] { std::printf("client: %s\nadapter: %u\n", client.c_str(), adapter); });
}

} // namespace

void AddUsbCommand(CLI::App& app) {
    CLI::App* usb = app.add_subcommand("usb", "The USB client and the USB adapter status");
    auto name = std::make_shared<std::string>();
    CLI::App* client = usb->add_subcommand("client", "Chooses the USB client");
    client->add_option("CLIENT", *name, "serial or mass-storage")->required();
    client->callback([name] {
        const char* cls = *name == "serial"         ? sim::kSerialClient
                          : *name == "mass-storage" ? sim::kMassStorageClient
                                                    : nullptr;
        if (!cls) {
            throw CommandError("\"" + *name + "\" is not a USB client (serial or mass-storage)");
        }
        CheckState();
        Check(sim::StoreUsbClient(cls), "the USB client could not be stored");
        Show();
    });
    auto value = std::make_shared<std::string>();
    CLI::App* adapter = usb->add_subcommand("adapter", "Sets the USB adapter status word");
    adapter->add_option("N", *value, "The status word, 0 to 4294967295")->required();
    adapter->callback([value] {
        auto n = static_cast<uint32_t>(ParseNumber(*value, 0, 0xFFFFFFFFll, "the status word"));
        CheckState();
        Check(sim::StoreUsbAdapterStatus(n), "the adapter status could not be stored");
        Show();
    });
    for (CLI::App* verb : {usb, client, adapter}) {
        AddJsonFlag(verb);
    }
    ShowWhenAlone(usb, Show);
}

} // namespace hh::devctl
