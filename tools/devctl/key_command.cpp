// devctl key: the device's four hardware keys.
//
//   devctl key back|up|down|ok press|release
//       presses or releases the key (virtual key 0xC1 to 0xC4) for the
//       program on the device screen that holds the keypad

#include "commands.h"
#include "device_support.h"

#include <simulator/keypad/keypad.h>

#include <cstdio>
#include <memory>
#include <string>

namespace hh::devctl {

namespace {

struct KeyOptions {
    std::string key;
    std::string action;
};

void SendKey(const KeyOptions& options) {
    const std::optional<int> vk = sim::HardwareKeyByName(options.key);
    if (!vk) {
        throw CommandError("\"" + options.key + "\" is not a key (back, up, down or ok)");
    }
    if (options.action != "press" && options.action != "release") {
        throw CommandError("\"" + options.action + "\" is neither press nor release");
    }
    const bool pressed = options.action == "press";
    std::string error;
    if (!sim::SendHardwareKey(*vk, pressed, error)) {
        throw CommandError(error);
    }
    Print({{"key", options.key}, {"pressed", pressed}, {"virtual_key", *vk}}, [&] {
        std::printf("%s %s (0x%02X)\n", options.key.c_str(), pressed ? "pressed" : "released", *vk);
    });
}

} // namespace

void AddKeyCommand(CLI::App& app) {
    CLI::App* key = app.add_subcommand("key", "Presses or releases a hardware key");
    auto options = std::make_shared<KeyOptions>();
    key->add_option("KEY", options->key, "back, up, down or ok")->required();
    key->add_option("ACTION", options->action, "press or release")->required();
    AddJsonFlag(key);
    key->callback([options] { SendKey(*options); });
}

} // namespace hh::devctl
