// The copy killed at random moments: a real child process runs CopyTree and
// is ended with SIGKILL; every file under its final name must then be
// complete, with either its old or its new content.

#include <platform/system/named_mutex.h>
#include <platform/system/testing.h>
#include <recovery/engine/copy_engine.h>

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <string>

namespace recovery {
namespace {

using namespace hh::sys::testing;

// Distinct content per file and version, so that a mix of two shows.
std::string Content(const std::string& name, char version, std::size_t size) {
    std::string text;
    text.reserve(size);
    std::size_t seed = std::hash<std::string>{}(name) + static_cast<unsigned char>(version);
    while (text.size() < size) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        text += static_cast<char>('a' + (seed >> 59));
    }
    return text;
}

class TornCopyTest : public hh::sys::testing::DeviceRootTest {
protected:
    // On tmpfs where there is one: a kill tests what the process leaves, not
    // the disk, and each of the many copies waits for its data on a disk.
    void SetUp() override {
        if (const char* saved = std::getenv("TMPDIR")) {
            savedTmp_ = saved;
        }
        if (::access("/dev/shm", W_OK) == 0) {
            ::setenv("TMPDIR", "/dev/shm", 1);
        }
        DeviceRootTest::SetUp();
        // Many small files in a few folders and some large ones, so that kills
        // land in the data of big files and among the names of small ones.
        for (int i = 0; i < 80; ++i) {
            const std::string name =
                "d" + std::to_string(i % 4) + "/f" + std::to_string(i) + ".dat";
            const std::size_t size = i % 20 < 2 ? 128 * 1024 : 200 + (i * 37) % 3000;
            files_[name] = {Content(name, 'n', size),
                            i % 2 == 0 ? Content(name, 'o', size / 2 + 7) : std::string()};
            WriteHost(root_ / "SDMMC/Src" / name, files_[name].fresh);
        }
    }

    void TearDown() override {
        DeviceRootTest::TearDown();
        if (savedTmp_) {
            ::setenv("TMPDIR", savedTmp_->c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }

    // The destination as before a recovery: old versions of every other
    // file, or nothing at all (a folder the copy makes).
    void ResetDestination(bool withOldFiles = true) const {
        std::filesystem::remove_all(root_ / "ResidentFlash");
        std::filesystem::create_directories(root_ / "ResidentFlash");
        for (const auto& [name, versions] : files_) {
            if (versions.old && withOldFiles) {
                WriteHost(root_ / "ResidentFlash/Dst" / name, *versions.old);
            }
        }
    }

    // Runs the copy in a child killed after delay (never, when negative);
    // true when the kill ended it.
    bool RunCopy(std::chrono::microseconds delay) const {
        const pid_t pid = ::fork();
        if (pid == 0) {
            hh::sys::Mutex mutex = hh::sys::Mutex::Create(false, "MUTEX_FOR_COPY");
            uint32_t counter = 0;
            ::_exit(CopyTree(u"\\*", u"\\SDMMC\\Src", u"\\ResidentFlash\\Dst", counter, mutex) ? 0
                                                                                               : 1);
        }
        if (delay.count() >= 0) {
            const timespec pause{0, static_cast<long>(delay.count() * 1000)};
            ::nanosleep(&pause, nullptr);
            ::kill(pid, SIGKILL);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFSIGNALED(status);
    }

    // Files under their final names that are neither the old nor the new
    // version; temporary names (of files, or of folders being made) are left
    // aside with what they hold.
    int TornFiles() const {
        int torn = 0;
        const std::filesystem::path dst = root_ / "ResidentFlash/Dst";
        if (!std::filesystem::exists(dst)) {
            return 0;
        }
        for (auto walk = std::filesystem::recursive_directory_iterator(dst);
             walk != std::filesystem::recursive_directory_iterator(); ++walk) {
            const auto& entry = *walk;
            if (entry.path().filename().string().starts_with(".~")) {
                walk.disable_recursion_pending();
                continue;
            }
            if (!entry.is_regular_file()) {
                continue;
            }
            const std::string name = std::filesystem::relative(entry.path(), dst).string();
            const auto it = files_.find(name);
            const std::string content = ReadHost(root_ / "ResidentFlash/Dst" / name);
            if (it == files_.end() || (content != it->second.fresh && content != it->second.old)) {
                ADD_FAILURE() << name << " is torn: " << content.size() << " bytes";
                ++torn;
            }
        }
        return torn;
    }

    struct Versions {
        std::string fresh;
        std::optional<std::string> old; ///< none: a new target
    };
    std::map<std::string, Versions> files_;
    std::optional<std::string> savedTmp_;
};

// Killed at random moments while copying over old files, or into a folder
// the copy makes (filled under a temporary name and renamed when complete).
class TornCopyKindTest : public TornCopyTest, public ::testing::WithParamInterface<bool> {};

TEST_P(TornCopyKindTest, KilledAtRandomMomentsLeavesNoTornFile) {
    const bool withOldFiles = GetParam();
    // The copy's length, as the shortest of three whole runs.
    auto whole = std::chrono::microseconds::max();
    for (int run = 0; run < 3; ++run) {
        ResetDestination(withOldFiles);
        const auto start = std::chrono::steady_clock::now();
        ASSERT_FALSE(RunCopy(std::chrono::microseconds(-1)));
        whole = std::min(whole, std::chrono::duration_cast<std::chrono::microseconds>(
                                    std::chrono::steady_clock::now() - start));
        ASSERT_EQ(TornFiles(), 0);
        for (const auto& [name, versions] : files_) {
            ASSERT_EQ(ReadHost(root_ / "ResidentFlash/Dst" / name), versions.fresh) << name;
        }
    }

    std::mt19937 random(20260);
    // Kills aim at the first three quarters of the copy, so that a copy that
    // runs faster than the shortest whole run still meets most of them.
    std::uniform_int_distribution<int64_t> moment(0, whole.count() * 3 / 4);
    int kills = 0;
    int torn = 0;
    for (int point = 0; kills < 200 && point < 1000; ++point) {
        ResetDestination(withOldFiles);
        if (RunCopy(std::chrono::microseconds(moment(random)))) {
            ++kills;
        }
        torn += TornFiles();
    }
    EXPECT_EQ(torn, 0);
    EXPECT_GE(kills, 200) << "kills that ended the copy before it finished";
}

INSTANTIATE_TEST_SUITE_P(Destinations, TornCopyKindTest, ::testing::Values(true, false),
                         [](const auto& info) {
                             return std::string(info.param ? "over_old_files"
                                                           : "into_a_new_folder");
                         });

} // namespace
} // namespace recovery
