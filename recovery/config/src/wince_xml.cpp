#include "text.h"
#include "xml_characters.h"

#include <platform/system/error.h>
#include <platform/system/whole_file.h>
#include <recovery/config/wince_xml.h>

#include <algorithm>
#include <set>
#include <string>
#include <string_view>

namespace recovery {

namespace {

constexpr std::u16string_view kLoadCaption = u"Error Loading XML";

// The device's document object drops whitespace-only text (it does not keep
// white space by default) and keeps comments, processing instructions, CDATA
// and the declaration, which is written back on save.
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_comments | pugi::parse_pi |
                                   pugi::parse_declaration | pugi::parse_doctype;

enum class ReadResult { Ok, Missing, Failed };

ReadResult ReadWholeFile(std::u16string_view cePath, std::string& bytes) {
    std::optional<std::string> read = hh::sys::ReadWholeFile(cePath, kMaxPathXmlBytes);
    if (!read) {
        const uint32_t error = hh::sys::GetLastError();
        return error == hh::sys::ERROR_FILE_NOT_FOUND || error == hh::sys::ERROR_PATH_NOT_FOUND
                   ? ReadResult::Missing
                   : ReadResult::Failed;
    }
    bytes = std::move(*read);
    return ReadResult::Ok;
}

// Whether test holds for every node below document, in document order; stops
// at the first that fails.
template <typename Test>
bool EveryNode(const pugi::xml_document& document, Test test) {
    for (pugi::xml_node node = document.first_child(); node;) {
        if (!test(node)) {
            return false;
        }
        if (node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node && !node.next_sibling()) {
            node = node.parent();
        }
        if (node) {
            node = node.next_sibling();
        }
    }
    return true;
}

// pugixml accepts a few things the device's parser rejects as not well formed:
// several top-level elements, text outside the root element and an attribute
// name given twice.
bool IsWellFormed(const pugi::xml_document& document, const std::string& bytes) {
    int elements = 0;
    for (pugi::xml_node child : document.children()) {
        if (child.type() == pugi::node_element) {
            ++elements;
        }
    }
    if (elements != 1) {
        return false;
    }
    const bool distinctNames = EveryNode(document, [](pugi::xml_node node) {
        std::set<std::string_view> names;
        for (pugi::xml_attribute attribute : node.attributes()) {
            if (!names.insert(attribute.name()).second) {
                return false;
            }
        }
        return true;
    });
    if (!distinctNames) {
        return false;
    }
    // Text at the top level only shows when the buffer is read as a fragment.
    pugi::xml_document fragment;
    fragment.load_buffer(bytes.data(), bytes.size(), kParseOptions | pugi::parse_fragment);
    for (pugi::xml_node child : fragment.children()) {
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
            return false;
        }
    }
    return true;
}

// Whether the numeric references in the attribute values and character data
// name characters XML allows: read from the text as written, parsed once more
// without resolving references.
bool ReferencesAreCharacters(const std::string& bytes) {
    pugi::xml_document written;
    written.load_buffer(bytes.data(), bytes.size(), kParseOptions & ~pugi::parse_escapes);
    return EveryNode(written, [](pugi::xml_node node) {
        if (node.type() == pugi::node_pcdata && !ReferencesOnlyXmlCharacters(node.value())) {
            return false;
        }
        for (pugi::xml_attribute attribute : node.attributes()) {
            if (!ReferencesOnlyXmlCharacters(attribute.value())) {
                return false;
            }
        }
        return true;
    });
}

// The depth of the deepest node below the document (the root element is at
// 1), or -1 when a name or value is longer than kMaxPathXmlText.
int DepthWithinLimits(const pugi::xml_document& document) {
    int depth = 0;
    int deepest = 0;
    auto tooLong = [](const char* text) {
        return std::char_traits<char>::length(text) > kMaxPathXmlText;
    };
    for (pugi::xml_node node = document.first_child(); node;) {
        if (tooLong(node.name()) || tooLong(node.value())) {
            return -1;
        }
        for (pugi::xml_attribute attribute : node.attributes()) {
            if (tooLong(attribute.name()) || tooLong(attribute.value())) {
                return -1;
            }
        }
        deepest = std::max(deepest, depth + 1);
        if (node.first_child()) {
            node = node.first_child();
            ++depth;
            continue;
        }
        while (node && !node.next_sibling()) {
            node = node.parent();
            --depth;
        }
        if (node) {
            node = node.next_sibling();
        }
    }
    return deepest;
}

} // namespace

WinceXml::WinceXml(XmlReporter* reporter) : m_pReporter(reporter) {}

WinceXml::~WinceXml() = default;

int WinceXml::Load(std::u16string_view cePath) {
    m_root = pugi::xml_node();
    m_pDocument.reset();
    std::unique_ptr<pugi::xml_document> document(new (std::nothrow) pugi::xml_document);
    if (!document) {
        return 0;
    }
    std::string bytes;
    switch (ReadWholeFile(cePath, bytes)) {
    case ReadResult::Missing:
        return 0;
    case ReadResult::Failed:
        if (m_pReporter) {
            m_pReporter->ShowError(u"Cannot load XML file", kLoadCaption);
        }
        return 0;
    case ReadResult::Ok:
        break;
    }
    pugi::xml_parse_result result =
        document->load_buffer(bytes.data(), bytes.size(), kParseOptions, pugi::encoding_auto);
    if (result.status == pugi::status_out_of_memory ||
        result.status == pugi::status_internal_error) {
        if (m_pReporter) {
            m_pReporter->ShowError(u"Cannot load XML file", kLoadCaption);
        }
        return 0;
    }
    if (!HoldsOnlyXmlCharacters(bytes, result.encoding)) {
        return 0;
    }
    if (result.status == pugi::status_no_document_element) {
        if (m_pReporter) {
            m_pReporter->ShowError(u"Empty document!", kLoadCaption);
        }
        return 0;
    }
    if (!result || !IsWellFormed(*document, bytes) || !ReferencesAreCharacters(bytes)) {
        return 0;
    }
    const int depth = DepthWithinLimits(*document);
    if (depth < 0 || depth > kMaxPathXmlDepth) {
        if (m_pReporter) {
            m_pReporter->ShowError(u"Cannot load XML file", kLoadCaption);
        }
        return 0;
    }
    m_nDepth = depth;
    m_encoding = result.encoding;
    m_root = document->document_element();
    m_pDocument = std::move(document);
    return 1;
}

int WinceXml::Walk(int first, int count) {
    if (!m_root || first < 0) {
        return 0;
    }
    int found = 0;
    int index = 0;
    for (pugi::xml_node node = m_root.first_child(); node && count > 0;
         node = node.next_sibling(), ++index) {
        if (index < first) {
            continue;
        }
        if (OnNode(node) == 1) {
            found = 1;
        }
        --count;
    }
    return found;
}

int WinceXml::OnNode(const pugi::xml_node&) {
    return 0;
}

WinceXmlEx::WinceXmlEx(std::u16string_view cePath, XmlReporter* reporter) : WinceXml(reporter) {
    m_bLoaded = Load(cePath);
}

std::u16string WinceXmlEx::GetValue(int nodeIndex, int attributeIndex) {
    m_strResult.clear();
    m_nAttributeIndex = attributeIndex;
    Walk(nodeIndex, 1);
    return m_strResult;
}

int WinceXmlEx::OnNode(const pugi::xml_node& node) {
    int n = 0;
    for (pugi::xml_attribute attribute = node.first_attribute(); attribute;
         attribute = attribute.next_attribute()) {
        ++n;
    }
    if (n == 0) {
        return 1;
    }
    // Positions past the end read the last attribute.
    int i = m_nAttributeIndex;
    if (i >= n) {
        i = n - 1;
    }
    if (i < 0) {
        i = 0;
    }
    pugi::xml_attribute attribute = node.first_attribute();
    for (int k = 0; k < i; ++k) {
        attribute = attribute.next_attribute();
    }
    m_strResult = Utf8ToUtf16(attribute.value());
    return 1;
}

} // namespace recovery
