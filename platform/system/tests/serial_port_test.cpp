#include "platform/system/error.h"
#include "platform/system/serial_port.h"
#include "serial_pty.h"

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace hh::sys {
namespace {

using test::Pty;
using namespace std::chrono_literals;

// Waits until the thread with that id is blocked in the kernel, so that a test
// can release a wait it knows has begun.
bool WaitUntilBlocked(pid_t tid) {
    for (int i = 0; i < 5000; ++i) {
        std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
        std::string line;
        std::getline(stat, line);
        const auto close = line.rfind(')');
        if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'S') {
            return true;
        }
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

std::span<std::byte> Bytes(std::vector<uint8_t>& v) {
    return std::as_writable_bytes(std::span(v));
}

std::unique_ptr<SerialPort> OpenPty(Pty& pty) {
    return SerialPort::Open(SerialTarget{pty.takeSlave(), {}});
}

// The reader thread queues bytes as the kernel hands them over; waits (real
// time, bounded) until the port reports at least n queued bytes.
uint32_t WaitQueued(SerialPort& port, uint32_t n) {
    COMSTAT stat;
    auto limit = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < limit) {
        port.ClearCommError(nullptr, &stat);
        if (stat.cbInQue >= n) {
            break;
        }
        std::this_thread::sleep_for(1ms);
    }
    return stat.cbInQue;
}

// Opens COM ports through the stream-device layer as the programs do.
class SerialDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterSerialDriver();
        for (unsigned i = 0; i < kSerialPortCount; ++i) {
            unsetenv(("HANDHELD_COM" + std::to_string(i)).c_str());
        }
    }
    void TearDown() override {
        UnregisterSerialTargetProvider("gps");
        UnregisterSerialTargetProvider("fake");
        for (unsigned i = 0; i < kSerialPortCount; ++i) {
            unsetenv(("HANDHELD_COM" + std::to_string(i)).c_str());
        }
    }
    static std::unique_ptr<StreamDevice> Open(std::u16string_view name) {
        SetLastError(0);
        return OpenStreamDevice(name, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0);
    }
};

TEST_F(SerialDriverTest, MappingResolvesOrFailsLikeTheDevice) {
    Pty pty;
    ASSERT_FALSE(pty.path.empty());
    setenv("HANDHELD_COM1", pty.path.c_str(), 1);
    setenv("HANDHELD_COM2", "/dev/no-such-serial-device", 1);
    setenv("HANDHELD_COM4", "nosuchscheme:x", 1);
    setenv("HANDHELD_COM5", "/dev/null", 1);
    struct Case {
        std::u16string_view name;
        uint32_t error; // 0: opens
    };
    const Case cases[] = {
        {u"COM1:", 0},
        {u"com1:", ERROR_ACCESS_DENIED}, // still open from the row above
        {u"COM2:", ERROR_FILE_NOT_FOUND},
        {u"COM3:", ERROR_FILE_NOT_FOUND},
        {u"COM4:", ERROR_FILE_NOT_FOUND},
        {u"COM5:", ERROR_NOT_SUPPORTED},
        {u"COM7:", ERROR_FILE_NOT_FOUND}, // no simulated receiver registered here
        {u"COM11:", ERROR_FILE_NOT_FOUND},
    };
    std::vector<std::unique_ptr<StreamDevice>> open;
    for (const Case& c : cases) {
        auto device = Open(c.name);
        std::string name(c.name.begin(), c.name.end());
        if (c.error == 0) {
            ASSERT_NE(device, nullptr) << name << " error " << GetLastError();
            open.push_back(std::move(device));
        } else {
            EXPECT_EQ(device, nullptr) << name;
            EXPECT_EQ(GetLastError(), c.error) << name;
        }
    }
    open.clear();
    EXPECT_NE(Open(u"COM1:"), nullptr) << "closing frees the port";
}

TEST_F(SerialDriverTest, ProvidersServeTheDefaultAndOverriddenMappings) {
    EXPECT_EQ(SerialPortMapping(7), "gps");
    EXPECT_EQ(SerialPortMapping(0), std::nullopt);
    EXPECT_EQ(SerialPortMapping(11), std::nullopt);
    std::vector<std::string> asked;
    std::atomic<int> closed{0};
    auto provider = [&](std::string_view argument) -> std::optional<SerialTarget> {
        asked.emplace_back(argument);
        auto pty = std::make_shared<Pty>();
        return SerialTarget{pty->takeSlave(), [pty, &closed] { ++closed; }};
    };
    RegisterSerialTargetProvider("gps", provider);
    RegisterSerialTargetProvider("fake", provider);
    setenv("HANDHELD_COM3", "fake:/some/file.log", 1);
    setenv("HANDHELD_COM7", "", 1); // empty: the device's own mapping
    {
        auto com7 = Open(u"COM7:");
        auto com3 = Open(u"COM3:");
        ASSERT_NE(com7, nullptr);
        ASSERT_NE(com3, nullptr);
        EXPECT_NE(dynamic_cast<SerialPort*>(com7.get()), nullptr);
    }
    EXPECT_EQ(asked, (std::vector<std::string>{"", "/some/file.log"}));
    EXPECT_EQ(closed, 2);

    RegisterSerialTargetProvider("fake", [](std::string_view) -> std::optional<SerialTarget> {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return std::nullopt;
    });
    EXPECT_EQ(Open(u"COM3:"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    RegisterSerialTargetProvider("fake", provider);
    EXPECT_NE(Open(u"COM3:"), nullptr) << "a failed open does not keep the port taken";
}

TEST(SerialPort, EveryBaudRateOfTheListReadsBack) {
    Pty pty;
    auto port = OpenPty(pty);
    ASSERT_NE(port, nullptr);
    for (uint32_t baud : {4800u, 9600u, 14400u, 19200u, 38400u, 56000u, 115200u, 128000u, 256000u,
                          2400u, 1200u, 600u, 300u, 110u, 921600u}) {
        DCB dcb;
        ASSERT_TRUE(port->GetCommState(dcb));
        dcb.BaudRate = baud;
        ASSERT_TRUE(port->SetCommState(dcb)) << baud << " error " << GetLastError();
        DCB back;
        ASSERT_TRUE(port->GetCommState(back));
        EXPECT_EQ(back.BaudRate, baud);
        EXPECT_EQ(back.DCBlength, sizeof(DCB));
    }
}

TEST(SerialPort, LineSettingsAreKeptAndBadOnesRefused) {
    Pty pty;
    auto port = OpenPty(pty);
    ASSERT_NE(port, nullptr);
    DCB dcb;
    ASSERT_TRUE(port->GetCommState(dcb));
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    for (uint8_t size = 5; size <= 8; ++size) {
        for (uint8_t parity = NOPARITY; parity <= SPACEPARITY; ++parity) {
            for (uint8_t stop = ONESTOPBIT; stop <= TWOSTOPBITS; ++stop) {
                dcb.ByteSize = size;
                dcb.Parity = parity;
                dcb.StopBits = stop;
                ASSERT_TRUE(port->SetCommState(dcb));
                DCB back;
                ASSERT_TRUE(port->GetCommState(back));
                EXPECT_EQ(back.ByteSize, size);
                EXPECT_EQ(back.Parity, parity);
                EXPECT_EQ(back.StopBits, stop);
            }
        }
    }
    DCB bad = dcb;
    bad.ByteSize = 9;
    EXPECT_FALSE(port->SetCommState(bad));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    bad = dcb;
    bad.BaudRate = 0;
    EXPECT_FALSE(port->SetCommState(bad));
    DCB back;
    ASSERT_TRUE(port->GetCommState(back));
    EXPECT_EQ(back.ByteSize, dcb.ByteSize) << "a refused DCB changes nothing";

    for (uint32_t f : {SETDTR, SETRTS, CLRDTR, CLRRTS, SETBREAK, CLRBREAK, SETXOFF, SETXON}) {
        EXPECT_TRUE(port->EscapeCommFunction(f)) << f;
    }
    EXPECT_FALSE(port->EscapeCommFunction(77));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(port->SetupComm(512, 512));
}

TEST(SerialPort, ReceivedBytesAreQueuedAndReadBackExactly) {
    Pty pty;
    auto port = OpenPty(pty);
    ASSERT_NE(port, nullptr);
    uint32_t events = 0;
    EXPECT_FALSE(port->WaitCommEvent(events)) << "no mask set";
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    ASSERT_TRUE(port->SetCommMask(EV_RXCHAR));

    std::vector<uint8_t> sent(300);
    for (size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<uint8_t>(i * 7);
    }
    ASSERT_TRUE(pty.send(sent.data(), sent.size()));
    ASSERT_TRUE(port->WaitCommEvent(events));
    EXPECT_EQ(events, EV_RXCHAR);
    ASSERT_EQ(WaitQueued(*port, 300), 300u);

    COMMTIMEOUTS t{MAXDWORD, 10, 10, 50, 100};
    ASSERT_TRUE(port->SetCommTimeouts(t));
    COMMTIMEOUTS back;
    ASSERT_TRUE(port->GetCommTimeouts(back));
    EXPECT_EQ(back.ReadTotalTimeoutMultiplier, 10u);
    std::vector<uint8_t> got(300);
    uint32_t n = 0;
    ASSERT_TRUE(port->read(Bytes(got), n));
    EXPECT_EQ(n, 300u);
    EXPECT_EQ(got, sent);
    COMSTAT stat;
    uint32_t errors = 1;
    ASSERT_TRUE(port->ClearCommError(&errors, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);
    EXPECT_EQ(errors, 0u);

    // Out through the port, byte by byte as the terminal sends.
    for (uint8_t b : {0x41, 0x42, 0x0D, 0x0A}) {
        std::byte one{b};
        uint32_t written = 0;
        ASSERT_TRUE(port->write(std::span(&one, 1), written));
        EXPECT_EQ(written, 1u);
    }
    EXPECT_EQ(pty.receive(4), (std::vector<uint8_t>{0x41, 0x42, 0x0D, 0x0A}));
}

TEST(SerialPort, PurgeEmptiesTheQueue) {
    Pty pty;
    auto port = OpenPty(pty);
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(pty.send("$GPGGA,stale\r\n"));
    ASSERT_EQ(WaitQueued(*port, 14), 14u);
    ASSERT_TRUE(port->PurgeComm(PURGE_TXCLEAR | PURGE_RXCLEAR));
    COMSTAT stat;
    ASSERT_TRUE(port->ClearCommError(nullptr, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);
    EXPECT_FALSE(port->PurgeComm(0x100));
}

TEST(SerialPort, ReadTimeoutsFollowTheDeviceRules) {
    Pty pty;
    auto port = OpenPty(pty);
    ASSERT_NE(port, nullptr);
    struct Case {
        const char* what;
        COMMTIMEOUTS timeouts;
        std::string queued; // before the read
        uint32_t want;
        uint32_t expected;
    };
    const Case cases[] = {
        {"interval MAXDWORD alone: what is queued", {MAXDWORD, 0, 0, 0, 0}, "abc", 10, 3},
        {"interval MAXDWORD alone: nothing queued", {MAXDWORD, 0, 0, 0, 0}, "", 10, 0},
        {"first-byte mode with data", {MAXDWORD, MAXDWORD, 20, 0, 0}, "xy", 10, 2},
        {"first-byte mode times out", {MAXDWORD, MAXDWORD, 20, 0, 0}, "", 10, 0},
        {"total time-out returns the part", {0, 1, 20, 0, 0}, "12345", 10, 5},
        {"interval gap ends the read", {15, 0, 0, 0, 0}, "12", 10, 2},
        {"the terminal's settings", {MAXDWORD, 10, 10, 50, 100}, "0123456789", 10, 10},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(port->SetCommTimeouts(c.timeouts));
        ASSERT_TRUE(pty.send(c.queued));
        ASSERT_EQ(WaitQueued(*port, uint32_t(c.queued.size())), c.queued.size());
        std::vector<uint8_t> buf(c.want);
        uint32_t n = 99;
        EXPECT_TRUE(port->read(Bytes(buf), n)) << c.what;
        EXPECT_EQ(n, c.expected) << c.what;
        EXPECT_EQ(std::string(buf.begin(), buf.begin() + n), c.queued.substr(0, n)) << c.what;
    }
}

TEST(SerialPort, FirstByteModeReturnsWhenAByteArrives) {
    Pty pty;
    auto port = OpenPty(pty);
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->SetCommTimeouts({MAXDWORD, MAXDWORD, 60000, 0, 0}));
    std::thread far([&] {
        std::this_thread::sleep_for(20ms);
        pty.send("Z");
    });
    std::vector<uint8_t> buf(16);
    uint32_t n = 0;
    EXPECT_TRUE(port->read(Bytes(buf), n));
    far.join();
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(buf[0], 'Z');
}

TEST(SerialPort, BurstWhileTheReaderIsAwayLosesNothing) {
    Pty pty;
    auto port = OpenPty(pty);
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->SetupComm(512, 512));
    ASSERT_TRUE(port->SetCommTimeouts({MAXDWORD, 10, 10, 50, 100}));
    constexpr size_t kSize = 1 << 20;
    std::vector<uint8_t> sent(kSize);
    for (size_t i = 0; i < kSize; ++i) {
        sent[i] = static_cast<uint8_t>((i * 131) ^ (i >> 9));
    }
    // The far end sends the whole megabyte before the terminal's first pass;
    // a pseudo-terminal itself holds only a few kilobytes.
    ASSERT_TRUE(pty.send(sent.data(), sent.size()));
    ASSERT_EQ(WaitQueued(*port, kSize), kSize);

    // Then the terminal's passes, each 500 ms apart on its own schedule: wait,
    // re-arm the mask, ask the queue, read at most 4095 bytes.
    std::vector<uint8_t> received;
    std::vector<uint8_t> buf(4096);
    ASSERT_TRUE(port->SetCommMask(EV_RXCHAR));
    while (received.size() < kSize) {
        port->SetCommMask(EV_RXCHAR);
        COMSTAT stat;
        ASSERT_TRUE(port->ClearCommError(nullptr, &stat));
        uint32_t want = std::min<uint32_t>(stat.cbInQue, 4095);
        ASSERT_GT(want, 0u);
        uint32_t n = 0;
        ASSERT_TRUE(port->read(std::as_writable_bytes(std::span(buf.data(), want)), n));
        received.insert(received.end(), buf.begin(), buf.begin() + n);
    }
    EXPECT_TRUE(received == sent);
}

TEST(SerialPort, AFullQueueHoldsTheSenderBackAndLosesNothing) {
    Pty pty;
    auto port = OpenPty(pty);
    ASSERT_NE(port, nullptr);
    // Two mebibytes more than the queue holds, numbered so that a lost or
    // doubled piece shows.
    std::vector<uint8_t> sent(kSerialReceiveQueueLimit + (2u << 20));
    for (std::size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<uint8_t>(i * 7 + i / 4096);
    }
    std::atomic<bool> done{false};
    std::thread writer([&] {
        pty.send(sent.data(), sent.size());
        done = true;
    });
    ASSERT_EQ(WaitQueued(*port, kSerialReceiveQueueLimit), kSerialReceiveQueueLimit);
    // The queue is full and the rest waits in the kernel: the writer is held.
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(done.load());
    COMSTAT stat;
    uint32_t errors = 0;
    ASSERT_TRUE(port->ClearCommError(&errors, &stat));
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(stat.cbInQue, kSerialReceiveQueueLimit);

    std::vector<uint8_t> received;
    received.reserve(sent.size());
    std::vector<uint8_t> buf(1 << 20);
    while (received.size() < sent.size()) {
        ASSERT_TRUE(port->ClearCommError(&errors, &stat));
        ASSERT_EQ(errors, 0u);
        if (stat.cbInQue == 0) {
            ASSERT_GE(WaitQueued(*port, 1), 1u) << received.size() << " bytes arrived";
            continue;
        }
        uint32_t n = 0;
        const uint32_t want = std::min<uint32_t>(stat.cbInQue, static_cast<uint32_t>(buf.size()));
        ASSERT_TRUE(port->read(std::as_writable_bytes(std::span(buf.data(), want)), n));
        received.insert(received.end(), buf.begin(), buf.begin() + n);
    }
    writer.join();
    EXPECT_TRUE(received == sent);
    EXPECT_EQ(port->LostBytes(), 0u);
}

TEST(SerialPort, SetCommMaskReleasesAPendingWait) {
    Pty pty;
    auto port = OpenPty(pty);
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->SetCommMask(EV_RXCHAR));
    std::atomic<bool> returned{false};
    uint32_t events = 99;
    bool ok = false;
    std::atomic<pid_t> readerTid{0};
    std::thread reader([&] {
        readerTid = static_cast<pid_t>(syscall(SYS_gettid));
        ok = port->WaitCommEvent(events);
        returned = true;
    });
    while (readerTid == 0) {
        std::this_thread::yield();
    }
    ASSERT_TRUE(WaitUntilBlocked(readerTid));
    EXPECT_FALSE(returned) << "nothing received yet";
    ASSERT_TRUE(port->SetCommMask(0));
    reader.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(events, 0u);
}

TEST(SerialPort, CloseWakesEveryBlockedCall) {
    Pty pty;
    auto port = OpenPty(pty);
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->SetCommMask(EV_RXCHAR));
    ASSERT_TRUE(port->SetCommTimeouts({0, 0, 0, 0, 0})); // reads wait for a full buffer
    std::atomic<uint32_t> waitError{0}, readError{0}, writeError{0};
    std::thread waiter([&] {
        uint32_t e = 0;
        if (!port->WaitCommEvent(e)) {
            waitError = GetLastError();
        }
    });
    std::thread reader([&] {
        std::vector<uint8_t> buf(100);
        uint32_t n = 0;
        if (!port->read(Bytes(buf), n)) {
            readError = GetLastError();
        }
    });
    std::thread writer([&] {
        // Nobody reads the far end, so this fills the pseudo-terminal and blocks.
        std::vector<uint8_t> big(4 << 20, 1);
        uint32_t n = 0;
        if (!port->write(std::as_bytes(std::span(big)), n)) {
            writeError = GetLastError();
        }
    });
    std::this_thread::sleep_for(50ms);
    port->close();
    waiter.join();
    reader.join();
    writer.join();
    EXPECT_EQ(waitError, ERROR_INVALID_HANDLE);
    EXPECT_EQ(readError, ERROR_INVALID_HANDLE);
    EXPECT_EQ(writeError, ERROR_INVALID_HANDLE);
    uint32_t mask = 0;
    EXPECT_FALSE(port->GetCommMask(mask));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(SerialPort, WriteTimeoutReturnsThePartWritten) {
    Pty pty;
    auto port = OpenPty(pty);
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->SetCommTimeouts({0, 0, 0, 0, 30}));
    std::vector<uint8_t> big(4 << 20, 2);
    uint32_t n = 0;
    EXPECT_TRUE(port->write(std::as_bytes(std::span(big)), n));
    EXPECT_GT(n, 0u);
    EXPECT_LT(n, big.size());
}

TEST_F(SerialDriverTest, VanishedDeviceFailsPromptlyAndReopens) {
    auto pty = std::make_unique<Pty>();
    setenv("HANDHELD_COM1", pty->path.c_str(), 1);
    auto device = Open(u"COM1:");
    ASSERT_NE(device, nullptr) << GetLastError();
    auto* port = dynamic_cast<SerialPort*>(device.get());
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->SetCommMask(EV_RXCHAR));
    ASSERT_TRUE(port->SetCommTimeouts({0, 0, 0, 0, 0}));

    std::atomic<uint32_t> waitError{0};
    std::thread waiter([&] {
        uint32_t e = 0;
        // Consume the event for "last", then block until the device vanishes.
        while (port->WaitCommEvent(e)) {
        }
        waitError = GetLastError();
    });
    ASSERT_TRUE(pty->send("last"));
    ASSERT_EQ(WaitQueued(*port, 4), 4u);
    pty->closeSlave();
    pty->closeMaster(); // the far end goes away
    waiter.join();
    EXPECT_EQ(waitError, ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(port->broken());

    std::vector<uint8_t> buf(10);
    uint32_t n = 0;
    EXPECT_TRUE(port->read(Bytes(buf), n)) << "what arrived before is still there";
    EXPECT_EQ(n, 4u);
    EXPECT_FALSE(port->read(Bytes(buf), n));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    std::byte one{0x41};
    EXPECT_FALSE(port->write(std::span(&one, 1), n));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    uint32_t e = 0;
    EXPECT_FALSE(port->WaitCommEvent(e));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    device.reset();

    pty = std::make_unique<Pty>();
    setenv("HANDHELD_COM1", pty->path.c_str(), 1);
    device = Open(u"COM1:");
    ASSERT_NE(device, nullptr) << "the same COM port opens again";
    ASSERT_TRUE(pty->send("ok"));
    EXPECT_EQ(WaitQueued(*dynamic_cast<SerialPort*>(device.get()), 2), 2u);
}

} // namespace
} // namespace hh::sys
