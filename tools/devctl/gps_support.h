#pragma once
// What devctl gps serve and devctl gps ttff share: the simulated receiver's
// options on the command line and its pace.

#include "commands.h"

#include <simulator/gps/gps_receiver.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace hh::devctl {

/// --seed, --speed and --almanac as given (empty when not).
struct ReceiverFlags {
    std::string seed;
    std::string speed;
    std::string almanac;
};
void AddReceiverOptions(CLI::App* command, ReceiverFlags& flags);
/// The receiver's options for a first burst at utc; CommandError for a bad
/// seed or an almanac file that is not one.
sim::GpsReceiverOptions ReceiverOptions(const ReceiverFlags& flags, int64_t utc);
/// --speed: 1 to 1000 bursts a second, 1 when not given.
uint32_t ParseSpeed(const std::string& text);
/// The real time between two bursts at a speed.
std::chrono::milliseconds BurstPeriod(uint32_t speed);

/// devctl gps ttff (gps_ttff.cpp).
void AddGpsTtffCommand(CLI::App* gps);

} // namespace hh::devctl
