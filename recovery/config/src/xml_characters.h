#pragma once
// The characters a document may hold. The device's parser rejects a document
// as not well formed when its bytes are no characters of its encoding, or when
// it holds a character XML does not allow, written out or as a numeric
// reference; pugixml would let such text through (a reference to U+0000 would
// even cut a value short), so the reader checks for it.

#include <pugixml.hpp>
#include <string_view>

namespace recovery {

/// Whether bytes, read in encoding (as pugixml detected it), are characters
/// of that encoding that XML allows.
bool HoldsOnlyXmlCharacters(std::string_view bytes, pugi::xml_encoding encoding);

/// Whether every numeric character reference ("&#...;", "&#x...;") in text,
/// an attribute value or character data as written, names a character XML
/// allows.
bool ReferencesOnlyXmlCharacters(std::string_view text);

} // namespace recovery
