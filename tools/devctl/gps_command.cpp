// devctl gps serve: the simulated GPS receiver on a pseudo-terminal of its own.
//
//   devctl gps serve [--replay FILE]
//       prints the pseudo-terminal's path and sends one burst of NMEA a second
//       (the simulated receiver, or a recorded log in a loop) until ended
//       with Ctrl-C; any NMEA tool can read it. A replay log is a regular
//       file of at most 4 MiB that holds NMEA sentences; anything else is
//       refused with one line.

#include "commands.h"

#include <platform/system/error.h>
#include <simulator/receiver/receiver_host.h>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <memory>

namespace hh::devctl {

void AddGpsCommand(CLI::App& app) {
    CLI::App* gps = app.add_subcommand("gps", "The simulated GPS receiver");
    gps->require_subcommand(1);
    CLI::App* serve = gps->add_subcommand("serve", "Serves the receiver on a pseudo-terminal");
    auto replay = std::make_shared<std::string>();
    serve->add_option("--replay", *replay,
                      "A recorded NMEA log to play instead (a regular file, at most 4 MiB)");
    serve->callback([replay] {
        std::unique_ptr<sim::BurstSource> source;
        if (!replay->empty()) {
            source = sim::ReplaySource::Load(*replay);
            if (!source) {
                throw CommandError("the replay log \"" + *replay + "\" " +
                                   sim::ReplaySource::RefusalText(sys::GetLastError()));
            }
        } else {
            sim::GpsReceiverOptions options;
            options.utcStart = static_cast<int64_t>(std::time(nullptr));
            options.seed = static_cast<uint64_t>(options.utcStart);
            source = std::make_unique<sim::GpsSource>(options);
        }
        // Block the ending signals first, so that the host's thread leaves them to us.
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        sigaddset(&signals, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);
        auto host = sim::PtyReceiverHost::Start(std::move(source), sim::Pacing::RealTime);
        if (!host) {
            throw CommandError("no pseudo-terminal could be had (error " +
                               std::to_string(sys::GetLastError()) + ")");
        }
        std::printf("%s\n", host->devicePath().c_str());
        std::fflush(stdout);
        int received = 0;
        sigwait(&signals, &received);
        host->stop();
    });
}

} // namespace hh::devctl
