#pragma once
// Path.xml, the recovery tool's list of directory pairs. The first child node
// of the root element carries, by attribute position and whatever the names,
// the pair count N, then source and destination of each pair:
//
//   <Paths><Path Count="1" Src0="\SDMMC\Restel\Flash" Dst0="\ResidentFlash"/></Paths>
//
// PathConfig loads the file, answers the positional queries and writes the
// document back when it is destroyed. The write replaces the file durably
// (hh::sys::ReplaceFileDurably), so that a power loss leaves either the old or
// the new file, never a truncated one.

#include <recovery/config/wince_xml.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace recovery {

/// The configuration error raised by PathConfig ("Failed to WinceXmlEx!") and
/// by ReadPathPairs for a count no list can hold.
class XmlError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char* kXmlLoadFailure = "Failed to WinceXmlEx!";

class PathConfig {
public:
    /// Loads the file at a CE path; raises XmlError("Failed to WinceXmlEx!") when it does
    /// not load (nothing is written back then).
    explicit PathConfig(std::u16string cePath, XmlReporter* reporter = nullptr);
    /// Writes the document back to its file; a failed write leaves the old
    /// file as it was and is not reported.
    ~PathConfig();
    PathConfig(const PathConfig&) = delete;
    PathConfig& operator=(const PathConfig&) = delete;

    /// The reader's GetValue; empty when there is no reader.
    std::u16string GetValue(int nodeIndex, int attributeIndex);

private:
    std::unique_ptr<WinceXmlEx> m_pReader;
    pugi::xml_document* m_pDocument = nullptr; ///< borrowed from the reader
    std::u16string m_path;
};

/// One configured pair.
struct PathPair {
    std::u16string source;
    std::u16string destination;
    bool operator==(const PathPair&) const = default;
};

/// More pairs than this are refused as an exhausted resource: beyond the
/// listed attributes every further pair repeats the last value, and a count
/// such as 2147483647 would otherwise exhaust memory and time.
inline constexpr int32_t kMaxPathPairs = 4096;

/// The pairs in the order the recovery reads them: N = _wtol of position 0,
/// then positions 2i+1 and 2i+2 for i < N. Raises XmlError when N exceeds
/// kMaxPathPairs.
std::vector<PathPair> ReadPathPairs(PathConfig& config);

/// _wtol: leading blanks, an optional sign, decimal digits; 0 when the text
/// does not start with a number; clamped to the 32-bit range.
int32_t WToL(std::u16string_view text);

/// The directory of a module file name with its trailing backslash (the name
/// cut just after its last "\"); empty when the name has no backslash.
std::u16string ProgramDirOf(std::u16string_view moduleFileName);

} // namespace recovery
