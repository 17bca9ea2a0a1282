#include <platform/system/clock.h>
#include <platform/system/error.h>
#include <platform/system/files.h>
#include <platform/system/testing.h>
#include <recovery/engine/copy_engine.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace recovery {
namespace {

namespace sys = hh::sys;
using namespace hh::sys::testing;

class CopyEngineTest : public hh::sys::testing::DeviceRootTest {
protected:
    void SetUp() override {
        DeviceRootTest::SetUp();
        mutex_ = sys::Mutex::Create(false, "MUTEX_FOR_COPY");
        ASSERT_TRUE(mutex_);
        g_dwLastCopyError = 0;
    }
    // The mutex's name is kept in the device root, so it goes first.
    void TearDown() override {
        mutex_.close();
        DeviceRootTest::TearDown();
    }

    int Copy(std::u16string_view src, std::u16string_view dst, uint32_t& counter) {
        return CopyTree(u"\\*", src, dst, counter, mutex_);
    }

    // The names of a folder in the order the device's search returns them.
    static std::vector<std::u16string> SearchOrder(std::u16string_view dir) {
        std::vector<std::u16string> names;
        sys::FindData data;
        std::u16string pattern(dir);
        pattern += u"\\*";
        sys::FindHandle search = sys::FindFirstFile(pattern, data);
        for (bool more = static_cast<bool>(search); more; more = search.Next(data)) {
            names.push_back(data.fileName);
        }
        return names;
    }

    sys::Mutex mutex_;
    uint32_t observed_ = 0; ///< a counter read by another thread
};

TEST_F(CopyEngineTest, CountsFilesOfTheWholeTree) {
    WriteHost(root_ / "SDMMC/Src/a.txt", "a");
    WriteHost(root_ / "SDMMC/Src/sub/b.txt", "b");
    WriteHost(root_ / "SDMMC/Src/sub/deeper/c.txt", "c");
    std::filesystem::create_directories(root_ / "SDMMC/Src/empty");
    struct Case {
        std::u16string dir;
        uint32_t start;
        uint32_t expected;
    } cases[] = {
        {u"\\SDMMC\\Src", 0, 3},
        {u"\\SDMMC\\Src\\sub", 10, 12},
        {u"\\SDMMC\\Src\\empty", 5, 5},
        {u"\\SDMMC\\Missing", 0, 0},
        // Past what a 16-bit counter holds.
        {u"\\SDMMC\\Src", 65534, 65537},
    };
    for (const Case& c : cases) {
        uint32_t counter = c.start;
        CountFiles(u"\\*", c.dir, counter);
        EXPECT_EQ(counter, c.expected) << c.start;
    }
}

TEST_F(CopyEngineTest, CopiesTreeAndCountsEachFile) {
    WriteHost(root_ / "SDMMC/Src/a.txt", "alpha");
    WriteHost(root_ / "SDMMC/Src/sub/b.txt", "beta");
    WriteHost(root_ / "SDMMC/Src/sub/deeper/c.bin", std::string(100000, '\x7f'));
    std::filesystem::create_directories(root_ / "SDMMC/Src/empty");
    uint32_t counter = 0;
    EXPECT_EQ(Copy(u"\\SDMMC\\Src", u"\\ResidentFlash\\Dst", counter), 1);
    EXPECT_EQ(counter, 3u);
    EXPECT_EQ(ReadHost(root_ / "ResidentFlash/Dst/a.txt"), "alpha");
    EXPECT_EQ(ReadHost(root_ / "ResidentFlash/Dst/sub/b.txt"), "beta");
    EXPECT_EQ(ReadHost(root_ / "ResidentFlash/Dst/sub/deeper/c.bin"), std::string(100000, '\x7f'));
    EXPECT_TRUE(std::filesystem::is_directory(root_ / "ResidentFlash/Dst/empty"));
    EXPECT_EQ(g_dwLastCopyError, 0u);
}

TEST_F(CopyEngineTest, EmptyOrMissingSourceCreatesDestinationOnly) {
    std::filesystem::create_directories(root_ / "SDMMC/Empty");
    for (std::u16string_view src : {u"\\SDMMC\\Empty", u"\\SDMMC\\Missing"}) {
        std::error_code ec;
        std::filesystem::remove_all(root_ / "ResidentFlash/Dst", ec);
        uint32_t counter = 7;
        EXPECT_EQ(Copy(src, u"\\ResidentFlash\\Dst", counter), 1);
        EXPECT_EQ(counter, 7u);
        EXPECT_TRUE(std::filesystem::is_directory(root_ / "ResidentFlash/Dst"));
    }
}

TEST_F(CopyEngineTest, OverwritesReadOnlyHiddenTarget) {
    WriteHost(root_ / "SDMMC/Src/settings.dat", "new");
    WriteHost(root_ / "ResidentFlash/settings.dat", "old");
    ASSERT_TRUE(sys::SetFileAttributes(u"\\ResidentFlash\\settings.dat",
                                       sys::FILE_ATTRIBUTE_READONLY | sys::FILE_ATTRIBUTE_HIDDEN));
    uint32_t counter = 0;
    EXPECT_EQ(Copy(u"\\SDMMC\\Src", u"\\ResidentFlash", counter), 1);
    EXPECT_EQ(counter, 1u);
    EXPECT_EQ(ReadHost(root_ / "ResidentFlash/settings.dat"), "new");
    EXPECT_EQ(sys::GetFileAttributes(u"\\ResidentFlash\\settings.dat") &
                  (sys::FILE_ATTRIBUTE_READONLY | sys::FILE_ATTRIBUTE_HIDDEN),
              0u);
}

TEST_F(CopyEngineTest, ReplacesFilesAndFoldersThatExistInAnotherCase) {
    WriteHost(root_ / "SDMMC/Src/nav.exe", "new nav");
    WriteHost(root_ / "SDMMC/Src/maps/europe.map", "new map");
    WriteHost(root_ / "SDMMC/Src/maps/extra.map", "extra");
    WriteHost(root_ / "ResidentFlash/Dst/NAV.EXE", "old nav");
    WriteHost(root_ / "ResidentFlash/Dst/MAPS/Europe.MAP", "old map");
    ASSERT_TRUE(sys::SetFileAttributes(u"\\ResidentFlash\\Dst\\MAPS\\Europe.MAP",
                                       sys::FILE_ATTRIBUTE_READONLY));
    uint32_t counter = 0;
    std::string out = CaptureStdout(
        [&] { EXPECT_EQ(Copy(u"\\SDMMC\\Src", u"\\ResidentFlash\\Dst", counter), 1); });
    EXPECT_EQ(counter, 3u);
    EXPECT_EQ(out, "dest:NAV.EXE\r\n");
    EXPECT_EQ(ReadHost(root_ / "ResidentFlash/Dst/NAV.EXE"), "new nav");
    EXPECT_EQ(ReadHost(root_ / "ResidentFlash/Dst/MAPS/Europe.MAP"), "new map");
    EXPECT_EQ(ReadHost(root_ / "ResidentFlash/Dst/MAPS/extra.map"), "extra");
    std::vector<std::u16string> top = {u"MAPS", u"NAV.EXE"};
    std::vector<std::u16string> names = SearchOrder(u"\\ResidentFlash\\Dst");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, top);
    EXPECT_EQ(SearchOrder(u"\\ResidentFlash\\Dst\\MAPS").size(), 2u);
}

TEST_F(CopyEngineTest, FailureOnTheThirdOfFiveStopsTheCopy) {
    for (const char* name : {"1.txt", "2.txt", "3.txt", "4.txt", "5.txt"}) {
        WriteHost(root_ / "SDMMC/Src" / name, name);
    }
    std::vector<std::u16string> order = SearchOrder(u"\\SDMMC\\Src");
    ASSERT_EQ(order.size(), 5u);
    // A folder where the third file should go makes its copy fail.
    std::filesystem::create_directories(root_ / "ResidentFlash/Dst" /
                                        std::string(order[2].begin(), order[2].end()) / "x");
    uint32_t counter = 0;
    EXPECT_EQ(Copy(u"\\SDMMC\\Src", u"\\ResidentFlash\\Dst", counter), 0);
    EXPECT_EQ(counter, 2u);
    EXPECT_EQ(g_dwLastCopyError, sys::ERROR_ACCESS_DENIED);
    for (size_t i = 0; i < order.size(); ++i) {
        std::string name(order[i].begin(), order[i].end());
        EXPECT_EQ(std::filesystem::is_regular_file(root_ / "ResidentFlash/Dst" / name), i < 2)
            << name;
    }
}

TEST_F(CopyEngineTest, FailureInsideASubfolderEndsEveryLevel) {
    WriteHost(root_ / "SDMMC/Src/sub/a.txt", "a");
    std::filesystem::create_directories(root_ / "ResidentFlash/Dst/sub/a.txt");
    uint32_t counter = 0;
    EXPECT_EQ(Copy(u"\\SDMMC\\Src", u"\\ResidentFlash\\Dst", counter), 0);
    EXPECT_EQ(counter, 0u);
}

// A file of several pieces, each written and started towards the disk on its
// own, arrives whole, every block in its place, with its attributes and time.
TEST_F(CopyEngineTest, LargeFileCopiedInPiecesArrivesWholeWithItsAttributesAndTime) {
    constexpr std::size_t kSize = (70u << 20) + 12345;
    std::string data(kSize, '\0');
    for (std::size_t block = 0; block * 4096 < kSize; ++block) {
        const std::string mark = "block " + std::to_string(block);
        data.replace(block * 4096, std::min(mark.size(), kSize - block * 4096), mark);
    }
    WriteHost(root_ / "SDMMC/Src/map.bin", data);
    ASSERT_TRUE(sys::SetFileAttributes(u"\\SDMMC\\Src\\map.bin", sys::FILE_ATTRIBUTE_HIDDEN));
    const auto written = std::filesystem::last_write_time(root_ / "SDMMC/Src/map.bin");
    uint32_t counter = 0;
    EXPECT_EQ(Copy(u"\\SDMMC\\Src", u"\\ResidentFlash\\Dst", counter), 1);
    EXPECT_EQ(counter, 1u);
    EXPECT_TRUE(ReadHost(root_ / "ResidentFlash/Dst/map.bin") == data);
    EXPECT_EQ(sys::GetFileAttributes(u"\\ResidentFlash\\Dst\\map.bin"), sys::FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(std::filesystem::last_write_time(root_ / "ResidentFlash/Dst/map.bin"), written);
}

// The copies are written by several threads and named in the order of the
// walk: on a disk at the batch's commit, after its flush, and on a file system
// in memory as they are written (by the workers, for the folders the walk has
// left). Either way a source that cannot be copied (a pipe) stops the copy at
// it: the files before it are there and counted, the ones after it are not,
// although they were written meanwhile.
class CopyStopTest : public ::testing::TestWithParam<const char*> {
protected:
    // The files of a tree, as CE paths below it, in the order CopyTree meets
    // them.
    static void WalkOrder(const std::u16string& dir, const std::u16string& below,
                          std::vector<std::u16string>& files) {
        sys::FindData data;
        sys::FindHandle search = sys::FindFirstFile(dir + u"\\*", data);
        for (bool more = static_cast<bool>(search); more; more = search.Next(data)) {
            if (data.attributes & sys::FILE_ATTRIBUTE_DIRECTORY) {
                WalkOrder(dir + u"\\" + data.fileName, below + data.fileName + u"\\", files);
            } else {
                files.push_back(below + data.fileName);
            }
        }
    }
};

TEST_P(CopyStopTest, AFailedSourceStopsTheCopyAtItInWalkOrder) {
    const std::string base = GetParam();
    if (!base.empty() && !std::filesystem::is_directory(base)) {
        GTEST_SKIP() << base << " is not here";
    }
    const char* saved = std::getenv("TMPDIR");
    const std::string savedValue = saved ? saved : "";
    if (!base.empty()) {
        ::setenv("TMPDIR", base.c_str(), 1);
    }
    {
        TempDeviceRoot device;
        ASSERT_TRUE(device.ok());
        // Eight folders of twenty files; one file of the sixth folder is a
        // pipe, made in its turn (a file system in memory lists entries in
        // the order they were made).
        const std::filesystem::path src = device.root() / "SDMMC/Src";
        for (int folder = 0; folder < 8; ++folder) {
            const std::filesystem::path sub = src / ("d" + std::to_string(folder));
            std::filesystem::create_directories(sub);
            for (int i = 0; i < 20; ++i) {
                const std::filesystem::path file = sub / ("f" + std::to_string(i) + ".dat");
                if (folder == 5 && i == 7) {
                    ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0);
                } else {
                    WriteHost(file, std::string(100 + i, static_cast<char>('a' + folder)));
                }
            }
        }
        std::vector<std::u16string> order;
        WalkOrder(u"\\SDMMC\\Src", u"", order);
        ASSERT_EQ(order.size(), 160u);
        const std::size_t failing = static_cast<std::size_t>(
            std::find(order.begin(), order.end(), u"d5\\f7.dat") - order.begin());
        sys::Mutex mutex = sys::Mutex::Create(false, "MUTEX_FOR_COPY");
        g_dwLastCopyError = 0;
        uint32_t counter = 0;
        EXPECT_EQ(CopyTree(u"\\*", u"\\SDMMC\\Src", u"\\ResidentFlash\\Dst", counter, mutex), 0);
        EXPECT_EQ(counter, failing);
        EXPECT_EQ(g_dwLastCopyError, sys::ERROR_ACCESS_DENIED);
        for (std::size_t i = 0; i < order.size(); ++i) {
            std::string name(order[i].begin(), order[i].end());
            std::replace(name.begin(), name.end(), '\\', '/');
            EXPECT_EQ(std::filesystem::exists(device.root() / "ResidentFlash/Dst" / name),
                      i < failing)
                << name;
        }
        mutex.close();
    }
    if (saved) {
        ::setenv("TMPDIR", savedValue.c_str(), 1);
    } else {
        ::unsetenv("TMPDIR");
    }
}

INSTANTIATE_TEST_SUITE_P(OnDiskAndInMemory, CopyStopTest, ::testing::Values("", "/dev/shm"));

// A failed copy ends the walk at once: nothing after the failing entry is
// touched. Each case makes a source tree whose entry `failing` (a pipe) comes
// in walk order after `before` and before later files, a later .exe and a
// later empty folder; every later target exists read-only and hidden.
struct StopCase {
    const char* name;
    const char* folder; ///< below \SDMMC\Src where the pipe lies
};

void PrintTo(const StopCase& c, std::ostream* os) {
    *os << c.name;
}

class StopAtOnceTest : public CopyEngineTest, public ::testing::WithParamInterface<StopCase> {
protected:
    // The entries of a host folder in the order the device's search returns
    // them, as host names.
    std::vector<std::string> Order(const std::filesystem::path& folder) const {
        std::u16string ce = u"\\";
        const std::string rel = std::filesystem::relative(folder, root_).string();
        for (char c : rel) {
            ce += c == '/' ? u'\\' : static_cast<char16_t>(c);
        }
        std::vector<std::string> names;
        for (const std::u16string& name : SearchOrder(ce)) {
            names.emplace_back(name.begin(), name.end());
        }
        return names;
    }
};

TEST_P(StopAtOnceTest, NothingAfterTheFailingEntryIsTouched) {
    const std::filesystem::path src = root_ / "SDMMC/Src";
    const std::filesystem::path level = src / GetParam().folder;
    const std::filesystem::path dst = root_ / "ResidentFlash/Dst";
    std::vector<std::string> names = {"a.dat", "b.dat", "c.dat", "d.dat",   "e.dat",
                                      "f.dat", "g.dat", "h.dat", "nav.exe", "later"};
    for (const std::string& name : names) {
        if (name == "later") {
            std::filesystem::create_directories(level / name);
        } else {
            WriteHost(level / name, "new " + name);
        }
    }
    if (level != src) {
        WriteHost(src / "z-after.dat", "new z");
    }
    // The second entry in walk order becomes the pipe; the entries after it
    // are made again, so that a file system listing entries in the order they
    // were made keeps them after it.
    std::vector<std::string> order = Order(level);
    std::size_t second = 0;
    for (std::size_t i = 1; i < order.size() && second == 0; ++i) {
        second = order[i] != "later" ? i : 0;
    }
    ASSERT_NE(second, 0u);
    const std::string pipe = order[second];
    std::filesystem::remove(level / pipe);
    ASSERT_EQ(::mkfifo((level / pipe).c_str(), 0644), 0);
    for (std::size_t i = second + 1; i < order.size(); ++i) {
        const std::filesystem::path entry = level / order[i];
        const bool folder = std::filesystem::is_directory(entry);
        std::filesystem::remove(entry);
        if (folder) {
            std::filesystem::create_directory(entry);
        } else {
            WriteHost(entry, "new " + order[i]);
        }
    }
    order = Order(level);
    const std::size_t failing =
        static_cast<std::size_t>(std::find(order.begin(), order.end(), pipe) - order.begin());
    ASSERT_GE(order.size() - failing, 4u) << "entries after the pipe";
    // Every file after the pipe has an old target, read-only and hidden.
    const std::filesystem::path target = dst / std::filesystem::relative(level, src);
    std::vector<std::string> later(order.begin() + static_cast<std::ptrdiff_t>(failing) + 1,
                                   order.end());
    if (level != src) {
        later.push_back("../z-after.dat");
    }
    constexpr uint32_t kLocked = sys::FILE_ATTRIBUTE_READONLY | sys::FILE_ATTRIBUTE_HIDDEN;
    auto ce = [&](const std::filesystem::path& host) {
        std::u16string path;
        for (char c : "/" + std::filesystem::relative(host, root_).lexically_normal().string()) {
            path += c == '/' ? u'\\' : static_cast<char16_t>(c);
        }
        return path;
    };
    for (const std::string& name : later) {
        if (name != "later") {
            WriteHost(target / name, "old " + name);
            ASSERT_TRUE(sys::SetFileAttributes(ce(target / name), kLocked)) << name;
        }
    }
    uint32_t counter = 0;
    int result = -1;
    const std::string out =
        CaptureStdout([&] { result = Copy(u"\\SDMMC\\Src", u"\\ResidentFlash\\Dst", counter); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(g_dwLastCopyError, sys::ERROR_ACCESS_DENIED);
    EXPECT_EQ(counter, failing) << "the entries before the pipe are copied and counted";
    for (std::size_t i = 0; i < failing; ++i) {
        if (order[i] != "later") {
            EXPECT_EQ(ReadHost(target / order[i]), "new " + order[i]) << order[i];
        }
    }
    EXPECT_FALSE(ExistsHost(target / pipe));
    for (const std::string& name : later) {
        if (name == "later") {
            EXPECT_FALSE(ExistsHost(target / name)) << "a later folder was created";
            continue;
        }
        EXPECT_EQ(ReadHost(target / name), "old " + name) << name;
        EXPECT_EQ(sys::GetFileAttributes(ce(target / name)), kLocked) << name;
    }
    EXPECT_EQ(out.find("dest:"), std::string::npos) << "a later program was ended: " << out;
}

INSTANTIATE_TEST_SUITE_P(Trees, StopAtOnceTest,
                         ::testing::Values(StopCase{"pipe_at_the_top", ""},
                                           StopCase{"pipe_in_a_folder", "sub"}),
                         [](const auto& info) { return std::string(info.param.name); });

// In a destination that does not exist yet, the folders after a failed copy
// are made without waiting for the copies ahead; the failure takes them away
// again, so that what appears holds nothing made after the failing entry.
TEST_F(CopyEngineTest, AFailureInANewDestinationLeavesNoLaterFolder) {
    const std::filesystem::path src = root_ / "SDMMC/Src";
    for (const char* name : {"a", "b", "c", "d", "e", "f"}) {
        WriteHost(src / name / "x.dat", "new");
        WriteHost(src / name / "deeper" / "y.dat", "new");
    }
    std::vector<std::string> order;
    for (const std::u16string& name : SearchOrder(u"\\SDMMC\\Src")) {
        order.emplace_back(name.begin(), name.end());
    }
    ASSERT_EQ(order.size(), 6u);
    // The first file of the first folder in walk order fails.
    std::filesystem::remove_all(src / order[0]);
    std::filesystem::create_directories(src / order[0]);
    ASSERT_EQ(::mkfifo((src / order[0] / "x.dat").c_str(), 0644), 0);
    WriteHost(src / order[0] / "z.dat", "new");
    uint32_t counter = 0;
    EXPECT_EQ(Copy(u"\\SDMMC\\Src", u"\\ResidentFlash\\Dst", counter), 0);
    EXPECT_EQ(g_dwLastCopyError, sys::ERROR_ACCESS_DENIED);
    const std::filesystem::path dst = root_ / "ResidentFlash/Dst";
    EXPECT_TRUE(std::filesystem::is_directory(dst / order[0])) << "made before the failure";
    for (std::size_t i = 1; i < order.size(); ++i) {
        EXPECT_FALSE(ExistsHost(dst / order[i])) << order[i] << " was made after the failure";
    }
    for (const auto& entry : std::filesystem::directory_iterator(root_ / "ResidentFlash")) {
        EXPECT_EQ(entry.path().filename(), "Dst") << "a folder left under a temporary name";
    }
}

// The copied-file counter moves as each file is written, whatever its size:
// a thread reads it under the copy mutex, as the progress display does, while
// five large files are copied, and sees it go up one file at a time before
// the copy returns (a value may pass unseen on a busy machine, most may not).
TEST_F(CopyEngineTest, CounterMovesAsEachLargeFileIsWritten) {
    for (const char* name : {"v.bin", "w.bin", "x.bin", "y.bin", "z.bin"}) {
        WriteHost(root_ / "SDMMC/Src" / name, "");
    }
    const std::vector<std::u16string> order = SearchOrder(u"\\SDMMC\\Src");
    ASSERT_EQ(order.size(), 5u);
    // Sizes grow in walk order, so that files written side by side end apart.
    std::size_t size = 4u << 20;
    for (const std::u16string& name : order) {
        WriteHost(root_ / "SDMMC/Src" / std::string(name.begin(), name.end()),
                  std::string(size, static_cast<char>('a' + size % 7)));
        size += 16u << 20;
    }
    std::atomic<bool> done{false};
    std::vector<uint32_t> seen;
    std::thread observer([&] {
        uint32_t last = UINT32_MAX;
        while (!done) {
            ASSERT_EQ(sys::WaitForSingleObject(mutex_, sys::INFINITE), sys::WAIT_OBJECT_0);
            const uint32_t now = observed_;
            mutex_.release();
            if (now != last) {
                seen.push_back(now);
                last = now;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    });
    const int result =
        CopyTree(u"\\*", u"\\SDMMC\\Src", u"\\ResidentFlash\\Dst", observed_, mutex_);
    done = true;
    observer.join();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(observed_, 5u);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), 0u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << "the counter never goes back";
    // A loaded machine may keep the observer from seeing every value, but a
    // count made in groups or at the end goes from 0 to 5 with nothing seen
    // between.
    const auto between = std::count_if(seen.begin(), seen.end(),
                                       [](uint32_t value) { return value > 0 && value < 5; });
    EXPECT_GE(between, 1) << "values seen while the copy ran: " << ::testing::PrintToString(seen);
}

// What the user sees of a copy, pinned: the trace lines of the programs ended
// (in walk order, at every depth) and the counter at the end.
TEST_F(CopyEngineTest, TracesAndCountAreThoseOfTheWalk) {
    WriteHost(root_ / "SDMMC/Src/nav.exe", "n");
    WriteHost(root_ / "SDMMC/Src/readme.txt", "r");
    WriteHost(root_ / "SDMMC/Src/bin/Tool.Exe", "t");
    WriteHost(root_ / "SDMMC/Src/bin/deeper/x.EXE", "x");
    WriteHost(root_ / "SDMMC/Src/bin/deeper/exe", "no");
    WriteHost(root_ / "SDMMC/Src/bin/a.ex", "no");
    std::string expected;
    std::function<void(const std::u16string&)> walk = [&](const std::u16string& dir) {
        sys::FindData data;
        sys::FindHandle search = sys::FindFirstFile(dir + u"\\*", data);
        for (bool more = static_cast<bool>(search); more; more = search.Next(data)) {
            std::string name(data.fileName.begin(), data.fileName.end());
            if (data.attributes & sys::FILE_ATTRIBUTE_DIRECTORY) {
                walk(dir + u"\\" + data.fileName);
            } else if (name.size() >= 4 && (name.ends_with(".exe") || name.ends_with(".Exe") ||
                                            name.ends_with(".EXE"))) {
                std::transform(name.begin(), name.end(), name.begin(), ::toupper);
                expected += "dest:" + name + "\r\n";
            }
        }
    };
    walk(u"\\SDMMC\\Src");
    uint32_t counter = 0;
    const std::string out = CaptureStdout(
        [&] { EXPECT_EQ(Copy(u"\\SDMMC\\Src", u"\\ResidentFlash\\Dst", counter), 1); });
    EXPECT_EQ(out, expected);
    EXPECT_EQ(counter, 6u);
}

// A folder the copy makes is filled under a temporary name no longer than its
// own: a tree whose deepest path reaches the path limit copies into it, and
// nothing temporary is left.
TEST_F(CopyEngineTest, NewFolderTakesPathsUpToTheLimit) {
    const std::string deep = std::string(50, 'a') + "/" + std::string(50, 'b') + "/" +
                             std::string(50, 'c') + "/" + std::string(50, 'd') + "/";
    // "\ResidentFlash\new\" and the path below it: 259 characters.
    const std::string leaf = std::string(259 - 19 - deep.size(), 'f');
    WriteHost(root_ / "SDMMC/Src" / deep / leaf, "deep");
    WriteHost(root_ / "SDMMC/Src/top.txt", "top");
    uint32_t counter = 0;
    EXPECT_EQ(Copy(u"\\SDMMC\\Src", u"\\ResidentFlash\\new", counter), 1) << g_dwLastCopyError;
    EXPECT_EQ(counter, 2u);
    EXPECT_EQ(ReadHost(root_ / "ResidentFlash/new" / deep / leaf), "deep");
    EXPECT_EQ(SearchOrder(u"\\ResidentFlash"), std::vector<std::u16string>{u"new"});
    // One character more does not fit, as for a folder that exists.
    WriteHost(root_ / "SDMMC/Src" / deep / (leaf + "g"), "deeper");
    for (const char16_t* dst : {u"\\ResidentFlash\\new", u"\\ResidentFlash\\two"}) {
        counter = 0;
        EXPECT_EQ(Copy(u"\\SDMMC\\Src", dst, counter), 0);
        EXPECT_EQ(g_dwLastCopyError, sys::ERROR_FILENAME_EXCED_RANGE);
    }
}

TEST_F(CopyEngineTest, FullVolumeReportsDiskFullAndKeepsTheOldFile) {
    WriteHost(root_ / "SDMMC/Src/big.bin", std::string(256 * 1024, 'n'));
    WriteHost(root_ / "ResidentFlash/big.bin", "old contents");
    // A file size limit stands for the full volume: writes past it fail
    // with EFBIG, which the device reports as a full disk.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    uint32_t counter = 0;
    int result = Copy(u"\\SDMMC\\Src", u"\\ResidentFlash", counter);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(counter, 0u);
    EXPECT_EQ(g_dwLastCopyError, sys::ERROR_DISK_FULL);
    EXPECT_EQ(ReadHost(root_ / "ResidentFlash/big.bin"), "old contents");
    EXPECT_EQ(ReadHost(root_ / "SDMMC/Src/big.bin").size(), 256u * 1024);
}

TEST_F(CopyEngineTest, DestinationOutsideTheRootIsRefused) {
    WriteHost(root_ / "SDMMC/Src/a.txt", "a");
    std::filesystem::create_directory_symlink(outside_, root_ / "SDMMC/Link");
    for (std::u16string_view dst :
         {u"\\SDMMC\\..\\..\\outside", u"\\SDMMC\\Link", u"\\SDMMC\\Link\\deeper"}) {
        g_dwLastCopyError = 0;
        uint32_t counter = 0;
        EXPECT_EQ(Copy(u"\\SDMMC\\Src", dst, counter), 0);
        EXPECT_EQ(counter, 0u);
        EXPECT_EQ(g_dwLastCopyError, sys::ERROR_ACCESS_DENIED);
    }
    EXPECT_TRUE(std::filesystem::is_empty(outside_));
}

TEST_F(CopyEngineTest, DeleteMissingPathOnlyTraces) {
    std::string out = CaptureStdout([] { DeleteTree(u"\\SDMMC\\Nothing"); });
    EXPECT_EQ(out, "dele null:\\SDMMC\\Nothing\r\n");
}

TEST_F(CopyEngineTest, DeleteMountPointEmptiesItAndKeepsIt) {
    WriteHost(root_ / "ResidentFlash/a.txt", "a");
    WriteHost(root_ / "ResidentFlash/sub/b.txt", "b");
    std::filesystem::create_directories(root_ / "ResidentFlash/sub/empty");
    ASSERT_TRUE(sys::SetFileAttributes(u"\\ResidentFlash\\a.txt",
                                       sys::FILE_ATTRIBUTE_READONLY | sys::FILE_ATTRIBUTE_HIDDEN));
    std::string out = CaptureStdout([] { DeleteTree(u"\\ResidentFlash"); });
    EXPECT_TRUE(std::filesystem::is_directory(root_ / "ResidentFlash"));
    EXPECT_TRUE(std::filesystem::is_empty(root_ / "ResidentFlash"));
    EXPECT_NE(out.find("dele null:\\ResidentFlash\\sub\\empty\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("dele main:\\ResidentFlash\\sub\r\n"), std::string::npos) << out;
    EXPECT_TRUE(out.ends_with("ignore dir:\\ResidentFlash\r\ndele main:\\ResidentFlash\r\n"))
        << out;
}

TEST_F(CopyEngineTest, OnlyTheExactMountPointMarkKeepsAFolder) {
    struct Case {
        const char* folder;
        uint32_t attributes;
        bool kept;
    } cases[] = {
        {"SDMMC/MaroltData/AppData", 0, false},
        {"SDMMC/Marked", sys::FILE_ATTRIBUTE_TEMPORARY, true},
        {"SDMMC/MarkedHidden", sys::FILE_ATTRIBUTE_TEMPORARY | sys::FILE_ATTRIBUTE_HIDDEN, false},
        {"SDMMC/MarkedSystem", sys::FILE_ATTRIBUTE_TEMPORARY | sys::FILE_ATTRIBUTE_SYSTEM, false},
    };
    for (const Case& c : cases) {
        WriteHost(root_ / c.folder / "inner/file.txt", "x");
        std::u16string ce = u"\\";
        for (const char* p = c.folder; *p; ++p) {
            ce += *p == '/' ? u'\\' : static_cast<char16_t>(*p);
        }
        if (c.attributes) {
            ASSERT_TRUE(sys::SetFileAttributes(ce, c.attributes));
        }
        CaptureStdout([&] { DeleteTree(ce); });
        EXPECT_EQ(ExistsHost(root_ / c.folder), c.kept) << c.folder;
        EXPECT_FALSE(ExistsHost(root_ / c.folder / "inner")) << c.folder;
    }
}

TEST_F(CopyEngineTest, DeleteRemovesLinksButNotWhatTheyLeadTo) {
    WriteHost(root_ / "SDMMC/Src/keep.txt", "keep");
    std::filesystem::create_directory_symlink(root_ / "SDMMC/Src", root_ / "ResidentFlash/link");
    CaptureStdout([] { DeleteTree(u"\\ResidentFlash"); });
    EXPECT_FALSE(ExistsHost(root_ / "ResidentFlash/link"));
    EXPECT_EQ(ReadHost(root_ / "SDMMC/Src/keep.txt"), "keep");
}

TEST_F(CopyEngineTest, DeleteOneFileClearsReadOnly) {
    WriteHost(root_ / "SDMMC/locked.txt", "x");
    ASSERT_TRUE(sys::SetFileAttributes(u"\\SDMMC\\locked.txt", sys::FILE_ATTRIBUTE_READONLY));
    DeleteTree(u"\\SDMMC\\locked.txt");
    EXPECT_FALSE(ExistsHost(root_ / "SDMMC/locked.txt"));
}

} // namespace
} // namespace recovery
