#include "simulator/state/device_state.h"

#include <platform/system/database.h>
#include <platform/system/device_root.h>
#include <platform/system/error.h>

namespace hh::sim::state {

namespace {

using sys::db::Access;
using sys::db::Connection;
using sys::db::Statement;

const sys::db::Kind kDeviceState{
    "device state", 0x48485354, 0,
    "CREATE TABLE state(name TEXT PRIMARY KEY, value);"
    "CREATE TABLE log(id INTEGER PRIMARY KEY AUTOINCREMENT, kind TEXT NOT NULL, at_ms INTEGER,"
    " a INTEGER, b INTEGER);"
    "CREATE INDEX log_kind ON log(kind, id)",
    [] { return 10000; }};

// The calling thread's connection; false with the last error set. A read of
// a device that has no store yet gets `missing` true and no connection.
bool Connect(Access access, Connection*& connection, bool& missing) {
    missing = false;
    const uint32_t error = Connection::ForThread(StatePath(), kDeviceState, access, connection);
    if (error == sys::ERROR_FILE_NOT_FOUND && access == Access::Read) {
        missing = true;
        return true;
    }
    if (error) {
        sys::SetLastError(error);
        return false;
    }
    return true;
}

bool Failed(uint32_t error) {
    if (error) {
        sys::SetLastError(error);
        return false;
    }
    return true;
}

// Runs body(connection) for a read; a device without a store reads nothing.
template <typename Body>
bool Read(Body body) {
    Connection* connection = nullptr;
    bool missing = false;
    if (!Connect(Access::Read, connection, missing)) {
        return false;
    }
    return missing || Failed(body(*connection));
}

// Runs body(connection) inside one write transaction (or the thread's open one).
template <typename Body>
bool Write(Body body) {
    Connection* connection = nullptr;
    bool missing = false;
    if (!Connect(Access::Write, connection, missing)) {
        return false;
    }
    sys::db::Transaction transaction(*connection);
    if (uint32_t error = transaction.error()) {
        return Failed(error);
    }
    if (uint32_t error = body(*connection)) {
        return Failed(error);
    }
    return Failed(transaction.commit());
}

// Reads the value stored under name when it has the wanted type.
template <typename Take>
bool ReadValue(std::string_view name, Take take) {
    return Read([&](Connection& c) {
        Statement s(c, "SELECT value FROM state WHERE name = ?1");
        s.bind(1, name);
        if (s.step()) {
            take(s);
        }
        return s.error();
    });
}

uint32_t Store(Connection& c, std::string_view name, const auto& value) {
    Statement s(c, "INSERT INTO state(name, value) VALUES(?1, ?2)"
                   " ON CONFLICT(name) DO UPDATE SET value = excluded.value");
    s.bind(1, name).bind(2, value);
    return s.run();
}

} // namespace

std::string StatePath() {
    return (sys::DeviceStateDir() / "device.db").string();
}

std::string StateErrorText() {
    return sys::db::LastFailure();
}

bool Check() {
    Connection* connection = nullptr;
    bool missing = false;
    return Connect(Access::Read, connection, missing);
}

bool GetInt(std::string_view name, int64_t defaultValue, int64_t& value) {
    value = defaultValue;
    return ReadValue(name, [&](const Statement& s) {
        if (s.isInteger(0)) {
            value = s.integer(0);
        }
    });
}

bool GetText(std::string_view name, std::string_view defaultValue, std::string& value) {
    value = std::string(defaultValue);
    return ReadValue(name, [&](const Statement& s) {
        if (s.isText(0)) {
            value = s.text(0);
        }
    });
}

bool SetInt(std::string_view name, int64_t value) {
    return Write([&](Connection& c) { return Store(c, name, value); });
}

bool SetText(std::string_view name, std::string_view value) {
    return Write([&](Connection& c) { return Store(c, name, value); });
}

bool SetInts(const std::vector<Change>& changes) {
    return Write([&](Connection& c) {
        for (const Change& change : changes) {
            if (uint32_t error = Store(c, change.name, change.value)) {
                return error;
            }
        }
        return sys::ERROR_SUCCESS;
    });
}

bool Transact(const std::function<bool()>& body) {
    return Write([&](Connection&) {
        if (body()) {
            return sys::ERROR_SUCCESS;
        }
        const uint32_t error = sys::GetLastError();
        return error ? error : sys::ERROR_GEN_FAILURE;
    });
}

bool AppendLog(std::string_view log, const LogEntry& entry) {
    Connection* connection = nullptr;
    bool missing = false;
    if (!Connect(Access::Write, connection, missing)) {
        return false;
    }
    // A log entry survives a killed process but is not synced to the disk
    // one by one: the buzzer logs a tone every few milliseconds and must keep
    // its timing. The state values stay fully synchronous.
    connection->exec("PRAGMA synchronous=NORMAL");
    const bool ok = Write([&](Connection& c) {
        Statement insert(c, "INSERT INTO log(kind, at_ms, a, b) VALUES(?1, ?2, ?3, ?4)");
        insert.bind(1, log).bind(2, entry.atMs).bind(3, entry.a).bind(4, entry.b);
        if (uint32_t error = insert.run()) {
            return error;
        }
        Statement trim(c, "DELETE FROM log WHERE kind = ?1 AND id <= (SELECT max(id) FROM log"
                          " WHERE kind = ?1) - ?2");
        trim.bind(1, log).bind(2, int64_t{kLogLimit});
        return trim.run();
    });
    connection->exec("PRAGMA synchronous=FULL");
    return ok;
}

bool ReadLog(std::string_view log, std::vector<LogEntry>& entries) {
    entries.clear();
    return Read([&](Connection& c) {
        Statement s(c, "SELECT at_ms, a, b FROM log WHERE kind = ?1 ORDER BY id");
        s.bind(1, log);
        while (s.step()) {
            entries.push_back({s.integer(0), s.integer(1), s.integer(2)});
        }
        return s.error();
    });
}

bool LastLogEntry(std::string_view log, LogEntry& entry, bool& found) {
    found = false;
    return Read([&](Connection& c) {
        Statement s(c, "SELECT at_ms, a, b FROM log WHERE kind = ?1 ORDER BY id DESC LIMIT 1");
        s.bind(1, log);
        if (s.step()) {
            found = true;
            entry = {s.integer(0), s.integer(1), s.integer(2)};
        }
        return s.error();
    });
}

bool ClearLog(std::string_view log) {
    return Write([&](Connection& c) {
        Statement s(c, "DELETE FROM log WHERE kind = ?1");
        s.bind(1, log);
        return s.run();
    });
}

} // namespace hh::sim::state
