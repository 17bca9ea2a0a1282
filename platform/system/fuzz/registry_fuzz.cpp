// Feeds arbitrary key paths to the registry of a device root of its own. Each
// input byte becomes one UTF-16 code unit; the bytes from 0xF0 up stand for
// non-ASCII units (letters that fold, surrogate halves, U+FFFF), so the seed
// paths stay readable. A path must be refused with ERROR_INVALID_PARAMETER
// exactly when it breaks the rules of key paths, and then nothing is stored.
// An accepted key must be found again under another spelling and relative to
// its top key, hold its value, and be gone with everything under it once its
// top key is deleted.

#include "platform/system/error.h"
#include "platform/system/registry.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

using namespace hh::sys;

namespace {

constexpr char16_t kWide[16] = {u'ß',   u'Ö',   u'ö',   u'ẞ',   u'İ', u'ı', u'Σ', u'ς',
                                0xD800, 0xDC00, 0xFFFF, 0x00A0, u'ﬃ', u'Ǆ', u'ǅ', u'\\'};

[[noreturn]] void Fail(const char* what, long error) {
    std::fprintf(stderr, "registry fuzz: %s (error %ld)\n", what, error);
    std::abort();
}

// Names are Unicode text: surrogate halves come in pairs, and U+FFFE and
// U+FFFF are no characters.
bool StorableText(std::u16string_view name) {
    for (std::size_t i = 0; i < name.size(); ++i) {
        const bool high = name[i] >= 0xD800 && name[i] <= 0xDBFF;
        const bool low = (name[i] >= 0xDC00 && name[i] <= 0xDFFF) || name[i] >= 0xFFFE;
        if (low ||
            (high && (i + 1 == name.size() || name[i + 1] < 0xDC00 || name[i + 1] > 0xDFFF))) {
            return false;
        }
        i += high ? 1 : 0;
    }
    return true;
}

// The rules of a key path below a root: no leading separator, trailing ones
// dropped, every name of 1 to 255 units of storable text, at most 512 names
// and 32,767 characters. Nothing is the root itself.
bool Valid(std::u16string_view path, std::vector<std::u16string>& names) {
    names.clear();
    if (path.starts_with(u'\\')) {
        return false;
    }
    while (path.ends_with(u'\\')) {
        path.remove_suffix(1);
    }
    if (path.size() > 32767) {
        return false;
    }
    while (!path.empty()) {
        const std::size_t end = std::min(path.find(u'\\'), path.size());
        if (end == 0 || end > 255 || names.size() == 512 || !StorableText(path.substr(0, end))) {
            return false;
        }
        names.emplace_back(path.substr(0, end));
        path.remove_prefix(std::min(end + 1, path.size()));
    }
    return true;
}

std::u16string Join(const std::vector<std::u16string>& names, std::size_t from) {
    std::u16string path;
    for (std::size_t i = from; i < names.size(); ++i) {
        path += (i == from ? u"" : u"\\") + names[i];
    }
    return path;
}

std::u16string LowerAscii(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
    }
    return text;
}

std::size_t TopKeys() {
    std::vector<std::u16string> names;
    if (long error = RegListSubKeys(HKEY_LOCAL_MACHINE, names)) {
        Fail("listing the root failed", error);
    }
    return names.size();
}

uint32_t Query(HKEY key, long expected) {
    uint32_t value = 0;
    uint32_t size = sizeof value;
    const long error =
        RegQueryValueExW(key, u"V", nullptr, nullptr, reinterpret_cast<uint8_t*>(&value), &size);
    if (error != expected) {
        Fail("the value query gave another answer", error);
    }
    return value;
}

HKEY Open(HKEY parent, const std::u16string& path) {
    HKEY key = nullptr;
    if (long error = RegOpenKeyExW(parent, path.c_str(), 0, KEY_ALL_ACCESS, &key)) {
        Fail("an accepted key cannot be opened again", error);
    }
    return key;
}

std::filesystem::path g_root;

void RemoveRoot() {
    std::error_code ec;
    std::filesystem::remove_all(g_root, ec);
}

} // namespace

// Every run gets a device root of its own, in memory where there is a
// tmpfs, so that the registry's durable commits cost little.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::filesystem::path shm = "/dev/shm";
    std::error_code ec;
    const bool inMemory =
        std::filesystem::is_directory(shm, ec) && ::access(shm.c_str(), W_OK) == 0;
    std::string pattern =
        ((inMemory ? shm : std::filesystem::temp_directory_path()) / "hh-regfuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::perror("registry fuzz: mkdtemp");
        std::abort();
    }
    g_root = pattern;
    ::setenv("HANDHELD_ROOT", pattern.c_str(), 1);
    std::atexit(RemoveRoot);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::u16string path;
    for (std::size_t i = 0; i < size; ++i) {
        path += data[i] >= 0xF0 ? kWide[data[i] - 0xF0] : static_cast<char16_t>(data[i]);
    }
    // The registry takes a terminated string: the path ends at its first zero.
    path.resize(std::min(path.find(u'\0'), path.size()));

    std::vector<std::u16string> names;
    const bool valid = Valid(path, names);
    HKEY key = nullptr;
    const long created = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                         KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (created != (valid ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER)) {
        Fail(valid ? "a valid path was refused" : "an invalid path was not refused", created);
    }
    if (!valid || names.empty()) {
        if (TopKeys() != 0) {
            Fail("a refused path stored a key", 0);
        }
        RegCloseKey(key);
        return 0;
    }

    const auto stored = static_cast<uint32_t>(path.size());
    if (long error = RegSetValueExW(key, u"v", 0, REG_DWORD,
                                    reinterpret_cast<const uint8_t*>(&stored), sizeof stored)) {
        Fail("storing a value failed", error);
    }
    HKEY folded = Open(HKEY_LOCAL_MACHINE, LowerAscii(path));
    HKEY top = Open(HKEY_LOCAL_MACHINE, names[0]);
    HKEY below = names.size() > 1 ? Open(top, Join(names, 1)) : Open(top, u"");
    for (HKEY handle : {key, folded, below}) {
        if (Query(handle, ERROR_SUCCESS) != stored) {
            Fail("the key holds another value", 0);
        }
    }
    std::vector<std::u16string> listed;
    if (long error = RegListSubKeys(HKEY_LOCAL_MACHINE, listed)) {
        Fail("listing the root failed", error);
    }
    if (listed != std::vector<std::u16string>{names[0]}) {
        Fail("the root lists other keys than the one made", 0);
    }

    if (long error = RegDeleteKeyW(HKEY_LOCAL_MACHINE, names[0].c_str())) {
        Fail("deleting the top key failed", error);
    }
    if (TopKeys() != 0) {
        Fail("the deleted key is still listed", 0);
    }
    Query(key, ERROR_KEY_DELETED);
    HKEY gone = nullptr;
    const long reopened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &gone);
    if (reopened != ERROR_FILE_NOT_FOUND) {
        Fail("a deleted key can still be opened", reopened);
    }
    for (HKEY handle : {key, folded, top, below}) {
        RegCloseKey(handle);
    }
    return 0;
}
