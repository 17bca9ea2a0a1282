#include <platform/system/whole_file.h>
#include <recovery/config/path_config.h>

#include <climits>
#include <string>

namespace recovery {

namespace {

// Path.xml has two levels; hand-written ones rarely more than a few.
constexpr int kMaxIndentedDepth = 16;

struct StringWriter : pugi::xml_writer {
    std::string text;
    void write(const void* data, size_t size) override {
        text.append(static_cast<const char*>(data), size);
    }
};

} // namespace

PathConfig::PathConfig(std::u16string cePath, XmlReporter* reporter)
    : m_pReader(std::make_unique<WinceXmlEx>(cePath, reporter)), m_path(std::move(cePath)) {
    if (!m_pReader->Loaded()) {
        throw XmlError(kXmlLoadFailure);
    }
    m_pDocument = m_pReader->Document();
}

PathConfig::~PathConfig() {
    if (m_pDocument) {
        // Written in the file's own encoding; a declaration only when the
        // file had one. Each node is indented by its depth, which for a deep
        // document would make the file grow with the square of its depth:
        // beyond a few levels it is written without indentation.
        unsigned flags = pugi::format_default | pugi::format_no_declaration;
        if (m_pReader->Depth() > kMaxIndentedDepth) {
            flags = pugi::format_raw | pugi::format_no_declaration;
        }
        pugi::xml_encoding encoding = m_pReader->Encoding();
        if (encoding != pugi::encoding_utf8) {
            flags |= pugi::format_write_bom;
        }
        StringWriter writer;
        m_pDocument->save(writer, "\t", flags, encoding);
        hh::sys::ReplaceFileDurably(m_path, writer.text);
    }
}

std::u16string PathConfig::GetValue(int nodeIndex, int attributeIndex) {
    if (!m_pReader) {
        return {};
    }
    return m_pReader->GetValue(nodeIndex, attributeIndex);
}

std::vector<PathPair> ReadPathPairs(PathConfig& config) {
    int32_t count = WToL(config.GetValue(0, 0));
    if (count > kMaxPathPairs) {
        throw XmlError("too many path pairs");
    }
    std::vector<PathPair> pairs;
    for (int32_t i = 0; i < count; ++i) {
        PathPair pair;
        pair.source = config.GetValue(0, 2 * i + 1);
        pair.destination = config.GetValue(0, 2 * i + 2);
        pairs.push_back(std::move(pair));
    }
    return pairs;
}

int32_t WToL(std::u16string_view text) {
    size_t i = 0;
    auto blank = [](char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); };
    while (i < text.size() && blank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > int64_t{INT32_MAX} + 1) {
            value = int64_t{INT32_MAX} + 1;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    return static_cast<int32_t>(value);
}

std::u16string ProgramDirOf(std::u16string_view moduleFileName) {
    size_t slash = moduleFileName.rfind(u'\\');
    if (slash == std::u16string_view::npos) {
        return {};
    }
    return std::u16string(moduleFileName.substr(0, slash + 1));
}

} // namespace recovery
