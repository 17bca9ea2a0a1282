// The storage card taken out and put back: its files stay with it, and a
// card folder made while it is out never costs either card its files.

#include <platform/system/error.h>
#include <platform/system/testing.h>
#include <simulator/card/storage_card.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace hh::sim {
namespace {

using namespace hh::sys::testing;

class StorageCardTest : public DeviceRootTest {};

TEST_F(StorageCardTest, TheCardKeepsItsFilesWhileItIsOut) {
    WriteHost(root_ / "SDMMC/MaroltData/AppData/route.dat", "route");
    ASSERT_TRUE(RemoveCard());
    EXPECT_FALSE(CardPresent());
    EXPECT_FALSE(std::filesystem::exists(root_ / "SDMMC"));
    EXPECT_TRUE(RemoveCard()); // already out
    ASSERT_TRUE(InsertCard());
    EXPECT_TRUE(CardPresent());
    EXPECT_EQ(ReadHost(root_ / "SDMMC/MaroltData/AppData/route.dat"), "route");
    EXPECT_TRUE(InsertCard()); // already in
}

TEST_F(StorageCardTest, AFolderMadeWhileTheCardIsOutLosesNoFiles) {
    WriteHost(root_ / "SDMMC/maps/europe.map", "map");
    ASSERT_TRUE(RemoveCard());
    // A program that finds no card folder makes an empty one: taking that
    // out again keeps the card that is out.
    std::filesystem::create_directories(root_ / "SDMMC");
    ASSERT_TRUE(RemoveCard());
    EXPECT_FALSE(CardPresent());
    // One with files of its own is refused, and both keep their files.
    WriteHost(root_ / "SDMMC/new.txt", "new");
    EXPECT_FALSE(RemoveCard());
    EXPECT_EQ(sys::GetLastError(), sys::ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ReadHost(root_ / "SDMMC/new.txt"), "new");
    std::filesystem::remove(root_ / "SDMMC/new.txt");
    ASSERT_TRUE(RemoveCard());
    ASSERT_TRUE(InsertCard());
    EXPECT_EQ(ReadHost(root_ / "SDMMC/maps/europe.map"), "map");
}

TEST_F(StorageCardTest, InsertingWhenNoneWasTakenOutGivesAnEmptyCard) {
    std::filesystem::remove_all(root_ / "SDMMC");
    ASSERT_TRUE(InsertCard());
    EXPECT_TRUE(CardPresent());
    EXPECT_TRUE(std::filesystem::is_empty(root_ / "SDMMC"));
}

} // namespace
} // namespace hh::sim
