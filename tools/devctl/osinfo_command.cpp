// devctl osinfo: the device's texts.
//
//   devctl osinfo                        platform type, OEM text, OS version
//   devctl osinfo platform|oem|os TEXT   the OS version parts are separated by "&"

#include "device_support.h"

#include <platform/system/code_page.h>
#include <simulator/kernel/simulated_kernel.h>

#include <cstdio>
#include <memory>

namespace hh::devctl {

namespace {

void Show() {
    Json texts;
    for (const char* which : {"platform", "oem", "os"}) {
        texts[which] = Value(sim::DeviceText(which));
    }
    Print(texts, [&] {
        for (const auto& [which, text] : texts.items()) {
            std::printf("%s: %s\n", which.c_str(), text.get<std::string>().c_str());
        }
    });
}

} // namespace

void AddOsInfoCommand(CLI::App& app) {
    CLI::App* osinfo = app.add_subcommand("osinfo", "The platform, OEM and OS version texts");
    for (const char* which : {"platform", "oem", "os"}) {
        auto text = std::make_shared<std::string>();
        std::string name = which;
        CLI::App* sub = osinfo->add_subcommand(name, "Sets the " + name + " text");
        sub->add_option("TEXT", *text, "The text, at most 120 characters")->required();
        AddJsonFlag(sub);
        sub->callback([text, name] {
            if (sys::Utf8ToUtf16(*text).size() > 120) {
                throw CommandError("the text is longer than 120 characters");
            }
            CheckState();
            Check(sim::StoreDeviceText(name, *text), "the text could not be stored");
            Show();
        });
    }
    AddJsonFlag(osinfo);
    ShowWhenAlone(osinfo, Show);
}

} // namespace hh::devctl
