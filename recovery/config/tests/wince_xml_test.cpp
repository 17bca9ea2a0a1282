#include <platform/system/testing.h>
#include <recovery/config/wince_xml.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace recovery {
namespace {

// The configuration file at the top of the device root.
constexpr const char16_t* kPathXml = u"\\Path.xml";

using hh::sys::testing::RootLayout;
using hh::sys::testing::TempDeviceRoot;
using hh::sys::testing::WriteHost;

struct RecordingReporter : XmlReporter {
    std::vector<std::pair<std::u16string, std::u16string>> shown;
    void ShowError(std::u16string_view text, std::u16string_view caption) override {
        shown.emplace_back(text, caption);
    }
};

struct ValueCase {
    const char* name;
    std::string xml;
    int node;
    int attribute;
    std::u16string expected;
};

// Cases are shown by their names in test listings.
void PrintTo(const ValueCase& c, std::ostream* os) {
    *os << c.name;
}

class ValueTest : public ::testing::TestWithParam<ValueCase> {};

TEST_P(ValueTest, ReadsAttributeByPosition) {
    const ValueCase& c = GetParam();
    TempDeviceRoot dir(RootLayout::Empty);
    WriteHost(dir.root() / "Path.xml", c.xml);
    WinceXmlEx reader(kPathXml);
    ASSERT_EQ(reader.Loaded(), 1);
    EXPECT_EQ(reader.GetValue(c.node, c.attribute), c.expected);
}

const char* const kThree = R"(<r><p n="2" s="A" d="B"/></r>)";

INSTANTIATE_TEST_SUITE_P(
    Positions, ValueTest,
    ::testing::Values(
        ValueCase{"first", kThree, 0, 0, u"2"}, ValueCase{"second", kThree, 0, 1, u"A"},
        ValueCase{"third", kThree, 0, 2, u"B"}, ValueCase{"beyond_reads_last", kThree, 0, 3, u"B"},
        ValueCase{"far_beyond_reads_last", kThree, 0, 1000, u"B"},
        ValueCase{"negative_reads_first", kThree, 0, -5, u"2"},
        ValueCase{"names_do_not_matter", R"(<r><p zz="7" aa="x"/></r>)", 0, 1, u"x"},
        ValueCase{"node_beyond_children", kThree, 1, 0, u""},
        ValueCase{"comment_first_has_no_attributes", R"(<r><!-- c --><p n="2"/></r>)", 0, 0, u""},
        ValueCase{"comment_is_node_zero", R"(<r><!-- c --><p n="2"/></r>)", 1, 0, u"2"},
        ValueCase{"whitespace_text_is_not_a_node", "<r>\n\t  <p n=\"3\"/>\n</r>", 0, 0, u"3"},
        ValueCase{"other_text_is_a_node", "<r> x <p n=\"3\"/></r>", 0, 0, u""},
        ValueCase{"cdata_is_a_node", "<r><![CDATA[x]]><p n=\"3\"/></r>", 0, 0, u""},
        ValueCase{"processing_instruction_is_a_node", "<r><?pi a?><p n=\"3\"/></r>", 0, 0, u""},
        ValueCase{"element_without_attributes", "<r><p/></r>", 0, 0, u""},
        ValueCase{"only_attributes_of_the_first_child", R"(<r><p/><q n="1"/></r>)", 0, 0, u""},
        ValueCase{"entities_are_expanded", R"(<r><p v="a&amp;b&#x41;"/></r>)", 0, 0, u"a&bA"},
        ValueCase{"utf8_text", "<r><p v=\"\xE5\xAE\x8B\xF0\x9F\x98\x80\"/></r>", 0, 0,
                  u"\u5B8B\U0001F600"},
        ValueCase{"backslash_paths", R"(<r><p v="\SDMMC\Src"/></r>)", 0, 0, u"\\SDMMC\\Src"},
        ValueCase{"empty_value", R"(<r><p v=""/></r>)", 0, 0, u""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WinceXmlEx, ReadsUtf16FileWithByteOrderMark) {
    TempDeviceRoot dir(RootLayout::Empty);
    std::u16string text = u"\uFEFF<r><p v=\"\u00E9t\u00E9\"/></r>";
    std::string bytes(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    WriteHost(dir.root() / "Path.xml", bytes);
    WinceXmlEx reader(kPathXml);
    ASSERT_EQ(reader.Loaded(), 1);
    EXPECT_EQ(reader.GetValue(0, 0), u"\u00E9t\u00E9");
}

TEST(WinceXml, WalkReportsWhetherAnyNodeAnswered) {
    struct Counter : WinceXml {
        int visits = 0;
        int OnNode(const pugi::xml_node&) override {
            ++visits;
            return visits == 2 ? 1 : 0;
        }
    };
    TempDeviceRoot dir(RootLayout::Empty);
    WriteHost(dir.root() / "Path.xml", "<r><a/><b/><c/></r>");
    Counter walker;
    EXPECT_EQ(walker.Walk(0, 5), 0) << "nothing loaded yet";
    ASSERT_EQ(walker.Load(kPathXml), 1);
    EXPECT_EQ(walker.Walk(0, 1), 0);
    EXPECT_EQ(walker.Walk(1, 5), 1);
    EXPECT_EQ(walker.visits, 3) << "the walk stops at the last child";
}

struct LoadCase {
    const char* name;
    std::string xml;
    std::u16string box; // empty: no message box
};

// Cases are shown by their names in test listings.
void PrintTo(const LoadCase& c, std::ostream* os) {
    *os << c.name;
}

class LoadFailureTest : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadFailureTest, DoesNotLoad) {
    const LoadCase& c = GetParam();
    TempDeviceRoot dir(RootLayout::Empty);
    WriteHost(dir.root() / "Path.xml", c.xml);
    RecordingReporter reporter;
    WinceXmlEx reader(kPathXml, &reporter);
    EXPECT_EQ(reader.Loaded(), 0);
    EXPECT_EQ(reader.GetValue(0, 0), u"");
    if (c.box.empty()) {
        EXPECT_TRUE(reporter.shown.empty());
    } else {
        ASSERT_EQ(reporter.shown.size(), 1u);
        EXPECT_EQ(reporter.shown[0].first, c.box);
        EXPECT_EQ(reporter.shown[0].second, u"Error Loading XML");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Documents, LoadFailureTest,
    ::testing::Values(LoadCase{"unclosed", "<r><p n=\"1\">", u""},
                      LoadCase{"mismatched_tags", "<r><p></r></p>", u""},
                      LoadCase{"two_roots", "<r/><s/>", u""},
                      LoadCase{"text_outside_root", "<r/>tail", u""},
                      LoadCase{"attribute_twice", "<r><p a=\"1\" a=\"2\"/></r>", u""},
                      LoadCase{"unquoted_attribute", "<r><p a=1/></r>", u""},
                      LoadCase{"empty_file", "", u"Empty document!"},
                      LoadCase{"only_whitespace", "  \n", u"Empty document!"},
                      LoadCase{"only_a_comment", "<?xml version=\"1.0\"?><!-- none -->",
                               u"Empty document!"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WinceXml, MissingFileFailsWithoutMessage) {
    TempDeviceRoot dir(RootLayout::Empty);
    RecordingReporter reporter;
    WinceXmlEx reader(kPathXml, &reporter);
    EXPECT_EQ(reader.Loaded(), 0);
    EXPECT_TRUE(reporter.shown.empty());
}

TEST(WinceXml, UnreadableFileShowsCannotLoad) {
    TempDeviceRoot dir(RootLayout::Empty);
    std::filesystem::create_directory(dir.root() / "Path.xml");
    RecordingReporter reporter;
    WinceXmlEx reader(kPathXml, &reporter);
    EXPECT_EQ(reader.Loaded(), 0);
    ASSERT_EQ(reporter.shown.size(), 1u);
    EXPECT_EQ(reporter.shown[0].first, u"Cannot load XML file");
    EXPECT_EQ(reporter.shown[0].second, u"Error Loading XML");
}

} // namespace
} // namespace recovery
