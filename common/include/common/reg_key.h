#pragma once
// RegKey: the holder of one open registry key, closed when the holder goes
// out of scope. Every registry access of the device functions and of the run
// counter goes through it.

#include <platform/system/registry.h>

#include <cstdint>

class RegKey {
public:
    RegKey() = default;
    ~RegKey();
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    /// Creates or opens root\subKey with KEY_ALL_ACCESS; true only when the
    /// registry reports no error. A key held before is closed first.
    bool Create(hh::sys::HKEY root, const char16_t* subKey);
    /// Opens an existing root\subKey with KEY_READ; true when it is open.
    bool Open(hh::sys::HKEY root, const char16_t* subKey);
    /// The 32-bit value: the default is preset in a 4-byte variable, the value
    /// is queried into it with a size of 4, and the variable's content is
    /// returned whatever the query reports. 0 when no key is open.
    uint32_t ReadDword(const char16_t* name, uint32_t defaultValue) const;
    /// Stores the value as REG_DWORD of 4 bytes; true when no error is reported.
    bool WriteDword(const char16_t* name, uint32_t value);
    /// Makes the key's values durable (RegFlushKey); true when no error is reported.
    bool Flush();
    /// Closes the key, if one is open.
    void Close();

    bool IsOpen() const { return m_hKey != nullptr; }
    hh::sys::HKEY Handle() const { return m_hKey; }

private:
    hh::sys::HKEY m_hKey = nullptr;
};
