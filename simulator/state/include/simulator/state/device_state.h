#pragma once
// The simulated device's persistent state: what its drivers keep between
// requests (backlight level, battery, sensors, USB client, card identity,
// drivers switched off) and the logs of tone and power requests.
//
// Storage: one SQLite database, <root>/.device/device.db, shared by every
// process of the device root through the platform's database layer: a change
// is on the disk when the call returns and a killed process leaves the old or
// the new value; writers of other processes are waited for up to 10 s. Log
// entries are committed without a sync of their own (a killed process keeps
// them, a power loss may take the last ones), so that the buzzer keeps its
// timing. Every read and write of the simulated device's state goes through
// this module.
//
// Each setter changes only the values it names, in one transaction, so that
// processes changing different values at the same moment never lose each
// other's changes; Transact makes a read and the writes that depend on it one
// step.
//
// A missing database reads as the defaults and is made by the first write. A
// database that is damaged or not ours is never read as defaults nor
// rewritten: every call fails with ERROR_FILE_CORRUPT, and StateErrorText
// says "device state damaged: ..." in one line. A full disk fails a write with
// ERROR_DISK_FULL.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace hh::sim::state {

/// Opens and checks the store; false with the last error and StateErrorText
/// when it cannot be used. A device without a store yet passes.
bool Check();

/// The value stored under name, or defaultValue when none is stored (or one of
/// the other type); false with the last error set when the store cannot be
/// read.
bool GetInt(std::string_view name, int64_t defaultValue, int64_t& value);
bool GetText(std::string_view name, std::string_view defaultValue, std::string& value);
bool SetInt(std::string_view name, int64_t value);
bool SetText(std::string_view name, std::string_view value);
/// Several values in one durable transaction.
struct Change {
    std::string name;
    int64_t value = 0;
};
bool SetInts(const std::vector<Change>& changes);

/// Runs body inside one write transaction of the calling thread: the reads
/// and writes body makes through this module see no other process's change
/// in between and are kept together, only when body returns true. False with
/// the last error when the transaction cannot begin or commit, or body fails.
bool Transact(const std::function<bool()>& body);

/// One entry of a request log: the device tick at which it came, and two
/// numbers (a tone's level and scale; a power request's code and value).
struct LogEntry {
    int64_t atMs = 0;
    int64_t a = 0;
    int64_t b = 0;
    friend bool operator==(const LogEntry&, const LogEntry&) = default;
};

/// The logs kept, each at most kLogLimit entries (the oldest go first).
inline constexpr std::string_view kToneLog = "tone";
inline constexpr std::string_view kPowerLog = "power";
inline constexpr int kLogLimit = 1000;

bool AppendLog(std::string_view log, const LogEntry& entry);
bool ReadLog(std::string_view log, std::vector<LogEntry>& entries);
bool ClearLog(std::string_view log);
/// The newest entry; found is false for an empty log.
bool LastLogEntry(std::string_view log, LogEntry& entry, bool& found);

/// The database's host path, for messages.
std::string StatePath();
/// One line on why the calling thread's last call failed, e.g.
/// "device state damaged: <path> fails its integrity check (...); it was left as it is".
std::string StateErrorText();

} // namespace hh::sim::state
