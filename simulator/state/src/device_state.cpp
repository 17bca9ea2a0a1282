#include "simulator/state/device_state.h"

#include <platform/system/device_root.h>
#include <platform/system/error.h>

#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

namespace hh::sim::state {

namespace {

constexpr const char* kDatabase = "device.db";
constexpr int kBusyTimeoutMs = 10000;

constexpr const char* kSchema = "CREATE TABLE IF NOT EXISTS state(name TEXT PRIMARY KEY, value);"
                                "CREATE TABLE IF NOT EXISTS log(id INTEGER PRIMARY KEY "
                                "AUTOINCREMENT, kind TEXT NOT NULL, at_ms INTEGER, a INTEGER, "
                                "b INTEGER);"
                                "CREATE INDEX IF NOT EXISTS log_kind ON log(kind, id);";

uint32_t ErrorOf(int rc) {
    switch (rc & 0xFF) {
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_FORMAT:
    case SQLITE_SCHEMA:
    case SQLITE_ERROR:
        return sys::ERROR_INVALID_DATA;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return sys::ERROR_TIMEOUT;
    case SQLITE_FULL:
        return sys::ERROR_DISK_FULL;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return sys::ERROR_ACCESS_DENIED;
    case SQLITE_CANTOPEN:
        return sys::ERROR_PATH_NOT_FOUND;
    default:
        return sys::ERROR_GEN_FAILURE;
    }
}

thread_local std::string t_lastMessage;

// One connection per process and database, with its prepared statements;
// calls are serialised on its mutex. A forked child opens its own.
class Connection {
public:
    ~Connection() {
        for (auto& [sql, statement] : m_statements) {
            sqlite3_finalize(statement);
        }
        if (m_db) {
            sqlite3_close(m_db);
        }
    }

    int open(const std::string& path) {
        int rc = sqlite3_open_v2(path.c_str(), &m_db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
        if (rc != SQLITE_OK) {
            return rc;
        }
        sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
        rc = sqlite3_exec(m_db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", nullptr,
                          nullptr, nullptr);
        if (rc == SQLITE_OK) {
            rc = sqlite3_exec(m_db, kSchema, nullptr, nullptr, nullptr);
        }
        return rc;
    }

    sqlite3_stmt* statement(const char* sql, int& rc) {
        auto it = m_statements.find(sql);
        if (it != m_statements.end()) {
            sqlite3_reset(it->second);
            sqlite3_clear_bindings(it->second);
            rc = SQLITE_OK;
            return it->second;
        }
        sqlite3_stmt* statement = nullptr;
        rc = sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
        if (rc != SQLITE_OK) {
            return nullptr;
        }
        m_statements.emplace(sql, statement);
        return statement;
    }

    sqlite3* db() const { return m_db; }
    std::mutex mutex;

private:
    sqlite3* m_db = nullptr;
    std::map<const char*, sqlite3_stmt*> m_statements;
};

struct Cache {
    std::mutex mutex;
    pid_t pid = 0;
    std::map<std::string, std::shared_ptr<Connection>> connections;
};

Cache& TheCache() {
    static Cache* cache = new Cache; // lives to the end; threads may use it during exit
    return *cache;
}

bool Fail(int rc, const std::string& what) {
    sys::SetLastError(ErrorOf(rc));
    t_lastMessage = "the device state " + StatePath() + " " + what;
    if (ErrorOf(rc) == sys::ERROR_INVALID_DATA) {
        t_lastMessage += " (damaged or not a device state database; left as it is)";
    } else if (ErrorOf(rc) == sys::ERROR_TIMEOUT) {
        t_lastMessage += " (locked by another process)";
    } else {
        t_lastMessage += std::string(" (") + sqlite3_errstr(rc) + ")";
    }
    return false;
}

// The connection of the current device root, opened on first use.
std::shared_ptr<Connection> Connect(int& rc) {
    std::string path = StatePath();
    Cache& cache = TheCache();
    std::lock_guard lock(cache.mutex);
    if (cache.pid != ::getpid()) {
        // Connections of the parent must not be used (nor closed) in a child.
        for (auto& [name, connection] : cache.connections) {
            new std::shared_ptr<Connection>(connection);
        }
        cache.connections.clear();
        cache.pid = ::getpid();
    }
    auto it = cache.connections.find(path);
    if (it != cache.connections.end()) {
        rc = SQLITE_OK;
        return it->second;
    }
    std::error_code ec;
    std::filesystem::create_directories(sys::DeviceStateDir(), ec);
    auto connection = std::make_shared<Connection>();
    rc = connection->open(path);
    if (rc != SQLITE_OK) {
        return nullptr;
    }
    cache.connections.emplace(path, connection);
    return connection;
}

// Runs body on the connection under its lock; body returns an SQLite code.
template <typename Body>
bool Run(const std::string& what, Body body) {
    int rc = SQLITE_OK;
    std::shared_ptr<Connection> connection = Connect(rc);
    if (!connection) {
        return Fail(rc, "cannot be opened");
    }
    std::lock_guard lock(connection->mutex);
    rc = body(*connection);
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        return Fail(rc, what);
    }
    return true;
}

int Step(sqlite3_stmt* statement) {
    int rc = sqlite3_step(statement);
    return rc == SQLITE_DONE || rc == SQLITE_ROW ? SQLITE_OK : rc;
}

int Exec(Connection& c, const char* sql) {
    return sqlite3_exec(c.db(), sql, nullptr, nullptr, nullptr);
}

} // namespace

std::string StatePath() {
    return (sys::DeviceStateDir() / kDatabase).string();
}

std::string StateErrorText() {
    return t_lastMessage;
}

namespace {

// Reads the value stored under name when it has the given column type; take
// copies it out of the statement's row.
template <typename Take>
bool ReadValue(std::string_view name, int type, Take take) {
    return Run("cannot be read", [&](Connection& c) {
        int rc = SQLITE_OK;
        sqlite3_stmt* s = c.statement("SELECT value FROM state WHERE name=?", rc);
        if (!s) {
            return rc;
        }
        sqlite3_bind_text(s, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
        rc = sqlite3_step(s);
        if (rc == SQLITE_ROW && sqlite3_column_type(s, 0) == type) {
            take(s);
        }
        sqlite3_reset(s);
        return rc;
    });
}

} // namespace

bool GetInt(std::string_view name, int64_t defaultValue, int64_t& value) {
    value = defaultValue;
    return ReadValue(name, SQLITE_INTEGER,
                     [&](sqlite3_stmt* s) { value = sqlite3_column_int64(s, 0); });
}

bool SetInt(std::string_view name, int64_t value) {
    return SetInts({{std::string(name), value}});
}

bool SetInts(const std::vector<Change>& changes) {
    return Run("cannot be written", [&](Connection& c) {
        int rc = Exec(c, "BEGIN IMMEDIATE");
        if (rc != SQLITE_OK) {
            return rc;
        }
        for (const Change& change : changes) {
            sqlite3_stmt* s =
                c.statement("INSERT OR REPLACE INTO state(name, value) VALUES(?, ?)", rc);
            if (!s) {
                break;
            }
            sqlite3_bind_text(s, 1, change.name.data(), static_cast<int>(change.name.size()),
                              SQLITE_TRANSIENT);
            sqlite3_bind_int64(s, 2, change.value);
            rc = Step(s);
            sqlite3_reset(s);
            if (rc != SQLITE_OK) {
                break;
            }
        }
        if (rc != SQLITE_OK) {
            Exec(c, "ROLLBACK");
            return rc;
        }
        return Exec(c, "COMMIT");
    });
}

bool GetText(std::string_view name, std::string_view defaultValue, std::string& value) {
    value = std::string(defaultValue);
    return ReadValue(name, SQLITE_TEXT, [&](sqlite3_stmt* s) {
        value.assign(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)),
                     static_cast<size_t>(sqlite3_column_bytes(s, 0)));
    });
}

bool SetText(std::string_view name, std::string_view value) {
    return Run("cannot be written", [&](Connection& c) {
        int rc = SQLITE_OK;
        sqlite3_stmt* s = c.statement("INSERT OR REPLACE INTO state(name, value) VALUES(?, ?)", rc);
        if (!s) {
            return rc;
        }
        sqlite3_bind_text(s, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(s, 2, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
        rc = Step(s);
        sqlite3_reset(s);
        return rc;
    });
}

int64_t IntOr(std::string_view name, int64_t defaultValue) {
    int64_t value = defaultValue;
    GetInt(name, defaultValue, value);
    return value;
}

std::string TextOr(std::string_view name, std::string_view defaultValue) {
    std::string value;
    GetText(name, defaultValue, value);
    return value;
}

bool AppendLog(std::string_view log, const LogEntry& entry) {
    return Run("cannot be written", [&](Connection& c) {
        // A log entry survives a killed process but is not synced to the disk
        // one by one: the buzzer logs a tone every few milliseconds and must
        // keep its timing. The state values stay fully synchronous.
        Exec(c, "PRAGMA synchronous=NORMAL");
        int rc = Exec(c, "BEGIN IMMEDIATE");
        if (rc != SQLITE_OK) {
            return rc;
        }
        sqlite3_stmt* s = c.statement("INSERT INTO log(kind, at_ms, a, b) VALUES(?, ?, ?, ?)", rc);
        if (s) {
            sqlite3_bind_text(s, 1, log.data(), static_cast<int>(log.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int64(s, 2, entry.atMs);
            sqlite3_bind_int64(s, 3, entry.a);
            sqlite3_bind_int64(s, 4, entry.b);
            rc = Step(s);
            sqlite3_reset(s);
        }
        if (rc == SQLITE_OK) {
            s = c.statement("DELETE FROM log WHERE kind=?1 AND id <= (SELECT max(id) FROM log "
                            "WHERE kind=?1) - ?2",
                            rc);
            if (s) {
                sqlite3_bind_text(s, 1, log.data(), static_cast<int>(log.size()), SQLITE_TRANSIENT);
                sqlite3_bind_int(s, 2, kLogLimit);
                rc = Step(s);
                sqlite3_reset(s);
            }
        }
        if (rc != SQLITE_OK) {
            Exec(c, "ROLLBACK");
        } else {
            rc = Exec(c, "COMMIT");
        }
        Exec(c, "PRAGMA synchronous=FULL");
        return rc;
    });
}

bool ReadLog(std::string_view log, std::vector<LogEntry>& entries) {
    entries.clear();
    return Run("cannot be read", [&](Connection& c) {
        int rc = SQLITE_OK;
        sqlite3_stmt* s = c.statement("SELECT at_ms, a, b FROM log WHERE kind=? ORDER BY id", rc);
        if (!s) {
            return rc;
        }
        sqlite3_bind_text(s, 1, log.data(), static_cast<int>(log.size()), SQLITE_TRANSIENT);
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            entries.push_back({sqlite3_column_int64(s, 0), sqlite3_column_int64(s, 1),
                               sqlite3_column_int64(s, 2)});
        }
        sqlite3_reset(s);
        return rc;
    });
}

bool LastLogEntry(std::string_view log, LogEntry& entry, bool& found) {
    found = false;
    return Run("cannot be read", [&](Connection& c) {
        int rc = SQLITE_OK;
        sqlite3_stmt* s =
            c.statement("SELECT at_ms, a, b FROM log WHERE kind=? ORDER BY id DESC LIMIT 1", rc);
        if (!s) {
            return rc;
        }
        sqlite3_bind_text(s, 1, log.data(), static_cast<int>(log.size()), SQLITE_TRANSIENT);
        rc = sqlite3_step(s);
        if (rc == SQLITE_ROW) {
            found = true;
            entry = {sqlite3_column_int64(s, 0), sqlite3_column_int64(s, 1),
                     sqlite3_column_int64(s, 2)};
        }
        sqlite3_reset(s);
        return rc;
    });
}

bool ClearLog(std::string_view log) {
    return Run("cannot be written", [&](Connection& c) {
        int rc = SQLITE_OK;
        sqlite3_stmt* s = c.statement("DELETE FROM log WHERE kind=?", rc);
        if (!s) {
            return rc;
        }
        sqlite3_bind_text(s, 1, log.data(), static_cast<int>(log.size()), SQLITE_TRANSIENT);
        rc = Step(s);
        sqlite3_reset(s);
        return rc;
    });
}

} // namespace hh::sim::state
