#pragma once
// The thin XML layer the recovery tool reads Path.xml through. It follows the
// device's XML document object with its default settings: whitespace-only
// text between elements is not a node, comments, processing instructions,
// CDATA sections and other text are; only the first element of the document is
// its root, and a document that is not well formed does not load.
//
// Nothing here needs a thread-wide setup as the device's COM-based document
// object did, so the reader has no counterpart of its initialise and
// uninitialise steps.

#include <cstddef>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <string_view>

namespace recovery {

/// Limits of a document that loads; a real Path.xml holds a few pairs two
/// levels deep. Beyond them the file does not load and "Cannot load XML
/// file" is shown, as for a document that exhausts the parser.
/// The largest file read.
inline constexpr std::size_t kMaxPathXmlBytes = 1 << 20;
/// The deepest nesting of nodes (the root element is at depth 1).
inline constexpr int kMaxPathXmlDepth = 256;
/// The longest name, value or text, in bytes of UTF-8.
inline constexpr std::size_t kMaxPathXmlText = 32768;

/// Where the reader's message boxes go (no owner, error icon). The program
/// shows them with the platform's message box; tests record them.
class XmlReporter {
public:
    virtual ~XmlReporter() = default;
    virtual void ShowError(std::u16string_view text, std::u16string_view caption) = 0;
};

/// The document: loads a file and visits the child nodes of its root element.
class WinceXml {
public:
    /// reporter may be null: then nothing is shown.
    explicit WinceXml(XmlReporter* reporter = nullptr);
    virtual ~WinceXml();
    WinceXml(const WinceXml&) = delete;
    WinceXml& operator=(const WinceXml&) = delete;

    /// Loads the file at a CE path; 1 when it is well formed and has a root
    /// element. A file larger than kMaxPathXmlBytes is not read.
    /// A missing or malformed file gives 0 silently; a file that exists but
    /// cannot be read shows "Cannot load XML file", a document without an
    /// element shows "Empty document!" (both captioned "Error Loading XML").
    int Load(std::u16string_view cePath);
    /// Visits up to count child nodes of the root from index first, calling
    /// OnNode on each; 1 when any call returned 1, 0 without a loaded document.
    int Walk(int first, int count);
    /// Called for each visited node.
    virtual int OnNode(const pugi::xml_node& node);

    /// The loaded document (null before a successful Load).
    pugi::xml_document* Document() const { return m_pDocument.get(); }
    /// The depth of the deepest node (0 before a successful Load).
    int Depth() const { return m_nDepth; }
    /// The encoding the file was read in, kept for writing it back.
    pugi::xml_encoding Encoding() const { return m_encoding; }

protected:
    XmlReporter* m_pReporter;
    std::unique_ptr<pugi::xml_document> m_pDocument;
    pugi::xml_node m_root; ///< null until a successful Load
    pugi::xml_encoding m_encoding = pugi::encoding_utf8;
    int m_nDepth = 0;
};

/// The attribute reader: reads one attribute of one child node by position.
class WinceXmlEx : public WinceXml {
public:
    /// Loads the file at once; Loaded() tells the outcome.
    WinceXmlEx(std::u16string_view cePath, XmlReporter* reporter = nullptr);

    int Loaded() const { return m_bLoaded; }
    /// The value of attribute attributeIndex of child node nodeIndex of the
    /// root. A position at or beyond the node's attributes gives the last
    /// attribute's value; a node without attributes, or a node index beyond
    /// the children, gives an empty string.
    std::u16string GetValue(int nodeIndex, int attributeIndex);
    int OnNode(const pugi::xml_node& node) override;

private:
    int m_bLoaded = 0;
    std::u16string m_strResult;
    int m_nAttributeIndex = 0;
};

} // namespace recovery
