#pragma once
// The one SQLite layer of the platform: the registry and the simulated
// device's state both keep their data through it.
//
// A database is opened per thread and per file, checked before its first use
// and kept open for the thread's later calls. Every database runs in
// write-ahead-log mode with synchronous=FULL: a committed change is on the
// disk when the commit returns, a killed process leaves the old or the new
// value, and readers never wait for a writer. Writers of other processes are
// waited for up to the kind's busy time-out. The log and its index (the
// "-wal" and "-shm" files) stay beside the database between runs, so that a
// full disk still lets it be read.
//
// Opening checks what it opens, and nothing is ever repaired or adopted: a
// file whose application id, layout version or tables are not the kind's
// exactly, or that fails SQLite's quick check, is refused with
// ERROR_FILE_CORRUPT and left as it is for inspection. A file with no tables
// at all is new and gets the kind's tables in its first write transaction.
// Opening for reading never creates the file or its folder.
//
// Every failure becomes the platform's error number in one map
// (ErrorFromSqlite) and a one-line description for the calling thread
// (LastFailure). Nothing is printed.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace hh::sys::db {

/// What one kind of database holds, checked at every open.
struct Kind {
    std::string_view name;   ///< for messages: "registry", "device state"
    int32_t applicationId;   ///< PRAGMA application_id of files made by this build
    int32_t version;         ///< PRAGMA user_version of the layout
    std::string_view schema; ///< the statements that lay out a new file
    int (*busyTimeoutMs)();  ///< how long another process's write lock is waited for
};

enum class Access {
    Read,  ///< a missing file is ERROR_FILE_NOT_FOUND; nothing is created
    Write, ///< a missing file and its folder are created and laid out
};

/// The platform's error number for an SQLite result code. For I/O failures
/// (full disk, no permission, missing folder) the host's errno, when SQLite
/// kept one, decides: a full disk is ERROR_DISK_FULL whatever SQLite calls it.
uint32_t ErrorFromSqlite(int rc, int systemErrno = 0);

/// One line on why the calling thread's last database call failed:
/// "<kind> <path> <why>"; empty when the last call met no fault of its
/// database (every call starts afresh).
std::string LastFailure();

class Connection;

/// A prepared statement of a connection, cached there; reset for its next use
/// when this goes out of scope.
class Statement {
public:
    Statement(Connection& connection, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, int64_t value);
    Statement& bind(int index, std::string_view text);
    Statement& bind(int index, std::u16string_view text);
    Statement& bindBlob(int index, const uint8_t* data, uint32_t size);

    /// Steps once: true with a row; false when done or on failure (error()).
    bool step();
    /// Runs a statement that returns no rows; the error number or 0.
    uint32_t run();
    /// 0, or the error number of the failed prepare or step.
    uint32_t error() const { return m_error; }

    bool isInteger(int column) const;
    bool isText(int column) const;
    int64_t integer(int column) const;
    std::string text(int column) const;
    std::u16string text16(int column) const;
    std::vector<uint8_t> blob(int column) const;

private:
    Connection& m_connection;
    sqlite3_stmt* m_statement = nullptr;
    uint32_t m_error = 0;
};

/// One thread's connection to one database file.
class Connection {
public:
    /// The calling thread's connection to the file at path, opened and checked
    /// on first use. A connection that met a damaged file is dropped, so the
    /// next call checks the file again.
    static uint32_t ForThread(const std::string& path, const Kind& kind, Access access,
                              Connection*& result);

    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const std::string& path() const { return m_path; }
    /// Sound, and still the file its name leads to.
    bool reusable() const;
    /// Runs statements without results; the error number or 0.
    uint32_t exec(const char* sql);
    /// True while an explicit transaction (BEGIN ... COMMIT) is open.
    bool inTransaction() const;
    /// Ends an open transaction without its changes. The thread's failure
    /// line stays the one of the failure that led here.
    void rollback();
    int64_t lastInsertRowId() const;
    /// Rows changed by the last statement.
    int changes() const;
    /// Copies the log into the database file as far as no reader holds it back.
    void checkpoint();

    /// Turns a failed SQLite call into the error number and the thread's
    /// failure line; a damaged file marks the connection broken.
    uint32_t fail(int rc, std::string_view doing);

private:
    friend class Statement;
    Connection(std::string path, const Kind& kind);
    uint32_t open(Access access);
    uint32_t check(bool& empty);
    uint32_t layOut();
    uint32_t refuse(std::string_view why);
    sqlite3_stmt* prepare(const char* sql, uint32_t& error);

    std::string m_path;
    const Kind& m_kind;
    sqlite3* m_db = nullptr;
    bool m_broken = false;
    uint64_t m_device = 0; ///< the file opened, to notice its replacement
    uint64_t m_inode = 0;
    std::vector<std::pair<const char*, sqlite3_stmt*>> m_statements;
};

/// A write transaction (BEGIN IMMEDIATE) for the length of a scope, rolled
/// back unless committed. Inside a transaction the connection already has, it
/// joins that one: commit() then leaves the ending to its owner.
class Transaction {
public:
    explicit Transaction(Connection& connection);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    /// 0 when the transaction began (or was joined), else the error number.
    uint32_t error() const { return m_error; }
    /// Commits a transaction of its own; the error number or 0.
    uint32_t commit();

private:
    Connection& m_connection;
    uint32_t m_error = 0;
    bool m_owner = false;
};

} // namespace hh::sys::db
