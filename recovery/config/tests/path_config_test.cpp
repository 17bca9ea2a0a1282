#include "temp_dir.h"

#include <recovery/config/path_config.h>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <ostream>
#include <string>
#include <vector>

namespace recovery {
namespace {

using test::ReadText;
using test::TempDir;
using test::WriteText;

struct CountingReporter : XmlReporter {
    int shown = 0;
    void ShowError(std::u16string_view, std::u16string_view) override { ++shown; }
};

} // namespace

void PrintTo(const PathPair& pair, std::ostream* out) {
    *out << '(' << std::string(pair.source.begin(), pair.source.end()) << ", "
         << std::string(pair.destination.begin(), pair.destination.end()) << ')';
}

namespace {

std::vector<PathPair> PairsOf(const std::string& xml) {
    TempDir dir;
    WriteText(dir.path() / "Path.xml", xml);
    PathConfig config(dir.path() / "Path.xml");
    return ReadPathPairs(config);
}

struct PairCase {
    const char* name;
    std::string xml;
    std::vector<PathPair> expected;
};

// Cases are shown by their names in test listings.
void PrintTo(const PairCase& c, std::ostream* os) {
    *os << c.name;
}

class PairsTest : public ::testing::TestWithParam<PairCase> {};

TEST_P(PairsTest, ReadsPairsByPosition) {
    EXPECT_EQ(PairsOf(GetParam().xml), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, PairsTest,
    ::testing::Values(
        PairCase{"one_pair",
                 R"(<r><p n="1" s="\SDMMC\A" d="\ResidentFlash"/></r>)",
                 {{u"\\SDMMC\\A", u"\\ResidentFlash"}}},
        PairCase{"count_two_with_two_values",
                 R"(<r><p n="2" s="A" d="B"/></r>)",
                 {{u"A", u"B"}, {u"B", u"B"}}},
        PairCase{"swapped_names_change_nothing",
                 R"(<r><p d="2" s="A" n="B"/></r>)",
                 {{u"A", u"B"}, {u"B", u"B"}}},
        PairCase{"moved_attributes_change_the_pairs",
                 R"(<r><p n="1" d="B" s="A"/></r>)",
                 {{u"B", u"A"}}},
        PairCase{"comment_first_gives_no_pairs", R"(<r><!-- x --><p n="1" s="A" d="B"/></r>)", {}},
        PairCase{"count_not_a_number", R"(<r><p n="two" s="A" d="B"/></r>)", {}},
        PairCase{"negative_count", R"(<r><p n="-3" s="A" d="B"/></r>)", {}},
        PairCase{
            "count_with_blanks_and_tail", R"(<r><p n="  +1x" s="A" d="B"/></r>)", {{u"A", u"B"}}},
        PairCase{"count_only", R"(<r><p n="1"/></r>)", {{u"1", u"1"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PathConfig, CountBeyondAnyListIsRefused) {
    EXPECT_THROW(PairsOf(R"(<r><p n="2147483647" s="A" d="B"/></r>)"), XmlError);
    EXPECT_EQ(PairsOf(R"(<r><p n="4096" s="A" d="B"/></r>)").size(), 4096u);
}

TEST(PathConfig, MissingFileRaisesWithoutMessageAndWritesNothing) {
    TempDir dir;
    CountingReporter reporter;
    try {
        PathConfig config(dir.path() / "Path.xml", &reporter);
        FAIL() << "no error raised";
    } catch (const XmlError& error) {
        EXPECT_STREQ(error.what(), "Failed to WinceXmlEx!");
    }
    EXPECT_EQ(reporter.shown, 0);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "Path.xml"));
}

TEST(PathConfig, MalformedFileRaisesAndStaysAsItWas) {
    TempDir dir;
    const std::string broken = "<r><p n=\"1\" s=\"A\" d=\"B\"></r>";
    WriteText(dir.path() / "Path.xml", broken);
    EXPECT_THROW(PathConfig(dir.path() / "Path.xml"), XmlError);
    EXPECT_EQ(ReadText(dir.path() / "Path.xml"), broken);
}

TEST(PathConfig, EmptyDocumentShowsItsBoxAndRaises) {
    TempDir dir;
    WriteText(dir.path() / "Path.xml", "<!-- nothing -->");
    CountingReporter reporter;
    EXPECT_THROW(PathConfig(dir.path() / "Path.xml", &reporter), XmlError);
    EXPECT_EQ(reporter.shown, 1);
}

TEST(PathConfig, RewriteKeepsElementsAttributesCommentsAndOrder) {
    TempDir dir;
    const std::string original = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<Paths>\n  <!-- pairs -->\n"
                                 "  <Path Count=\"1\" Src0=\"\\SDMMC\\A &amp; B\" Dst0=\"\\F\"/>\n"
                                 "  <Other x=\"1\"><Deep y=\"2\"/></Other>\n</Paths>\n";
    WriteText(dir.path() / "Path.xml", original);
    ::chmod((dir.path() / "Path.xml").c_str(), 0640);
    {
        PathConfig config(dir.path() / "Path.xml");
        EXPECT_EQ(config.GetValue(1, 1), u"\\SDMMC\\A & B");
    }
    pugi::xml_document before;
    pugi::xml_document after;
    ASSERT_TRUE(before.load_string(original.c_str(), pugi::parse_default | pugi::parse_comments |
                                                         pugi::parse_declaration));
    std::string written = ReadText(dir.path() / "Path.xml");
    ASSERT_TRUE(after.load_string(written.c_str(), pugi::parse_default | pugi::parse_comments |
                                                       pugi::parse_declaration));
    auto canonical = [](const pugi::xml_document& d) {
        std::ostringstream out;
        d.save(out, "", pugi::format_raw);
        return out.str();
    };
    EXPECT_EQ(canonical(after), canonical(before));
    struct stat st {};
    ASSERT_EQ(::stat((dir.path() / "Path.xml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    // The second start reads what the first one wrote: the comment is still node 0.
    PathConfig again(dir.path() / "Path.xml");
    EXPECT_EQ(again.GetValue(0, 0), u"");
    EXPECT_EQ(again.GetValue(1, 2), u"\\F");
}

TEST(PathConfig, KeepsUtf16Encoding) {
    TempDir dir;
    std::u16string text = u"\uFEFF<r><p n=\"1\" s=\"\u00C4\" d=\"B\"/></r>";
    WriteText(dir.path() / "Path.xml",
              std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
    { PathConfig config(dir.path() / "Path.xml"); }
    std::string written = ReadText(dir.path() / "Path.xml");
    ASSERT_GE(written.size(), 2u);
    EXPECT_EQ(written.substr(0, 2), "\xFF\xFE");
    PathConfig config(dir.path() / "Path.xml");
    EXPECT_EQ(config.GetValue(0, 1), u"\u00C4");
}

TEST(ReplaceFileDurably, ReplacesWholeFileAndLeavesNoTemporary) {
    TempDir dir;
    auto file = dir.path() / "Path.xml";
    WriteText(file, std::string(100000, 'x'));
    ::setxattr(file.c_str(), "user.hh.test", "1", 1, 0);
    ASSERT_TRUE(ReplaceFileDurably(file, "new"));
    EXPECT_EQ(ReadText(file), "new");
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 1);
    char value[4] = {};
    if (::getxattr(file.c_str(), "user.hh.test", value, sizeof value) >= 0) {
        EXPECT_STREQ(value, "1") << "extended attributes move to the new file";
    }
}

TEST(ReplaceFileDurably, WritesThroughASymbolicLink) {
    TempDir dir;
    WriteText(dir.path() / "real.xml", "old");
    std::filesystem::create_symlink("real.xml", dir.path() / "Path.xml");
    ASSERT_TRUE(ReplaceFileDurably(dir.path() / "Path.xml", "new"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "Path.xml"));
    EXPECT_EQ(ReadText(dir.path() / "real.xml"), "new");
}

TEST(ReplaceFileDurably, FailureLeavesTheOldFile) {
    TempDir dir;
    auto file = dir.path() / "missing-folder" / "Path.xml";
    EXPECT_FALSE(ReplaceFileDurably(file, "new"));
    EXPECT_FALSE(std::filesystem::exists(file));

    auto kept = dir.path() / "Path.xml";
    WriteText(kept, "old");
    ::chmod(kept.c_str(), 0444);
    if (::geteuid() != 0) {
        EXPECT_FALSE(ReplaceFileDurably(kept, "new"));
        EXPECT_EQ(ReadText(kept), "old");
    }
}

struct NumberCase {
    std::u16string text;
    int32_t value;
};

TEST(WToL, ConvertsLikeTheRuntime) {
    const NumberCase cases[] = {
        {u"0", 0},
        {u"12", 12},
        {u"  7", 7},
        {u"\t\n 3", 3},
        {u"+4", 4},
        {u"-4", -4},
        {u"5abc", 5},
        {u"abc", 0},
        {u"", 0},
        {u"- 1", 0},
        {u"2147483647", INT32_MAX},
        {u"99999999999", INT32_MAX},
        {u"-2147483648", INT32_MIN},
        {u"-99999999999", INT32_MIN},
        {u"\u00A01", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WToL(c.text), c.value) << std::string(c.text.begin(), c.text.end());
    }
}

TEST(ProgramDirOf, CutsAfterTheLastBackslash) {
    EXPECT_EQ(ProgramDirOf(u"\\SDMMC\\Restel\\Restel.exe"), u"\\SDMMC\\Restel\\");
    EXPECT_EQ(ProgramDirOf(u"\\Restel.exe"), u"\\");
    EXPECT_EQ(ProgramDirOf(u"Restel.exe"), u"");
    EXPECT_EQ(ProgramDirOf(u""), u"");
}

} // namespace
} // namespace recovery
