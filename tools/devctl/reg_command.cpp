// devctl reg: reads and changes the device registry.
//
//   devctl reg get KEY NAME            the value (REG_DWORD as unsigned decimal, strings as text)
//   devctl reg set KEY NAME VALUE      a REG_DWORD, decimal or 0x hexadecimal
//   devctl reg set KEY NAME --string TEXT
//   devctl reg delete KEY [NAME]       a value, or the key with everything under it
//   devctl reg list KEY                "NAME<TAB>TYPE<TAB>DATA" per value, "NAME\" per subkey
//
// KEY is HKLM\..., HKCU\..., HKEY_LOCAL_MACHINE\... or HKEY_CURRENT_USER\...
//
// get, list and delete work on an existing device only and change nothing on
// a folder that holds none; set makes the registry of a new device.

#include "commands.h"
#include "device_support.h"

#include <platform/system/code_page.h>
#include <platform/system/error.h>
#include <platform/system/registry.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace hh::devctl {

using namespace hh::sys;

namespace {

struct KeyPath {
    std::string text;
    HKEY root = nullptr;
    std::u16string subKey;
};

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

KeyPath ParseKey(const std::string& text) {
    size_t slash = text.find('\\');
    std::string root = Upper(text.substr(0, slash));
    KeyPath key{text, nullptr, {}};
    if (root == "HKLM" || root == "HKEY_LOCAL_MACHINE") {
        key.root = HKEY_LOCAL_MACHINE;
    } else if (root == "HKCU" || root == "HKEY_CURRENT_USER") {
        key.root = HKEY_CURRENT_USER;
    } else {
        throw CommandError("unknown registry root \"" + text.substr(0, slash) +
                           "\" (use HKLM or HKCU)");
    }
    if (slash != std::string::npos) {
        key.subKey = Utf8ToUtf16(text.substr(slash + 1));
    }
    return key;
}

// One line on a failed call: the registry's own words for a fault of its
// storage (damaged, locked, a full disk), which name the file and the error.
std::string Describe(long error) {
    if (error == ERROR_INVALID_PARAMETER) {
        return "malformed key or value name, or one beyond the registry's limits";
    }
    std::string storage = RegistryFailureText();
    return storage.empty() ? ErrorText(static_cast<uint32_t>(error)) : storage;
}

// An open key that closes itself.
struct OpenKey {
    HKEY handle = nullptr;
    ~OpenKey() {
        if (handle) {
            RegCloseKey(handle);
        }
    }
};

void Open(const KeyPath& key, REGSAM access, OpenKey& result, bool create) {
    long error = create ? RegCreateKeyExW(key.root, key.subKey.c_str(), 0, nullptr, 0, access,
                                          nullptr, &result.handle, nullptr)
                        : RegOpenKeyExW(key.root, key.subKey.c_str(), 0, access, &result.handle);
    if (error == ERROR_FILE_NOT_FOUND) {
        throw CommandError("no key " + key.text);
    }
    if (error) {
        throw CommandError(key.text + ": " + Describe(error));
    }
}

std::string Strings(const std::vector<uint8_t>& data, bool multi) {
    std::u16string text(data.size() / sizeof(char16_t), u'\0');
    std::memcpy(text.data(), data.data(), text.size() * sizeof(char16_t));
    while (!text.empty() && text.back() == u'\0') {
        text.pop_back();
    }
    if (!multi) {
        text = text.substr(0, text.find(u'\0'));
    }
    std::string out = Utf16ToUtf8(text);
    for (char& c : out) {
        if (c == '\0') {
            c = '\n';
        }
    }
    return out;
}

std::string FormatData(uint32_t type, const std::vector<uint8_t>& data) {
    if (type == REG_DWORD && data.size() == 4) {
        uint32_t value = 0;
        std::memcpy(&value, data.data(), 4);
        return std::to_string(value);
    }
    if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
        return Strings(data, type == REG_MULTI_SZ);
    }
    std::string out;
    for (uint8_t byte : data) {
        char hex[4];
        std::snprintf(hex, sizeof hex, out.empty() ? "%02x" : " %02x", byte);
        out += hex;
    }
    return out;
}

// The data as JSON: a REG_DWORD as its number, a string as text, a
// REG_MULTI_SZ as a list of texts, anything else as its bytes in hexadecimal.
Json DataJson(uint32_t type, const std::vector<uint8_t>& data) {
    if (type == REG_DWORD && data.size() == 4) {
        uint32_t value = 0;
        std::memcpy(&value, data.data(), 4);
        return value;
    }
    if (type == REG_MULTI_SZ) {
        Json list = Json::array();
        const std::string text = Strings(data, true);
        for (size_t start = 0; start < text.size();) {
            const size_t end = std::min(text.find('\n', start), text.size());
            list.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        return list;
    }
    return FormatData(type, data);
}

const char* TypeName(uint32_t type) {
    switch (type) {
    case REG_DWORD:
        return "REG_DWORD";
    case REG_SZ:
        return "REG_SZ";
    case REG_EXPAND_SZ:
        return "REG_EXPAND_SZ";
    case REG_MULTI_SZ:
        return "REG_MULTI_SZ";
    case REG_BINARY:
        return "REG_BINARY";
    default:
        return "REG_NONE";
    }
}

void Get(const std::string& keyText, const std::string& name) {
    KeyPath key = ParseKey(keyText);
    RequireDevice();
    OpenKey open;
    Open(key, KEY_READ, open, false);
    std::u16string wideName = Utf8ToUtf16(name);
    uint32_t type = 0;
    uint32_t size = 0;
    long error = RegQueryValueExW(open.handle, wideName.c_str(), nullptr, &type, nullptr, &size);
    std::vector<uint8_t> data(size);
    if (!error && size) {
        error = RegQueryValueExW(open.handle, wideName.c_str(), nullptr, &type, data.data(), &size);
        data.resize(size);
    }
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_KEY_DELETED) {
        throw CommandError("no value \"" + name + "\" under " + keyText);
    }
    if (error) {
        throw CommandError(keyText + ": " + Describe(error));
    }
    Print({{"key", keyText},
           {"name", name},
           {"type", TypeName(type)},
           {"data", DataJson(type, data)}},
          [&] { std::printf("%s\n", FormatData(type, data).c_str()); });
}

void Set(const std::string& keyText, const std::string& name,
         const std::optional<std::string>& number, const std::optional<std::string>& text) {
    if (number.has_value() == text.has_value()) {
        throw CommandError("give either a number or --string TEXT");
    }
    KeyPath key = ParseKey(keyText);
    std::u16string wide;
    uint32_t dword = 0;
    if (number) {
        dword = ParseUint32(*number, "32-bit number (decimal, or hexadecimal with 0x)");
    } else {
        wide = Utf8ToUtf16(*text);
    }
    OpenKey open;
    Open(key, KEY_ALL_ACCESS, open, true);
    std::u16string wideName = Utf8ToUtf16(name);
    long error = number
                     ? RegSetValueExW(open.handle, wideName.c_str(), 0, REG_DWORD,
                                      reinterpret_cast<const uint8_t*>(&dword), sizeof dword)
                     : RegSetValueExW(open.handle, wideName.c_str(), 0, REG_SZ,
                                      reinterpret_cast<const uint8_t*>(wide.c_str()),
                                      static_cast<uint32_t>((wide.size() + 1) * sizeof(char16_t)));
    if (!error) {
        error = RegFlushKey(open.handle);
    }
    if (error) {
        throw CommandError(keyText + ": " + Describe(error));
    }
}

void Delete(const std::string& keyText, const std::optional<std::string>& name) {
    KeyPath key = ParseKey(keyText);
    RequireDevice();
    if (name) {
        OpenKey open;
        Open(key, KEY_ALL_ACCESS, open, false);
        long error = RegDeleteValueW(open.handle, Utf8ToUtf16(*name).c_str());
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_KEY_DELETED) {
            throw CommandError("no value \"" + *name + "\" under " + keyText);
        }
        if (error) {
            throw CommandError(keyText + ": " + Describe(error));
        }
        RegFlushKey(open.handle);
        return;
    }
    if (key.subKey.empty()) {
        throw CommandError("a root key cannot be deleted");
    }
    long error = RegDeleteKeyW(key.root, key.subKey.c_str());
    if (error == ERROR_FILE_NOT_FOUND) {
        throw CommandError("no key " + keyText);
    }
    if (error) {
        throw CommandError(keyText + ": " + Describe(error));
    }
    RegFlushKey(key.root);
}

void List(const std::string& keyText) {
    KeyPath key = ParseKey(keyText);
    RequireDevice();
    OpenKey open;
    Open(key, KEY_READ, open, false);
    std::vector<RegValue> values;
    std::vector<std::u16string> subKeys;
    long error = RegListValues(open.handle, values);
    if (!error) {
        error = RegListSubKeys(open.handle, subKeys);
    }
    if (error) {
        throw CommandError(keyText + ": " + Describe(error));
    }
    Json valueList = Json::array();
    for (const auto& value : values) {
        valueList.push_back({{"name", Utf16ToUtf8(value.name)},
                             {"type", TypeName(value.type)},
                             {"data", DataJson(value.type, value.data)}});
    }
    Json keyList = Json::array();
    for (const auto& subKey : subKeys) {
        keyList.push_back(Utf16ToUtf8(subKey));
    }
    Print({{"key", keyText}, {"values", valueList}, {"subkeys", keyList}}, [&] {
        for (const auto& value : values) {
            std::string name = value.name.empty() ? "(default)" : Utf16ToUtf8(value.name);
            std::printf("%s\t%s\t%s\n", name.c_str(), TypeName(value.type),
                        FormatData(value.type, value.data).c_str());
        }
        for (const auto& subKey : subKeys) {
            std::printf("%s\\\n", Utf16ToUtf8(subKey).c_str());
        }
    });
}

// The parsed arguments live as long as the parser that fills them.
struct RegArguments {
    std::string key;
    std::string name;
    std::optional<std::string> value;
    std::optional<std::string> text;
};

} // namespace

void AddRegCommand(CLI::App& app) {
    auto args = std::make_shared<RegArguments>();
    CLI::App* reg = app.add_subcommand("reg", "Read and change the device registry");
    reg->require_subcommand(1);

    CLI::App* get = reg->add_subcommand("get", "Print a value");
    get->add_option("KEY", args->key, "HKLM\\... or HKCU\\...")->required();
    get->add_option("NAME", args->name, "value name")->required();
    AddJsonFlag(get);
    get->callback([args] { Get(args->key, args->name); });

    CLI::App* set = reg->add_subcommand("set", "Store a REG_DWORD, or a string with --string");
    set->add_option("KEY", args->key, "HKLM\\... or HKCU\\...")->required();
    set->add_option("NAME", args->name, "value name")->required();
    set->add_option("VALUE", args->value, "32-bit number, decimal or 0x hexadecimal");
    set->add_option("--string", args->text, "store TEXT as REG_SZ");
    set->callback([args] { Set(args->key, args->name, args->value, args->text); });

    CLI::App* del = reg->add_subcommand("delete", "Delete a value, or a key with its subkeys");
    del->add_option("KEY", args->key, "HKLM\\... or HKCU\\...")->required();
    del->add_option("NAME", args->value, "value name; without it the key is deleted");
    del->callback([args] { Delete(args->key, args->value); });

    CLI::App* list = reg->add_subcommand("list", "List the values and subkeys of a key");
    list->add_option("KEY", args->key, "HKLM\\... or HKCU\\...")->required();
    AddJsonFlag(list);
    list->callback([args] { List(args->key); });
}

} // namespace hh::devctl
