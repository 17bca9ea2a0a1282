// devctl gps through the real binary on a temporary device root: the
// scenario verbs and their bad input, the sky, and time-to-first-fix runs
// against the simulated receiver and against a receiver on a port.

#include <platform/system/testing.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using hh::sys::testing::Captured;
namespace fs = std::filesystem;

Captured Devctl(const std::vector<std::string>& args) {
    return hh::sys::testing::RunProgram(DEVCTL_PATH, args);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string Sentence(const std::string& body) {
    unsigned sum = 0;
    for (char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return "$" + body + tail;
}

// A devctl gps serve of its own, ended with SIGTERM.
class Serve {
public:
    explicit Serve(std::vector<std::string> args) {
        int out[2];
        if (pipe(out) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, out[1]);
        args.insert(args.begin(), {DEVCTL_PATH, "gps", "serve"});
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, DEVCTL_PATH, &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        char c = 0;
        pollfd p{out[0], POLLIN, 0};
        while (poll(&p, 1, 10000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') {
            path_ += c;
        }
        close(out[0]);
    }
    ~Serve() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }
    const std::string& path() const { return path_; }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    std::string path_;
};

// The CPU time a process has used so far, in clock ticks (user and system).
long CpuTicks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The fields after the command name's closing parenthesis: state is the
    // first, utime the 12th and stime the 13th.
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int i = 1; i <= 13 && fields >> field; ++i) {
        if (i >= 12) {
            ticks += std::stol(field);
        }
    }
    return ticks;
}

// Opens a serve's pseudo-terminal raw and reads until a whole burst came.
std::string ReadBurst(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOCTTY);
    if (fd < 0) {
        return "";
    }
    termios raw{};
    tcgetattr(fd, &raw);
    cfmakeraw(&raw);
    tcsetattr(fd, TCSANOW, &raw);
    std::string nmea;
    pollfd p{fd, POLLIN, 0};
    while (nmea.find("\r\n", nmea.find("$GPRMC")) == std::string::npos && poll(&p, 1, 5000) > 0) {
        char buffer[512];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        nmea.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return nmea;
}

class GpsVerbsTest : public hh::sys::testing::DeviceRootTest {
protected:
    void SetUp() override {
        DeviceRootTest::SetUp();
        // A device exists once a program has started on it.
        fs::create_directories(root_ / ".device");
    }
    std::string write(const std::string& name, const std::string& text) {
        const fs::path path = outside_ / name;
        hh::sys::testing::WriteHost(path, text);
        return path.string();
    }
};

const char* const kGpx =
    "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" creator=\"test\"><trk><trkseg>\n"
    "<trkpt lat=\"47.0\" lon=\"8.0\"><ele>400</ele><time>2024-06-01T12:00:00Z</time></trkpt>\n"
    "<trkpt lat=\"47.001\" lon=\"8.0\"><ele>401</ele><time>2024-06-01T12:01:00Z</time></trkpt>\n"
    "<trkpt lat=\"47.002\" lon=\"8.0\"><ele>402</ele><time>2024-06-01T12:02:00Z</time></trkpt>\n"
    "</trkseg></trk></gpx>\n";

const char* const kNmeaLog =
    "$GPGGA,235959.00,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,*65\r\n"
    "$GPRMC,000009.00,A,4807.0480,N,01131.0000,E,0.0,0.0,020624,,,A*50\r\n";

TEST_F(GpsVerbsTest, VerbsChangeTheScenarioAndShowIt) {
    const std::string gpx = write("walk.gpx", kGpx);
    const std::string log = write("drive.log", kNmeaLog);
    const struct {
        std::vector<std::string> args;
        std::string shown;
    } cases[] = {
        {{"gps"}, "position: 48.117300 11.516700 545.4 m\nblocked: none\nstarts: 0 (last cold)\n"},
        {{"gps", "position", "-33.8688", "151.2093"},
         "position: -33.868800 151.209300 545.4 m\nblocked: none\nstarts: 0 (last cold)\n"},
        {{"gps", "position", "0", "-0.5", "12.5"},
         "position: 0.000000 -0.500000 12.5 m\nblocked: none\nstarts: 0 (last cold)\n"},
        {{"gps", "block", "--below", "25"},
         "position: 0.000000 -0.500000 12.5 m\nblocked: below 25.0 degrees\nstarts: 0 (last "
         "cold)\n"},
        {{"gps", "block", "17", "3", "17"},
         "position: 0.000000 -0.500000 12.5 m\nblocked: PRN 3 17\nstarts: 0 (last cold)\n"},
        {{"gps", "block", "--all"},
         "position: 0.000000 -0.500000 12.5 m\nblocked: all\nstarts: 0 (last cold)\n"},
        {{"gps", "unblock"},
         "position: 0.000000 -0.500000 12.5 m\nblocked: none\nstarts: 0 (last cold)\n"},
        {{"gps", "start", "hot"},
         "position: 0.000000 -0.500000 12.5 m\nblocked: none\nstarts: 1 (last hot)\n"},
        {{"gps", "start", "cold"},
         "position: 0.000000 -0.500000 12.5 m\nblocked: none\nstarts: 2 (last cold)\n"},
        {{"gps", "route", gpx}, "route: 3 points, 120 s\nblocked: none\nstarts: 2 (last cold)\n"},
        {{"gps", "route", log, "--loop"},
         "route: 2 points, 10 s, looping\nblocked: none\nstarts: 2 (last cold)\n"},
        // Without an altitude the last one stays.
        {{"gps", "position", "1", "2"},
         "position: 1.000000 2.000000 12.5 m\nblocked: none\nstarts: 2 (last cold)\n"},
    };
    for (const auto& c : cases) {
        Captured r = Devctl(c.args);
        EXPECT_EQ(r.exitCode, 0) << c.args.back() << ": " << r.err;
        EXPECT_EQ(r.out, c.shown) << c.args.back();
        EXPECT_EQ(Devctl({"gps"}).out, c.shown) << c.args.back();
    }
}

TEST_F(GpsVerbsTest, BadInputIsOneLineExitOneAndChangesNothing) {
    ASSERT_EQ(Devctl({"gps", "position", "10", "20", "30"}).exitCode, 0);
    ASSERT_EQ(Devctl({"gps", "block", "5"}).exitCode, 0);
    const std::string before = Devctl({"gps"}).out;
    const std::string prose = write("prose.txt", "hello world\n");
    const std::string single =
        write("one.gpx", "<gpx><trk><trkseg><trkpt lat=\"1\" lon=\"2\"/></trkseg></trk></gpx>");
    const std::string broken = write("broken.gpx", "<gpx><trk><trkseg><trkpt lat=\"1\"");
    const std::string notAlmanac = write("almanac.txt", kGpx);
    const struct {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"gps", "position", "91", "0"}, "the latitude must lie between -90 and 90, not 91"},
        {{"gps", "position", "0", "-180.5"},
         "the longitude must lie between -180 and 180, not -180.5"},
        {{"gps", "position", "1e1", "0"},
         "\"1e1\" is not a number (the latitude: between -90 and 90)"},
        {{"gps", "position", "nan", "0"},
         "\"nan\" is not a number (the latitude: between -90 and 90)"},
        {{"gps", "position", "1", "2", "99999"},
         "the altitude must lie between -500 and 20000, not 99999"},
        {{"gps", "route", "/no/such.gpx"},
         "the route \"/no/such.gpx\" could not be read: no such file "
         "(ERROR_FILE_NOT_FOUND, 2)"},
        {{"gps", "route", prose},
         "the route \"" + prose +
             "\" is no route: it is neither a GPX document nor an NMEA log with fixes"},
        {{"gps", "route", single},
         "the route \"" + single + "\" is no route: it holds fewer than two positions"},
        {{"gps", "route", broken},
         "the route \"" + broken +
             "\" is no route: it is not well-formed XML (Error parsing start element tag)"},
        {{"gps", "block", "0"}, "a GPS PRN must lie between 1 and 32, not 0"},
        {{"gps", "block", "7", "33"}, "a GPS PRN must lie between 1 and 32, not 33"},
        {{"gps", "block", "x"}, "\"x\" is not a number (a GPS PRN: 1 to 32)"},
        {{"gps", "block"}, "name what to block: --below ELEV, PRNs or --all"},
        {{"gps", "block", "--below", "91"}, "the elevation must lie between 0 and 90, not 91"},
        {{"gps", "start", "lukewarm"}, "\"lukewarm\" is no start: cold, warm or hot"},
        {{"gps", "serve", "--almanac", notAlmanac},
         "the almanac \"" + notAlmanac +
             "\" is no YUMA almanac: line 1 is not a YUMA almanac line"},
        {{"gps", "serve", "--speed", "0"}, "the speed must lie between 1 and 1000, not 0"},
        {{"gps", "serve", "--seed", "-1"},
         "the seed must lie between 0 and 9223372036854775807, not -1"},
        {{"gps", "serve", "--utc", "noon"},
         "\"noon\" is not a UTC time such as 2024-06-01T12:00:00Z"},
        {{"gps", "ttff", "--runs", "0"}, "the number of runs must lie between 1 and 1000, not 0"},
        {{"gps", "ttff", "--runs", "1", "--timeout", "0"},
         "the time-out must lie between 1 and 3600, not 0"},
        {{"gps", "ttff", "--runs", "1", "--start", "tepid"},
         "\"tepid\" is no start: cold, warm or hot"},
        {{"gps", "ttff", "--runs", "1", "--port", "/dev/null", "--speed", "5"},
         "--speed, --seed and --almanac are for the simulated receiver, not for one on --port"},
        {{"gps", "ttff", "--runs", "1", "--port", "/no/such/tty"},
         "the port \"/no/such/tty\" could not be opened: no such file "
         "(ERROR_FILE_NOT_FOUND, 2)"},
    };
    for (const auto& c : cases) {
        Captured r = Devctl(c.args);
        EXPECT_EQ(r.exitCode, 1) << c.error;
        EXPECT_EQ(r.out, "") << c.error;
        EXPECT_EQ(r.err, "devctl: " + c.error + "\n");
        EXPECT_EQ(Devctl({"gps"}).out, before) << c.error;
    }
}

TEST_F(GpsVerbsTest, SkyWithoutAReceiverIsTheAlmanacsAndWithOneIsWhatItSees) {
    Captured quiet = Devctl({"gps", "sky"});
    ASSERT_EQ(quiet.exitCode, 0) << quiet.err;
    std::vector<std::string> lines = Lines(quiet.out);
    ASSERT_GE(lines.size(), 7u) << quiet.out;
    EXPECT_EQ(lines[0], "receiver: none running; the almanac's sky at 48.117300 11.516700");
    EXPECT_EQ(lines[2], "PRN  ELEV  AZIM  SNR  USED");
    for (std::size_t i = 3; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].substr(lines[i].size() - 9), "    -  no") << lines[i];
    }

    Serve serve({"--speed", "100", "--seed", "2"});
    ASSERT_EQ(serve.path().rfind("/dev/pts/", 0), 0u) << serve.path();
    // The serve publishes once a second; its first sky comes within that.
    std::string shown;
    for (int i = 0; i < 100 && shown.rfind("receiver: devctl gps serve", 0) != 0; ++i) {
        shown = Devctl({"gps", "sky"}).out;
    }
    lines = Lines(shown);
    ASSERT_GE(lines.size(), 4u) << shown;
    EXPECT_EQ(lines[0].rfind("receiver: devctl gps serve (process ", 0), 0u) << shown;
    EXPECT_EQ(lines[2].rfind("fix: ", 0), 0u) << shown;
    EXPECT_EQ(lines[3], "PRN  ELEV  AZIM  SNR  USED");
}

TEST_F(GpsVerbsTest, TtffOfTheSimulatedReceiverPrintsRunsAndTheirSummary) {
    const std::string csv = (outside_ / "ttff.csv").string();
    Captured r =
        Devctl({"gps", "ttff", "--runs", "2", "--speed", "400", "--seed", "3", "--csv", csv});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 6u) << r.out;
    for (int run = 0; run < 2; ++run) {
        double to2D = 0;
        double to3D = 0;
        ASSERT_EQ(std::sscanf(lines[run].c_str(),
                              ("run " + std::to_string(run + 1) + ": 2D %lf s, 3D %lf s").c_str(),
                              &to2D, &to3D),
                  2)
            << lines[run];
        EXPECT_GT(to2D, 15.0);
        EXPECT_LT(to2D, 70.0);
        EXPECT_LE(to2D, to3D);
    }
    EXPECT_EQ(lines[2], "cold start, 2 runs, seconds to the first fix");
    EXPECT_EQ(lines[3], "             min  median     p90     max");
    EXPECT_EQ(lines[4].rfind("2D fix  ", 0), 0u);
    EXPECT_EQ(lines[5].rfind("3D fix  ", 0), 0u);
    const std::vector<std::string> rows = Lines(hh::sys::testing::ReadHost(csv));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], "run,start,ttff_2d_s,ttff_3d_s");
    EXPECT_EQ(rows[1].rfind("1,cold,", 0), 0u);
}

TEST_F(GpsVerbsTest, TtffOnAPortTimesAReceiverThatRestartsAndRefusesOneThatDoesNot) {
    Serve receiver({"--speed", "200"});
    ASSERT_EQ(receiver.path().rfind("/dev/pts/", 0), 0u);
    Captured r =
        Devctl({"gps", "ttff", "--runs", "1", "--start", "hot", "--port", receiver.path()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("run 1: 2D ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("hot start, 1 runs"), std::string::npos) << r.out;

    // A recorded log plays on whatever it is told.
    std::string log;
    for (int s = 0; s < 5; ++s) {
        log += Sentence("GPGGA,12000" + std::to_string(s) +
                        ".00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,") +
               Sentence("GPGSA,A,3,04,05,09,12,,,,,,,,,2.5,1.3,2.1");
    }
    Serve replay({"--replay", write("fixed.log", log)});
    ASSERT_EQ(replay.path().rfind("/dev/pts/", 0), 0u);
    r = Devctl({"gps", "ttff", "--runs", "1", "--timeout", "2", "--port", replay.path()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "devctl: the receiver on " + replay.path() +
                         " kept its fix after $PGNVS,RSET,COLD: it does not restart on that "
                         "command\n");
}

// gpsd and terminals come and go: a serve whose reader left sleeps, and the
// next reader gets bursts again.
TEST_F(GpsVerbsTest, ServeWhoseReaderGoesAwayStaysIdleAndServesTheNext) {
    Serve serve({"--speed", "100"});
    ASSERT_EQ(serve.path().rfind("/dev/pts/", 0), 0u) << serve.path();
    ASSERT_NE(ReadBurst(serve.path()).find("$GPRMC"), std::string::npos);

    // Half a second of a hundred bursts a second without a reader: a serve
    // that spun on the full line would use about all of it.
    const long before = CpuTicks(serve.pid());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long used = CpuTicks(serve.pid()) - before;
    EXPECT_LT(used, sysconf(_SC_CLK_TCK) / 10) << "clock ticks used without a reader";

    EXPECT_NE(ReadBurst(serve.path()).find("$GPRMC"), std::string::npos);
}

} // namespace
