#pragma once
// The edit control's selection rules and its text positions. The edit keeps
// line breaks as CR LF and counts both characters, as the window system does;
// the widget that shows the text keeps one break character. No Qt here.

#include <cstddef>
#include <string>
#include <string_view>

namespace hh::win {

/// A selection as the control stores it: anchor and caret (the caret may lie before the anchor).
struct EditSelection {
    std::size_t anchor = 0;
    std::size_t caret = 0;

    std::size_t Start() const { return anchor < caret ? anchor : caret; }
    std::size_t End() const { return anchor < caret ? caret : anchor; }
    friend bool operator==(const EditSelection&, const EditSelection&) = default;
};

/// EM_SETSEL: start -1 removes the selection and keeps the caret where it was;
/// end -1 selects to the end of the text; positions past the end clamp to the end.
EditSelection ApplySetSel(long start, long end, std::size_t textLength, EditSelection current);

/// The position in a text with single break characters ("\n") that stands for
/// position `pos` of the same text with CR LF breaks (a position between CR and
/// LF maps to the break itself).
std::size_t CrLfToDisplayPos(std::u16string_view crlfText, std::size_t pos);

/// The inverse of CrLfToDisplayPos.
std::size_t DisplayToCrLfPos(std::u16string_view crlfText, std::size_t displayPos);

/// The text with every CR LF (and lone CR) as "\n", for display.
std::u16string CrLfToDisplay(std::u16string_view crlfText);

/// The text with every "\n" as CR LF.
std::u16string DisplayToCrLf(std::u16string_view displayText);

/// GetDlgItemInt: leading blanks, an optional minus sign when signed, decimal
/// digits, optional trailing blanks; anything else, or a value out of range,
/// fails and gives 0.
long ParseDlgItemInt(std::u16string_view text, bool isSigned, bool* translated);

/// SetDlgItemInt: the value as decimal text, signed or unsigned.
std::u16string FormatDlgItemInt(long value, bool isSigned);

} // namespace hh::win
