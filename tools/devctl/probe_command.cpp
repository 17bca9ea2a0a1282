// devctl probe: what this machine offers the Linux backend's drivers and
// where each is read, one line each ("barometer: none"), whichever backend
// HANDHELD_DEVICE chooses; it needs no device root.

#include "commands.h"

#include <hardware/probe.h>

#include <cstdio>

namespace hh::devctl {

void AddProbeCommand(CLI::App& app) {
    CLI::App* probe =
        app.add_subcommand("probe", "Shows what this machine offers the Linux backend's drivers");
    probe->callback([] {
        for (const hw::ProbeLine& line : hw::ProbeMachine()) {
            std::printf("%s: %s\n", line.what.c_str(), line.source.c_str());
        }
    });
}

} // namespace hh::devctl
