#include "platform/system/registry.h"

#include "platform/system/database.h"
#include "platform/system/device_root.h"
#include "platform/system/error.h"

#include <locale.h>
#include <wctype.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
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
constexpr int kDefaultLockTimeoutMs = 10000;
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxKeyDepth = 512;
constexpr size_t kMaxKeyPathLength = 32767;
constexpr size_t kMaxValueNameLength = 16383;
constexpr uint32_t kMaxValueSize = 1024 * 1024;

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

// Each key is a row of its parent and its folded name; values are rows of
// their key. Layout 2: layout 1, which kept whole paths, was never released.
const db::Kind kRegistry{
    "registry", 0x48485247, 2,
    "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,"
    " name TEXT NOT NULL, display TEXT NOT NULL, UNIQUE(parent, name));"
    "CREATE TABLE vals(key INTEGER NOT NULL, name TEXT NOT NULL, display TEXT NOT NULL,"
    " type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, name)) WITHOUT ROWID;"
    "INSERT INTO keys(id, parent, name, display) VALUES"
    " (1, 0, 'HKEY_CURRENT_USER', 'HKEY_CURRENT_USER'),"
    " (2, 0, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE')",
    LockTimeoutMs};

std::string DatabasePath() {
    return (DeviceStateDir() / "registry.db").string();
}

using db::Access;
using db::Connection;
using db::Statement;

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

// The calling thread's connection to the registry at path. A read never
// creates the database or its folder: without one it gets ERROR_FILE_NOT_FOUND,
// as every key and value is missing.
long GetConnection(const std::string& path, Access access, Connection*& result) {
    return static_cast<long>(Connection::ForThread(path, kRegistry, access, result));
}

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
    if (long error =
            GetConnection(key.database, create ? Access::Write : Access::Read, connection)) {
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
        db::Transaction scope(*connection);
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
            key.id = connection->lastInsertRowId();
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
long Prepare(HKEY handle, REGSAM needed, Access need, RegistryKey& key, Connection*& connection) {
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
    if (long error = Prepare(handle, KEY_QUERY_VALUE, Access::Read, key, connection)) {
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
    if (long error = Prepare(handle, KEY_SET_VALUE, Access::Write, key, connection)) {
        return error;
    }
    db::Transaction scope(*connection);
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
    if (long error = Prepare(handle, KEY_SET_VALUE, Access::Read, key, connection)) {
        return error;
    }
    Statement erase(*connection, "DELETE FROM vals WHERE key = ?1 AND name = ?2");
    erase.bind(1, key.id).bind(2, Fold(name ? name : u""));
    if (long error = erase.run()) {
        return error;
    }
    if (connection->changes() == 0) {
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
    if (long error = Prepare(handle, KEY_CREATE_SUB_KEY, Access::Read, parent, connection)) {
        return error;
    }
    db::Transaction scope(*connection);
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
    if (long error = Prepare(handle, 0, Access::Read, key, connection)) {
        // Without a database there is nothing to make durable.
        return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
    }
    long error = ERROR_SUCCESS;
    if (connection->inTransaction()) {
        error = connection->exec("COMMIT");
        if (error) {
            connection->rollback();
        }
    }
    // Every commit is already on the disk; moving the log into the database
    // file keeps the log short. Readers of other processes may hold part of it
    // back, which is no failure.
    connection->checkpoint();
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
    if (long error = Prepare(handle, needed, Access::Read, key, connection)) {
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
        values.push_back({query.text16(0), static_cast<uint32_t>(query.integer(1)), query.blob(2)});
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
        names.push_back(query.text16(0));
    }
    return query.error();
}

std::string RegistryFailureText() {
    return db::LastFailure();
}

RegistryTransaction::RegistryTransaction() : m_database(DatabasePath()) {
    Connection* connection = nullptr;
    m_error = GetConnection(m_database, Access::Write, connection);
    if (m_error || connection->inTransaction()) {
        return;
    }
    m_error = connection->exec("BEGIN IMMEDIATE");
    m_owner = m_error == ERROR_SUCCESS;
}

RegistryTransaction::~RegistryTransaction() {
    if (!m_owner) {
        return;
    }
    Connection* connection = nullptr;
    if (GetConnection(m_database, Access::Write, connection) || !connection->inTransaction()) {
        return;
    }
    if (connection->exec("COMMIT")) {
        connection->rollback();
    }
}

} // namespace hh::sys
