// devctl power / devctl restart: the simulated power driver.
//
//   devctl power flag        the recover flag the power driver keeps (of an existing device)
//   devctl power flag N      stores N (decimal or 0x hexadecimal, 32 bits)
//   devctl power requests    the requests 3, 4 and 7 and the suspends and wakes
//                            the device received, with their device ticks
//   devctl power suspend     a forced suspend, as ShutDown asks for
//   devctl power wake        wakes the suspended device
//   devctl power state       awake or suspended
//   devctl restart           a simulated restart: a stored 100 becomes 101 and
//                            the tick count starts again

#include "device_support.h"

#include <platform/system/error.h>
#include <platform/system/stream_device.h>
#include <simulator/kernel/simulated_kernel.h>
#include <simulator/power/power_driver.h>

#include <cstdio>
#include <optional>
#include <string>

namespace hh::devctl {

void AddPowerCommand(CLI::App& app) {
    CLI::App* power = app.add_subcommand(
        "power", "The power driver: recover flag, requests received, suspend and wake");
    power->require_subcommand(1);
    CLI::App* flag = power->add_subcommand("flag", "Prints the recover flag, or stores N");
    auto value = std::make_shared<std::optional<std::string>>();
    flag->add_option("N", *value, "The value to store, 0 to 4294967295");
    flag->callback([value] {
        if (*value) {
            if (!sim::StoreRecoverFlag(ParseUint32(**value, "32-bit number"))) {
                throw CommandError("the recover flag could not be stored: " +
                                   sys::ErrorText(sys::GetLastError()));
            }
            return;
        }
        RequireDevice();
        std::optional<uint32_t> stored = sim::ReadStoredRecoverFlag();
        if (!stored) {
            throw CommandError("the recover flag could not be read: " +
                               sys::ErrorText(sys::GetLastError()));
        }
        Print({{"flag", *stored}}, [&] { std::printf("%u\n", *stored); });
    });
    AddJsonFlag(flag);

    CLI::App* requests = power->add_subcommand("requests", "Prints the power requests received");
    AddJsonFlag(requests);
    requests->callback([] {
        RequireDevice();
        std::vector<sim::PowerRequest> received;
        Check(sim::ReadPowerRequests(received), "the power log could not be read");
        Json list = Json::array();
        for (const sim::PowerRequest& r : received) {
            const char* name = r.code == sim::IOCTL_POWER_PREPARE_SUSPEND    ? "shutdown"
                               : r.code == sim::IOCTL_POWER_RESTORE_REGISTRY ? "recover"
                               : r.code == sim::IOCTL_POWER_PREPARE_RESTART  ? "restart"
                               : r.code == sys::POWER_STATE_SUSPEND          ? "suspend"
                                                                             : "wake";
            list.push_back(
                {{"tick", r.atMs}, {"name", name}, {"code", r.code}, {"value", r.value}});
        }
        Print({{"requests", list}}, [&] {
            for (const Json& r : list) {
                std::printf("%lld %s request 0x%X value %u\n", r["tick"].get<long long>(),
                            r["name"].get<std::string>().c_str(), r["code"].get<uint32_t>(),
                            r["value"].get<uint32_t>());
            }
        });
    });
    auto showState = [] {
        const bool suspended = Value(sim::DeviceSuspended());
        Print({{"suspended", suspended}},
              [&] { std::printf("%s\n", suspended ? "suspended" : "awake"); });
    };
    CLI::App* state = power->add_subcommand("state", "Prints whether the device sleeps");
    AddJsonFlag(state);
    state->callback([showState] {
        RequireDevice();
        CheckState();
        showState();
    });
    for (bool suspend : {true, false}) {
        CLI::App* sub = power->add_subcommand(suspend ? "suspend" : "wake",
                                              suspend ? "Suspends the device" : "Wakes the device");
        AddJsonFlag(sub);
        sub->callback([suspend, showState] {
            CheckState();
            Check(sim::SetDeviceSuspended(suspend), "the power state could not be stored");
            showState();
        });
    }

    CLI::App* restart = app.add_subcommand("restart", "Restarts the simulated device");
    restart->callback([] {
        if (!sim::RestartSimulatedDevice()) {
            throw CommandError("the device did not restart: " +
                               sys::ErrorText(sys::GetLastError()));
        }
        Print({{"restarted", true}}, [] { std::printf("restarted\n"); });
    });
    AddJsonFlag(restart);
}

} // namespace hh::devctl
