// devctl battery: the simulated battery and line power.
//
//   devctl battery                      percent, charging, line power, presence
//                                       (--json: {"percent": 57, "charging": false, ...})
//   devctl battery set [PERCENT] [--charging|--discharging] [--ac|--no-ac]
//                      [--absent|--present]

#include "device_support.h"

#include <simulator/kernel/simulated_kernel.h>

#include <cstdio>
#include <memory>
#include <optional>

namespace hh::devctl {

namespace {

void Show() {
    sim::Battery b = Value(sim::ReadBattery());
    Print({{"percent", b.percent}, {"charging", b.charging}, {"ac", b.ac}, {"present", !b.absent}},
          [&] {
              std::printf("percent: %d\ncharging: %s\nac: %s\nbattery: %s\n", b.percent,
                          b.charging ? "yes" : "no", b.ac ? "yes" : "no",
                          b.absent ? "absent" : "present");
          });
}

struct SetOptions {
    std::optional<std::string> percent;
    bool charging = false, discharging = false, ac = false, noAc = false, absent = false,
         present = false;
};

} // namespace

void AddBatteryCommand(CLI::App& app) {
    CLI::App* battery = app.add_subcommand("battery", "The simulated battery and line power");
    CLI::App* set = battery->add_subcommand("set", "Changes the battery; unnamed parts stay");
    auto o = std::make_shared<SetOptions>();
    set->add_option("PERCENT", o->percent, "Charge in percent, 0 to 100");
    auto* charging = set->add_flag("--charging", o->charging, "The battery is charging");
    set->add_flag("--discharging", o->discharging, "The battery is not charging")
        ->excludes(charging);
    auto* ac = set->add_flag("--ac", o->ac, "On line power");
    set->add_flag("--no-ac", o->noAc, "On battery power")->excludes(ac);
    auto* absent = set->add_flag("--absent", o->absent, "No battery in the device");
    set->add_flag("--present", o->present, "A battery in the device")->excludes(absent);
    set->callback([o] {
        // Only what is named changes, in one transaction: another process
        // changing another part at the same moment keeps its change.
        sim::BatteryChange change;
        if (o->percent) {
            change.percent =
                static_cast<int>(ParseNumber(*o->percent, 0, 100, "the charge in percent"));
        }
        auto either = [](bool yes, bool no) {
            return yes || no ? std::optional<bool>(yes) : std::nullopt;
        };
        change.charging = either(o->charging, o->discharging);
        change.ac = either(o->ac, o->noAc);
        change.absent = either(o->absent, o->present);
        CheckState();
        Check(sim::ChangeBattery(change), "the battery could not be stored");
        Show();
    });
    AddJsonFlag(battery);
    AddJsonFlag(set);
    ShowWhenAlone(battery, Show);
}

} // namespace hh::devctl
