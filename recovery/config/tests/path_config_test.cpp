#include <platform/system/files.h>
#include <platform/system/testing.h>
#include <recovery/config/path_config.h>

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace recovery {
namespace {

// The configuration file at the top of the device root.
constexpr const char16_t* kPathXml = u"\\Path.xml";

using hh::sys::testing::ReadHost;
using hh::sys::testing::RootLayout;
using hh::sys::testing::TempDeviceRoot;
using hh::sys::testing::WriteHost;

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
    TempDeviceRoot dir(RootLayout::Empty);
    WriteHost(dir.root() / "Path.xml", xml);
    PathConfig config(kPathXml);
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
    TempDeviceRoot dir(RootLayout::Empty);
    CountingReporter reporter;
    try {
        PathConfig config(kPathXml, &reporter);
        FAIL() << "no error raised";
    } catch (const XmlError& error) {
        EXPECT_STREQ(error.what(), "Failed to WinceXmlEx!");
    }
    EXPECT_EQ(reporter.shown, 0);
    EXPECT_FALSE(std::filesystem::exists(dir.root() / "Path.xml"));
}

TEST(PathConfig, MalformedFileRaisesAndStaysAsItWas) {
    TempDeviceRoot dir(RootLayout::Empty);
    const std::string broken = "<r><p n=\"1\" s=\"A\" d=\"B\"></r>";
    WriteHost(dir.root() / "Path.xml", broken);
    EXPECT_THROW(PathConfig{kPathXml}, XmlError);
    EXPECT_EQ(ReadHost(dir.root() / "Path.xml"), broken);
}

TEST(PathConfig, EmptyDocumentShowsItsBoxAndRaises) {
    TempDeviceRoot dir(RootLayout::Empty);
    WriteHost(dir.root() / "Path.xml", "<!-- nothing -->");
    CountingReporter reporter;
    EXPECT_THROW((PathConfig{kPathXml, &reporter}), XmlError);
    EXPECT_EQ(reporter.shown, 1);
}

TEST(PathConfig, RewriteKeepsElementsAttributesCommentsAndOrder) {
    TempDeviceRoot dir(RootLayout::Empty);
    const std::string original = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<Paths>\n  <!-- pairs -->\n"
                                 "  <Path Count=\"1\" Src0=\"\\SDMMC\\A &amp; B\" Dst0=\"\\F\"/>\n"
                                 "  <Other x=\"1\"><Deep y=\"2\"/></Other>\n</Paths>\n";
    WriteHost(dir.root() / "Path.xml", original);
    ::chmod((dir.root() / "Path.xml").c_str(), 0640);
    {
        PathConfig config(kPathXml);
        EXPECT_EQ(config.GetValue(1, 1), u"\\SDMMC\\A & B");
    }
    pugi::xml_document before;
    pugi::xml_document after;
    ASSERT_TRUE(before.load_string(original.c_str(), pugi::parse_default | pugi::parse_comments |
                                                         pugi::parse_declaration));
    std::string written = ReadHost(dir.root() / "Path.xml");
    ASSERT_TRUE(after.load_string(written.c_str(), pugi::parse_default | pugi::parse_comments |
                                                       pugi::parse_declaration));
    auto canonical = [](const pugi::xml_document& d) {
        std::ostringstream out;
        d.save(out, "", pugi::format_raw);
        return out.str();
    };
    EXPECT_EQ(canonical(after), canonical(before));
    struct stat st {};
    ASSERT_EQ(::stat((dir.root() / "Path.xml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    // The second start reads what the first one wrote: the comment is still node 0.
    PathConfig again(kPathXml);
    EXPECT_EQ(again.GetValue(0, 0), u"");
    EXPECT_EQ(again.GetValue(1, 2), u"\\F");
}

TEST(PathConfig, KeepsUtf16Encoding) {
    TempDeviceRoot dir(RootLayout::Empty);
    std::u16string text = u"\uFEFF<r><p n=\"1\" s=\"\u00C4\" d=\"B\"/></r>";
    WriteHost(dir.root() / "Path.xml",
              std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
    { PathConfig config(kPathXml); }
    std::string written = ReadHost(dir.root() / "Path.xml");
    ASSERT_GE(written.size(), 2u);
    EXPECT_EQ(written.substr(0, 2), "\xFF\xFE");
    PathConfig config(kPathXml);
    EXPECT_EQ(config.GetValue(0, 1), u"\u00C4");
}

TEST(PathConfig, WriteBackReplacesTheWholeFileAndLeavesNoTemporary) {
    TempDeviceRoot dir(RootLayout::Empty);
    const std::string padded =
        "<r><p n=\"1\" s=\"A\" d=\"B\"/>" + std::string(100000, ' ') + "</r>";
    WriteHost(dir.root() / "Path.xml", padded);
    { PathConfig config(kPathXml); }
    EXPECT_EQ(ReadHost(dir.root() / "Path.xml"), "<r>\n\t<p n=\"1\" s=\"A\" d=\"B\" />\n</r>\n");
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.root())) {
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(PathConfig, ReadOnlyFileIsReadAndKeptAsItIs) {
    TempDeviceRoot dir(RootLayout::Empty);
    const std::string original = "<r><p n=\"1\" s=\"A\" d=\"B\"/></r>";
    WriteHost(dir.root() / "Path.xml", original);
    ASSERT_TRUE(hh::sys::SetFileAttributes(kPathXml, hh::sys::FILE_ATTRIBUTE_READONLY));
    {
        PathConfig config(kPathXml);
        EXPECT_EQ(ReadPathPairs(config), (std::vector<PathPair>{{u"A", u"B"}}));
    }
    EXPECT_EQ(ReadHost(dir.root() / "Path.xml"), original);
}

TEST(PathConfig, LinkLeadingOutsideTheRootIsNotRead) {
    TempDeviceRoot dir(RootLayout::Empty);
    WriteHost(dir.outside() / "Path.xml", "<r><p n=\"1\" s=\"A\" d=\"B\"/></r>");
    std::filesystem::create_symlink(dir.outside() / "Path.xml", dir.root() / "Path.xml");
    CountingReporter reporter;
    EXPECT_THROW((PathConfig{kPathXml, &reporter}), XmlError);
    EXPECT_EQ(reporter.shown, 1);
}

std::string Nested(int depth, const std::string& inner = "") {
    std::string xml = "<r><p n=\"1\" s=\"A\" d=\"B\"/>";
    for (int i = 1; i < depth; ++i) {
        xml += "<a>";
    }
    xml += inner;
    for (int i = 1; i < depth; ++i) {
        xml += "</a>";
    }
    return xml + "</r>";
}

struct LimitCase {
    const char* name;
    std::string xml;
};

void PrintTo(const LimitCase& c, std::ostream* os) {
    *os << c.name;
}

class BeyondLimitsTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(BeyondLimitsTest, IsRefusedWithItsBoxAndLeftAsItWas) {
    TempDeviceRoot dir(RootLayout::Empty);
    WriteHost(dir.root() / "Path.xml", GetParam().xml);
    CountingReporter reporter;
    EXPECT_THROW((PathConfig{kPathXml, &reporter}), XmlError);
    EXPECT_EQ(reporter.shown, 1);
    EXPECT_EQ(ReadHost(dir.root() / "Path.xml"), GetParam().xml);
}

INSTANTIATE_TEST_SUITE_P(
    Files, BeyondLimitsTest,
    ::testing::Values(
        LimitCase{"nested_one_level_too_deep", Nested(kMaxPathXmlDepth + 1)},
        LimitCase{"nested_200000_levels", Nested(200000)},
        LimitCase{"nested_100000_levels_within_the_size", Nested(100000)},
        LimitCase{"larger_than_the_size_limit", "<r><p n=\"1\" s=\"A\" d=\"B\"/><!--" +
                                                    std::string(kMaxPathXmlBytes, '-') + "--></r>"},
        LimitCase{"attribute_value_too_long", "<r><p n=\"1\" s=\"" +
                                                  std::string(kMaxPathXmlText + 1, 'x') +
                                                  "\" d=\"B\"/></r>"},
        LimitCase{"attribute_name_too_long", "<r><p n=\"1\" " +
                                                 std::string(kMaxPathXmlText + 1, 'x') +
                                                 "=\"A\" d=\"B\"/></r>"},
        LimitCase{"text_too_long", "<r><p n=\"1\" s=\"A\" d=\"B\"/>" +
                                       std::string(kMaxPathXmlText + 1, 't') + "</r>"}),
    [](const auto& info) { return std::string(info.param.name); });

// Path.xml as something other than a document: every kind is refused with
// the load failure's box and left as it is, without waiting for a writer or
// reading what the file claims to hold.
struct KindCase {
    const char* name;
    /// Makes <root>/Path.xml; false when this machine cannot make it.
    std::function<bool(const std::filesystem::path&)> make;
};

void PrintTo(const KindCase& c, std::ostream* os) {
    *os << c.name;
}

class PathXmlKindTest : public ::testing::TestWithParam<KindCase> {};

TEST_P(PathXmlKindTest, IsNotReadAndRaisesWithTheLoadBox) {
    TempDeviceRoot dir(RootLayout::Empty);
    const std::filesystem::path file = dir.root() / "Path.xml";
    ASSERT_TRUE(GetParam().make(file));
    CountingReporter reporter;
    EXPECT_THROW((PathConfig{kPathXml, &reporter}), XmlError);
    EXPECT_EQ(reporter.shown, 1);
    struct stat st {};
    EXPECT_EQ(::lstat(file.c_str(), &st), 0) << "left in place";
}

bool MakeSocket(const std::filesystem::path& file) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = file.string();
    if (fd < 0 || path.size() >= sizeof address.sun_path) {
        return false;
    }
    path.copy(address.sun_path, path.size());
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, PathXmlKindTest,
    ::testing::Values(KindCase{"pipe_without_a_writer",
                               [](const std::filesystem::path& f) {
                                   return ::mkfifo(f.c_str(), 0644) == 0;
                               }},
                      KindCase{"folder",
                               [](const std::filesystem::path& f) {
                                   return std::filesystem::create_directory(f);
                               }},
                      KindCase{"socket", MakeSocket},
                      KindCase{"link_to_a_pipe",
                               [](const std::filesystem::path& f) {
                                   return ::mkfifo((f.parent_path() / "pipe").c_str(), 0644) == 0 &&
                                          ::symlink("pipe", f.c_str()) == 0;
                               }},
                      KindCase{"sparse_file_of_a_terabyte",
                               [](const std::filesystem::path& f) {
                                   WriteHost(f, "<r><p n=\"1\" s=\"A\" d=\"B\"/></r>");
                                   return ::truncate(f.c_str(), off_t{1} << 40) == 0;
                               }}),
    [](const auto& info) { return std::string(info.param.name); });

// Documents whose text the device's parser rejects as not well formed: bytes
// that are no character of their encoding, and characters XML does not allow
// (literal or as references). They raise without a box, as a malformed file.
class NotACharacterTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(NotACharacterTest, RaisesWithoutABoxAndStaysAsItWas) {
    TempDeviceRoot dir(RootLayout::Empty);
    WriteHost(dir.root() / "Path.xml", GetParam().xml);
    CountingReporter reporter;
    EXPECT_THROW((PathConfig{kPathXml, &reporter}), XmlError);
    EXPECT_EQ(reporter.shown, 0);
    EXPECT_EQ(ReadHost(dir.root() / "Path.xml"), GetParam().xml);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Texts, NotACharacterTest,
    ::testing::Values(
        LimitCase{"nul_in_a_value", "<r><p n=\"1\" s=\"A\0B\" d=\"B\"/></r>"s},
        LimitCase{"nul_after_the_document", "<r><p n=\"1\" s=\"A\" d=\"B\"/></r>\0"s},
        LimitCase{"control_character_in_a_value", "<r><p n=\"1\" s=\"A\x01\" d=\"B\"/></r>"},
        LimitCase{"reference_to_nul", "<r><p n=\"1\" s=\"A&#0;B\" d=\"B\"/></r>"},
        LimitCase{"reference_to_a_control_character", "<r><p n=\"1\" s=\"A&#x1b;\" d=\"B\"/></r>"},
        LimitCase{"reference_to_a_surrogate", "<r><p n=\"1\" s=\"A&#xD800;\" d=\"B\"/></r>"},
        LimitCase{"reference_beyond_unicode", "<r><p n=\"1\" s=\"A&#x110000;\" d=\"B\"/></r>"},
        LimitCase{"invalid_utf8_in_a_value", "<r><p n=\"1\" s=\"A\xff\xfe\" d=\"B\"/></r>"},
        LimitCase{"truncated_utf8_in_a_value", "<r><p n=\"1\" s=\"A\xc3\" d=\"B\"/></r>"},
        LimitCase{"overlong_utf8_in_a_comment",
                  "<r><p n=\"1\" s=\"A\" d=\"B\"/><!--\xc0\xaf--></r>"},
        LimitCase{"utf16_with_a_lone_surrogate", "\xff\xfe<\0r\0>\0\x00\xd8<\0/\0r\0>\0"s},
        LimitCase{"utf16_of_an_odd_length", "\xff\xfe<\0r\0/\0>\0x"s},
        LimitCase{"random_bytes", std::string("\x8b\x1f\x00\x07\xe3\x91\xfe\x02<\xa0>\x13", 13)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PathConfig, DocumentsAtTheLimitsLoad) {
    const std::string longValue(kMaxPathXmlText, 'x');
    EXPECT_EQ(PairsOf(Nested(kMaxPathXmlDepth)), (std::vector<PathPair>{{u"A", u"B"}}));
    EXPECT_EQ(PairsOf("<r><p n=\"1\" s=\"" + longValue + "\" d=\"B\"/></r>").at(0).source.size(),
              kMaxPathXmlText);
}

TEST(PathConfig, WriteBackOfADeepDocumentGrowsLinearlyWithItsSize) {
    TempDeviceRoot dir(RootLayout::Empty);
    std::string leaves;
    for (int i = 0; i < 20000; ++i) {
        leaves += "<b/>";
    }
    const std::string xml = Nested(kMaxPathXmlDepth - 1, leaves);
    WriteHost(dir.root() / "Path.xml", xml);
    { PathConfig config(kPathXml); }
    const std::string written = ReadHost(dir.root() / "Path.xml");
    EXPECT_LE(written.size(), 2 * xml.size());
    PathConfig again(kPathXml);
    EXPECT_EQ(ReadPathPairs(again), (std::vector<PathPair>{{u"A", u"B"}}));
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
