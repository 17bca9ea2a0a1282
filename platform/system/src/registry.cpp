#include "platform/system/registry.h"

#include "platform/system/device_root.h"
#include "platform/system/error.h"
#include "platform/system/trace.h"

#include <locale.h>
#include <sqlite3.h>
#include <wctype.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace hh::sys {

// An open key: its row, how deep and long its path below its root is (for
// the limits of its subkeys), the access it was opened with and the database
// it belongs to.
struct RegistryKey {
    int64_t id = 0;
    size_t depth = 0;
    size_t length = 0;
    REGSAM access = 0;
    std::string database;
};

namespace {

// The rows of the two roots.
constexpr int64_t kCurrentUser = 1;
constexpr int64_t kLocalMachine = 2;
// Layout 1 kept the whole folded path in every key and value row; layout 2
// keeps a key's parent and its own name.
constexpr int kPathLayout = 1;
constexpr int kSchemaVersion = 2;
constexpr int kDefaultLockTimeoutMs = 10000;
constexpr size_t kMaxConnectionsPerThread = 4;
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxKeyDepth = 512;
constexpr size_t kMaxKeyPathLength = 32767;
constexpr size_t kMaxValueNameLength = 16383;
constexpr uint32_t kMaxValueSize = 1024 * 1024;

constexpr const char* kCreateTables =
    "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,"
    " name TEXT NOT NULL, display TEXT NOT NULL, UNIQUE(parent, name));"
    "CREATE TABLE vals(key INTEGER NOT NULL, name TEXT NOT NULL, display TEXT NOT NULL,"
    " type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, name)) WITHOUT ROWID;"
    "INSERT INTO keys(id, parent, name, display) VALUES"
    " (1, 0, 'HKEY_CURRENT_USER', 'HKEY_CURRENT_USER'),"
    " (2, 0, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE');"
    "PRAGMA user_version=2;";

std::string DatabasePath() {
    return (DeviceStateDir() / "registry.db").string();
}

int LockTimeoutMs() {
    if (const char* env = std::getenv("HANDHELD_REGISTRY_TIMEOUT_MS"); env && *env) {
        char* end = nullptr;
        long value = std::strtol(env, &end, 10);
        if (end && *end == '\0' && value >= 0 && value <= 3600000) {
            return static_cast<int>(value);
        }
    }
    return kDefaultLockTimeoutMs;
}

long ErrorFromSqlite(int rc) {
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
        return ERROR_REGISTRY_CORRUPT;
    case SQLITE_FULL:
        return ERROR_DISK_FULL;
    case SQLITE_CANTOPEN:
        return ERROR_CANTOPEN;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return ERROR_ACCESS_DENIED;
    case SQLITE_NOMEM:
        return ERROR_OUTOFMEMORY;
    case SQLITE_IOERR:
        return ERROR_CANTWRITE;
    default:
        return ERROR_GEN_FAILURE;
    }
}

// Case folding of key and value names: upper case, as the device compares them.
locale_t FoldLocale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return locale;
}

std::u16string Fold(std::u16string_view text) {
    std::u16string out(text);
    locale_t locale = FoldLocale();
    for (char16_t& c : out) {
        if (c < 0x80) {
            if (c >= u'a' && c <= u'z') {
                c = static_cast<char16_t>(c - u'a' + u'A');
            }
        } else if (locale && (c < 0xD800 || c > 0xDFFF)) {
            wint_t upper = towupper_l(c, locale);
            if (upper <= 0xFFFF) {
                c = static_cast<char16_t>(upper);
            }
        }
    }
    return out;
}

// True when the database keeps the text as it is: it stores names as Unicode
// text, which has no room for a lone surrogate half and reads U+FFFE and
// U+FFFF back as U+FFFD, so such a name would be listed as another one.
bool StorableText(std::u16string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if ((c >= 0xDC00 && c <= 0xDFFF) || c >= 0xFFFE) {
            return false;
        }
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) {
                return false;
            }
            ++i;
        }
    }
    return true;
}

// One SQLite connection of one thread to one registry database, with its
// prepared statements.
class Connection {
public:
    ~Connection() {
        for (auto& [sql, statement] : m_statements) {
            sqlite3_finalize(statement);
        }
        sqlite3_close_v2(m_db);
    }

    static long Open(const std::string& path, std::unique_ptr<Connection>& result);

    const std::string& path() const { return m_path; }
    bool broken() const { return m_broken; }
    bool inTransaction = false;

    // Reports a failure once on the debug output and turns it into the
    // device's error number. A database found corrupt is never written again
    // through this connection.
    long fail(int rc) {
        long error = ErrorFromSqlite(rc);
        if (error == ERROR_REGISTRY_CORRUPT) {
            DebugPrintf("registry: %s is corrupt or not a registry database; it is left as it "
                        "is\n",
                        m_path.c_str());
            m_broken = true;
        } else if (error == ERROR_TIMEOUT) {
            DebugPrintf("registry: %s is locked by another process for more than %d ms\n",
                        m_path.c_str(), m_timeoutMs);
        } else {
            DebugPrintf("registry: %s: %s\n", m_path.c_str(), sqlite3_errstr(rc));
        }
        if (inTransaction && sqlite3_get_autocommit(m_db)) {
            inTransaction = false;
        }
        return error;
    }

    long exec(const char* sql) {
        int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
        return rc == SQLITE_OK ? ERROR_SUCCESS : fail(rc);
    }

    sqlite3_stmt* prepare(const char* sql, long& error) {
        for (auto& [text, statement] : m_statements) {
            if (text == sql || std::strcmp(text, sql) == 0) {
                return statement;
            }
        }
        sqlite3_stmt* statement = nullptr;
        int rc = sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
        if (rc != SQLITE_OK) {
            error = fail(rc);
            return nullptr;
        }
        m_statements.emplace_back(sql, statement);
        return statement;
    }

    sqlite3* db() const { return m_db; }

private:
    enum class Layout { Empty, Current, Old };

    long initialise();
    long checkLayout(Layout& layout);
    long migrate();
    long pragmaInt(const char* sql, int& value);

    sqlite3* m_db = nullptr;
    std::string m_path;
    int m_timeoutMs = kDefaultLockTimeoutMs;
    bool m_broken = false;
    std::vector<std::pair<const char*, sqlite3_stmt*>> m_statements;
};

// A prepared statement in use; reset for its next use when it goes out of scope.
class Statement {
public:
    Statement(Connection& connection, const char* sql)
        : m_connection(connection), m_statement(connection.prepare(sql, m_error)) {}
    ~Statement() {
        if (m_statement) {
            sqlite3_reset(m_statement);
            sqlite3_clear_bindings(m_statement);
        }
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    long error() const { return m_error; }

    Statement& bind(int index, int64_t value) {
        if (m_statement) {
            sqlite3_bind_int64(m_statement, index, value);
        }
        return *this;
    }
    Statement& bind(int index, const std::u16string& text) {
        if (m_statement) {
            sqlite3_bind_text16(m_statement, index, text.data(),
                                static_cast<int>(text.size() * sizeof(char16_t)), SQLITE_TRANSIENT);
        }
        return *this;
    }
    Statement& bindBlob(int index, const uint8_t* data, uint32_t size) {
        if (m_statement) {
            static const uint8_t empty = 0;
            sqlite3_bind_blob(m_statement, index, data ? data : &empty, static_cast<int>(size),
                              SQLITE_TRANSIENT);
        }
        return *this;
    }

    // Steps once: true with a row, false when done or on failure (see error()).
    bool step() {
        if (!m_statement) {
            return false;
        }
        int rc = sqlite3_step(m_statement);
        if (rc == SQLITE_ROW) {
            return true;
        }
        if (rc != SQLITE_DONE) {
            m_error = m_connection.fail(rc);
        }
        return false;
    }

    // Runs a statement that returns no rows.
    long run() {
        while (step()) {
        }
        return m_error;
    }

    int64_t integer(int column) const { return sqlite3_column_int64(m_statement, column); }
    std::u16string text(int column) const {
        auto data = static_cast<const char16_t*>(sqlite3_column_text16(m_statement, column));
        int bytes = sqlite3_column_bytes16(m_statement, column);
        return data ? std::u16string(data, static_cast<size_t>(bytes) / sizeof(char16_t))
                    : std::u16string();
    }
    std::vector<uint8_t> blob(int column) const {
        auto data = static_cast<const uint8_t*>(sqlite3_column_blob(m_statement, column));
        int bytes = sqlite3_column_bytes(m_statement, column);
        return data ? std::vector<uint8_t>(data, data + bytes) : std::vector<uint8_t>();
    }

private:
    Connection& m_connection;
    long m_error = ERROR_SUCCESS;
    sqlite3_stmt* m_statement;
};

long Connection::pragmaInt(const char* sql, int& value) {
    Statement statement(*this, sql);
    if (!statement.step()) {
        return statement.error() ? statement.error() : ERROR_REGISTRY_CORRUPT;
    }
    value = static_cast<int>(statement.integer(0));
    return ERROR_SUCCESS;
}

long Connection::Open(const std::string& path, std::unique_ptr<Connection>& result) {
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        DebugPrintf("registry: cannot create %s: %s\n", folder.c_str(), ec.message().c_str());
        return ErrorFromErrno(ec.value());
    }
    auto connection = std::make_unique<Connection>();
    connection->m_path = path;
    connection->m_timeoutMs = LockTimeoutMs();
    int rc =
        sqlite3_open_v2(path.c_str(), &connection->m_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        return connection->fail(rc);
    }
    sqlite3_extended_result_codes(connection->m_db, 1);
    sqlite3_busy_timeout(connection->m_db, connection->m_timeoutMs);
    if (long error = connection->initialise()) {
        return error;
    }
    result = std::move(connection);
    return ERROR_SUCCESS;
}

// Checks that the file is a registry (or still empty) before anything is
// written to it, so that a database of something else is never changed.
long Connection::checkLayout(Layout& layout) {
    int version = 0;
    int tables = 0;
    if (long error = pragmaInt("PRAGMA user_version", version)) {
        return error;
    }
    if (version == kSchemaVersion || version == kPathLayout) {
        layout = version == kSchemaVersion ? Layout::Current : Layout::Old;
        return ERROR_SUCCESS;
    }
    if (version != 0) {
        DebugPrintf("registry: %s has layout %d, which this build does not know; it is left as "
                    "it is\n",
                    m_path.c_str(), version);
        m_broken = true;
        return ERROR_BADDB;
    }
    if (long error = pragmaInt("SELECT count(*) FROM sqlite_master", tables)) {
        return error;
    }
    if (tables != 0) {
        DebugPrintf("registry: %s is a database of something else; it is left as it is\n",
                    m_path.c_str());
        m_broken = true;
        return ERROR_BADDB;
    }
    layout = Layout::Empty;
    return ERROR_SUCCESS;
}

long Connection::initialise() {
    Layout layout = Layout::Empty;
    // The layout is read in one read transaction: another connection may be
    // laying the tables out right now, and a version read before its commit
    // with a table count read after it would look like a foreign database.
    if (long error = exec("BEGIN")) {
        return error;
    }
    long checked = checkLayout(layout);
    sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
    if (checked) {
        return checked;
    }
    // Switching a new database to the log needs a moment alone with the file;
    // several processes that meet here take turns.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_timeoutMs);
    while (true) {
        int rc = sqlite3_exec(m_db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) {
            break;
        }
        if ((rc & 0xFF) != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline) {
            return fail(rc);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (long error = exec("PRAGMA synchronous=FULL")) {
        return error;
    }
    if (layout == Layout::Current) {
        return ERROR_SUCCESS;
    }
    if (long error = exec("BEGIN IMMEDIATE")) {
        return error;
    }
    // Another process may have laid the tables out or moved them on in the
    // meantime.
    long error = checkLayout(layout);
    const bool migrated = !error && layout == Layout::Old;
    if (!error && layout == Layout::Empty) {
        error = exec(kCreateTables);
    } else if (migrated) {
        error = migrate();
    }
    if (!error) {
        error = exec("COMMIT");
    }
    if (error) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return error;
    }
    if (migrated) {
        // The old rows took space with the square of the depth; give it back
        // once. Other processes reading at this moment only delay that.
        sqlite3_exec(m_db, "VACUUM", nullptr, nullptr, nullptr);
    }
    return ERROR_SUCCESS;
}

// Moves a registry of the path layout to the parent-and-name layout inside the
// caller's write transaction: every key and value is kept with its spelling.
// A key whose parents are missing from the old rows gets them back.
long Connection::migrate() {
    if (long error = exec("ALTER TABLE keys RENAME TO keys_v1;"
                          "ALTER TABLE vals RENAME TO vals_v1;"
                          "CREATE TEMP TABLE key_ids(root INTEGER NOT NULL, path TEXT NOT NULL,"
                          " id INTEGER NOT NULL, PRIMARY KEY(root, path)) WITHOUT ROWID;"
                          "INSERT INTO key_ids VALUES(1, '', 1), (2, '', 2);")) {
        return error;
    }
    if (long error = exec(kCreateTables)) {
        return error;
    }
    // The id of the key at folded `path` of tree `root`, inserted with its
    // missing parents (spelt as in `display`) when it is not there yet.
    auto keyId = [this](int64_t root, const std::u16string& path, const std::u16string& display,
                        int64_t& id) -> long {
        size_t known = path.size();
        std::vector<size_t> missing;
        while (true) {
            Statement find(*this, "SELECT id FROM key_ids WHERE root = ?1 AND path = ?2");
            find.bind(1, root).bind(2, path.substr(0, known));
            if (find.step()) {
                id = find.integer(0);
                break;
            }
            if (find.error()) {
                return find.error();
            }
            missing.push_back(known);
            known = path.rfind(u'\\', known - 1);
            known = known == std::u16string::npos ? 0 : known;
        }
        for (auto end = missing.rbegin(); end != missing.rend(); ++end) {
            const size_t start = known == 0 ? 0 : known + 1;
            const std::u16string& spelling = display.size() == path.size() ? display : path;
            Statement insert(*this, "INSERT INTO keys(parent, name, display) VALUES(?1, ?2, ?3)");
            insert.bind(1, id).bind(2, path.substr(start, *end - start));
            insert.bind(3, spelling.substr(start, *end - start));
            if (long error = insert.run()) {
                return error;
            }
            id = sqlite3_last_insert_rowid(m_db);
            Statement remember(*this, "INSERT INTO key_ids(root, path, id) VALUES(?1, ?2, ?3)");
            remember.bind(1, root).bind(2, path.substr(0, *end)).bind(3, id);
            if (long error = remember.run()) {
                return error;
            }
            known = *end;
        }
        return ERROR_SUCCESS;
    };
    // Parents sort before their children, so each key finds its parent made.
    {
        Statement keys(*this, "SELECT root, path, display FROM keys_v1 ORDER BY root, path");
        while (keys.step()) {
            int64_t id = 0;
            if (long error = keyId(keys.integer(0), keys.text(1), keys.text(2), id)) {
                return error;
            }
        }
        if (keys.error()) {
            return keys.error();
        }
    }
    {
        Statement orphans(*this, "SELECT DISTINCT root, path FROM vals_v1 v WHERE NOT EXISTS"
                                 " (SELECT 1 FROM key_ids m WHERE m.root = v.root AND"
                                 " m.path = v.path)");
        while (orphans.step()) {
            int64_t id = 0;
            const std::u16string path = orphans.text(1);
            if (long error = keyId(orphans.integer(0), path, path, id)) {
                return error;
            }
        }
        if (orphans.error()) {
            return orphans.error();
        }
    }
    return exec("INSERT INTO vals(key, name, display, type, data)"
                " SELECT m.id, v.name, v.display, v.type, v.data FROM vals_v1 v"
                " JOIN key_ids m ON m.root = v.root AND m.path = v.path;"
                "DROP TABLE keys_v1; DROP TABLE vals_v1; DROP TABLE temp.key_ids;");
}

// The calling thread's connections, the most recent last. A connection inside
// a transaction is never dropped.
thread_local std::vector<std::unique_ptr<Connection>> t_connections;

enum class Need { Read, Write };

// The calling thread's connection to the database at path. A read never
// creates the database or its folder: without one it gets ERROR_FILE_NOT_FOUND,
// as every key and value is missing.
long GetConnection(const std::string& path, Need need, Connection*& result) {
    for (auto it = t_connections.begin(); it != t_connections.end(); ++it) {
        if ((*it)->path() != path) {
            continue;
        }
        if ((*it)->broken() && !(*it)->inTransaction) {
            t_connections.erase(it);
            break;
        }
        result = it->get();
        return ERROR_SUCCESS;
    }
    std::error_code ec;
    if (need == Need::Read &&
        std::filesystem::status(path, ec).type() == std::filesystem::file_type::not_found) {
        return ERROR_FILE_NOT_FOUND;
    }
    std::unique_ptr<Connection> connection;
    if (long error = Connection::Open(path, connection)) {
        return error;
    }
    if (t_connections.size() >= kMaxConnectionsPerThread) {
        for (auto it = t_connections.begin(); it != t_connections.end(); ++it) {
            if (!(*it)->inTransaction) {
                t_connections.erase(it);
                break;
            }
        }
    }
    t_connections.push_back(std::move(connection));
    result = t_connections.back().get();
    return ERROR_SUCCESS;
}

// A change that needs several statements runs as one transaction of its own,
// unless the thread's RegistryTransaction already holds one.
class WriteScope {
public:
    explicit WriteScope(Connection& connection) : m_connection(connection) {
        if (!connection.inTransaction) {
            m_error = connection.exec("BEGIN IMMEDIATE");
            m_owner = m_error == ERROR_SUCCESS;
        }
    }
    ~WriteScope() {
        if (m_owner) {
            sqlite3_exec(m_connection.db(), "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }
    WriteScope(const WriteScope&) = delete;
    WriteScope& operator=(const WriteScope&) = delete;

    long error() const { return m_error; }
    long commit() {
        if (!m_owner) {
            return ERROR_SUCCESS;
        }
        m_owner = false;
        long error = m_connection.exec("COMMIT");
        if (error) {
            sqlite3_exec(m_connection.db(), "ROLLBACK", nullptr, nullptr, nullptr);
        }
        return error;
    }

private:
    Connection& m_connection;
    long m_error = ERROR_SUCCESS;
    bool m_owner = false;
};

// Open keys by handle value. Values come from a counter and are never
// reused, so a stale handle stays invalid instead of reaching a key that was
// opened after it was closed.
std::mutex g_handlesMutex;
std::unordered_map<uintptr_t, std::unique_ptr<RegistryKey>> g_handles;
uintptr_t g_nextHandle = 0x1000;

// Copies what a handle stands for; false for a closed or unknown handle.
bool Resolve(HKEY key, RegistryKey& result) {
    if (key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE) {
        result.id = key == HKEY_CURRENT_USER ? kCurrentUser : kLocalMachine;
        result.depth = 0;
        result.length = 0;
        result.access = KEY_ALL_ACCESS;
        result.database = DatabasePath();
        return true;
    }
    std::lock_guard lock(g_handlesMutex);
    auto found = g_handles.find(reinterpret_cast<uintptr_t>(key));
    if (found == g_handles.end()) {
        return false;
    }
    result = *found->second;
    return true;
}

HKEY NewHandle(RegistryKey key) {
    auto entry = std::make_unique<RegistryKey>(std::move(key));
    std::lock_guard lock(g_handlesMutex);
    uintptr_t value = g_nextHandle;
    g_nextHandle += 4;
    g_handles.emplace(value, std::move(entry));
    return reinterpret_cast<HKEY>(value);
}

bool IsRoot(const RegistryKey& key) {
    return key.depth == 0;
}

// A subkey path below a key ("init\App"), checked: no leading separator, no
// empty or overlong component, at most kMaxKeyDepth levels and
// kMaxKeyPathLength characters below the root in all; a trailing separator is
// dropped. The components keep their spelling.
long SubKeyPath(const RegistryKey& base, const char16_t* subKey,
                std::vector<std::u16string>& components, size_t& length) {
    components.clear();
    length = base.length;
    if (!subKey) {
        return ERROR_SUCCESS;
    }
    std::u16string_view view(subKey);
    if (view.starts_with(u'\\')) {
        return ERROR_INVALID_PARAMETER;
    }
    while (!view.empty() && view.back() == u'\\') {
        view.remove_suffix(1);
    }
    if (view.empty()) {
        return ERROR_SUCCESS;
    }
    length += (base.length ? 1 : 0) + view.size();
    if (length > kMaxKeyPathLength) {
        return ERROR_INVALID_PARAMETER;
    }
    size_t start = 0;
    while (start <= view.size()) {
        size_t end = view.find(u'\\', start);
        if (end == std::u16string_view::npos) {
            end = view.size();
        }
        if (end == start || end - start > kMaxKeyNameLength ||
            base.depth + components.size() >= kMaxKeyDepth ||
            !StorableText(view.substr(start, end - start))) {
            return ERROR_INVALID_PARAMETER;
        }
        components.emplace_back(view.substr(start, end - start));
        start = end + 1;
    }
    return ERROR_SUCCESS;
}

long KeyExists(Connection& connection, int64_t id, bool& exists) {
    Statement statement(connection, "SELECT 1 FROM keys WHERE id = ?1");
    statement.bind(1, id);
    exists = statement.step();
    return statement.error();
}

// Walks from key `id` down the components as far as they exist: `found` is
// how many did, `id` the last key reached.
long Walk(Connection& connection, const std::vector<std::u16string>& components, int64_t& id,
          size_t& found) {
    for (found = 0; found < components.size(); ++found) {
        Statement child(connection, "SELECT id FROM keys WHERE parent = ?1 AND name = ?2");
        child.bind(1, id).bind(2, Fold(components[found]));
        if (!child.step()) {
            return child.error();
        }
        id = child.integer(0);
    }
    return ERROR_SUCCESS;
}

// A missing value of a key that is gone is reported as the key's loss.
long MissingValueError(Connection& connection, const RegistryKey& key) {
    bool exists = false;
    if (long error = KeyExists(connection, key.id, exists)) {
        return error;
    }
    return exists ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
}

long OpenOrCreate(HKEY parent, const char16_t* subKey, REGSAM access, bool create, HKEY* result,
                  uint32_t* disposition) {
    if (!result) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    RegistryKey base;
    if (!Resolve(parent, base)) {
        return ERROR_INVALID_HANDLE;
    }
    RegistryKey key;
    std::vector<std::u16string> components;
    if (long error = SubKeyPath(base, subKey, components, key.length)) {
        return error;
    }
    key.depth = base.depth + components.size();
    key.access = access;
    key.database = base.database;
    key.id = base.id;
    Connection* connection = nullptr;
    if (long error = GetConnection(key.database, create ? Need::Write : Need::Read, connection)) {
        // A root is there even before its registry is.
        if (error == ERROR_FILE_NOT_FOUND && components.empty() && IsRoot(base)) {
            *result = NewHandle(std::move(key));
            return ERROR_SUCCESS;
        }
        return error;
    }
    size_t found = 0;
    bool exists = false;
    if (long error = components.empty() ? KeyExists(*connection, base.id, exists)
                                        : Walk(*connection, components, key.id, found)) {
        return error;
    }
    exists = exists || (!components.empty() && found == components.size());
    if (!exists && !create) {
        return ERROR_FILE_NOT_FOUND;
    }
    bool created = false;
    if (!exists) {
        if (!(base.access & KEY_CREATE_SUB_KEY)) {
            return ERROR_ACCESS_DENIED;
        }
        WriteScope scope(*connection);
        if (scope.error()) {
            return scope.error();
        }
        bool parentExists = false;
        if (long error = KeyExists(*connection, base.id, parentExists)) {
            return error;
        }
        if (!parentExists) {
            return ERROR_KEY_DELETED;
        }
        // Another connection may have made part of the path meanwhile.
        key.id = base.id;
        if (long error = Walk(*connection, components, key.id, found)) {
            return error;
        }
        // The new key and every missing key between it and its parent.
        for (; found < components.size(); ++found) {
            Statement insert(*connection,
                             "INSERT INTO keys(parent, name, display) VALUES(?1, ?2, ?3)");
            insert.bind(1, key.id).bind(2, Fold(components[found])).bind(3, components[found]);
            if (long error = insert.run()) {
                return error;
            }
            key.id = sqlite3_last_insert_rowid(connection->db());
            created = true;
        }
        if (long error = scope.commit()) {
            return error;
        }
    }
    if (disposition) {
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    *result = NewHandle(std::move(key));
    return ERROR_SUCCESS;
}

// Resolves a handle and reaches its database, checking the access it needs.
long Prepare(HKEY handle, REGSAM needed, Need need, RegistryKey& key, Connection*& connection) {
    if (!Resolve(handle, key)) {
        return ERROR_INVALID_HANDLE;
    }
    if ((key.access & needed) != needed) {
        return ERROR_ACCESS_DENIED;
    }
    return GetConnection(key.database, need, connection);
}

} // namespace

long RegCreateKeyExW(HKEY key, const char16_t* subKey, uint32_t, char16_t*, uint32_t, REGSAM access,
                     void*, HKEY* result, uint32_t* disposition) {
    return OpenOrCreate(key, subKey, access, true, result, disposition);
}

long RegOpenKeyExW(HKEY key, const char16_t* subKey, uint32_t, REGSAM access, HKEY* result) {
    return OpenOrCreate(key, subKey, access, false, result, nullptr);
}

long RegQueryValueExW(HKEY handle, const char16_t* name, uint32_t*, uint32_t* type, uint8_t* data,
                      uint32_t* dataSize) {
    if ((data && !dataSize) || !StorableText(name ? name : u"")) {
        return ERROR_INVALID_PARAMETER;
    }
    RegistryKey key;
    Connection* connection = nullptr;
    if (long error = Prepare(handle, KEY_QUERY_VALUE, Need::Read, key, connection)) {
        return error;
    }
    Statement query(*connection, "SELECT type, data FROM vals WHERE key = ?1 AND name = ?2");
    query.bind(1, key.id).bind(2, Fold(name ? name : u""));
    if (!query.step()) {
        return query.error() ? query.error() : MissingValueError(*connection, key);
    }
    std::vector<uint8_t> value = query.blob(1);
    if (type) {
        *type = static_cast<uint32_t>(query.integer(0));
    }
    auto size = static_cast<uint32_t>(value.size());
    if (data && *dataSize < size) {
        *dataSize = size;
        return ERROR_MORE_DATA;
    }
    if (data && size) {
        std::memcpy(data, value.data(), size);
    }
    if (dataSize) {
        *dataSize = size;
    }
    return ERROR_SUCCESS;
}

long RegSetValueExW(HKEY handle, const char16_t* name, uint32_t, uint32_t type, const uint8_t* data,
                    uint32_t dataSize) {
    std::u16string display = name ? name : u"";
    if ((!data && dataSize) || dataSize > kMaxValueSize || display.size() > kMaxValueNameLength ||
        !StorableText(display)) {
        return ERROR_INVALID_PARAMETER;
    }
    RegistryKey key;
    Connection* connection = nullptr;
    if (long error = Prepare(handle, KEY_SET_VALUE, Need::Write, key, connection)) {
        return error;
    }
    WriteScope scope(*connection);
    if (scope.error()) {
        return scope.error();
    }
    bool exists = false;
    if (long error = KeyExists(*connection, key.id, exists)) {
        return error;
    }
    if (!exists) {
        return ERROR_KEY_DELETED;
    }
    // A value keeps the spelling of its name from when it was first stored.
    Statement upsert(*connection, "INSERT INTO vals(key, name, display, type, data)"
                                  " VALUES(?1, ?2, ?3, ?4, ?5) ON CONFLICT(key, name)"
                                  " DO UPDATE SET type = excluded.type, data = excluded.data");
    upsert.bind(1, key.id).bind(2, Fold(display)).bind(3, display);
    upsert.bind(4, type).bindBlob(5, data, dataSize);
    if (long error = upsert.run()) {
        return error;
    }
    return scope.commit();
}

long RegDeleteValueW(HKEY handle, const char16_t* name) {
    if (!StorableText(name ? name : u"")) {
        return ERROR_INVALID_PARAMETER;
    }
    RegistryKey key;
    Connection* connection = nullptr;
    if (long error = Prepare(handle, KEY_SET_VALUE, Need::Read, key, connection)) {
        return error;
    }
    Statement erase(*connection, "DELETE FROM vals WHERE key = ?1 AND name = ?2");
    erase.bind(1, key.id).bind(2, Fold(name ? name : u""));
    if (long error = erase.run()) {
        return error;
    }
    if (sqlite3_changes(connection->db()) == 0) {
        return MissingValueError(*connection, key);
    }
    return ERROR_SUCCESS;
}

long RegDeleteKeyW(HKEY handle, const char16_t* subKey) {
    RegistryKey parent;
    Connection* connection = nullptr;
    if (!Resolve(handle, parent)) {
        return ERROR_INVALID_HANDLE;
    }
    std::vector<std::u16string> components;
    size_t length = 0;
    if (long error = SubKeyPath(parent, subKey, components, length)) {
        return error;
    }
    if (components.empty()) {
        return ERROR_INVALID_PARAMETER;
    }
    if (long error = Prepare(handle, KEY_CREATE_SUB_KEY, Need::Read, parent, connection)) {
        return error;
    }
    WriteScope scope(*connection);
    if (scope.error()) {
        return scope.error();
    }
    int64_t id = parent.id;
    size_t found = 0;
    if (long error = Walk(*connection, components, id, found)) {
        return error;
    }
    if (found < components.size()) {
        return ERROR_FILE_NOT_FOUND;
    }
    // The key and everything under it, found through the parent links.
    for (const char* sql :
         {"WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL SELECT keys.id FROM keys"
          " JOIN tree ON keys.parent = tree.id) DELETE FROM vals WHERE key IN tree",
          "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL SELECT keys.id FROM keys"
          " JOIN tree ON keys.parent = tree.id) DELETE FROM keys WHERE id IN tree"}) {
        Statement erase(*connection, sql);
        erase.bind(1, id);
        if (long error = erase.run()) {
            return error;
        }
    }
    return scope.commit();
}

long RegFlushKey(HKEY handle) {
    RegistryKey key;
    Connection* connection = nullptr;
    if (long error = Prepare(handle, 0, Need::Read, key, connection)) {
        // Without a database there is nothing to make durable.
        return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
    }
    long error = ERROR_SUCCESS;
    if (connection->inTransaction) {
        error = connection->exec("COMMIT");
        if (error) {
            sqlite3_exec(connection->db(), "ROLLBACK", nullptr, nullptr, nullptr);
        }
        connection->inTransaction = false;
    }
    // Every commit is already on the disk; moving the log into the database
    // file keeps the log short. Readers of other processes may hold part of it
    // back, which is no failure.
    sqlite3_wal_checkpoint_v2(connection->db(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr,
                              nullptr);
    return error;
}

long RegCloseKey(HKEY handle) {
    if (handle == HKEY_CURRENT_USER || handle == HKEY_LOCAL_MACHINE) {
        return ERROR_SUCCESS;
    }
    std::unique_ptr<RegistryKey> closed;
    {
        std::lock_guard lock(g_handlesMutex);
        auto found = g_handles.find(reinterpret_cast<uintptr_t>(handle));
        if (found == g_handles.end()) {
            return ERROR_INVALID_HANDLE;
        }
        closed = std::move(found->second);
        g_handles.erase(found);
    }
    return ERROR_SUCCESS;
}

namespace {

// Reaches an existing key for a listing. Without a database a root is empty
// (ERROR_NO_MORE_ITEMS stands for that) and any other key is gone.
long PrepareListing(HKEY handle, REGSAM needed, RegistryKey& key, Connection*& connection) {
    if (long error = Prepare(handle, needed, Need::Read, key, connection)) {
        if (error == ERROR_FILE_NOT_FOUND) {
            return IsRoot(key) ? ERROR_NO_MORE_ITEMS : ERROR_KEY_DELETED;
        }
        return error;
    }
    bool exists = false;
    if (long error = KeyExists(*connection, key.id, exists)) {
        return error;
    }
    return exists ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

} // namespace

long RegListValues(HKEY handle, std::vector<RegValue>& values) {
    values.clear();
    RegistryKey key;
    Connection* connection = nullptr;
    if (long error = PrepareListing(handle, KEY_QUERY_VALUE, key, connection)) {
        return error == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : error;
    }
    Statement query(*connection,
                    "SELECT display, type, data FROM vals WHERE key = ?1 ORDER BY name");
    query.bind(1, key.id);
    while (query.step()) {
        values.push_back({query.text(0), static_cast<uint32_t>(query.integer(1)), query.blob(2)});
    }
    return query.error();
}

long RegListSubKeys(HKEY handle, std::vector<std::u16string>& names) {
    names.clear();
    RegistryKey key;
    Connection* connection = nullptr;
    if (long error = PrepareListing(handle, KEY_ENUMERATE_SUB_KEYS, key, connection)) {
        return error == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : error;
    }
    Statement query(*connection, "SELECT display FROM keys WHERE parent = ?1 ORDER BY name");
    query.bind(1, key.id);
    while (query.step()) {
        names.push_back(query.text(0));
    }
    return query.error();
}

RegistryTransaction::RegistryTransaction() : m_database(DatabasePath()) {
    Connection* connection = nullptr;
    m_error = GetConnection(m_database, Need::Write, connection);
    if (m_error || connection->inTransaction) {
        return;
    }
    m_error = connection->exec("BEGIN IMMEDIATE");
    if (!m_error) {
        connection->inTransaction = true;
        m_owner = true;
    }
}

RegistryTransaction::~RegistryTransaction() {
    if (!m_owner) {
        return;
    }
    Connection* connection = nullptr;
    if (GetConnection(m_database, Need::Write, connection) || !connection->inTransaction) {
        return;
    }
    connection->inTransaction = false;
    if (connection->exec("COMMIT")) {
        sqlite3_exec(connection->db(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

} // namespace hh::sys
