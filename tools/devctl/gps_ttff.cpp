// devctl gps ttff: time to first fix, measured over restarts.
//
//   devctl gps ttff --runs N [--start cold|warm|hot] [--speed N] [--seed N]
//                   [--almanac FILE] [--port PATH] [--csv FILE] [--timeout S]
//
// Each run waits for a 3D fix, sends the restart command the device sends
// ("$PGNVS,RSET,COLD\r\n"; WARM and HOT for the other starts), sees the fix
// go and times the first 2D-or-better and the first 3D fix that follow, from
// the moment the command was written. Against the simulated receiver by
// default (following the device's GPS scenario, at --speed N seconds of it a
// second, times in the receiver's seconds); with --port, against a receiver
// on a serial port (9600 baud, times in real seconds). The fix is read from
// GSA (its fix type) or, from a receiver that sends none, from GGA.

#include "device_support.h"
#include "gps_support.h"

#include <platform/system/error.h>
#include <platform/system/serial_port.h>
#include <platform/system/whole_file.h>
#include <simulator/receiver/receiver_host.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace hh::devctl {

namespace {

// How long the fix may outlast the command, in the receiver's seconds (at
// most the run's time-out).
constexpr double kRestartLimit = 10.0;

struct TtffOptions : ReceiverFlags {
    std::string runs;
    std::string timeout;
    std::string start = "cold";
    std::string port;
    std::string csv;
};

// The fix a receiver reports, as its sentences arrive: 0 none, 2 or 3.
class FixReader {
public:
    /// Takes received text, whole lines or pieces of them.
    void take(std::string_view text) {
        for (char c : text) {
            if (c == '\n' || c == '\r') {
                line(m_line);
                m_line.clear();
            } else if (m_line.size() < 200) {
                m_line += c;
            }
        }
    }
    int level() const { return m_level; }
    bool heard() const { return m_heard; }

private:
    void line(std::string_view text) {
        const std::size_t dollar = text.find('$');
        if (dollar == std::string_view::npos || text.size() < dollar + 7) {
            return;
        }
        text.remove_prefix(dollar + 1);
        // A line the line garbled says nothing; one without a checksum is taken.
        if (const std::size_t star = text.find('*'); star != std::string_view::npos) {
            unsigned sum = 0;
            for (char c : text.substr(0, star)) {
                sum ^= static_cast<unsigned char>(c);
            }
            char expected[3];
            std::snprintf(expected, sizeof expected, "%02X", sum);
            if (text.substr(star + 1, 2) != std::string_view(expected, 2)) {
                return;
            }
            text = text.substr(0, star);
        }
        std::vector<std::string_view> fields;
        for (std::size_t at = 0;;) {
            const std::size_t comma = text.find(',', at);
            fields.push_back(text.substr(at, comma - at));
            if (comma == std::string_view::npos) {
                break;
            }
            at = comma + 1;
        }
        const std::string_view type = fields[0].size() == 5 ? fields[0].substr(2) : "";
        if (type == "GSA" && fields.size() > 2) {
            m_heard = m_sawGsa = true;
            m_level = fields[2] == "3" ? 3 : fields[2] == "2" ? 2 : 0;
        } else if (type == "GGA" && fields.size() > 6) {
            m_heard = true;
            if (fields[6].empty() || fields[6] == "0") {
                m_level = 0;
            } else if (!m_sawGsa) {
                m_level = 3;
            }
        }
    }

    std::string m_line;
    int m_level = 0;
    bool m_sawGsa = false;
    bool m_heard = false;
};

class Receiver {
public:
    Receiver(std::unique_ptr<sys::SerialPort> port, double speed)
        : m_port(std::move(port)), m_speed(speed), m_start(Clock::now()) {
        m_port->SetCommTimeouts({sys::MAXDWORD, sys::MAXDWORD, 100, 0, 0});
    }
    /// The receiver's seconds since the measurement began.
    double now() const {
        return std::chrono::duration<double>(Clock::now() - m_start).count() * m_speed;
    }
    /// Reads until until(level) holds or `limit` of the receiver's seconds
    /// passed; the moment it held, or nothing.
    template <typename Until>
    std::optional<double> waitFor(Until until, double limit) {
        const double end = now() + limit;
        std::vector<std::byte> buf(4096);
        while (now() < end) {
            uint32_t n = 0;
            if (!m_port->read(buf, n)) {
                throw CommandError("the receiver's port failed: " +
                                   sys::ErrorText(sys::GetLastError()));
            }
            m_reader.take(std::string_view(reinterpret_cast<const char*>(buf.data()), n));
            if (n > 0 && until(m_reader.level())) {
                return now();
            }
        }
        return std::nullopt;
    }
    void send(std::string_view command) {
        uint32_t n = 0;
        const auto bytes = std::as_bytes(std::span(command.data(), command.size()));
        if (!m_port->write(bytes, n) || n != command.size()) {
            throw CommandError("the restart command could not be sent: " +
                               sys::ErrorText(sys::GetLastError()));
        }
    }
    bool heard() const { return m_reader.heard(); }

private:
    using Clock = std::chrono::steady_clock;
    std::unique_ptr<sys::SerialPort> m_port;
    double m_speed;
    Clock::time_point m_start;
    FixReader m_reader;
};

struct Run {
    std::optional<double> to2D;
    std::optional<double> to3D;
};

std::string Seconds(std::optional<double> value) {
    if (!value) {
        return "-";
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", *value);
    return buf;
}

// Minimum, median, 90th percentile (nearest rank) and maximum.
std::vector<double> Summary(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
    const std::size_t rank = static_cast<std::size_t>(std::ceil(0.9 * static_cast<double>(n)));
    return {values.front(), median, values[std::max<std::size_t>(rank, 1) - 1], values.back()};
}

// The CSV file, replaced durably: complete on the disk before the verb ends.
void WriteCsv(const std::string& path, const std::string& text) {
    if (!sys::ReplaceHostFileDurably(path, text)) {
        throw CommandError("the CSV file \"" + path +
                           "\" could not be written: " + sys::ErrorText(sys::GetLastError()));
    }
}

void Measure(const TtffOptions& o) {
    const int runs = static_cast<int>(ParseNumber(o.runs, 1, 1000, "the number of runs"));
    const int64_t seconds =
        o.timeout.empty() ? 300 : ParseNumber(o.timeout, 1, 3600, "the time-out");
    const auto limit = static_cast<double>(seconds);
    const std::string within = " within " + std::to_string(seconds) + " s";
    const std::optional<sim::GpsStart> start = sim::GpsStartFromName(o.start);
    if (!start) {
        throw CommandError("\"" + o.start + "\" is no start: cold, warm or hot");
    }
    const uint32_t speed = ParseSpeed(o.speed);
    std::unique_ptr<sim::PtyReceiverHost> host;
    std::unique_ptr<sys::SerialPort> port;
    std::string name;
    if (!o.port.empty()) {
        if (!o.speed.empty() || !o.seed.empty() || !o.almanac.empty()) {
            throw CommandError("--speed, --seed and --almanac are for the simulated receiver, "
                               "not for one on --port");
        }
        port = sys::OpenSerialTarget(o.port);
        if (!port) {
            throw CommandError("the port \"" + o.port +
                               "\" could not be opened: " + sys::ErrorText(sys::GetLastError()));
        }
        name = "the receiver on " + o.port;
    } else {
        const auto utc = static_cast<int64_t>(std::time(nullptr));
        auto source = std::make_unique<sim::GpsSource>(ReceiverOptions(o, utc),
                                                       sim::ReceiverName("devctl gps ttff"));
        host = sim::PtyReceiverHost::Start(std::move(source), sim::Pacing::RealTime,
                                           BurstPeriod(speed));
        if (!host) {
            throw CommandError("no pseudo-terminal could be had for the simulated receiver (" +
                               sys::ErrorText(sys::GetLastError()) + ")");
        }
        port = sys::SerialPort::Open({host->takeDeviceFd(), {}});
        if (!port) {
            throw CommandError("the simulated receiver's line could not be opened (" +
                               sys::ErrorText(sys::GetLastError()) + ")");
        }
        name = "the simulated receiver";
    }
    Receiver rx(std::move(port), o.port.empty() ? speed : 1.0);
    std::string command = "$PGNVS,RSET,";
    command += *start == sim::GpsStart::Cold   ? "COLD"
               : *start == sim::GpsStart::Warm ? "WARM"
                                               : "HOT";
    command += "\r\n";

    std::vector<Run> results;
    for (int run = 1; run <= runs; ++run) {
        if (!rx.waitFor([](int level) { return level == 3; }, limit)) {
            throw CommandError(name + (rx.heard() ? " had no 3D fix" : " sent no NMEA") + within +
                               " before run " + std::to_string(run));
        }
        rx.send(command);
        const double sent = rx.now();
        if (!rx.waitFor([](int level) { return level == 0; }, std::min(kRestartLimit, limit))) {
            throw CommandError(name + " kept its fix after " +
                               command.substr(0, command.size() - 2) +
                               ": it does not restart on that command");
        }
        Run r;
        if (const auto at = rx.waitFor([](int level) { return level >= 2; }, limit)) {
            r.to2D = *at - sent;
            if (const auto at3D =
                    rx.waitFor([](int level) { return level == 3; }, limit - *r.to2D)) {
                r.to3D = *at3D - sent;
            }
        }
        if (!JsonOutput()) {
            std::printf("run %d: 2D %s s, 3D %s s\n", run, Seconds(r.to2D).c_str(),
                        Seconds(r.to3D).c_str());
            std::fflush(stdout);
        }
        results.push_back(r);
    }

    std::vector<double> to2D;
    std::vector<double> to3D;
    for (const Run& r : results) {
        if (r.to2D) {
            to2D.push_back(*r.to2D);
        }
        if (r.to3D) {
            to3D.push_back(*r.to3D);
        }
    }
    // Seconds to the tenth, as the text and the CSV give them.
    auto tenths = [](double value) { return std::round(value * 10) / 10; };
    auto jsonSeconds = [&](const std::optional<double>& value) {
        return value ? Json(tenths(*value)) : Json();
    };
    Json runsJson = Json::array();
    for (const Run& r : results) {
        runsJson.push_back({{"fix_2d_s", jsonSeconds(r.to2D)}, {"fix_3d_s", jsonSeconds(r.to3D)}});
    }
    auto summaryJson = [&](const std::vector<double>& values) {
        if (values.empty()) {
            return Json();
        }
        const std::vector<double> s = Summary(values);
        return Json{{"min", tenths(s[0])},
                    {"median", tenths(s[1])},
                    {"p90", tenths(s[2])},
                    {"max", tenths(s[3])}};
    };
    Print({{"start", o.start},
           {"runs", runsJson},
           {"fix_2d_s", summaryJson(to2D)},
           {"fix_3d_s", summaryJson(to3D)}},
          [&] {
              std::printf("%s start, %d runs, seconds to the first fix\n", o.start.c_str(), runs);
              std::printf("%-8s%8s%8s%8s%8s\n", "", "min", "median", "p90", "max");
              for (const auto& [label, values] :
                   {std::pair{"2D fix", to2D}, std::pair{"3D fix", to3D}}) {
                  if (values.empty()) {
                      std::printf("%-8s  none in any run\n", label);
                      continue;
                  }
                  const std::vector<double> s = Summary(values);
                  std::printf("%-8s%8.1f%8.1f%8.1f%8.1f\n", label, s[0], s[1], s[2], s[3]);
              }
          });
    if (!o.csv.empty()) {
        std::string text = "run,start,ttff_2d_s,ttff_3d_s\n";
        for (std::size_t i = 0; i < results.size(); ++i) {
            const std::string a = results[i].to2D ? Seconds(results[i].to2D) : "";
            const std::string b = results[i].to3D ? Seconds(results[i].to3D) : "";
            text += std::to_string(i + 1) + "," + o.start + "," + a + "," + b + "\n";
        }
        WriteCsv(o.csv, text);
    }
    if (to3D.size() != results.size()) {
        throw CommandError(std::to_string(results.size() - to3D.size()) + " of " +
                           std::to_string(runs) + " runs had no 3D fix" + within);
    }
}

} // namespace

void AddGpsTtffCommand(CLI::App* gps) {
    CLI::App* ttff =
        gps->add_subcommand("ttff", "Measures the time to first fix over repeated restarts");
    auto o = std::make_shared<TtffOptions>();
    ttff->add_option("--runs", o->runs, "Number of restarts, 1 to 1000")->required();
    ttff->add_option("--start", o->start, "cold (default), warm or hot");
    ttff->add_option("--timeout", o->timeout,
                     "Seconds a run may take, 1 to 3600 (default 300; the receiver's seconds)");
    ttff->add_option("--port", o->port,
                     "A receiver on this serial port instead of the simulated one");
    ttff->add_option("--csv", o->csv, "Also write each run's times to this CSV file");
    AddReceiverOptions(ttff, *o);
    AddJsonFlag(ttff);
    ttff->callback([o] { Measure(*o); });
}

} // namespace hh::devctl
