#pragma once
// The capture files' content: the display text in the ANSI code page followed
// by one zero byte, written to a new file or appended to an existing one.

#include <cstdint>
#include <string_view>

namespace terminal {

enum class CaptureResult { Ok, NoMemory, OpenFailed, WriteFailed };

enum class CaptureMode {
    Create, ///< created, or replaced when it exists
    Append, ///< created when missing, existing content kept
};

/// Writes text + one zero byte, on the disk before it returns Ok. A file is
/// never left empty or holding part of a capture: a new file is written under
/// a temporary name and named only when complete, and an append that fails
/// part-way (a full disk) is cut back, so that the file holds only whole
/// captures and a retry doubles nothing. On failure the platform's last
/// error tells why (ERROR_DISK_FULL for a full disk).
CaptureResult WriteCaptureFile(std::u16string_view path, std::u16string_view text,
                               CaptureMode mode);

} // namespace terminal
