#pragma once
// The simulated receivers behind the serial ports. A host owns a
// pseudo-terminal: the port opens its device end, the host thread holds the
// other end, writes one burst of sentences a second to it and hands every byte
// the terminal sends to the source. Closing the port's end stops the host.
//
// Sources: "gps" is the simulated GPS receiver, "replay:FILE" plays a recorded
// NMEA log back at one burst a second, looping at its end.

#include "simulator/gps/gps_receiver.h"

#include <platform/system/posix.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace hh::sim {

/// What a simulated receiver sends and hears.
class BurstSource {
public:
    virtual ~BurstSource() = default;
    /// The bytes of the next second.
    virtual std::string nextBurst() = 0;
    /// Bytes the terminal sent to the receiver.
    virtual void receive(std::string_view bytes) = 0;
};

/// The simulated GPS receiver on the line. A receiver of the device (given a
/// name) follows the device's GPS scenario, read before every burst, and
/// publishes its sky under that name once a second of the device clock while
/// the device exists (gps_scenario_store.h); an unnamed one is on its own.
class GpsSource final : public BurstSource {
public:
    explicit GpsSource(const GpsReceiverOptions& options = {}, std::string deviceName = {})
        : receiver_(options), name_(std::move(deviceName)) {}
    std::string nextBurst() override;
    void receive(std::string_view bytes) override { receiver_.receive(bytes); }
    /// The model; read it only while the host is not running.
    const GpsReceiver& receiver() const { return receiver_; }

private:
    void followDevice();
    void publishSky();

    GpsReceiver receiver_;
    std::string name_;
    int64_t revision_ = -1;
    int64_t publishedAtMs_ = 0;
    bool published_ = false;
};

/// Splits a recorded log into one-second bursts: lines beginning with '#' and
/// empty lines are dropped, every line ends in CR LF as a receiver sends it,
/// and a burst ends after an RMC sentence of any talker ("$GPRMC", "$GNRMC")
/// or before a GGA sentence that starts a new cycle. A burst never holds more
/// than 64 lines, so that a log of neither sentence still plays at a pace.
std::vector<std::string> SplitIntoBursts(std::string_view log);

/// A recorded log played back in a loop. It does not listen. The bursts are
/// kept end to end in one text, so that a log of many short lines costs
/// little more than its own size.
class ReplaySource final : public BurstSource {
public:
    /// The largest log a replay takes (hours of a receiver's output).
    static constexpr std::size_t kMaxLogBytes = 4u << 20;

    explicit ReplaySource(const std::vector<std::string>& bursts);
    /// Reads a log file by its host path; it must be a regular file of at most
    /// kMaxLogBytes that holds at least one sentence ("$" and five letters or
    /// digits). Null with the last error set: ERROR_FILE_NOT_FOUND,
    /// ERROR_ACCESS_DENIED (a folder, a device, a pipe, no permission),
    /// ERROR_FILE_TOO_LARGE, ERROR_INVALID_DATA (no sentence).
    static std::unique_ptr<ReplaySource> Load(const std::string& path);
    /// One line on why Load refused the file with this error, e.g. "is not a regular file".
    static std::string RefusalText(uint32_t error);

    std::string nextBurst() override;
    void receive(std::string_view) override {}
    std::size_t burstCount() const { return ends_.size(); }

private:
    ReplaySource() = default;
    std::string text_;
    std::vector<uint32_t> ends_; ///< where each burst ends in text_
    std::size_t next_ = 0;
};

/// How the host paces its bursts: once per period in real time, or only when
/// emitNow() is called (tests).
enum class Pacing { RealTime, Manual };

class PtyReceiverHost {
public:
    /// Opens a pseudo-terminal in raw mode and starts the host thread; the first
    /// burst goes out at once under RealTime pacing. Null with the last error
    /// set when no pseudo-terminal can be had.
    static std::unique_ptr<PtyReceiverHost>
    Start(std::unique_ptr<BurstSource> source, Pacing pacing,
          std::chrono::milliseconds period = std::chrono::milliseconds(1000));
    /// Stops the host thread and closes both ends still held.
    ~PtyReceiverHost();
    PtyReceiverHost(const PtyReceiverHost&) = delete;
    PtyReceiverHost& operator=(const PtyReceiverHost&) = delete;

    /// Hands the device end over to its user (a serial port), once; -1 after.
    int takeDeviceFd();
    /// The device end's path, "/dev/pts/N".
    const std::string& devicePath() const { return path_; }
    /// Writes the next burst now; false once the device end has been closed.
    bool emitNow();
    /// Bytes heard from the terminal so far.
    uint64_t bytesHeard() const { return heard_; }
    /// Bursts written so far.
    uint64_t burstsSent() const { return sent_; }
    /// True once the host thread has ended (device end closed, or stopped).
    bool stopped() const { return stopped_; }
    /// Stops the host thread and waits for it.
    void stop();

private:
    PtyReceiverHost() = default;
    void run();
    bool sendBurst();
    bool writeAll(const std::string& bytes);

    std::unique_ptr<BurstSource> source_;
    Pacing pacing_ = Pacing::RealTime;
    std::chrono::milliseconds period_{1000};
    sys::posix::Fd master_;
    sys::posix::Fd device_;
    sys::posix::Fd stopFd_;
    std::string path_;
    std::mutex mutex_; // the source and writes to the line
    std::thread thread_;
    std::atomic<uint64_t> heard_{0};
    std::atomic<uint64_t> sent_{0};
    std::atomic<bool> stopped_{false};
};

/// The name a receiver of this process publishes its sky under, e.g.
/// "VARDI (process 4711)".
std::string ReceiverName(std::string_view what);

/// Registers the "gps" and "replay" serial targets (call at program start,
/// after or before hh::sys::RegisterSerialDriver).
void RegisterSimulatedPorts();

} // namespace hh::sim
