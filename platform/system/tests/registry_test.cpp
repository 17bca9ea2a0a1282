#include <platform/system/error.h>
#include <platform/system/registry.h>
#include <platform/system/testing.h>

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

namespace hh::sys {
namespace {

using testing::DeviceRootTest;

// A key handle that closes itself, for the tests.
struct Key {
    HKEY h = nullptr;
    ~Key() {
        if (h) {
            RegCloseKey(h);
        }
    }
};

long Create(HKEY root, const char16_t* path, Key& key, REGSAM access = KEY_ALL_ACCESS,
            uint32_t* disposition = nullptr) {
    return RegCreateKeyExW(root, path, 0, nullptr, 0, access, nullptr, &key.h, disposition);
}

long Open(HKEY root, const char16_t* path, Key& key, REGSAM access = KEY_READ) {
    return RegOpenKeyExW(root, path, 0, access, &key.h);
}

long SetDword(HKEY key, const char16_t* name, uint32_t value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const uint8_t*>(&value), 4);
}

long GetDword(HKEY key, const char16_t* name, uint32_t& value) {
    uint32_t size = 4;
    uint32_t type = 0;
    return RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<uint8_t*>(&value), &size);
}

long SetString(HKEY key, const char16_t* name, std::u16string text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const uint8_t*>(text.c_str()),
                          static_cast<uint32_t>((text.size() + 1) * sizeof(char16_t)));
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

using RegistryTest = DeviceRootTest;

TEST_F(RegistryTest, CreateWriteReadDeleteAndDefaults) {
    Key key;
    uint32_t disposition = 0;
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, u"init\\App", key, KEY_ALL_ACCESS, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);

    uint32_t value = 77;
    EXPECT_EQ(GetDword(key.h, u"startup_cnt", value), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(value, 77u) << "a missing value leaves the caller's default";

    ASSERT_EQ(SetDword(key.h, u"startup_cnt", 41), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(key.h, u"startup_cnt", 0xFFFFFFFF), ERROR_SUCCESS);
    EXPECT_EQ(GetDword(key.h, u"startup_cnt", value), ERROR_SUCCESS);
    EXPECT_EQ(value, 0xFFFFFFFFu);
    EXPECT_EQ(RegFlushKey(key.h), ERROR_SUCCESS);

    Key again;
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, u"init\\App", again, KEY_ALL_ACCESS, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    Key parent;
    EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, u"init", parent), ERROR_SUCCESS)
        << "creating a key creates its parents";

    EXPECT_EQ(RegDeleteValueW(key.h, u"startup_cnt"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key.h, u"startup_cnt"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetDword(key.h, u"startup_cnt", value), ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"init"), ERROR_SUCCESS);
    Key gone;
    EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, u"init\\App", gone), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SetDword(key.h, u"x", 1), ERROR_KEY_DELETED);
    EXPECT_EQ(GetDword(key.h, u"x", value), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"init"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, RootsAreSeparateAndNamesIgnoreCase) {
    Key user;
    Key machine;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, u"ControlPanel\\BackLight", user), ERROR_SUCCESS);
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, u"ControlPanel\\BackLight", machine), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(user.h, u"ACTimeout", 60), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(machine.h, u"ACTimeout", 30), ERROR_SUCCESS);

    struct Case {
        HKEY root;
        const char16_t* path;
        const char16_t* name;
        uint32_t expected;
    };
    const Case cases[] = {
        {HKEY_CURRENT_USER, u"ControlPanel\\BackLight", u"ACTimeout", 60},
        {HKEY_CURRENT_USER, u"controlpanel\\BACKLIGHT", u"actimeout", 60},
        {HKEY_LOCAL_MACHINE, u"CONTROLPANEL\\backlight\\", u"AcTimeOut", 30},
    };
    for (const auto& c : cases) {
        Key key;
        ASSERT_EQ(Open(c.root, c.path, key), ERROR_SUCCESS);
        uint32_t value = 0;
        EXPECT_EQ(GetDword(key.h, c.name, value), ERROR_SUCCESS);
        EXPECT_EQ(value, c.expected);
    }

    // Non-ASCII names fold too, and listings keep the first spelling.
    ASSERT_EQ(SetDword(user.h, u"Größe", 1), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(user.h, u"GRÖSSE", 2), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(user.h, u"größe", 3), ERROR_SUCCESS);
    std::vector<RegValue> values;
    ASSERT_EQ(RegListValues(user.h, values), ERROR_SUCCESS);
    std::vector<std::u16string> names;
    for (const auto& v : values) {
        names.push_back(v.name);
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"ACTimeout", u"GRÖSSE", u"Größe"}));
}

TEST_F(RegistryTest, StringValuesAndBufferSizes) {
    Key key;
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\ANT", key), ERROR_SUCCESS);
    ASSERT_EQ(SetString(key.h, u"Name", u"Blue tooth"), ERROR_SUCCESS);

    uint32_t type = 0;
    uint32_t size = 0;
    ASSERT_EQ(RegQueryValueExW(key.h, u"name", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 22u);

    // A 4-byte buffer, as RegKey uses, is too small and stays as it was.
    uint32_t small = 0xABCD;
    size = 4;
    EXPECT_EQ(
        RegQueryValueExW(key.h, u"Name", nullptr, &type, reinterpret_cast<uint8_t*>(&small), &size),
        ERROR_MORE_DATA);
    EXPECT_EQ(size, 22u);
    EXPECT_EQ(small, 0xABCDu);

    std::array<char16_t, 11> text{};
    size = sizeof text;
    ASSERT_EQ(RegQueryValueExW(key.h, u"Name", nullptr, &type,
                               reinterpret_cast<uint8_t*>(text.data()), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(text.data()), u"Blue tooth");

    // The default value has the empty name; null and "" are the same.
    ASSERT_EQ(SetDword(key.h, nullptr, 5), ERROR_SUCCESS);
    uint32_t value = 0;
    EXPECT_EQ(GetDword(key.h, u"", value), ERROR_SUCCESS);
    EXPECT_EQ(value, 5u);
}

TEST_F(RegistryTest, ReadHandleCannotWrite) {
    Key writer;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, u"ControlPanel\\BackLight", writer), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(writer.h, u"ACTimeout", 60), ERROR_SUCCESS);

    Key reader;
    ASSERT_EQ(Open(HKEY_CURRENT_USER, u"ControlPanel\\BackLight", reader, KEY_READ), ERROR_SUCCESS);
    uint32_t value = 0;
    EXPECT_EQ(GetDword(reader.h, u"ACTimeout", value), ERROR_SUCCESS);
    EXPECT_EQ(value, 60u);
    EXPECT_EQ(SetDword(reader.h, u"ACTimeout", 1), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueW(reader.h, u"ACTimeout"), ERROR_ACCESS_DENIED);
    Key child;
    EXPECT_EQ(Create(reader.h, u"Child", child), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(reader.h, u"Child"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(GetDword(writer.h, u"ACTimeout", value), ERROR_SUCCESS);
    EXPECT_EQ(value, 60u);

    Key writeOnly;
    ASSERT_EQ(Open(HKEY_CURRENT_USER, u"ControlPanel\\BackLight", writeOnly, KEY_WRITE),
              ERROR_SUCCESS);
    EXPECT_EQ(GetDword(writeOnly.h, u"ACTimeout", value), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryTest, BadHandlesAndPaths) {
    Key key;
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, u"a", key), ERROR_SUCCESS);
    HKEY closed = key.h;
    ASSERT_EQ(RegCloseKey(key.h), ERROR_SUCCESS);
    key.h = nullptr;
    uint32_t value = 0;
    EXPECT_EQ(GetDword(closed, u"x", value), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(closed), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegFlushKey(nullptr), ERROR_INVALID_HANDLE);

    for (const char16_t* path : {u"\\init", u"init\\\\App", u"\\"}) {
        Key bad;
        EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, path, bad), ERROR_INVALID_PARAMETER)
            << std::string(path, path + std::char_traits<char16_t>::length(path));
        EXPECT_EQ(bad.h, nullptr);
    }
    std::u16string tooLong(256, u'k');
    Key bad;
    EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, tooLong.c_str(), bad), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u""), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExW(HKEY_LOCAL_MACHINE, u"x", 0, REG_BINARY, nullptr, 3),
              ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, DeleteKeyTakesItsTreeAndListsShowChildren) {
    for (const char16_t* path :
         {u"Drivers\\BuiltIn\\ANT", u"Drivers\\BuiltIn\\Compass",
          u"Drivers\\BuiltIn\\Compass\\Deep", u"Drivers\\Other", u"DriversX"}) {
        Key key;
        ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, path, key), ERROR_SUCCESS);
        ASSERT_EQ(SetDword(key.h, u"v", 1), ERROR_SUCCESS);
    }
    Key builtIn;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"drivers\\builtin", builtIn), ERROR_SUCCESS);
    std::vector<std::u16string> names;
    ASSERT_EQ(RegListSubKeys(builtIn.h, names), ERROR_SUCCESS);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"ANT", u"Compass"}));
    ASSERT_EQ(RegListSubKeys(HKEY_LOCAL_MACHINE, names), ERROR_SUCCESS);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"Drivers", u"DriversX"}));

    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn"), ERROR_SUCCESS);
    for (const char16_t* path : {u"Drivers\\BuiltIn", u"Drivers\\BuiltIn\\Compass\\Deep"}) {
        Key key;
        EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, path, key), ERROR_FILE_NOT_FOUND);
    }
    for (const char16_t* path : {u"Drivers\\Other", u"DriversX"}) {
        Key key;
        ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, path, key), ERROR_SUCCESS);
        uint32_t value = 0;
        EXPECT_EQ(GetDword(key.h, u"v", value), ERROR_SUCCESS);
    }
}

TEST_F(RegistryTest, FlushedValuesSurviveAKilledProcess) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Key key;
        bool ok = Create(HKEY_LOCAL_MACHINE, u"init\\App", key) == ERROR_SUCCESS &&
                  SetDword(key.h, u"startup_cnt", 42) == ERROR_SUCCESS &&
                  RegFlushKey(key.h) == ERROR_SUCCESS;
        // Ends without closing anything, as a killed process would.
        if (ok) {
            raise(SIGKILL);
        }
        _exit(3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child failed to write";
    Key key;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"init\\App", key), ERROR_SUCCESS);
    uint32_t value = 0;
    EXPECT_EQ(GetDword(key.h, u"startup_cnt", value), ERROR_SUCCESS);
    EXPECT_EQ(value, 42u);
}

TEST_F(RegistryTest, CorruptOrForeignDatabaseIsReportedAndLeftAlone) {
    std::filesystem::create_directories(registryDatabase().parent_path());
    struct Case {
        const char* what;
        std::string content;
        long expected;
    };
    std::string foreign;
    {
        sqlite3* db = nullptr;
        std::string path = (root_ / "foreign.db").string();
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1);", nullptr, nullptr,
                               nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
        foreign = ReadFile(path);
    }
    std::string truncatedHeader = foreign.substr(0, 100) + std::string(4000, '\x5a');
    // registry-v1.db holds the rows of a layout that kept whole paths, which
    // no released build wrote: it is not this registry's either.
    const Case cases[] = {
        {"text", std::string("this is not a database, but a note\n", 35), ERROR_FILE_CORRUPT},
        {"garbage pages", truncatedHeader, ERROR_FILE_CORRUPT},
        {"another program's database", foreign, ERROR_FILE_CORRUPT},
        {"an unreleased layout", ReadFile(HH_REGISTRY_TEST_DATA "/registry-v1.db"),
         ERROR_FILE_CORRUPT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        {
            std::ofstream out(registryDatabase(), std::ios::binary | std::ios::trunc);
            out << c.content;
        }
        Key key;
        EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, u"init\\App", key), c.expected);
        const std::string message = RegistryFailureText();
        EXPECT_TRUE(message.starts_with("registry damaged: " + registryDatabase().string()))
            << message;
        RegistryTransaction transaction;
        EXPECT_FALSE(transaction.ok());
        EXPECT_EQ(ReadFile(registryDatabase()), c.content) << "the file must stay as it was";
    }
}

TEST_F(RegistryTest, DeviceRootThatCannotBeCreated) {
    std::ofstream(root_ / "plain-file") << "x";
    setenv("HANDHELD_ROOT", (root_ / "plain-file" / "root").c_str(), 1);
    Key key;
    EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, u"init\\App", key), ERROR_PATH_NOT_FOUND);
    const std::string message = RegistryFailureText();
    EXPECT_NE(message.find("cannot be made"), std::string::npos) << message;
}

TEST_F(RegistryTest, LockedDatabaseTimesOutAndRecovers) {
    setenv("HANDHELD_REGISTRY_TIMEOUT_MS", "100", 1);
    Key key;
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, u"init\\App", key), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(key.h, u"startup_cnt", 7), ERROR_SUCCESS);

    // Another program holds the write lock (it may as well be another process).
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(registryDatabase().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

    EXPECT_EQ(SetDword(key.h, u"startup_cnt", 8), ERROR_TIMEOUT);
    const std::string message = RegistryFailureText();
    EXPECT_NE(message.find("locked by another process"), std::string::npos) << message;
    {
        RegistryTransaction transaction;
        EXPECT_EQ(transaction.error(), ERROR_TIMEOUT);
    }
    uint32_t value = 0;
    EXPECT_EQ(GetDword(key.h, u"startup_cnt", value), ERROR_SUCCESS) << "readers never wait";
    EXPECT_EQ(value, 7u);

    ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    EXPECT_EQ(SetDword(key.h, u"startup_cnt", 8), ERROR_SUCCESS);
    EXPECT_EQ(GetDword(key.h, u"startup_cnt", value), ERROR_SUCCESS);
    EXPECT_EQ(value, 8u);
}

std::u16string Nested(std::size_t depth, std::u16string_view name = u"k") {
    std::u16string path(name);
    for (std::size_t level = 1; level < depth; ++level) {
        path += u'\\';
        path += name;
    }
    return path;
}

TEST_F(RegistryTest, KeysNestAtMost512LevelsAndPathsHaveAtMost32767Characters) {
    // 128 names of 255 characters and their separators: 32,767 characters.
    const std::u16string longest = Nested(128, std::u16string(255, u'n'));
    struct Case {
        const char* what;
        std::u16string path;
        long expected;
    };
    const Case cases[] = {
        {"512 levels", Nested(512), ERROR_SUCCESS},
        {"513 levels", Nested(513), ERROR_INVALID_PARAMETER},
        {"32,767 characters", longest, ERROR_SUCCESS},
        {"32,768 characters", longest + u"x", ERROR_INVALID_PARAMETER},
        {"20,000 levels", Nested(20000), ERROR_INVALID_PARAMETER},
        {"a lone high surrogate", u"init\\a\xD800", ERROR_INVALID_PARAMETER},
        {"a lone low surrogate",
         u"\xDC00"
         u"b",
         ERROR_INVALID_PARAMETER},
        {"U+FFFF", u"init\\\xFFFF", ERROR_INVALID_PARAMETER},
        {"a surrogate pair", u"init\\\xD83D\xDE00", ERROR_SUCCESS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Key key;
        EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, c.path.c_str(), key), c.expected);
        Key opened;
        EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, c.path.c_str(), opened),
                  c.expected ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS);
        std::vector<std::u16string> names;
        ASSERT_EQ(RegListSubKeys(HKEY_LOCAL_MACHINE, names), ERROR_SUCCESS);
        EXPECT_EQ(names.size(), c.expected ? 0u : 1u) << "a refused path stores nothing";
        if (!c.expected) {
            EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, names.at(0).c_str()), ERROR_SUCCESS);
        }
    }

    // The depth and length count from the root, also below an open key.
    Key middle;
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, Nested(500).c_str(), middle), ERROR_SUCCESS);
    Key deepest;
    EXPECT_EQ(Create(middle.h, Nested(12).c_str(), deepest), ERROR_SUCCESS);
    Key tooDeep;
    EXPECT_EQ(Create(middle.h, Nested(13).c_str(), tooDeep), ERROR_INVALID_PARAMETER);
    Key within;
    EXPECT_EQ(Create(deepest.h, u"x", within), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteKeyW(middle.h, Nested(13).c_str()), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteKeyW(middle.h, Nested(12).c_str()), ERROR_SUCCESS);
}

TEST_F(RegistryTest, AKeyCostsTheSameAtAnyDepth) {
    Key key;
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, Nested(512, u"level").c_str(), key), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(key.h, u"v", 1), ERROR_SUCCESS);
    ASSERT_EQ(RegFlushKey(key.h), ERROR_SUCCESS);
    std::uintmax_t bytes = 0;
    for (const char* suffix : {"", "-wal"}) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(registryDatabase().string() + suffix, ec);
        bytes += ec ? 0 : size;
    }
    // 512 rows of a few dozen bytes each; rows holding whole paths would take
    // about 2 MB here.
    EXPECT_LT(bytes, 160u * 1024) << "registry.db and its log hold " << bytes << " bytes";
    uint32_t value = 0;
    Key again;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, Nested(512, u"LEVEL").c_str(), again), ERROR_SUCCESS);
    EXPECT_EQ(GetDword(again.h, u"v", value), ERROR_SUCCESS);
    EXPECT_EQ(value, 1u);
}

TEST_F(RegistryTest, ValuesHaveSizeAndNameLimits) {
    Key key;
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, u"Limits", key), ERROR_SUCCESS);
    struct Case {
        const char* what;
        std::u16string name;
        uint32_t size;
        long stored;
        long queried; ///< the size query afterwards
        uint32_t size_after;
    };
    const std::vector<uint8_t> data(1024 * 1024 + 1, 0xA5);
    const Case cases[] = {
        {"1 MiB", u"big", 1024 * 1024, ERROR_SUCCESS, ERROR_SUCCESS, 1024 * 1024},
        {"1 MiB and a byte", u"big", 1024 * 1024 + 1, ERROR_INVALID_PARAMETER, ERROR_SUCCESS, 4},
        {"4 GiB less a byte", u"big", 0xFFFFFFFF, ERROR_INVALID_PARAMETER, ERROR_SUCCESS, 4},
        {"name of 16,383", std::u16string(16383, u'v'), 4, ERROR_SUCCESS, ERROR_SUCCESS, 4},
        {"name of 16,384", std::u16string(16384, u'w'), 4, ERROR_INVALID_PARAMETER,
         ERROR_FILE_NOT_FOUND, 0},
        {"name with a lone surrogate",
         u"w\xD800"
         u"a",
         4, ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(SetDword(key.h, u"big", 7), ERROR_SUCCESS);
        // The size is checked before the data is read, so a short buffer is safe here.
        EXPECT_EQ(RegSetValueExW(key.h, c.name.c_str(), 0, REG_BINARY, data.data(), c.size),
                  c.stored);
        uint32_t size = 0;
        EXPECT_EQ(RegQueryValueExW(key.h, c.name.c_str(), nullptr, nullptr, nullptr, &size),
                  c.queried);
        EXPECT_EQ(size, c.size_after) << "a refused value keeps the old one";
    }
    EXPECT_EQ(RegDeleteValueW(key.h, u"w\xD800"), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, AHandleStaysWithItsDeletedKey) {
    Key key;
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, u"init\\App", key), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(key.h, u"startup", 1), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"init"), ERROR_SUCCESS);
    Key remade;
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, u"init\\App", remade), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(remade.h, u"startup", 2), ERROR_SUCCESS);
    uint32_t value = 0;
    EXPECT_EQ(GetDword(key.h, u"startup", value), ERROR_KEY_DELETED);
    EXPECT_EQ(SetDword(key.h, u"startup", 3), ERROR_KEY_DELETED);
    std::vector<std::u16string> names;
    EXPECT_EQ(RegListSubKeys(key.h, names), ERROR_KEY_DELETED);
    Key child;
    EXPECT_EQ(Create(key.h, u"Child", child), ERROR_KEY_DELETED);
    EXPECT_EQ(GetDword(remade.h, u"startup", value), ERROR_SUCCESS);
    EXPECT_EQ(value, 2u);
}

class EmptyRootRegistryTest : public DeviceRootTest {
protected:
    EmptyRootRegistryTest() : DeviceRootTest(testing::RootLayout::Empty) {}
};

TEST_F(EmptyRootRegistryTest, ReadsCreateNothing) {
    Key key;
    EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, u"init\\App", key), ERROR_FILE_NOT_FOUND);
    uint32_t value = 5;
    EXPECT_EQ(GetDword(HKEY_LOCAL_MACHINE, u"startup", value), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(value, 5u);
    std::vector<std::u16string> names{u"stale"};
    EXPECT_EQ(RegListSubKeys(HKEY_CURRENT_USER, names), ERROR_SUCCESS);
    EXPECT_TRUE(names.empty());
    std::vector<RegValue> values(1);
    EXPECT_EQ(RegListValues(HKEY_LOCAL_MACHINE, values), ERROR_SUCCESS);
    EXPECT_TRUE(values.empty());
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"init"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueW(HKEY_LOCAL_MACHINE, u"startup"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    Key root;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, nullptr, root), ERROR_SUCCESS) << "a root is always there";
    EXPECT_EQ(RegListSubKeys(root.h, names), ERROR_SUCCESS);
    EXPECT_EQ(GetDword(root.h, u"startup", value), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(std::filesystem::is_empty(root_)) << "a read made the device state";

    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, u"init\\App", key), ERROR_SUCCESS);
    EXPECT_TRUE(std::filesystem::exists(registryDatabase())) << "a write makes the registry";
}

// Read-and-increment under a transaction: concurrent threads lose no count.
void CountUp(int times) {
    for (int i = 0; i < times; ++i) {
        RegistryTransaction transaction;
        ASSERT_TRUE(transaction.ok()) << "error " << transaction.error();
        Key key;
        ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, u"init\\App", key), ERROR_SUCCESS);
        uint32_t value = 0;
        GetDword(key.h, u"startup_cnt", value);
        ASSERT_EQ(SetDword(key.h, u"startup_cnt", value + 1), ERROR_SUCCESS);
        if (i % 2) {
            ASSERT_EQ(RegFlushKey(key.h), ERROR_SUCCESS);
        }
    }
}

TEST_F(RegistryTest, TransactionsSerialiseReadAndIncrement) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back(CountUp, 25);
    }
    for (auto& thread : threads) {
        thread.join();
    }
    Key key;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"init\\App", key), ERROR_SUCCESS);
    uint32_t value = 0;
    EXPECT_EQ(GetDword(key.h, u"startup_cnt", value), ERROR_SUCCESS);
    EXPECT_EQ(value, 100u);
}

TEST_F(RegistryTest, NestedTransactionJoinsAndUncommittedWorkIsInvisibleToOthers) {
    Key key;
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, u"init\\App", key), ERROR_SUCCESS);
    {
        RegistryTransaction outer;
        ASSERT_TRUE(outer.ok());
        {
            RegistryTransaction inner;
            EXPECT_TRUE(inner.ok());
            ASSERT_EQ(SetDword(key.h, u"startup", 1), ERROR_SUCCESS);
        }
        uint32_t seen = 99;
        std::thread([&] { GetDword(key.h, u"startup", seen); }).join();
        EXPECT_EQ(seen, 99u) << "another connection must not see the open transaction";
    }
    uint32_t value = 0;
    std::thread([&] { GetDword(key.h, u"startup", value); }).join();
    EXPECT_EQ(value, 1u);
}

} // namespace
} // namespace hh::sys
