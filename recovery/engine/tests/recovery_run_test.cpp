#include <platform/system/error.h>
#include <platform/system/testing.h>
#include <recovery/engine/copy_engine.h>
#include <recovery/engine/recovery_run.h>

#include <map>
#include <ostream>
#include <utility>
#include <vector>

namespace recovery {
namespace {

namespace sys = hh::sys;
using namespace hh::sys::testing;

struct RecordingScreen : RecoveryScreen {
    std::vector<uint32_t> ranges;
    int countdowns = 0;
    void SetProgressRange(uint32_t upper) override { ranges.push_back(upper); }
    void StartRestartCountdown() override { ++countdowns; }
};

class RecoveryRunTest : public hh::sys::testing::DeviceRootTest {
protected:
    void SetUp() override {
        DeviceRootTest::SetUp();
        mutex_ = sys::Mutex::Create(false, "MUTEX_FOR_COPY");
        ASSERT_TRUE(mutex_);
        g_dwLastCopyError = 0;
        state_.m_hCopyMutex = mutex_;
        WriteHost(root_ / "ResidentFlash/old/user.dat", "old settings");
        WriteHost(root_ / "SDMMC/MaroltData/AppData/profile.dat", "user data");
    }
    // The mutex's name is kept in the device root, so it goes first.
    void TearDown() override {
        mutex_.close();
        DeviceRootTest::TearDown();
    }

    void AddPair(std::u16string source, std::u16string destination) {
        state_.m_sources.push_back(std::move(source));
        state_.m_destinations.push_back(std::move(destination));
    }

    bool Run() {
        bool result = false;
        CaptureStdout([&] { result = RecoverAll(state_, screen_); });
        return result;
    }

    // Nothing that was there before the run has gone.
    void ExpectNothingDeleted() {
        EXPECT_EQ(ReadHost(root_ / "ResidentFlash/old/user.dat"), "old settings");
        EXPECT_EQ(ReadHost(root_ / "SDMMC/MaroltData/AppData/profile.dat"), "user data");
        EXPECT_EQ(screen_.countdowns, 0);
        EXPECT_EQ(state_.m_bCompleted, 0);
    }

    RecoveryState state_;
    RecordingScreen screen_;

    sys::Mutex mutex_;
};

TEST_F(RecoveryRunTest, OnePairReplacesTheFlashAndRemovesUserData) {
    WriteHost(root_ / "SDMMC/Restel/Flash/a.txt", "a");
    WriteHost(root_ / "SDMMC/Restel/Flash/b/c.txt", "c");
    WriteHost(root_ / "SDMMC/Restel/Flash/b/d.txt", "d");
    AddPair(u"\\SDMMC\\Restel\\Flash", u"\\ResidentFlash");
    EXPECT_TRUE(Run());
    EXPECT_FALSE(ExistsHost(root_ / "ResidentFlash/old"));
    EXPECT_EQ(ReadHost(root_ / "ResidentFlash/b/c.txt"), "c");
    EXPECT_TRUE(std::filesystem::is_directory(root_ / "ResidentFlash"));
    EXPECT_FALSE(ExistsHost(root_ / "SDMMC/MaroltData/AppData"));
    EXPECT_TRUE(ExistsHost(root_ / "SDMMC/MaroltData"));
    EXPECT_EQ(screen_.ranges, std::vector<uint32_t>{3});
    EXPECT_EQ(state_.m_nTotalFiles, 3u);
    EXPECT_EQ(state_.CopiedFiles(), 3u);
    EXPECT_EQ(screen_.countdowns, 1);
    EXPECT_EQ(state_.m_bCompleted, 1);
}

TEST_F(RecoveryRunTest, LaterPairsKeepWhatEarlierPairsCopied) {
    WriteHost(root_ / "SDMMC/Restel/Flash/a.txt", "a");
    WriteHost(root_ / "SDMMC/Restel/Maps/m1.map", "1");
    WriteHost(root_ / "SDMMC/Restel/Maps/m2.map", "2");
    WriteHost(root_ / "SDMMC/Restel/Navi/nav.exe", "n");
    AddPair(u"\\SDMMC\\Restel\\Flash", u"\\ResidentFlash");
    AddPair(u"\\SDMMC\\Restel\\Maps", u"\\ResidentFlash\\Maps");
    AddPair(u"\\SDMMC\\Restel\\Navi", u"\\SDMMC\\MaroltNavi");
    EXPECT_TRUE(Run());
    EXPECT_EQ(ReadHost(root_ / "ResidentFlash/a.txt"), "a");
    EXPECT_EQ(ReadHost(root_ / "ResidentFlash/Maps/m2.map"), "2");
    EXPECT_EQ(ReadHost(root_ / "SDMMC/MaroltNavi/nav.exe"), "n");
    EXPECT_EQ(screen_.ranges, (std::vector<uint32_t>{1, 2, 1}));
    EXPECT_EQ(screen_.countdowns, 1) << "one countdown, after the last pair";
}

TEST_F(RecoveryRunTest, AnyMissingOrEmptySourceFailsBeforeAnythingIsDeleted) {
    std::filesystem::create_directories(root_ / "SDMMC/Restel/Empty");
    WriteHost(root_ / "SDMMC/Restel/Flash/a.txt", "a");
    for (std::u16string_view bad : {u"\\SDMMC\\Restel\\Missing", u"\\SDMMC\\Restel\\Empty"}) {
        state_.m_sources.clear();
        state_.m_destinations.clear();
        state_.m_bSourceFound = 1;
        AddPair(u"\\SDMMC\\Restel\\Flash", u"\\ResidentFlash");
        AddPair(std::u16string(bad), u"\\ResidentFlash\\More");
        EXPECT_FALSE(Run());
        EXPECT_EQ(state_.m_bSourceFound, 0);
        EXPECT_EQ(state_.m_nPairIndex, 1);
        EXPECT_EQ(g_dwLastCopyError, 0u);
        ExpectNothingDeleted();
    }
}

TEST_F(RecoveryRunTest, DestinationLeavingTheRootFailsBeforeAnythingIsDeleted) {
    WriteHost(root_ / "SDMMC/Restel/Flash/a.txt", "a");
    std::filesystem::create_directory_symlink(outside_, root_ / "SDMMC/Out");
    for (std::u16string_view bad : {u"\\ResidentFlash\\..\\..\\outside", u"\\SDMMC\\Out"}) {
        state_.m_sources.clear();
        state_.m_destinations.clear();
        g_dwLastCopyError = 0;
        AddPair(u"\\SDMMC\\Restel\\Flash", std::u16string(bad));
        EXPECT_FALSE(Run());
        EXPECT_EQ(g_dwLastCopyError, sys::ERROR_ACCESS_DENIED);
        ExpectNothingDeleted();
    }
    EXPECT_TRUE(std::filesystem::is_empty(outside_));
}

struct RefusedCase {
    const char* name;
    std::u16string source;
    std::u16string destination;
    uint32_t error;
};

// Cases are shown by their names in test listings.
void PrintTo(const RefusedCase& c, std::ostream* os) {
    *os << c.name;
}

class RefusedConfigurationTest : public RecoveryRunTest,
                                 public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedConfigurationTest, FailsWithItsOwnCodeBeforeAnythingIsDeleted) {
    WriteHost(root_ / "SDMMC/Backup/Flash/a.txt", "a");
    WriteHost(root_ / "SDMMC/Backup/Flash/sub/b.txt", "b");
    WriteHost(root_ / "SDMMC/Other/c.txt", "c");
    std::filesystem::create_directory_symlink("Backup/Flash", root_ / "SDMMC/Link");
    std::filesystem::create_directories(root_ / "SDMMC/Escape");
    std::filesystem::create_symlink(outside_, root_ / "SDMMC/Escape/out");
    std::filesystem::create_directories(root_ / "SDMMC/Dangling");
    std::filesystem::create_symlink("nowhere.txt", root_ / "SDMMC/Dangling/gone.txt");
    std::filesystem::copy_file(root_ / "SDMMC/Other/c.txt", root_ / "SDMMC/Escape/c.txt");
    std::filesystem::copy_file(root_ / "SDMMC/Other/c.txt", root_ / "SDMMC/Dangling/c.txt");
    AddPair(u"\\SDMMC\\Other", u"\\ResidentFlash");
    AddPair(GetParam().source, GetParam().destination);
    EXPECT_FALSE(Run());
    EXPECT_EQ(g_dwLastCopyError, GetParam().error);
    EXPECT_EQ(state_.m_nPairIndex, 1);
    ExpectNothingDeleted();
    EXPECT_EQ(ReadHost(root_ / "SDMMC/Backup/Flash/sub/b.txt"), "b");
    EXPECT_FALSE(ExistsHost(root_ / "SDMMC/Backup/Flash/sub/sub")) << "nothing was copied";
    EXPECT_FALSE(ExistsHost(root_ / "ResidentFlash/c.txt")) << "no pair was copied";
    EXPECT_TRUE(std::filesystem::is_empty(outside_));
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, RefusedConfigurationTest,
    ::testing::Values(
        RefusedCase{"blank_source", u"", u"\\ResidentFlash", kBlankPathError},
        RefusedCase{"blank_destination", u"\\SDMMC\\Backup\\Flash", u"", kBlankPathError},
        RefusedCase{"white_space", u" \t", u"\\ResidentFlash", kBlankPathError},
        RefusedCase{"destination_is_source", u"\\SDMMC\\Backup\\Flash", u"\\sdmmc\\BACKUP\\flash\\",
                    kSourceOverlapsDestinationError},
        RefusedCase{"destination_inside_source", u"\\SDMMC\\Backup\\Flash",
                    u"\\SDMMC\\Backup\\Flash\\sub", kSourceOverlapsDestinationError},
        RefusedCase{"new_destination_inside_source", u"\\SDMMC\\Backup\\Flash",
                    u"\\SDMMC\\x\\..\\Backup\\Flash\\new\\deeper", kSourceOverlapsDestinationError},
        RefusedCase{"destination_inside_source_through_a_link", u"\\SDMMC\\Backup\\Flash",
                    u"\\SDMMC\\Link\\copy", kSourceOverlapsDestinationError},
        RefusedCase{"source_inside_destination", u"\\SDMMC\\Backup\\Flash", u"\\SDMMC",
                    kSourceOverlapsDestinationError},
        RefusedCase{"source_is_the_flash", u"\\ResidentFlash", u"\\SDMMC\\Saved",
                    kSourceMeetsFlashError},
        RefusedCase{"source_inside_the_flash", u"\\residentflash\\old", u"\\SDMMC\\Saved",
                    kSourceMeetsFlashError},
        RefusedCase{"destination_is_the_user_data", u"\\SDMMC\\Backup\\Flash",
                    u"\\sdmmc\\MaroltData\\appdata", kDestinationInUserDataError},
        RefusedCase{"destination_inside_the_user_data", u"\\SDMMC\\Backup\\Flash",
                    u"\\SDMMC\\MaroltData\\AppData\\restored", kDestinationInUserDataError},
        RefusedCase{"source_outside_the_root", u"\\..\\outside", u"\\SDMMC\\Saved",
                    kOutsideRootError},
        RefusedCase{"source_tree_with_a_link_leaving_the_root", u"\\SDMMC\\Escape",
                    u"\\SDMMC\\Saved", kOutsideRootError},
        RefusedCase{"source_tree_with_a_dangling_link", u"\\SDMMC\\Dangling", u"\\SDMMC\\Saved",
                    hh::sys::ERROR_FILE_NOT_FOUND}),
    [](const auto& info) { return std::string(info.param.name); });

// Configurations in which one pair could change what another pair (or the
// pair itself) reads, or what the deletions of the run would destroy. Each
// case starts from the same tree: the recovery image, two more sources, a
// destination folder, and links on the way that a case may use.
struct CrossCase {
    const char* name;
    std::vector<std::pair<std::u16string, std::u16string>> pairs;
    /// Links the case adds: host path below the root and what it leads to.
    std::vector<std::pair<const char*, const char*>> links;
    uint32_t error;
    int32_t refusedPair;
};

void PrintTo(const CrossCase& c, std::ostream* os) {
    *os << c.name;
}

class CrossPairTest : public RecoveryRunTest, public ::testing::WithParamInterface<CrossCase> {
protected:
    // Every file of the tree with its content, as the run found it.
    std::map<std::string, std::string> Snapshot() const {
        std::map<std::string, std::string> files;
        for (auto it = std::filesystem::recursive_directory_iterator(root_);
             it != std::filesystem::recursive_directory_iterator(); ++it) {
            if (it->is_symlink()) {
                it.disable_recursion_pending();
            } else if (it->is_regular_file()) {
                files[std::filesystem::relative(it->path(), root_).string()] = ReadHost(it->path());
            }
        }
        return files;
    }
};

constexpr auto kImage = u"\\SDMMC\\Recovery\\ResidentFlash";

TEST_P(CrossPairTest, IsRefusedBeforeAnythingIsDeletedOrWritten) {
    WriteHost(root_ / "SDMMC/Recovery/ResidentFlash/a.txt", "image a");
    WriteHost(root_ / "SDMMC/Recovery/ResidentFlash/maps/m.map", "image map");
    WriteHost(root_ / "SDMMC/Other/c.txt", "other c");
    WriteHost(root_ / "SDMMC/Other/maps/o.map", "other map");
    WriteHost(root_ / "SDMMC/Staging/s.txt", "staging s");
    WriteHost(root_ / "SDMMC/Navi/n.txt", "navi n");
    for (const auto& [at, to] : GetParam().links) {
        std::filesystem::create_directories((root_ / at).parent_path());
        std::filesystem::create_symlink(to, root_ / at);
    }
    for (const auto& [source, destination] : GetParam().pairs) {
        AddPair(source, destination);
    }
    const std::map<std::string, std::string> before = Snapshot();
    EXPECT_FALSE(Run());
    EXPECT_EQ(g_dwLastCopyError, GetParam().error);
    EXPECT_EQ(state_.m_nPairIndex, GetParam().refusedPair);
    EXPECT_EQ(state_.m_bSourceFound, 1);
    ExpectNothingDeleted();
    EXPECT_EQ(Snapshot(), before) << "nothing was written or deleted";
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, CrossPairTest,
    ::testing::Values(
        CrossCase{"later_destination_is_the_image",
                  {{kImage, u"\\ResidentFlash"}, {u"\\SDMMC\\Other", kImage}},
                  {},
                  kSourceOverlapsDestinationError,
                  1},
        CrossCase{"later_destination_is_the_image_spelled_otherwise",
                  {{kImage, u"\\ResidentFlash"},
                   {u"\\SDMMC\\Other", u"sdmmc\\\\RECOVERY\\.\\x\\..\\residentflash\\\\"}},
                  {},
                  kSourceOverlapsDestinationError,
                  1},
        CrossCase{"later_destination_inside_the_image",
                  {{kImage, u"\\ResidentFlash"},
                   {u"\\SDMMC\\Other", u"\\SDMMC\\Recovery\\ResidentFlash\\new"}},
                  {},
                  kSourceOverlapsDestinationError,
                  1},
        CrossCase{"later_destination_holding_the_image",
                  {{kImage, u"\\ResidentFlash"}, {u"\\SDMMC\\Other", u"\\SDMMC\\Recovery"}},
                  {},
                  kSourceOverlapsDestinationError,
                  1},
        CrossCase{
            "later_destination_is_the_image_through_a_link",
            {{kImage, u"\\ResidentFlash"}, {u"\\SDMMC\\Other", u"\\SDMMC\\Rec\\ResidentFlash"}},
            {{"SDMMC/Rec", "Recovery"}},
            kSourceOverlapsDestinationError,
            1},
        CrossCase{
            "later_source_is_an_earlier_destination",
            {{u"\\SDMMC\\Other", u"\\SDMMC\\Staging"}, {u"\\SDMMC\\staging\\", u"\\ResidentFlash"}},
            {},
            kSourceOverlapsDestinationError,
            1},
        CrossCase{"later_source_holds_an_earlier_destination",
                  {{u"\\SDMMC\\Other", u"\\SDMMC\\Recovery\\ResidentFlash\\maps"},
                   {kImage, u"\\ResidentFlash"}},
                  {},
                  kSourceOverlapsDestinationError,
                  1},
        CrossCase{"link_in_a_destination_leads_into_the_image",
                  {{kImage, u"\\ResidentFlash"}, {u"\\SDMMC\\Other", u"\\SDMMC\\Navi"}},
                  {{"SDMMC/Navi/maps", "../Recovery/ResidentFlash/maps"}},
                  kSourceOverlapsDestinationError,
                  1},
        CrossCase{"link_in_a_destination_leads_into_its_own_source",
                  {{u"\\SDMMC\\Other", u"\\SDMMC\\Navi"}},
                  {{"SDMMC/Navi/MAPS", "../Other"}},
                  kSourceOverlapsDestinationError,
                  0},
        CrossCase{
            "link_in_a_source_leads_into_an_earlier_destination",
            {{u"\\SDMMC\\Staging", u"\\SDMMC\\Navi"}, {u"\\SDMMC\\Other", u"\\ResidentFlash"}},
            {{"SDMMC/Other/navi", "../Navi"}},
            kSourceOverlapsDestinationError,
            1},
        CrossCase{"source_inside_the_user_data",
                  {{u"\\SDMMC\\MaroltData\\AppData", u"\\SDMMC\\Saved"}},
                  {},
                  kSourceMeetsUserDataError,
                  0},
        CrossCase{"source_holding_the_user_data",
                  {{u"\\SDMMC\\maroltdata", u"\\ResidentFlash"}},
                  {},
                  kSourceMeetsUserDataError,
                  0},
        CrossCase{"link_in_a_source_leads_into_the_user_data",
                  {{u"\\SDMMC\\Other", u"\\ResidentFlash"}},
                  {{"SDMMC/Other/profile", "../MaroltData/AppData"}},
                  kSourceMeetsUserDataError,
                  0},
        CrossCase{"link_in_a_source_leads_into_the_flash",
                  {{u"\\SDMMC\\Other", u"\\SDMMC\\Saved"}},
                  {{"SDMMC/Other/old", "../../ResidentFlash/old"}},
                  kSourceMeetsFlashError,
                  0}),
    [](const auto& info) { return std::string(info.param.name); });

// Links that no copy passes through change nothing: one in a destination
// beside the folders the copy fills, and one in the resident flash, which is
// emptied (links removed, not followed) before anything is copied.
TEST_F(RecoveryRunTest, LinksNoCopyPassesThroughAreNoConflict) {
    WriteHost(root_ / "SDMMC/Recovery/ResidentFlash/a.txt", "image a");
    WriteHost(root_ / "SDMMC/Recovery/ResidentFlash/maps/m.map", "image map");
    WriteHost(root_ / "SDMMC/Other/c.txt", "other c");
    std::filesystem::create_directories(root_ / "SDMMC/Navi");
    std::filesystem::create_directory_symlink("../Recovery/ResidentFlash",
                                              root_ / "SDMMC/Navi/image");
    std::filesystem::create_directory_symlink("../SDMMC/Recovery/ResidentFlash/maps",
                                              root_ / "ResidentFlash/maps");
    AddPair(std::u16string(kImage), u"\\ResidentFlash");
    AddPair(u"\\SDMMC\\Other", u"\\SDMMC\\Navi");
    EXPECT_TRUE(Run()) << g_dwLastCopyError;
    EXPECT_EQ(ReadHost(root_ / "ResidentFlash/maps/m.map"), "image map");
    EXPECT_FALSE(std::filesystem::is_symlink(root_ / "ResidentFlash/maps"));
    EXPECT_EQ(ReadHost(root_ / "SDMMC/Navi/c.txt"), "other c");
    EXPECT_EQ(ReadHost(root_ / "SDMMC/Recovery/ResidentFlash/a.txt"), "image a");
    EXPECT_FALSE(ExistsHost(root_ / "SDMMC/Recovery/ResidentFlash/c.txt"));
}

TEST_F(RecoveryRunTest, NamesThatOnlyBeginAlikeAreNotNested) {
    WriteHost(root_ / "ResidentFlashCopy/a.txt", "a");
    WriteHost(root_ / "SDMMC/Backup/Flash/b.txt", "b");
    WriteHost(root_ / "SDMMC/Backup/Flash/empty.txt", "");
    AddPair(u"\\ResidentFlashCopy", u"\\ResidentFlash");
    AddPair(u"\\SDMMC\\Backup\\Flash", u"\\SDMMC\\Backup\\FlashCopy");
    EXPECT_TRUE(Run());
    EXPECT_EQ(ReadHost(root_ / "ResidentFlash/a.txt"), "a");
    EXPECT_EQ(ReadHost(root_ / "SDMMC/Backup/FlashCopy/b.txt"), "b");
    EXPECT_EQ(ReadHost(root_ / "SDMMC/Backup/FlashCopy/empty.txt"), "");
}

TEST_F(RecoveryRunTest, FailedCopyKeepsUserDataAndStartsNoCountdown) {
    WriteHost(root_ / "SDMMC/Restel/Flash/a.txt", "a");
    WriteHost(root_ / "SDMMC/Restel/Navi/nav.exe", "n");
    // A folder in the way of the second pair's file.
    std::filesystem::create_directories(root_ / "SDMMC/MaroltNavi/nav.exe/x");
    AddPair(u"\\SDMMC\\Restel\\Flash", u"\\ResidentFlash");
    AddPair(u"\\SDMMC\\Restel\\Navi", u"\\SDMMC\\MaroltNavi");
    EXPECT_FALSE(Run());
    EXPECT_EQ(g_dwLastCopyError, sys::ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadHost(root_ / "SDMMC/MaroltData/AppData/profile.dat"), "user data");
    EXPECT_EQ(screen_.countdowns, 0);
    EXPECT_EQ(state_.m_bCompleted, 0);
}

} // namespace
} // namespace recovery
