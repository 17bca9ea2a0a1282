#include "common/reg_key.h"

#include <platform/system/error.h>
#include <platform/system/trace.h>

using namespace hh::sys;

RegKey::~RegKey() {
    Close();
}

namespace {

// A fault of the registry's storage (damaged, locked, a full disk) goes to the
// debug output; the caller sees only the failure, as on the device.
bool Report() {
    const std::string why = RegistryFailureText();
    if (!why.empty()) {
        DebugPrintf("%s\n", why.c_str());
    }
    return false;
}

} // namespace

bool RegKey::Create(HKEY root, const char16_t* subKey) {
    Close();
    HKEY hKey = nullptr;
    uint32_t dwDisposition = 0;
    if (RegCreateKeyExW(root, subKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey,
                        &dwDisposition) != ERROR_SUCCESS) {
        return Report();
    }
    m_hKey = hKey;
    return true;
}

bool RegKey::Open(HKEY root, const char16_t* subKey) {
    Close();
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(root, subKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS) {
        return Report();
    }
    m_hKey = hKey;
    return true;
}

uint32_t RegKey::ReadDword(const char16_t* name, uint32_t defaultValue) const {
    if (!m_hKey) {
        return 0;
    }
    uint32_t dwValue = defaultValue;
    uint32_t dwType = 0;
    uint32_t dwSize = sizeof dwValue;
    // The outcome is not looked at: a missing value leaves the default, a
    // shorter one overwrites only its own bytes.
    RegQueryValueExW(m_hKey, name, nullptr, &dwType, reinterpret_cast<uint8_t*>(&dwValue), &dwSize);
    return dwValue;
}

bool RegKey::WriteDword(const char16_t* name, uint32_t value) {
    if (!m_hKey) {
        return false;
    }
    return RegSetValueExW(m_hKey, name, 0, REG_DWORD, reinterpret_cast<const uint8_t*>(&value),
                          sizeof value) == ERROR_SUCCESS;
}

bool RegKey::Flush() {
    return m_hKey && RegFlushKey(m_hKey) == ERROR_SUCCESS;
}

void RegKey::Close() {
    if (m_hKey) {
        RegCloseKey(m_hKey);
        m_hKey = nullptr;
    }
}
