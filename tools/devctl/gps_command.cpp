// devctl gps: the simulated GPS receiver and the scenario every receiver of
// the device follows (the terminal's COM7 and devctl gps serve alike).
//
//   devctl gps                          the scenario: position or route, block list, starts
//   devctl gps position LAT LON [ALT]   stands still there (degrees; metres above sea level)
//   devctl gps route FILE [--loop]      travels a GPX track or an NMEA log's fixes
//   devctl gps start cold|warm|hot      restarts the receivers
//   devctl gps block --below ELEV | PRN... | --all
//   devctl gps unblock                  signals blocked: an urban canyon, a tunnel
//   devctl gps sky                      the satellites a running receiver sees now
//   devctl gps serve [--seed N] [--speed N] [--almanac FILE] [--utc TIME] [--replay FILE]
//       prints the pseudo-terminal's path and sends the receiver's NMEA (or a
//       recorded log in a loop) until ended with Ctrl-C; any NMEA tool can
//       read it. --speed N sends N seconds of the receiver a second.
//   devctl gps ttff --runs N ...        time to first fix, measured (gps_ttff.cpp)

#include "device_support.h"
#include "gps_support.h"

#include <platform/system/error.h>
#include <platform/system/whole_file.h>
#include <simulator/gps/orbit.h>
#include <simulator/gps/route.h>
#include <simulator/receiver/gps_scenario_store.h>
#include <simulator/receiver/receiver_host.h>
#include <simulator/state/device_state.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <limits>
#include <memory>
#include <optional>

namespace hh::devctl {

namespace {

// A sky published longer ago than this is of a receiver that has stopped.
constexpr int64_t kSkyFreshSeconds = 5;
constexpr std::size_t kMaxFileBytes = 4u << 20;

std::string Decimal(double value, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    return buf;
}

std::string UtcText(int64_t utc) {
    const std::time_t t = static_cast<std::time_t>(utc);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return buf;
}

sim::GpsScenario LoadScenario() {
    std::optional<sim::GpsScenario> scenario = sim::LoadGpsScenario();
    if (!scenario && sys::GetLastError() == sys::ERROR_FILE_CORRUPT) {
        throw CommandError("the GPS scenario in " + sim::state::StatePath() +
                           " is damaged; it was left as it is");
    }
    return Value(std::move(scenario));
}

void Change(const std::function<void(sim::GpsScenario&)>& change) {
    CheckState();
    LoadScenario(); // a damaged scenario is reported as such
    Check(sim::ChangeGpsScenario([&](sim::GpsScenario& s) {
              change(s);
              return true;
          }),
          "the GPS scenario could not be stored");
}

std::string BlockText(const sim::GpsBlock& block) {
    switch (block.kind) {
    case sim::GpsBlock::Kind::None:
        return "none";
    case sim::GpsBlock::Kind::Below:
        return "below " + Decimal(block.below, 1) + " degrees";
    case sim::GpsBlock::Kind::Prns: {
        std::string text = "PRN";
        for (int prn : block.prns) {
            text += ' ' + std::to_string(prn);
        }
        return text;
    }
    case sim::GpsBlock::Kind::All:
        return "all";
    }
    return "none";
}

Json BlockJson(const sim::GpsBlock& block) {
    switch (block.kind) {
    case sim::GpsBlock::Kind::None:
        return {{"kind", "none"}};
    case sim::GpsBlock::Kind::Below:
        return {{"kind", "below"}, {"elevation", block.below}};
    case sim::GpsBlock::Kind::Prns:
        return {{"kind", "prns"}, {"prns", block.prns}};
    case sim::GpsBlock::Kind::All:
        return {{"kind", "all"}};
    }
    return {{"kind", "none"}};
}

void ShowScenario() {
    const sim::GpsScenario s = LoadScenario();
    Json object;
    if (s.route.empty()) {
        object["position"] = {
            {"latitude", s.latitude}, {"longitude", s.longitude}, {"altitude", s.altitude}};
    } else {
        object["route"] = {
            {"points", s.route.size()}, {"seconds", s.route.back().time}, {"loop", s.loop}};
    }
    object["blocked"] = BlockJson(s.block);
    object["starts"] = s.starts;
    object["last_start"] = std::string(sim::GpsStartName(s.start));
    Print(object, [&] {
        if (s.route.empty()) {
            std::printf("position: %s %s %s m\n", Decimal(s.latitude, 6).c_str(),
                        Decimal(s.longitude, 6).c_str(), Decimal(s.altitude, 1).c_str());
        } else {
            std::printf("route: %zu points, %s s%s\n", s.route.size(),
                        Decimal(s.route.back().time, 0).c_str(), s.loop ? ", looping" : "");
        }
        std::printf("blocked: %s\n", BlockText(s.block).c_str());
        std::printf("starts: %llu (last %s)\n", static_cast<unsigned long long>(s.starts),
                    std::string(sim::GpsStartName(s.start)).c_str());
    });
}

void PrintSatellites(const std::vector<sim::GpsSatellite>& satellites, bool live) {
    std::printf("PRN  ELEV  AZIM  SNR  USED\n");
    for (const sim::GpsSatellite& s : satellites) {
        const std::string snr = live && s.snr > 0 ? std::to_string(s.snr) : "-";
        std::printf("%3d  %4d  %4d  %3s  %s\n", s.prn, s.elevation, s.azimuth, snr.c_str(),
                    s.used ? "yes" : "no");
    }
}

Json SatellitesJson(const std::vector<sim::GpsSatellite>& satellites, bool live) {
    Json list = Json::array();
    for (const sim::GpsSatellite& s : satellites) {
        list.push_back({{"prn", s.prn},
                        {"elevation", s.elevation},
                        {"azimuth", s.azimuth},
                        {"snr", live && s.snr > 0 ? Json(s.snr) : Json()},
                        {"used", s.used}});
    }
    return list;
}

void ShowSky() {
    std::optional<sim::GpsSky> sky;
    Check(sim::ReadGpsSky(sky), "the published sky could not be read");
    const auto now = static_cast<int64_t>(std::time(nullptr));
    if (sky && std::llabs(now - sky->publishedAt) <= kSkyFreshSeconds) {
        static const char* const fixes[] = {"", "none", "2D", "3D"};
        const char* fix = fixes[static_cast<int>(sky->fix)];
        Print({{"receiver", sky->receiver},
               {"utc", UtcText(sky->utc)},
               {"fix", fix},
               {"satellites", SatellitesJson(sky->satellites, true)}},
              [&] {
                  std::printf("receiver: %s\nutc: %s\nfix: %s\n", sky->receiver.c_str(),
                              UtcText(sky->utc).c_str(), fix);
                  PrintSatellites(sky->satellites, true);
              });
        return;
    }
    // No receiver runs: what the almanac puts above the horizon here and now.
    const sim::GpsScenario s = LoadScenario();
    sim::GpsReceiver rx({.latitude = s.latitude, .longitude = s.longitude, .utcStart = now});
    rx.follow(s);
    rx.nextBurst();
    std::vector<sim::GpsSatellite> view = rx.satellites();
    for (sim::GpsSatellite& sat : view) {
        sat.used = false;
    }
    Print({{"receiver", nullptr},
           {"latitude", rx.latitude()},
           {"longitude", rx.longitude()},
           {"utc", UtcText(now)},
           {"satellites", SatellitesJson(view, false)}},
          [&] {
              std::printf("receiver: none running; the almanac's sky at %s %s\nutc: %s\n",
                          Decimal(rx.latitude(), 6).c_str(), Decimal(rx.longitude(), 6).c_str(),
                          UtcText(now).c_str());
              PrintSatellites(view, false);
          });
}

struct ServeOptions : ReceiverFlags {
    std::string replay;
    std::string utc;
};

struct BlockOptions {
    std::string below;
    bool all = false;
    std::vector<std::string> prns;
};

void AddServe(CLI::App* gps) {
    CLI::App* serve = gps->add_subcommand("serve", "Serves the receiver on a pseudo-terminal");
    auto o = std::make_shared<ServeOptions>();
    auto* replay =
        serve->add_option("--replay", o->replay,
                          "A recorded NMEA log to play instead (a regular file, at most 4 MiB)");
    AddReceiverOptions(serve, *o);
    serve->add_option("--utc", o->utc,
                      "UTC of the first burst, e.g. 2024-06-01T12:00:00Z (default: now)");
    serve->get_option("--almanac")->excludes(replay);
    AddJsonFlag(serve);
    serve->callback([o] {
        const uint32_t speed = ParseSpeed(o->speed);
        std::unique_ptr<sim::BurstSource> source;
        if (!o->replay.empty()) {
            source = sim::ReplaySource::Load(o->replay);
            if (!source) {
                throw CommandError("the replay log \"" + o->replay + "\" " +
                                   sim::ReplaySource::RefusalText(sys::GetLastError()));
            }
        } else {
            int64_t utc = static_cast<int64_t>(std::time(nullptr));
            if (!o->utc.empty()) {
                const std::optional<double> at = sim::ParseIsoTime(o->utc);
                if (!at) {
                    throw CommandError("\"" + o->utc + "\" is not a UTC time such as " +
                                       "2024-06-01T12:00:00Z");
                }
                utc = static_cast<int64_t>(std::floor(*at));
            }
            source = std::make_unique<sim::GpsSource>(ReceiverOptions(*o, utc),
                                                      sim::ReceiverName("devctl gps serve"));
        }
        // Block the ending signals first, so that the host's thread leaves them to us.
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        sigaddset(&signals, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);
        auto host = sim::PtyReceiverHost::Start(std::move(source), sim::Pacing::RealTime,
                                                BurstPeriod(speed));
        if (!host) {
            throw CommandError("no pseudo-terminal could be had (error " +
                               std::to_string(sys::GetLastError()) + ")");
        }
        const std::string path = host->devicePath();
        Print({{"path", path}}, [&] { std::printf("%s\n", path.c_str()); });
        std::fflush(stdout);
        int received = 0;
        sigwait(&signals, &received);
        host->stop();
    });
}

} // namespace

sim::GpsReceiverOptions ReceiverOptions(const ReceiverFlags& flags, int64_t utc) {
    sim::GpsReceiverOptions options;
    options.utcStart = utc;
    options.seed = static_cast<uint64_t>(utc);
    if (!flags.seed.empty()) {
        options.seed = static_cast<uint64_t>(
            ParseNumber(flags.seed, 0, std::numeric_limits<int64_t>::max(), "the seed"));
    }
    if (!flags.almanac.empty()) {
        const std::optional<std::string> text = sys::ReadHostFile(flags.almanac, kMaxFileBytes);
        if (!text) {
            throw CommandError("the almanac \"" + flags.almanac +
                               "\" could not be read: " + sys::ErrorText(sys::GetLastError()));
        }
        std::string error;
        std::optional<sim::Almanac> almanac = sim::ParseYumaAlmanac(*text, utc, error);
        if (!almanac) {
            throw CommandError("the almanac \"" + flags.almanac +
                               "\" is no YUMA almanac: " + error);
        }
        options.almanac = std::make_shared<const sim::Almanac>(std::move(*almanac));
    }
    return options;
}

void AddReceiverOptions(CLI::App* command, ReceiverFlags& flags) {
    command->add_option("--seed", flags.seed,
                        "Seed of the receiver's randomness (default: from the time)");
    command->add_option("--speed", flags.speed,
                        "Seconds of the receiver sent each second, 1 to 1000 (default 1)");
    command->add_option("--almanac", flags.almanac,
                        "A YUMA almanac to fly the satellites by (default: the 24-slot "
                        "baseline constellation)");
}

uint32_t ParseSpeed(const std::string& text) {
    return text.empty() ? 1u : static_cast<uint32_t>(ParseNumber(text, 1, 1000, "the speed"));
}

std::chrono::milliseconds BurstPeriod(uint32_t speed) {
    return std::chrono::milliseconds(std::max<uint32_t>(1, 1000 / speed));
}

void AddGpsCommand(CLI::App& app) {
    CLI::App* gps = app.add_subcommand("gps", "The simulated GPS receiver and its scenario");
    ShowWhenAlone(gps, ShowScenario);

    CLI::App* position = gps->add_subcommand("position", "Stands the receiver still at a position");
    auto where = std::make_shared<std::vector<std::string>>();
    position->add_option("LAT LON [ALT]", *where, "Degrees north and east, metres above sea level")
        ->required()
        ->expected(2, 3);
    position->callback([where] {
        const double lat = ParseDecimal((*where)[0], -90, 90, "the latitude");
        const double lon = ParseDecimal((*where)[1], -180, 180, "the longitude");
        std::optional<double> alt;
        if (where->size() == 3) {
            alt = ParseDecimal((*where)[2], -500, 20000, "the altitude");
        }
        RequireDevice();
        Change([&](sim::GpsScenario& s) {
            s.latitude = lat;
            s.longitude = lon;
            s.altitude = alt.value_or(s.altitude);
            s.route.clear();
            s.loop = false;
            ++s.motions;
        });
        ShowScenario();
    });

    CLI::App* route = gps->add_subcommand("route", "Moves the receiver along a route");
    auto file = std::make_shared<std::string>();
    auto loop = std::make_shared<bool>(false);
    route->add_option("FILE", *file, "A GPX track or an NMEA log (at most 4 MiB)")->required();
    route->add_flag("--loop", *loop, "Start again from the first point at the end");
    route->callback([file, loop] {
        const std::optional<std::string> text = sys::ReadHostFile(*file, kMaxFileBytes);
        if (!text) {
            throw CommandError("the route \"" + *file +
                               "\" could not be read: " + sys::ErrorText(sys::GetLastError()));
        }
        std::string error;
        std::optional<std::vector<sim::RoutePoint>> points = sim::ParseRoute(*text, error);
        if (!points) {
            throw CommandError("the route \"" + *file + "\" is no route: " + error);
        }
        RequireDevice();
        Change([&](sim::GpsScenario& s) {
            s.route = std::move(*points);
            s.loop = *loop;
            s.latitude = s.route.front().latitude;
            s.longitude = s.route.front().longitude;
            ++s.motions;
        });
        ShowScenario();
    });

    CLI::App* start = gps->add_subcommand("start", "Restarts the receivers");
    auto kind = std::make_shared<std::string>();
    start->add_option("KIND", *kind, "cold, warm or hot")->required();
    start->callback([kind] {
        const std::optional<sim::GpsStart> how = sim::GpsStartFromName(*kind);
        if (!how) {
            throw CommandError("\"" + *kind + "\" is no start: cold, warm or hot");
        }
        RequireDevice();
        Change([&](sim::GpsScenario& s) {
            ++s.starts;
            s.start = *how;
        });
        ShowScenario();
    });

    CLI::App* block = gps->add_subcommand("block", "Blocks satellites' signals");
    auto b = std::make_shared<BlockOptions>();
    auto* below = block->add_option("--below", b->below, "Every satellite under this elevation");
    auto* all = block->add_flag("--all", b->all, "Every satellite (a tunnel)");
    auto* prns = block->add_option("PRN", b->prns, "These satellites");
    below->excludes(all)->excludes(prns);
    all->excludes(prns);
    block->callback([b] {
        sim::GpsBlock blocked;
        if (!b->below.empty()) {
            blocked.kind = sim::GpsBlock::Kind::Below;
            blocked.below = ParseDecimal(b->below, 0, 90, "the elevation");
        } else if (b->all) {
            blocked.kind = sim::GpsBlock::Kind::All;
        } else if (!b->prns.empty()) {
            blocked.kind = sim::GpsBlock::Kind::Prns;
            for (const std::string& prn : b->prns) {
                blocked.prns.push_back(static_cast<int>(ParseNumber(prn, 1, 32, "a GPS PRN")));
            }
            std::sort(blocked.prns.begin(), blocked.prns.end());
            blocked.prns.erase(std::unique(blocked.prns.begin(), blocked.prns.end()),
                               blocked.prns.end());
        } else {
            throw CommandError("name what to block: --below ELEV, PRNs or --all");
        }
        RequireDevice();
        Change([&](sim::GpsScenario& s) { s.block = blocked; });
        ShowScenario();
    });

    CLI::App* unblock = gps->add_subcommand("unblock", "Lets every signal through again");
    unblock->callback([] {
        RequireDevice();
        Change([](sim::GpsScenario& s) { s.block = {}; });
        ShowScenario();
    });

    CLI::App* sky = gps->add_subcommand("sky", "The satellites in view now");
    sky->callback([] {
        RequireDevice();
        CheckState();
        ShowSky();
    });

    AddServe(gps);
    AddGpsTtffCommand(gps);
    for (CLI::App* verb : {gps, position, route, start, block, unblock, sky}) {
        AddJsonFlag(verb);
    }
}

} // namespace hh::devctl
