#include <platform/system/ce_path.h>
#include <platform/system/error.h>
#include <platform/system/files.h>
#include <platform/system/testing.h>

#include <string>

namespace hh::sys {
namespace {

using namespace testing;

using namespace std::string_literals;

class CePathTest : public DeviceRootTest {
protected:
    void SetUp() override {
        DeviceRootTest::SetUp();
        WriteHost(outside_ / "secret.txt", "host secret");
        WriteHost(root_ / "ResidentFlash/f.txt", "flash");
        WriteHost(root_ / ".device/registry.db", "state");
        std::filesystem::create_symlink(outside_, root_ / "out");
        std::filesystem::create_symlink("../../outside", root_ / "SDMMC/up");
        std::filesystem::create_symlink("../../outside/secret.txt", root_ / "SDMMC/secret.txt");
        std::filesystem::create_symlink("../.device", root_ / "SDMMC/state");
        std::filesystem::create_symlink("../ResidentFlash", root_ / "SDMMC/flash");
    }
};

struct Refusal {
    const char* what;
    std::u16string path;
    uint32_t error;
};

TEST_F(CePathTest, RefusesEveryWayOutOfTheRoot) {
    const Refusal cases[] = {
        {"dot-dot above the root", u"\\..\\outside\\secret.txt", ERROR_ACCESS_DENIED},
        {"dot-dot after a folder", u"\\SDMMC\\..\\..\\outside\\secret.txt", ERROR_ACCESS_DENIED},
        {"relative dot-dot", u"..\\..\\etc\\passwd", ERROR_ACCESS_DENIED},
        {"host absolute path", u"/etc/passwd", ERROR_ACCESS_DENIED},
        {"host separator inside", u"\\SDMMC/../../outside", ERROR_ACCESS_DENIED},
        {"drive letter", u"C:\\x", ERROR_ACCESS_DENIED},
        {"NUL inside", u"\\SDMMC\\a\0\\..\\..\\x"s, ERROR_ACCESS_DENIED},
        {"state folder", u"\\.device\\registry.db", ERROR_ACCESS_DENIED},
        {"state folder in another case", u"\\.DEVICE", ERROR_ACCESS_DENIED},
        {"link at the first component", u"\\out\\secret.txt", ERROR_ACCESS_DENIED},
        {"link in the middle", u"\\SDMMC\\up\\secret.txt", ERROR_ACCESS_DENIED},
        {"link at the last component", u"\\SDMMC\\secret.txt", ERROR_ACCESS_DENIED},
        {"link into the state folder", u"\\SDMMC\\state\\registry.db", ERROR_ACCESS_DENIED},
        {"link to the state folder", u"\\SDMMC\\state", ERROR_ACCESS_DENIED},
        {"wildcard outside a search", u"\\SDMMC\\*.txt", ERROR_INVALID_NAME},
        {"too long", u"\\SDMMC\\" + std::u16string(260, u'a'), ERROR_FILENAME_EXCED_RANGE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(0);
        EXPECT_EQ(GetFileAttributes(c.path), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetLastError(), c.error);
        SetLastError(0);
        EXPECT_FALSE(CreateFile(c.path, GENERIC_WRITE, 0, CREATE_ALWAYS));
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_FALSE(CopyFile(u"\\ResidentFlash\\f.txt", c.path, false));
        EXPECT_FALSE(CopyFile(c.path, u"\\SDMMC\\copy.txt", false));
        EXPECT_FALSE(CePathToHostPath(c.path).has_value());
    }
    EXPECT_EQ(ReadHost(outside_ / "secret.txt"), "host secret");
    EXPECT_EQ(ReadHost(root_ / ".device/registry.db"), "state");
    EXPECT_FALSE(std::filesystem::exists(root_ / "SDMMC/copy.txt"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(outside_), {}), 1);
}

TEST_F(CePathTest, FollowsLinksAndDotDotThatStayInside) {
    EXPECT_EQ(GetFileAttributes(u"\\SDMMC\\flash\\f.txt"), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(GetFileAttributes(u"\\SDMMC\\..\\ResidentFlash\\.\\f.txt"), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(GetFileAttributes(u"ResidentFlash\\f.txt"), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(CePathToHostPath(u"\\SDMMC\\flash\\f.txt"), root_ / "ResidentFlash/f.txt");
    EXPECT_TRUE(CopyFile(u"\\SDMMC\\flash\\f.txt", u"\\SDMMC\\flash\\g.txt", false));
    EXPECT_EQ(ReadHost(root_ / "ResidentFlash/g.txt"), "flash");
}

TEST_F(CePathTest, MatchesNamesIgnoringCaseAndCreatesThemAsWritten) {
    WriteHost(root_ / "SDMMC/Restel/Path.xml", "<x/>");
    WriteHost(root_ / "SDMMC/Карты/Ёлка.map", "map");
    EXPECT_EQ(CePathToHostPath(u"\\sdmmc\\RESTEL\\PATH.XML"), root_ / "SDMMC/Restel/Path.xml");
    EXPECT_EQ(GetFileAttributes(u"\\sdmmc\\КАРТЫ\\ёЛКА.MAP"), FILE_ATTRIBUTE_NORMAL);

    ASSERT_TRUE(CreateFile(u"\\sdmmc\\restel\\New.TXT", GENERIC_WRITE, 0, CREATE_NEW));
    EXPECT_TRUE(std::filesystem::exists(root_ / "SDMMC/Restel/New.TXT"));
    EXPECT_FALSE(CreateDirectory(u"\\SDMMC\\RESTEL"));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(CreateFile(u"\\SDMMC\\restel\\new.txt", GENERIC_WRITE, 0, CREATE_NEW));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
}

TEST_F(CePathTest, TellsAMissingFileFromAMissingFolder) {
    EXPECT_EQ(GetFileAttributes(u"\\SDMMC\\none.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetFileAttributes(u"\\SDMMC\\none\\a.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(GetFileAttributes(u"\\ResidentFlash\\f.txt\\a.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(CePathToHostPath(u"\\SDMMC\\none.txt"), root_ / "SDMMC/none.txt");
}

TEST_F(CePathTest, CanonicalPathsNameThePlaceWithoutLinksOrDots) {
    std::filesystem::create_directories(root_ / "SDMMC/Backup/Flash");
    struct Case {
        const char* what;
        std::u16string path;
        std::u16string canonical;
    };
    const Case cases[] = {
        {"the root", u"\\", u"\\"},
        {"empty", u"", u"\\"},
        {"as it exists", u"\\sdmmc\\backup\\FLASH", u"\\SDMMC\\Backup\\Flash"},
        {"trailing and repeated separators", u"\\SDMMC\\\\Backup\\", u"\\SDMMC\\Backup"},
        {"dots", u"\\SDMMC\\.\\x\\..\\Backup", u"\\SDMMC\\Backup"},
        {"missing leaf", u"\\SDMMC\\backup\\New", u"\\SDMMC\\Backup\\New"},
        {"missing folders", u"\\SDMMC\\Backup\\a\\b\\c", u"\\SDMMC\\Backup\\a\\b\\c"},
        {"through a link", u"\\SDMMC\\flash\\f.txt", u"\\ResidentFlash\\f.txt"},
        {"missing below a link", u"\\SDMMC\\FLASH\\new\\x", u"\\ResidentFlash\\new\\x"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CanonicalCePath(c.path), c.canonical) << c.what;
    }
    for (const char16_t* refused : {u"\\..\\outside", u"\\SDMMC\\up\\x", u"\\out",
                                    u"\\SDMMC\\state\\registry.db", u"\\.device"}) {
        SetLastError(0);
        EXPECT_EQ(CanonicalCePath(refused), std::nullopt);
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
}

TEST(IsSameOrInside, ComparesWholeComponentsIgnoringCase) {
    EXPECT_TRUE(IsSameOrInside(u"\\SDMMC\\A", u"\\sdmmc\\a"));
    EXPECT_TRUE(IsSameOrInside(u"\\SDMMC\\A\\b", u"\\SDMMC\\a"));
    EXPECT_TRUE(IsSameOrInside(u"\\SDMMC", u"\\"));
    EXPECT_FALSE(IsSameOrInside(u"\\SDMMC\\AB", u"\\SDMMC\\A"));
    EXPECT_FALSE(IsSameOrInside(u"\\SDMMC", u"\\SDMMC\\A"));
    EXPECT_FALSE(IsSameOrInside(u"\\", u"\\SDMMC"));
}

} // namespace
} // namespace hh::sys
