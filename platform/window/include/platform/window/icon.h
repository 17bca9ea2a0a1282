#pragma once
// Icons: the images of one of the program's icon resources, and a window's
// large and small icon (WM_SETICON), which the desktop shows for the window.
//
// A program carries its icon resource N as PNG images of one picture at
// several sizes, compiled in as Qt resources under ":/icons/N/" (the build's
// hh_program_icon renders them from the program's SVG).

#include <vector>

namespace hh::win {

/// One icon resource: the picture at every size the program carries.
struct IconResource;
/// An icon handle, as LoadIcon hands it out; shared and kept for the life of
/// the program (a resource icon is never destroyed).
using HICON = const IconResource*;

/// WM_SETICON's kinds.
inline constexpr int ICON_SMALL = 0;
inline constexpr int ICON_BIG = 1;

/// LoadIconW on the program's own resources: icon resource `id`, or null
/// when the program carries none of that number. The same handle every time.
HICON LoadIcon(int id);

/// The pixel sizes the icon holds, smallest first (none for null).
std::vector<int> IconSizes(HICON icon);

} // namespace hh::win
