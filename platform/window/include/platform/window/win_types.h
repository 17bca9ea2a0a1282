#pragma once
// The window system's value types and constants as the dialog programs use
// them: rectangles, colours, message parameters and the numeric values of
// styles, messages, notifications, commands and metrics. No Qt here, so that
// layout and drawing arithmetic can be written and tested without a window.

#include <cstdint>

namespace hh::win {

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using COLORREF = std::uint32_t;

/// A rectangle by its edges; right and bottom lie just outside it.
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    constexpr int Width() const { return right - left; }
    constexpr int Height() const { return bottom - top; }
    friend constexpr bool operator==(const Rect&, const Rect&) = default;
};

struct Point {
    int x = 0;
    int y = 0;
    friend constexpr bool operator==(const Point&, const Point&) = default;
};

constexpr COLORREF RGB(int r, int g, int b) {
    return static_cast<COLORREF>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int GetRValue(COLORREF c) {
    return static_cast<int>(c & 0xFF);
}
constexpr int GetGValue(COLORREF c) {
    return static_cast<int>((c >> 8) & 0xFF);
}
constexpr int GetBValue(COLORREF c) {
    return static_cast<int>((c >> 16) & 0xFF);
}

/// Windows rounding multiply-divide: a * b / c rounded half away from zero; -1 when c is 0.
constexpr int MulDiv(int a, int b, int c) {
    if (c == 0) {
        return -1;
    }
    const long long p = static_cast<long long>(a) * b;
    const bool negative = (p < 0) != (c < 0);
    const long long ap = p < 0 ? -p : p;
    const long long ac = c < 0 ? -static_cast<long long>(c) : c;
    const long long q = (ap + ac / 2) / ac;
    return static_cast<int>(negative ? -q : q);
}

constexpr std::uint16_t LOWORD(std::uintptr_t v) {
    return static_cast<std::uint16_t>(v & 0xFFFF);
}
constexpr std::uint16_t HIWORD(std::uintptr_t v) {
    return static_cast<std::uint16_t>((v >> 16) & 0xFFFF);
}
constexpr LPARAM MAKELPARAM(int low, int high) {
    return static_cast<LPARAM>(
        static_cast<std::uint32_t>((low & 0xFFFF) | ((high & 0xFFFF) << 16)));
}

// Window styles.
inline constexpr std::uint32_t WS_OVERLAPPED = 0x00000000;
inline constexpr std::uint32_t WS_POPUP = 0x80000000;
inline constexpr std::uint32_t WS_CHILD = 0x40000000;
inline constexpr std::uint32_t WS_VISIBLE = 0x10000000;
inline constexpr std::uint32_t WS_DISABLED = 0x08000000;
inline constexpr std::uint32_t WS_CLIPSIBLINGS = 0x04000000;
inline constexpr std::uint32_t WS_CLIPCHILDREN = 0x02000000;
inline constexpr std::uint32_t WS_CAPTION = 0x00C00000;
inline constexpr std::uint32_t WS_BORDER = 0x00800000;
inline constexpr std::uint32_t WS_DLGFRAME = 0x00400000;
inline constexpr std::uint32_t WS_VSCROLL = 0x00200000;
inline constexpr std::uint32_t WS_HSCROLL = 0x00100000;
inline constexpr std::uint32_t WS_SYSMENU = 0x00080000;
inline constexpr std::uint32_t WS_GROUP = 0x00020000;
inline constexpr std::uint32_t WS_TABSTOP = 0x00010000;
inline constexpr std::uint32_t WS_EX_DLGMODALFRAME = 0x00000001;
inline constexpr std::uint32_t WS_EX_TOPMOST = 0x00000008;
inline constexpr std::uint32_t WS_EX_CLIENTEDGE = 0x00000200;
inline constexpr std::uint32_t WS_EX_APPWINDOW = 0x00040000;
inline constexpr std::uint32_t WS_EX_CAPTIONOKBTN = 0x80000000;

// Dialog styles.
inline constexpr std::uint32_t DS_SETFONT = 0x40;
inline constexpr std::uint32_t DS_MODALFRAME = 0x80;
inline constexpr std::uint32_t DS_CONTROL = 0x400;
inline constexpr std::uint32_t DS_CENTER = 0x800;

// Button styles (the low four bits select the kind).
inline constexpr std::uint32_t BS_PUSHBUTTON = 0x0;
inline constexpr std::uint32_t BS_DEFPUSHBUTTON = 0x1;
inline constexpr std::uint32_t BS_CHECKBOX = 0x2;
inline constexpr std::uint32_t BS_AUTOCHECKBOX = 0x3;
inline constexpr std::uint32_t BS_RADIOBUTTON = 0x4;
inline constexpr std::uint32_t BS_3STATE = 0x5;
inline constexpr std::uint32_t BS_AUTO3STATE = 0x6;
inline constexpr std::uint32_t BS_GROUPBOX = 0x7;
inline constexpr std::uint32_t BS_AUTORADIOBUTTON = 0x9;
inline constexpr std::uint32_t BS_TYPEMASK = 0xF;
inline constexpr std::uint32_t BS_LEFTTEXT = 0x20;
inline constexpr std::uint32_t BS_MULTILINE = 0x2000;
inline constexpr int BST_UNCHECKED = 0;
inline constexpr int BST_CHECKED = 1;
inline constexpr int BST_INDETERMINATE = 2;

// Edit styles.
inline constexpr std::uint32_t ES_LEFT = 0x0;
inline constexpr std::uint32_t ES_CENTER = 0x1;
inline constexpr std::uint32_t ES_RIGHT = 0x2;
inline constexpr std::uint32_t ES_MULTILINE = 0x4;
inline constexpr std::uint32_t ES_PASSWORD = 0x20;
inline constexpr std::uint32_t ES_AUTOVSCROLL = 0x40;
inline constexpr std::uint32_t ES_AUTOHSCROLL = 0x80;
inline constexpr std::uint32_t ES_NOHIDESEL = 0x100;
inline constexpr std::uint32_t ES_READONLY = 0x800;
inline constexpr std::uint32_t ES_WANTRETURN = 0x1000;
inline constexpr std::uint32_t ES_NUMBER = 0x2000;

// Combo box styles.
inline constexpr std::uint32_t CBS_SIMPLE = 0x1;
inline constexpr std::uint32_t CBS_DROPDOWN = 0x2;
inline constexpr std::uint32_t CBS_DROPDOWNLIST = 0x3;
inline constexpr std::uint32_t CBS_AUTOHSCROLL = 0x40;
inline constexpr std::uint32_t CBS_SORT = 0x100;
inline constexpr int CB_ERR = -1;

// Static styles.
inline constexpr std::uint32_t SS_LEFT = 0x0;
inline constexpr std::uint32_t SS_CENTER = 0x1;
inline constexpr std::uint32_t SS_RIGHT = 0x2;
inline constexpr std::uint32_t SS_TYPEMASK = 0x1F;
inline constexpr std::uint32_t SS_LEFTNOWORDWRAP = 0xC;
inline constexpr std::uint32_t SS_NOPREFIX = 0x80;
inline constexpr std::uint32_t SS_NOTIFY = 0x100;
inline constexpr std::uint32_t SS_CENTERIMAGE = 0x200;
inline constexpr std::uint32_t SS_SUNKEN = 0x1000;

// Trackbar, tab and progress styles.
inline constexpr std::uint32_t TBS_HORZ = 0x0;
inline constexpr std::uint32_t TBS_VERT = 0x2;
inline constexpr std::uint32_t TBS_NOTICKS = 0x10;
inline constexpr std::uint32_t TCS_BOTTOM = 0x2;
inline constexpr std::uint32_t PBS_VERTICAL = 0x4;

// Window classes of the common controls.
inline constexpr char16_t WC_BUTTON[] = u"BUTTON";
inline constexpr char16_t WC_EDIT[] = u"EDIT";
inline constexpr char16_t WC_STATIC[] = u"STATIC";
inline constexpr char16_t WC_COMBOBOX[] = u"COMBOBOX";
inline constexpr char16_t WC_TABCONTROL[] = u"SysTabControl32";
inline constexpr char16_t TRACKBAR_CLASS[] = u"msctls_trackbar32";
inline constexpr char16_t PROGRESS_CLASS[] = u"msctls_progress32";

// Messages.
inline constexpr std::uint32_t WM_KEYDOWN = 0x0100;
inline constexpr std::uint32_t WM_KEYUP = 0x0101;
inline constexpr std::uint32_t WM_CHAR = 0x0102;
inline constexpr std::uint32_t WM_COMMAND = 0x0111;
inline constexpr std::uint32_t WM_TIMER = 0x0113;
inline constexpr std::uint32_t WM_NOTIFY = 0x004E;
inline constexpr std::uint32_t WM_USER = 0x0400;

// Command ids and notification codes.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;
inline constexpr int BN_CLICKED = 0;
inline constexpr int CBN_SELCHANGE = 1;
inline constexpr int CBN_EDITCHANGE = 5;
inline constexpr int EN_CHANGE = 0x0300;
inline constexpr int NM_CUSTOMDRAW = -12;
inline constexpr int TCN_SELCHANGE = -551;

// Custom-draw stages and answers.
inline constexpr std::uint32_t CDDS_PREPAINT = 0x1;
inline constexpr std::uint32_t CDDS_POSTPAINT = 0x2;
inline constexpr std::uint32_t CDDS_ITEM = 0x10000;
inline constexpr std::uint32_t CDDS_ITEMPREPAINT = CDDS_ITEM | CDDS_PREPAINT;
inline constexpr std::uint32_t CDDS_ITEMPOSTPAINT = CDDS_ITEM | CDDS_POSTPAINT;
inline constexpr LRESULT CDRF_DODEFAULT = 0x0;
inline constexpr LRESULT CDRF_SKIPDEFAULT = 0x4;
inline constexpr LRESULT CDRF_NOTIFYPOSTPAINT = 0x10;
inline constexpr LRESULT CDRF_NOTIFYITEMDRAW = 0x20;
inline constexpr std::uintptr_t TBCD_TICS = 1;
inline constexpr std::uintptr_t TBCD_THUMB = 2;
inline constexpr std::uintptr_t TBCD_CHANNEL = 3;

// ShowWindow commands.
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_SHOWNOACTIVATE = 4;
inline constexpr int SW_SHOW = 5;
inline constexpr int SW_MINIMIZE = 6;
inline constexpr int SW_SHOWNA = 8;

// Message box styles and answers.
inline constexpr std::uint32_t MB_OK = 0x0;
inline constexpr std::uint32_t MB_OKCANCEL = 0x1;
inline constexpr std::uint32_t MB_ABORTRETRYIGNORE = 0x2;
inline constexpr std::uint32_t MB_YESNOCANCEL = 0x3;
inline constexpr std::uint32_t MB_YESNO = 0x4;
inline constexpr std::uint32_t MB_RETRYCANCEL = 0x5;
inline constexpr std::uint32_t MB_TYPEMASK = 0xF;
inline constexpr std::uint32_t MB_ICONHAND = 0x10;
inline constexpr std::uint32_t MB_ICONERROR = 0x10;
inline constexpr std::uint32_t MB_ICONSTOP = 0x10;
inline constexpr std::uint32_t MB_ICONQUESTION = 0x20;
inline constexpr std::uint32_t MB_ICONEXCLAMATION = 0x30;
inline constexpr std::uint32_t MB_ICONWARNING = 0x30;
inline constexpr std::uint32_t MB_ICONASTERISK = 0x40;
inline constexpr std::uint32_t MB_ICONINFORMATION = 0x40;
inline constexpr std::uint32_t MB_ICONMASK = 0xF0;
inline constexpr std::uint32_t MB_DEFBUTTON2 = 0x100;
inline constexpr std::uint32_t MB_DEFBUTTON3 = 0x200;
inline constexpr std::uint32_t MB_DEFMASK = 0xF00;
inline constexpr std::uint32_t MB_APPLMODAL = 0x0;
inline constexpr std::uint32_t MB_SYSTEMMODAL = 0x1000;
inline constexpr std::uint32_t MB_SETFOREGROUND = 0x10000;
inline constexpr std::uint32_t MB_TOPMOST = 0x40000;

// Metrics and system parameters.
inline constexpr int SM_CXSCREEN = 0;
inline constexpr int SM_CYSCREEN = 1;
inline constexpr int SM_CYCAPTION = 4;
inline constexpr std::uint32_t SPI_SETWORKAREA = 47;
inline constexpr std::uint32_t SPI_GETWORKAREA = 48;
inline constexpr std::uint32_t SPIF_UPDATEINIFILE = 0x1;
inline constexpr std::uint32_t SPIF_SENDCHANGE = 0x2;

// Software input panel.
inline constexpr std::uint32_t SIPF_OFF = 0x0;
inline constexpr std::uint32_t SIPF_ON = 0x1;

// Display orientation.
inline constexpr std::uint32_t DM_DISPLAYORIENTATION = 0x00800000;
inline constexpr std::uint32_t DM_DISPLAYQUERYORIENTATION = 0x01000000;
inline constexpr std::uint32_t DMDO_0 = 0;
inline constexpr std::uint32_t DMDO_90 = 1;
inline constexpr std::uint32_t DMDO_180 = 2;
inline constexpr std::uint32_t DMDO_270 = 4;
inline constexpr std::uint32_t CDS_TEST = 0x2;
inline constexpr std::uint32_t CDS_RESET = 0x40000000;
inline constexpr long DISP_CHANGE_SUCCESSFUL = 0;
inline constexpr long DISP_CHANGE_FAILED = -1;
inline constexpr long DISP_CHANGE_BADMODE = -2;
inline constexpr long DISP_CHANGE_BADFLAGS = -4;
inline constexpr long DISP_CHANGE_BADPARAM = -5;

// Drawing.
inline constexpr std::uint32_t DT_TOP = 0x0;
inline constexpr std::uint32_t DT_LEFT = 0x0;
inline constexpr std::uint32_t DT_CENTER = 0x1;
inline constexpr std::uint32_t DT_RIGHT = 0x2;
inline constexpr std::uint32_t DT_VCENTER = 0x4;
inline constexpr std::uint32_t DT_BOTTOM = 0x8;
inline constexpr std::uint32_t DT_WORDBREAK = 0x10;
inline constexpr std::uint32_t DT_SINGLELINE = 0x20;
inline constexpr std::uint32_t DT_EXPANDTABS = 0x40;
inline constexpr std::uint32_t DT_NOCLIP = 0x100;
inline constexpr std::uint32_t DT_CALCRECT = 0x400;
inline constexpr std::uint32_t DT_NOPREFIX = 0x800;
inline constexpr int TRANSPARENT = 1;
inline constexpr int OPAQUE = 2;
inline constexpr std::uint32_t SRCCOPY = 0x00CC0020;
inline constexpr int FW_NORMAL = 400;
inline constexpr int FW_BOLD = 700;

/// Stock brushes (GetStockObject).
enum class StockBrush { White = 0, LightGray = 1, Gray = 2, DarkGray = 3, Black = 4, Null = 5 };

// Virtual keys; the device's four hardware keys arrive as 0xC1 to 0xC4.
inline constexpr int VK_BACK = 0x08;
inline constexpr int VK_TAB = 0x09;
inline constexpr int VK_RETURN = 0x0D;
inline constexpr int VK_SHIFT = 0x10;
inline constexpr int VK_CONTROL = 0x11;
inline constexpr int VK_ESCAPE = 0x1B;
inline constexpr int VK_SPACE = 0x20;
inline constexpr int VK_LEFT = 0x25;
inline constexpr int VK_UP = 0x26;
inline constexpr int VK_RIGHT = 0x27;
inline constexpr int VK_DOWN = 0x28;
inline constexpr int VK_DELETE = 0x2E;
inline constexpr int VK_F1 = 0x70;
inline constexpr int VK_HARDWARE_FIRST = 0xC1;
inline constexpr int VK_HARDWARE_LAST = 0xC4;

} // namespace hh::win
