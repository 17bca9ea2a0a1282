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
    const Case cases[] = {
        {"text", std::string("this is not a database, but a note\n", 35), ERROR_REGISTRY_CORRUPT},
        {"garbage pages", truncatedHeader, ERROR_REGISTRY_CORRUPT},
        {"another program's database", foreign, ERROR_BADDB},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        {
            std::ofstream out(registryDatabase(), std::ios::binary | std::ios::trunc);
            out << c.content;
        }
        ::testing::internal::CaptureStderr();
        Key key;
        EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, u"init\\App", key), c.expected);
        RegistryTransaction transaction;
        EXPECT_FALSE(transaction.ok());
        std::string message = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(message.find(registryDatabase().string()), std::string::npos) << message;
        EXPECT_EQ(ReadFile(registryDatabase()), c.content) << "the file must stay as it was";
    }
}

TEST_F(RegistryTest, DeviceRootThatCannotBeCreated) {
    std::ofstream(root_ / "plain-file") << "x";
    setenv("HANDHELD_ROOT", (root_ / "plain-file" / "root").c_str(), 1);
    ::testing::internal::CaptureStderr();
    Key key;
    long error = Create(HKEY_LOCAL_MACHINE, u"init\\App", key);
    std::string message = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(error, ERROR_PATH_NOT_FOUND);
    EXPECT_NE(message.find("cannot create"), std::string::npos) << message;
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

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(SetDword(key.h, u"startup_cnt", 8), ERROR_TIMEOUT);
    {
        RegistryTransaction transaction;
        EXPECT_EQ(transaction.error(), ERROR_TIMEOUT);
    }
    std::string message = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("locked by another process"), std::string::npos) << message;
    uint32_t value = 0;
    EXPECT_EQ(GetDword(key.h, u"startup_cnt", value), ERROR_SUCCESS) << "readers never wait";
    EXPECT_EQ(value, 7u);

    ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    EXPECT_EQ(SetDword(key.h, u"startup_cnt", 8), ERROR_SUCCESS);
    EXPECT_EQ(GetDword(key.h, u"startup_cnt", value), ERROR_SUCCESS);
    EXPECT_EQ(value, 8u);
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
