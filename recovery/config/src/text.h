#pragma once
// UTF-8 (pugixml's text) to UTF-16 (the device's strings).

#include <string>
#include <string_view>

namespace recovery {

/// UTF-8 to UTF-16; invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

} // namespace recovery
