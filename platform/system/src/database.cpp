#include "platform/system/database.h"

#include "platform/system/error.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace hh::sys::db {

namespace {

constexpr size_t kMaxConnectionsPerThread = 4;

// The calling thread's failure line. A plain array, unlike a std::string,
// stays usable while the thread (or the process) ends, when calls may still
// come from the exit's own cleanup.
thread_local char t_lastFailure[1024];

void SetFailure(const std::string& text) {
    const size_t n = std::min(text.size(), sizeof t_lastFailure - 1);
    std::memcpy(t_lastFailure, text.data(), n);
    t_lastFailure[n] = '\0';
}

// One row of a database's schema table.
struct SchemaObject {
    std::string type, name, table, sql;
    friend bool operator==(const SchemaObject&, const SchemaObject&) = default;
};

// What a file says it is, read in one snapshot.
struct Identity {
    int64_t applicationId = 0;
    int64_t version = 0;
    std::vector<SchemaObject> objects;
};

int ReadIdentity(sqlite3* db, Identity& identity) {
    auto pragma = [db](const char* sql, int64_t& value) {
        sqlite3_stmt* s = nullptr;
        int rc = sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
        if (rc == SQLITE_OK) {
            rc = sqlite3_step(s);
            if (rc == SQLITE_ROW) {
                value = sqlite3_column_int64(s, 0);
                rc = SQLITE_OK;
            }
        }
        sqlite3_finalize(s);
        return rc;
    };
    int rc = pragma("PRAGMA application_id", identity.applicationId);
    if (rc == SQLITE_OK) {
        rc = pragma("PRAGMA user_version", identity.version);
    }
    if (rc != SQLITE_OK) {
        return rc;
    }
    sqlite3_stmt* s = nullptr;
    rc = sqlite3_prepare_v2(db, "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY name",
                            -1, &s, nullptr);
    while (rc == SQLITE_OK && (rc = sqlite3_step(s)) == SQLITE_ROW) {
        auto column = [s](int i) {
            const unsigned char* text = sqlite3_column_text(s, i);
            return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
        };
        identity.objects.push_back({column(0), column(1), column(2), column(3)});
        rc = SQLITE_OK;
    }
    sqlite3_finalize(s);
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// The schema table a file of the kind holds, as SQLite itself words it: the
// kind's statements run once on an empty database in memory.
const std::vector<SchemaObject>& ExpectedObjects(const Kind& kind) {
    static std::mutex mutex;
    // Lives to the end: threads may open a database during exit.
    static auto* known = new std::map<const Kind*, std::vector<SchemaObject>>;
    std::map<const Kind*, std::vector<SchemaObject>>& expected = *known;
    std::lock_guard lock(mutex);
    auto found = expected.find(&kind);
    if (found != expected.end()) {
        return found->second;
    }
    Identity identity;
    sqlite3* memory = nullptr;
    if (sqlite3_open(":memory:", &memory) == SQLITE_OK &&
        sqlite3_exec(memory, std::string(kind.schema).c_str(), nullptr, nullptr, nullptr) ==
            SQLITE_OK) {
        ReadIdentity(memory, identity);
    }
    sqlite3_close(memory);
    return expected.emplace(&kind, std::move(identity.objects)).first->second;
}

// Connections are kept for the thread that opened them, and when a thread
// ends its idle connections wait in the process's pool for the next thread,
// so that threads that come and go (a beep sequence each) neither open nor
// close a database each time: a close may have to write the log into the
// file. A forked child finds its parent's connections in both: they are
// abandoned, never used or closed, since closing would touch the parent's
// locks and log.
struct ThreadConnections;

struct Pool {
    std::mutex mutex;
    pid_t pid = ::getpid();
    std::vector<std::unique_ptr<Connection>> idle; ///< the most recent last
    /// The connections of threads that called again after their own holder
    /// was destroyed: kept (never freed) for the rest of the process.
    std::vector<ThreadConnections*> late;

    static Pool& Get() {
        static Pool* pool = new Pool; // lives to the end: threads may end during exit
        return *pool;
    }
    // Called with the mutex held.
    void abandonIfForked() {
        if (pid != ::getpid()) {
            for (auto& connection : idle) {
                static_cast<void>(connection.release());
            }
            idle.clear();
            pid = ::getpid();
        }
    }
};

constexpr size_t kMaxIdleConnections = 8;

struct ThreadConnections {
    pid_t pid = ::getpid();
    std::vector<std::unique_ptr<Connection>> list; ///< the most recent last

    ~ThreadConnections();
    void abandonIfForked() {
        if (pid == ::getpid()) {
            return;
        }
        for (auto& connection : list) {
            static_cast<void>(connection.release());
        }
        list.clear();
        pid = ::getpid();
    }
};

// Set once the thread's holder is destroyed; a bool needs no destruction and
// stays readable to the thread's very end.
thread_local bool t_connectionsGone = false;
thread_local ThreadConnections* t_lateConnections = nullptr;

ThreadConnections::~ThreadConnections() {
    t_connectionsGone = true;
    abandonIfForked();
    // The main thread ends with the process: its connections close, which
    // leaves each database in one file.
    if (::gettid() == ::getpid()) {
        return;
    }
    Pool& pool = Pool::Get();
    std::lock_guard lock(pool.mutex);
    pool.abandonIfForked();
    for (auto& connection : list) {
        if (connection->reusable()) {
            pool.idle.push_back(std::move(connection));
        }
    }
    while (pool.idle.size() > kMaxIdleConnections) {
        pool.idle.erase(pool.idle.begin());
    }
}

thread_local ThreadConnections t_connections;

// The calling thread's connections: its holder, or after the holder is gone
// (a call from the thread's or the process's end) one that is never freed.
ThreadConnections& Mine() {
    if (!t_connectionsGone) {
        return t_connections;
    }
    if (!t_lateConnections) {
        t_lateConnections = new ThreadConnections;
        Pool& pool = Pool::Get();
        std::lock_guard lock(pool.mutex);
        pool.late.push_back(t_lateConnections);
    }
    return *t_lateConnections;
}

// The database file as it stands on the disk: which file, and when its pages
// last changed (a committed change reaches the main file at a checkpoint).
struct FileStamp {
    dev_t device;
    ino_t inode;
    off_t size;
    int64_t modifiedNs;
    auto operator<=>(const FileStamp&) const = default;

    static std::optional<FileStamp> Of(const std::string& path) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            return std::nullopt;
        }
        return FileStamp{st.st_dev, st.st_ino, st.st_size,
                         st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
    }

    // The files this process has read whole and found sound.
    static std::set<FileStamp>& Verified(std::unique_lock<std::mutex>& lock) {
        static std::mutex mutex;
        // Lives to the end: threads may open a database during exit.
        static auto* verified = new std::set<FileStamp>;
        lock = std::unique_lock(mutex);
        return *verified;
    }
    bool verified() const {
        std::unique_lock<std::mutex> lock;
        return Verified(lock).contains(*this);
    }
    void markVerified() const {
        std::unique_lock<std::mutex> lock;
        Verified(lock).insert(*this);
    }
};

} // namespace

uint32_t ErrorFromSqlite(int rc, int systemErrno) {
    switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
        return ERROR_SUCCESS;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return ERROR_TIMEOUT;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_FORMAT:
        return ERROR_FILE_CORRUPT;
    case SQLITE_FULL:
        return ERROR_DISK_FULL;
    case SQLITE_NOMEM:
        return ERROR_OUTOFMEMORY;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return systemErrno ? ErrorFromErrno(systemErrno) : ERROR_ACCESS_DENIED;
    case SQLITE_CANTOPEN:
        return systemErrno ? ErrorFromErrno(systemErrno, ErrnoContext::Folder)
                           : ERROR_PATH_NOT_FOUND;
    case SQLITE_IOERR:
        return systemErrno ? ErrorFromErrno(systemErrno) : ERROR_IO_DEVICE;
    default:
        return ERROR_GEN_FAILURE;
    }
}

std::string LastFailure() {
    return t_lastFailure;
}

// --- Statement ---

Statement::Statement(Connection& connection, const char* sql)
    : m_connection(connection), m_statement(connection.prepare(sql, m_error)) {}

Statement::~Statement() {
    if (m_statement) {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }
}

Statement& Statement::bind(int index, int64_t value) {
    if (m_statement) {
        sqlite3_bind_int64(m_statement, index, value);
    }
    return *this;
}

Statement& Statement::bind(int index, std::string_view text) {
    if (m_statement) {
        sqlite3_bind_text(m_statement, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
    }
    return *this;
}

Statement& Statement::bind(int index, std::u16string_view text) {
    if (m_statement) {
        sqlite3_bind_text16(m_statement, index, text.data(),
                            static_cast<int>(text.size() * sizeof(char16_t)), SQLITE_TRANSIENT);
    }
    return *this;
}

Statement& Statement::bindBlob(int index, const uint8_t* data, uint32_t size) {
    if (m_statement) {
        static const uint8_t empty = 0;
        sqlite3_bind_blob(m_statement, index, data ? data : &empty, static_cast<int>(size),
                          SQLITE_TRANSIENT);
    }
    return *this;
}

bool Statement::step() {
    if (!m_statement) {
        return false;
    }
    int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc != SQLITE_DONE) {
        m_error = m_connection.fail(rc, sqlite3_stmt_readonly(m_statement) ? "cannot be read"
                                                                           : "cannot be written");
    }
    return false;
}

uint32_t Statement::run() {
    while (step()) {
    }
    return m_error;
}

bool Statement::isInteger(int column) const {
    return sqlite3_column_type(m_statement, column) == SQLITE_INTEGER;
}

bool Statement::isText(int column) const {
    return sqlite3_column_type(m_statement, column) == SQLITE_TEXT;
}

int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(m_statement, column);
}

std::string Statement::text(int column) const {
    auto data = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
    int bytes = sqlite3_column_bytes(m_statement, column);
    return data ? std::string(data, static_cast<size_t>(bytes)) : std::string();
}

std::u16string Statement::text16(int column) const {
    auto data = static_cast<const char16_t*>(sqlite3_column_text16(m_statement, column));
    int bytes = sqlite3_column_bytes16(m_statement, column);
    return data ? std::u16string(data, static_cast<size_t>(bytes) / sizeof(char16_t))
                : std::u16string();
}

std::vector<uint8_t> Statement::blob(int column) const {
    auto data = static_cast<const uint8_t*>(sqlite3_column_blob(m_statement, column));
    int bytes = sqlite3_column_bytes(m_statement, column);
    return data ? std::vector<uint8_t>(data, data + bytes) : std::vector<uint8_t>();
}

// --- Connection ---

Connection::Connection(std::string path, const Kind& kind)
    : m_path(std::move(path)), m_kind(kind) {}

Connection::~Connection() {
    for (auto& [sql, statement] : m_statements) {
        sqlite3_finalize(statement);
    }
    sqlite3_close_v2(m_db);
}

uint32_t Connection::ForThread(const std::string& path, const Kind& kind, Access access,
                               Connection*& result) {
    t_lastFailure[0] = '\0';
    ThreadConnections& mine = Mine();
    mine.abandonIfForked();
    auto matches = [&](const std::unique_ptr<Connection>& c) {
        return c->m_path == path && &c->m_kind == &kind;
    };
    auto found = std::find_if(mine.list.begin(), mine.list.end(), matches);
    if (found == mine.list.end()) {
        Pool& pool = Pool::Get();
        std::lock_guard lock(pool.mutex);
        pool.abandonIfForked();
        auto idle = std::find_if(pool.idle.rbegin(), pool.idle.rend(), matches);
        if (idle != pool.idle.rend()) {
            mine.list.push_back(std::move(*idle));
            pool.idle.erase(std::next(idle).base());
            found = std::prev(mine.list.end());
        }
    }
    if (found != mine.list.end()) {
        // A file damaged meanwhile, or replaced by another one under the same
        // name, is opened and checked anew.
        if ((*found)->reusable()) {
            result = found->get();
            return ERROR_SUCCESS;
        }
        mine.list.erase(found);
    }
    std::unique_ptr<Connection> connection(new Connection(path, kind));
    if (uint32_t error = connection->open(access)) {
        return error;
    }
    if (mine.list.size() >= kMaxConnectionsPerThread) {
        for (auto it = mine.list.begin(); it != mine.list.end(); ++it) {
            if (!(*it)->inTransaction()) {
                mine.list.erase(it);
                break;
            }
        }
    }
    mine.list.push_back(std::move(connection));
    result = mine.list.back().get();
    return ERROR_SUCCESS;
}

bool Connection::reusable() const {
    if (m_broken) {
        return false;
    }
    if (inTransaction()) {
        return true;
    }
    struct stat st {};
    return ::stat(m_path.c_str(), &st) == 0 && st.st_dev == m_device && st.st_ino == m_inode;
}

uint32_t Connection::open(Access access) {
    std::error_code ec;
    const std::filesystem::path file(m_path);
    if (access == Access::Read) {
        if (std::filesystem::status(file, ec).type() == std::filesystem::file_type::not_found) {
            SetFailure(std::string(m_kind.name) + " " + m_path + " does not exist yet");
            return ERROR_FILE_NOT_FOUND;
        }
    } else if (!std::filesystem::create_directories(file.parent_path(), ec) && ec) {
        SetFailure(std::string(m_kind.name) + " folder " + file.parent_path().string() +
                   " cannot be made: " + ErrorText(ErrorFromErrno(ec.value())));
        return ErrorFromErrno(ec.value(), ErrnoContext::Folder);
    }
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
    if (access == Access::Write) {
        flags |= SQLITE_OPEN_CREATE;
    }
    int rc = sqlite3_open_v2(m_path.c_str(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        return fail(rc, "cannot be opened");
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, m_kind.busyTimeoutMs());
    // The log and its index stay beside the file after the last connection
    // closes: a reader needs them, and on a full disk could not make them.
    int persist = 1;
    sqlite3_file_control(m_db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    struct stat st {};
    if (::stat(m_path.c_str(), &st) == 0) {
        m_device = st.st_dev;
        m_inode = st.st_ino;
    }
    bool empty = false;
    if (uint32_t error = check(empty)) {
        return error;
    }
    if (empty) {
        if (access == Access::Read) {
            SetFailure(std::string(m_kind.name) + " " + m_path + " holds nothing yet");
            return ERROR_FILE_NOT_FOUND;
        }
        if (uint32_t error = layOut()) {
            return error;
        }
    }
    return exec("PRAGMA synchronous=FULL");
}

// Reads what the file says it is in one snapshot and compares it with the
// kind; a file with no tables at all is empty. The first time this process
// meets the file as it stands, SQLite's quick check then reads all of it, so
// that a damaged page anywhere is found now rather than by some later read;
// the other threads' connections to the same unchanged file skip that.
uint32_t Connection::check(bool& empty) {
    const std::optional<FileStamp> stamp = FileStamp::Of(m_path);
    if (uint32_t error = exec("BEGIN")) {
        return error;
    }
    Identity identity;
    int rc = ReadIdentity(m_db, identity);
    std::string verdict = "ok";
    if (rc == SQLITE_OK && !identity.objects.empty() && !(stamp && stamp->verified())) {
        sqlite3_stmt* s = nullptr;
        rc = sqlite3_prepare_v2(m_db, "PRAGMA quick_check(1)", -1, &s, nullptr);
        if (rc == SQLITE_OK && (rc = sqlite3_step(s)) == SQLITE_ROW) {
            auto text = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
            verdict = text ? text : "";
            rc = SQLITE_OK;
        }
        sqlite3_finalize(s);
    }
    sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        return fail(rc, "cannot be opened");
    }
    empty = identity.objects.empty() && identity.applicationId == 0 && identity.version == 0;
    if (empty) {
        return ERROR_SUCCESS;
    }
    // Files of builds before the application id was set carry 0.
    if (identity.applicationId != 0 && identity.applicationId != m_kind.applicationId) {
        return refuse("belongs to another program (application id " +
                      std::to_string(identity.applicationId) + ")");
    }
    if (identity.version != m_kind.version) {
        return refuse("has layout " + std::to_string(identity.version) +
                      ", which this build does not know");
    }
    if (identity.objects != ExpectedObjects(m_kind)) {
        return refuse("holds tables that are not a " + std::string(m_kind.name) + "'s");
    }
    if (verdict != "ok") {
        // SQLite's report spans lines; the message is one.
        std::replace(verdict.begin(), verdict.end(), '\n', ' ');
        return refuse("fails its integrity check (" + verdict + ")");
    }
    if (stamp) {
        stamp->markVerified();
    }
    return ERROR_SUCCESS;
}

// Lays out a new file in one write transaction. Switching it to the log needs
// a moment alone with the file; several processes that meet here take turns,
// and the one that comes second finds the tables made.
uint32_t Connection::layOut() {
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(m_kind.busyTimeoutMs());
    while (true) {
        int rc = sqlite3_exec(m_db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) {
            break;
        }
        if ((rc & 0xFF) != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline) {
            return fail(rc, "cannot be laid out");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    Transaction transaction(*this);
    if (transaction.error()) {
        return transaction.error();
    }
    Identity identity;
    if (int rc = ReadIdentity(m_db, identity); rc != SQLITE_OK) {
        return fail(rc, "cannot be read");
    }
    if (!identity.objects.empty()) {
        bool empty = false;
        transaction.commit();
        return check(empty);
    }
    const std::string layout = std::string(m_kind.schema) +
                               ";PRAGMA application_id=" + std::to_string(m_kind.applicationId) +
                               ";PRAGMA user_version=" + std::to_string(m_kind.version) + ";";
    if (uint32_t error = exec(layout.c_str())) {
        return error;
    }
    return transaction.commit();
}

uint32_t Connection::refuse(std::string_view why) {
    m_broken = true;
    SetFailure(std::string(m_kind.name) + " damaged: " + m_path + " " + std::string(why) +
               "; it was left as it is");
    return ERROR_FILE_CORRUPT;
}

namespace {

// True when the file system holding the file has no block or no file left:
// SQLite does not always keep the errno of a file it could not make (its log
// or its index), and a full disk must be named as such.
bool NoRoomBeside(const std::string& path) {
    struct statvfs fs {};
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return ::statvfs(folder.c_str(), &fs) == 0 && (fs.f_bavail == 0 || fs.f_favail == 0);
}

} // namespace

uint32_t Connection::fail(int rc, std::string_view doing) {
    uint32_t error = ErrorFromSqlite(rc, m_db ? sqlite3_system_errno(m_db) : 0);
    const int primary = rc & 0xFF;
    if ((primary == SQLITE_CANTOPEN || primary == SQLITE_IOERR) && NoRoomBeside(m_path)) {
        error = ERROR_DISK_FULL;
    }
    if (error == ERROR_FILE_CORRUPT) {
        return refuse(std::string("is not a readable ") + std::string(m_kind.name) + " database (" +
                      sqlite3_errstr(rc) + ")");
    }
    if (error == ERROR_TIMEOUT) {
        SetFailure(std::string(m_kind.name) + " " + m_path +
                   " is locked by another process for more than " +
                   std::to_string(m_kind.busyTimeoutMs()) + " ms");
    } else {
        SetFailure(std::string(m_kind.name) + " " + m_path + " " + std::string(doing) + ": " +
                   ErrorText(error));
    }
    return error;
}

uint32_t Connection::exec(const char* sql) {
    int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? ERROR_SUCCESS : fail(rc, "cannot be written");
}

void Connection::rollback() {
    if (inTransaction()) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

bool Connection::inTransaction() const {
    return m_db && sqlite3_get_autocommit(m_db) == 0;
}

int64_t Connection::lastInsertRowId() const {
    return sqlite3_last_insert_rowid(m_db);
}

int Connection::changes() const {
    return sqlite3_changes(m_db);
}

void Connection::checkpoint() {
    sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
}

sqlite3_stmt* Connection::prepare(const char* sql, uint32_t& error) {
    for (auto& [text, statement] : m_statements) {
        if (text == sql || std::strcmp(text, sql) == 0) {
            return statement;
        }
    }
    sqlite3_stmt* statement = nullptr;
    int rc = sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
    if (rc != SQLITE_OK) {
        error = fail(rc, "cannot be read");
        return nullptr;
    }
    m_statements.emplace_back(sql, statement);
    return statement;
}

// --- Transaction ---

Transaction::Transaction(Connection& connection) : m_connection(connection) {
    if (!connection.inTransaction()) {
        m_error = connection.exec("BEGIN IMMEDIATE");
        m_owner = m_error == ERROR_SUCCESS;
    }
}

Transaction::~Transaction() {
    if (m_owner) {
        m_connection.rollback();
    }
}

uint32_t Transaction::commit() {
    if (!m_owner) {
        return ERROR_SUCCESS;
    }
    m_owner = false;
    uint32_t error = m_connection.exec("COMMIT");
    if (error) {
        m_connection.rollback();
    }
    return error;
}

} // namespace hh::sys::db
