#include "platform/system/error.h"
#include "platform/system/serial_port.h"
#include "platform/system/testing.h"
#include "simulator/receiver/receiver_host.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace hh::sim {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Reads from a port until `size` bytes came (real time, bounded: the bytes are
// on their way through the pseudo-terminal).
std::string ReadExactly(sys::SerialPort& port, std::size_t size) {
    port.SetCommTimeouts({sys::MAXDWORD, sys::MAXDWORD, 5000, 0, 0});
    std::string out;
    std::vector<std::byte> buf(4096);
    while (out.size() < size) {
        uint32_t n = 0;
        std::size_t want = std::min(buf.size(), size - out.size());
        if (!port.read(std::span(buf.data(), want), n) || n == 0) {
            break;
        }
        out.append(reinterpret_cast<const char*>(buf.data()), n);
    }
    return out;
}

std::vector<std::string> Lines(const std::string& burst) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < burst.size()) {
        auto end = burst.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(burst.substr(start));
            break;
        }
        lines.push_back(burst.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

bool ChecksumValid(const std::string& sentence) {
    auto star = sentence.rfind('*');
    if (sentence.empty() || sentence[0] != '$' || star == std::string::npos ||
        star + 3 != sentence.size()) {
        return false;
    }
    unsigned stated = std::stoul(sentence.substr(star + 1), nullptr, 16);
    return NmeaChecksum(std::string_view(sentence).substr(1, star - 1)) == stated;
}

// The fix field of the burst's GSA sentence ("1", "2" or "3").
std::string GsaFix(const std::string& burst) {
    for (const auto& line : Lines(burst)) {
        if (line.rfind("$GPGSA,", 0) == 0) {
            return line.substr(9, 1);
        }
    }
    return {};
}

TEST(SplitIntoBursts, GroupsOneSecondOfSentences) {
    struct Case {
        const char* what;
        std::string log;
        std::vector<std::string> bursts;
    };
    const Case cases[] = {
        {"comments and blank lines dropped, LF becomes CR LF",
         "# Name: x\n$GPGGA,1\n\n$GPGSA,1\n$GPRMC,1\n$GPGGA,2\n$GPRMC,2\n",
         {"$GPGGA,1\r\n$GPGSA,1\r\n$GPRMC,1\r\n", "$GPGGA,2\r\n$GPRMC,2\r\n"}},
        {"RMC of any talker ends a burst; the ZDA after it opens the next",
         "$GNGGA,1\r\n$GNRMC,1\r\n$GPZDA,1\r\n$GNGGA,2\r\n$GNRMC,2\r\n",
         {"$GNGGA,1\r\n$GNRMC,1\r\n", "$GPZDA,1\r\n$GNGGA,2\r\n$GNRMC,2\r\n"}},
        {"without RMC a new GGA starts the next second",
         "$GPGGA,1\n$GPGSV,1\n$GPGGA,2\n$GPGSV,2\n",
         {"$GPGGA,1\r\n$GPGSV,1\r\n", "$GPGGA,2\r\n$GPGSV,2\r\n"}},
        {"a proprietary sentence is no boundary",
         "$GPGGA,1\n$PGRMC,1\n$GPRMC,1\n",
         {"$GPGGA,1\r\n$PGRMC,1\r\n$GPRMC,1\r\n"}},
        {"garbage before the dollar still counts",
         "\x01\x02$GPRMC,1\n$GPGGA,2\n",
         {"\x01\x02$GPRMC,1\r\n", "$GPGGA,2\r\n"}},
        {"nothing but comments", "# a\n# b\n", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SplitIntoBursts(c.log), c.bursts) << c.what;
    }
    std::string many;
    for (int i = 0; i < 130; ++i) {
        many += "$GPGSV,x\n";
    }
    auto bursts = SplitIntoBursts(many);
    ASSERT_EQ(bursts.size(), 3u) << "a burst holds at most 64 lines";
    EXPECT_EQ(Lines(bursts[0]).size(), 64u);
    EXPECT_EQ(Lines(bursts[2]).size(), 2u);
}

class TempLog {
public:
    explicit TempLog(const std::string& text) {
        char name[] = "/tmp/hh-replay-XXXXXX";
        int fd = mkstemp(name);
        path_ = name;
        ::close(fd);
        std::ofstream(path_, std::ios::binary) << text;
    }
    ~TempLog() { fs::remove(path_); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

const char* kLog = "# recorded by hand\n"
                   "$GPGGA,120000.00,,,,,0,00,,,M,,M,,*66\n"
                   "$GPRMC,120000.00,V,,,,,,,010624,,,N*7C\n"
                   "$GPGGA,120001.00,,,,,0,00,,,M,,M,,*67\n"
                   "$GPRMC,120001.00,V,,,,,,,010624,,,N*7D\n";

TEST(ReplayHost, EmitsOneBurstPerStepAndLoops) {
    TempLog log(kLog);
    auto source = ReplaySource::Load(log.path());
    ASSERT_NE(source, nullptr);
    ASSERT_EQ(source->burstCount(), 2u);
    auto bursts = SplitIntoBursts(kLog);
    auto host = PtyReceiverHost::Start(std::move(source), Pacing::Manual);
    ASSERT_NE(host, nullptr);
    auto port = sys::SerialPort::Open({host->takeDeviceFd(), {}});
    ASSERT_NE(port, nullptr);
    for (int step = 0; step < 5; ++step) {
        ASSERT_TRUE(host->emitNow());
        EXPECT_EQ(ReadExactly(*port, bursts[step % 2].size()), bursts[step % 2]) << step;
        sys::COMSTAT stat;
        port->ClearCommError(nullptr, &stat);
        EXPECT_EQ(stat.cbInQue, 0u) << "exactly one burst per step";
    }
    EXPECT_EQ(host->burstsSent(), 5u);
}

TEST(ReplayHost, OnlyARegularFileOfSentencesWithinTheLimitIsTaken) {
    TempLog comment("# only a comment\n");
    TempLog prose("hello world\n$ not a sentence\n");
    TempLog past(""); // one byte past the limit, without taking the space
    fs::resize_file(past.path(), ReplaySource::kMaxLogBytes + 1);
    const std::string fifo = comment.path() + ".fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string path;
        uint32_t error;
    };
    const Case cases[] = {
        {"/no/such/dir/file.log", sys::ERROR_FILE_NOT_FOUND},
        {"/tmp", sys::ERROR_ACCESS_DENIED},
        {"/dev/zero", sys::ERROR_ACCESS_DENIED},
        {fifo, sys::ERROR_ACCESS_DENIED},
        {past.path(), sys::ERROR_FILE_TOO_LARGE},
        {comment.path(), sys::ERROR_INVALID_DATA},
        {prose.path(), sys::ERROR_INVALID_DATA},
    };
    for (const Case& c : cases) {
        sys::SetLastError(0);
        EXPECT_EQ(ReplaySource::Load(c.path), nullptr) << c.path;
        EXPECT_EQ(sys::GetLastError(), c.error) << c.path;
    }
    fs::remove(fifo);
    // At the limit, in the shortest lines: every line is a burst of its own.
    std::string lines;
    while (lines.size() + 7 <= ReplaySource::kMaxLogBytes) {
        lines += "$GPRMC\n";
    }
    TempLog atLimit(lines);
    auto source = ReplaySource::Load(atLimit.path());
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->burstCount(), lines.size() / 7);
    EXPECT_EQ(source->nextBurst(), "$GPRMC\r\n");
}

TEST(GpsHost, SendsValidNmeaAndObeysTheColdStartCommand) {
    auto source = std::make_unique<GpsSource>();
    auto host = PtyReceiverHost::Start(std::move(source), Pacing::Manual);
    ASSERT_NE(host, nullptr);
    auto port = sys::SerialPort::Open({host->takeDeviceFd(), {}});
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->SetCommMask(sys::EV_RXCHAR));

    // Until the 3D fix; the model's reference copy says how long each burst is.
    GpsReceiver reference;
    std::string fix;
    for (int second = 0; second < 300 && fix != "3"; ++second) {
        std::string expected = reference.nextBurst();
        ASSERT_TRUE(host->emitNow());
        std::string burst = ReadExactly(*port, expected.size());
        ASSERT_EQ(burst, expected);
        for (const auto& line : Lines(burst)) {
            EXPECT_TRUE(ChecksumValid(line)) << line;
        }
        fix = GsaFix(burst);
    }
    ASSERT_EQ(fix, "3");

    // The terminal sends the command one byte per write.
    const std::string cold = "$PGNVS,RSET,COLD\r\n";
    for (char c : cold) {
        std::byte b{static_cast<unsigned char>(c)};
        uint32_t n = 0;
        ASSERT_TRUE(port->write(std::span(&b, 1), n));
    }
    auto limit = std::chrono::steady_clock::now() + 10s;
    while (host->bytesHeard() < cold.size() && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_EQ(host->bytesHeard(), cold.size());
    ASSERT_TRUE(host->emitNow());
    sys::COMSTAT stat;
    limit = std::chrono::steady_clock::now() + 10s;
    std::string burst;
    while (burst.find("$GPRMC") == std::string::npos && std::chrono::steady_clock::now() < limit) {
        port->ClearCommError(nullptr, &stat);
        burst += ReadExactly(*port, std::max<uint32_t>(stat.cbInQue, 1));
    }
    EXPECT_EQ(GsaFix(burst), "1") << "fix dropped by the cold start";
}

TEST(GpsHost, StopsWhenThePortCloses) {
    auto host = PtyReceiverHost::Start(std::make_unique<GpsSource>(), Pacing::Manual);
    ASSERT_NE(host, nullptr);
    auto port = sys::SerialPort::Open({host->takeDeviceFd(), {}});
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(host->emitNow());
    port.reset();
    auto limit = std::chrono::steady_clock::now() + 10s;
    while (!host->stopped() && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(host->stopped());
    EXPECT_FALSE(host->emitNow());
}

// On a device root of its own: COM7's receiver follows that device's scenario.
class SimulatedPortsTest : public sys::testing::DeviceRootTest {
protected:
    void SetUp() override {
        DeviceRootTest::SetUp();
        sys::RegisterSerialDriver();
        RegisterSimulatedPorts();
        unsetenv("HANDHELD_COM7");
        unsetenv("HANDHELD_COM3");
    }
    void TearDown() override {
        unsetenv("HANDHELD_COM7");
        unsetenv("HANDHELD_COM3");
        DeviceRootTest::TearDown();
    }
    static sys::SerialPort* Port(const std::unique_ptr<sys::StreamDevice>& device) {
        return dynamic_cast<sys::SerialPort*>(device.get());
    }
    static std::unique_ptr<sys::StreamDevice> Open(std::u16string_view name) {
        return sys::OpenStreamDevice(name, sys::GENERIC_READ | sys::GENERIC_WRITE, 0,
                                     sys::OPEN_EXISTING, 0);
    }
};

// Under real-time pacing the first burst goes out as soon as the port opens.
TEST_F(SimulatedPortsTest, Com7IsTheGpsReceiverByDefault) {
    for (int round = 0; round < 2; ++round) {
        auto device = Open(u"COM7:");
        ASSERT_NE(device, nullptr) << sys::GetLastError();
        std::string burst = ReadExactly(*Port(device), 6);
        EXPECT_EQ(burst, "$GPGGA") << "round " << round;
    }
}

TEST_F(SimulatedPortsTest, ReplayTargetFromTheEnvironment) {
    TempLog log(kLog);
    setenv("HANDHELD_COM3", ("replay:" + log.path()).c_str(), 1);
    auto device = Open(u"COM3:");
    ASSERT_NE(device, nullptr) << sys::GetLastError();
    auto first = SplitIntoBursts(kLog)[0];
    EXPECT_EQ(ReadExactly(*Port(device), first.size()), first);
    device.reset();

    // The port's open fails as the log's load does.
    for (const auto& [target, error] : std::vector<std::pair<std::string, uint32_t>>{
             {"replay:/no/such/file.log", sys::ERROR_FILE_NOT_FOUND},
             {"replay:/dev/zero", sys::ERROR_ACCESS_DENIED},
             {"replay:/tmp", sys::ERROR_ACCESS_DENIED}}) {
        setenv("HANDHELD_COM3", target.c_str(), 1);
        EXPECT_EQ(Open(u"COM3:"), nullptr) << target;
        EXPECT_EQ(sys::GetLastError(), error) << target;
    }
}

TEST(RecordedLogs, EveryLogPlaysBackInBursts) {
    const std::vector<fs::path> logs = sys::testing::RecordedLogs();
    if (logs.empty()) {
        GTEST_SKIP() << sys::testing::NoRecordedLogsMessage();
    }
    const fs::path dir = sys::testing::RecordedLogsFolder();
    for (const fs::path& log : logs) {
        auto source = ReplaySource::Load(log.string());
        ASSERT_NE(source, nullptr) << log;
        EXPECT_GT(source->burstCount(), 5u) << log;
        std::string first = source->nextBurst();
        EXPECT_EQ(first.find('#'), std::string::npos) << log;
        EXPECT_EQ(first.substr(first.size() - 2), "\r\n") << log;
    }

    auto source = ReplaySource::Load((dir / "mt3339.log").string());
    ASSERT_NE(source, nullptr);
    std::string first = source->nextBurst();
    auto lines = Lines(first);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].substr(0, 6), "$GPGGA");
    EXPECT_EQ(lines[2].substr(0, 6), "$GPRMC");
    EXPECT_EQ(Lines(source->nextBurst())[0].substr(0, 6), "$GPZDA");
}

} // namespace
} // namespace hh::sim
