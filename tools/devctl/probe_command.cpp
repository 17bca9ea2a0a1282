// devctl probe: what this machine offers the Linux backend's drivers and
// where each is read, one line each ("barometer: none"), whichever backend
// HANDHELD_DEVICE chooses; it needs no device root.

#include "device_support.h"

#include <hardware/probe.h>

#include <cstdio>
#include <vector>

namespace hh::devctl {

void AddProbeCommand(CLI::App& app) {
    CLI::App* probe =
        app.add_subcommand("probe", "Shows what this machine offers the Linux backend's drivers");
    AddJsonFlag(probe);
    probe->callback([] {
        const std::vector<hw::ProbeLine> lines = hw::ProbeMachine();
        Json object;
        for (const hw::ProbeLine& line : lines) {
            object[line.what] = line.source;
        }
        Print(object, [&] {
            for (const hw::ProbeLine& line : lines) {
                std::printf("%s: %s\n", line.what.c_str(), line.source.c_str());
            }
        });
    });
}

} // namespace hh::devctl
