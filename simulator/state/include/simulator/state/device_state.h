#pragma once
// The simulated device's persistent state: what its drivers keep between
// requests (backlight level, battery, sensors, USB client, card identity,
// drivers switched off) and the logs of tone and power requests.
//
// Storage: one SQLite database, <root>/.device/device.db, shared by every
// process of the device root: write-ahead log, synchronous=FULL (a change is
// on the disk when the call returns and a killed process leaves the old or the
// new value), a busy time-out of 10 s for writers of other processes; log
// entries are committed without a sync of their own (a killed process keeps
// them, a power loss may take the last ones), so that the buzzer keeps its
// timing. Every
// read and write of the simulated device's state goes through this module.
//
// A missing database reads as the defaults. A database that is damaged or not
// ours is never rewritten: every call fails with ERROR_INVALID_DATA (or the
// mapped host error), and StateErrorText describes it in one line.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hh::sim::state {

/// A 32/64-bit value stored under name; false with the last error set when
/// the store cannot be read (value then holds defaultValue).
bool GetInt(std::string_view name, int64_t defaultValue, int64_t& value);
bool SetInt(std::string_view name, int64_t value);
bool GetText(std::string_view name, std::string_view defaultValue, std::string& value);
bool SetText(std::string_view name, std::string_view value);
/// Several values in one durable transaction.
struct Change {
    std::string name;
    int64_t value = 0;
};
bool SetInts(const std::vector<Change>& changes);

/// Convenience: the stored value or the default, ignoring store errors.
int64_t IntOr(std::string_view name, int64_t defaultValue);
std::string TextOr(std::string_view name, std::string_view defaultValue);

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
/// One line on why the last call failed ("... is damaged or not a device state database").
std::string StateErrorText();

} // namespace hh::sim::state
