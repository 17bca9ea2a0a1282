#pragma once
// The device registry: keys under HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE
// holding 32-bit, string and binary values, with the device's function names
// and error numbers.
//
// Storage: one SQLite database, DeviceStateDir()/registry.db, shared by every
// process of the device root, kept through the platform's database layer
// (database.h): every change is an atomic transaction that is on the disk
// when the call returns (a killed process or a power loss leaves the old or
// the new value, never a torn one), and readers never wait for a writer.
// RegFlushKey commits the calling thread's RegistryTransaction, if one is
// open, and copies the log into the database file.
//
// Each key is one row holding its parent and its own name, so a key costs the
// same at any depth. Reads (opening an existing key, queries, listings,
// deletes, flushes) never create the database or its folder: a device without
// one has no keys.
//
// Keys and value names are case-insensitive as on the device: a folded form
// is the lookup key, the spelling of the first creation is kept for listing.
// Deleting a key deletes its subkeys and values, as on the device. A handle
// stands for its key: once the key is deleted the handle reports
// ERROR_KEY_DELETED, even when a key of the same name is made again.
//
// Limits, as on the device: a key name has at most 255 characters, keys nest
// at most 512 levels below their root and a key's path below its root has at
// most 32,767 characters; a value name has at most 16,383 characters and a
// value at most 1 MiB. Names are Unicode text: no lone surrogate half, no U+FFFE or U+FFFF.
// Beyond them a call fails with ERROR_INVALID_PARAMETER and stores nothing.
//
// Faults: a database that is damaged or not a registry gives ERROR_FILE_CORRUPT
// and is never rewritten, deleted or recreated; a database locked by another
// process for longer than the lock time-out (10 s, or HANDHELD_REGISTRY_TIMEOUT_MS)
// gives ERROR_TIMEOUT; a full disk gives ERROR_DISK_FULL; a device root that
// cannot be created gives the mapped errno. RegistryFailureText describes the
// calling thread's last fault in one line; nothing is printed.

#include <cstdint>
#include <string>
#include <vector>

namespace hh::sys {

struct RegistryKey;
/// An open registry key, or one of the two predefined roots.
using HKEY = RegistryKey*;

inline const HKEY HKEY_CURRENT_USER = reinterpret_cast<HKEY>(uintptr_t{0x80000001});
inline const HKEY HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(uintptr_t{0x80000002});

using REGSAM = uint32_t;
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_READ = 0x00020019;
inline constexpr REGSAM KEY_WRITE = 0x00020006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;

inline constexpr uint32_t REG_NONE = 0;
inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_EXPAND_SZ = 2;
inline constexpr uint32_t REG_BINARY = 3;
inline constexpr uint32_t REG_DWORD = 4;
inline constexpr uint32_t REG_MULTI_SZ = 7;

inline constexpr uint32_t REG_CREATED_NEW_KEY = 1;
inline constexpr uint32_t REG_OPENED_EXISTING_KEY = 2;

/// The query buffer is smaller than the value; the needed size is reported.
inline constexpr uint32_t ERROR_MORE_DATA = 234;

/// Opens subKey under key, creating it and its missing parents. All access
/// bits are checked on later calls. Returns ERROR_SUCCESS or the error number.
long RegCreateKeyExW(HKEY key, const char16_t* subKey, uint32_t reserved, char16_t* keyClass,
                     uint32_t options, REGSAM access, void* security, HKEY* result,
                     uint32_t* disposition);
/// Opens an existing key; ERROR_FILE_NOT_FOUND when it does not exist.
long RegOpenKeyExW(HKEY key, const char16_t* subKey, uint32_t options, REGSAM access, HKEY* result);
/// Reads a value. With data null only the type and size are reported; with a
/// buffer smaller than the value, ERROR_MORE_DATA, the size, and data untouched.
long RegQueryValueExW(HKEY key, const char16_t* name, uint32_t* reserved, uint32_t* type,
                      uint8_t* data, uint32_t* dataSize);
/// Stores a value of any type (REG_DWORD: 4 bytes, REG_SZ: UTF-16 with its zero).
long RegSetValueExW(HKEY key, const char16_t* name, uint32_t reserved, uint32_t type,
                    const uint8_t* data, uint32_t dataSize);
long RegDeleteValueW(HKEY key, const char16_t* name);
/// Deletes subKey with all its subkeys and values.
long RegDeleteKeyW(HKEY key, const char16_t* subKey);
/// Makes every change so far durable on the disk.
long RegFlushKey(HKEY key);
long RegCloseKey(HKEY key);

/// One stored value, as listed by RegListValues.
struct RegValue {
    std::u16string name;
    uint32_t type = REG_NONE;
    std::vector<uint8_t> data;
};

/// The values of an open key in name order (an extension for the device console).
long RegListValues(HKEY key, std::vector<RegValue>& values);
/// The names of the direct subkeys of an open key, in name order.
long RegListSubKeys(HKEY key, std::vector<std::u16string>& names);
/// One line on the calling thread's last storage fault (a damaged or locked
/// database, a full disk), naming the file and the error.
std::string RegistryFailureText();

/// Runs the calling thread's registry calls on the current device root as one
/// transaction that holds the write lock from its start (so that a read and a
/// following write of another process cannot interleave). RegFlushKey inside
/// it commits the transaction durably and ends it; otherwise the destructor
/// commits. A transaction that could not start (locked, corrupt, no root)
/// reports its error and leaves the calls to run on their own. A transaction
/// opened inside another one on the same thread joins it.
class RegistryTransaction {
public:
    RegistryTransaction();
    ~RegistryTransaction();
    RegistryTransaction(const RegistryTransaction&) = delete;
    RegistryTransaction& operator=(const RegistryTransaction&) = delete;

    /// True when the transaction started.
    bool ok() const { return m_error == 0; }
    /// ERROR_SUCCESS or why the transaction could not start.
    long error() const { return m_error; }

private:
    long m_error = 0;
    bool m_owner = false;
    std::string m_database;
};

} // namespace hh::sys
