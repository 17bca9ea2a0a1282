#pragma once
// The capture files' content: the display text in the ANSI code page followed
// by one zero byte, written to a new file or appended to an existing one.

#include <string_view>

namespace terminal {

enum class CaptureResult { Ok, NoMemory, OpenFailed, WriteFailed };

enum class CaptureMode {
    Create, ///< created, or truncated when it exists
    Append, ///< created when missing, existing content kept
};

/// Writes text + one zero byte. A write that fails part-way (a full disk) is
/// undone, so that the file holds only whole captures and a retry doubles nothing.
CaptureResult WriteCaptureFile(std::u16string_view path, std::u16string_view text,
                               CaptureMode mode);

} // namespace terminal
