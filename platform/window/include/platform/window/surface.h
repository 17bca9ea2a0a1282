#pragma once
// Drawing surfaces and fonts. A Surface draws on a window: during a paint or
// erase handler straight onto it, outside them into an image that the window
// keeps and shows (so a repaint shows the last drawing). A MemorySurface is an
// off-screen bitmap copied in one piece with BitBlt. Surfaces are used on the
// UI thread only.

#include <platform/window/win_types.h>

#include <memory>
#include <string>
#include <string_view>

class QFont;
class QImage;
class QPaintDevice;
class QPainter;

namespace hh::win {

/// A logical font: height in logical units (positive = cell height, negative =
/// character height), weight (FW_NORMAL 400, FW_BOLD 700) and face.
struct LogFont {
    int height = 0;
    int weight = FW_NORMAL;
    bool italic = false;
    std::u16string face;
};

class Font {
public:
    Font();
    /// CreateFontIndirect.
    explicit Font(const LogFont& logFont);
    /// CreatePointFont: a size in tenths of a point converted with the screen's resolution.
    static Font FromPointSize(int tenthsOfPoint, std::u16string_view face);
    Font(const Font&);
    Font& operator=(const Font&);
    ~Font();

    const LogFont& Log() const { return m_log; }
    /// The Qt font it draws with.
    const QFont& QtFont() const;

private:
    LogFont m_log;
    std::unique_ptr<QFont> m_font;
};

class Surface {
public:
    Surface(Surface&&) noexcept;
    Surface& operator=(Surface&&) = delete;
    Surface(const Surface&) = delete;
    virtual ~Surface();

    /// The drawable area: 0, 0, width, height.
    Rect ClientRect() const;

    void FillRect(const Rect& rect, COLORREF colour);
    void FillRect(const Rect& rect, StockBrush brush);
    COLORREF SetTextColor(COLORREF colour);
    COLORREF SetBkColor(COLORREF colour);
    /// TRANSPARENT or OPAQUE; returns the previous mode.
    int SetBkMode(int mode);
    /// SelectObject for a font; returns the font selected before.
    Font SelectFont(const Font& font);
    /// DrawText with the DT_ flags. DT_VCENTER and DT_BOTTOM place the whole
    /// block of lines, also when it is word-wrapped. DT_CALCRECT only measures,
    /// setting the rectangle's right and bottom. Returns the text's height.
    int DrawText(std::u16string_view text, Rect& rect, std::uint32_t format);
    int DrawText(std::u16string_view text, const Rect& rect, std::uint32_t format);
    /// BitBlt with SRCCOPY: copies w x h pixels from (sx, sy) of source to (x, y).
    bool BitBlt(int x, int y, int w, int h, const Surface& source, int sx, int sy,
                std::uint32_t rop = SRCCOPY);

    /// For the window layer: a surface drawing on device with painter (owned
    /// when painter is null), calling done when it is released.
    struct Target;
    explicit Surface(std::unique_ptr<Target> target);
    QPainter& Painter() const;
    /// The image drawn on, when the surface draws into an image.
    const QImage* Image() const;

private:
    std::unique_ptr<Target> m_target;
};

/// CreateCompatibleDC + CreateCompatibleBitmap: an off-screen bitmap of w x h
/// pixels, black until drawn on.
class MemorySurface : public Surface {
public:
    MemorySurface(int width, int height);
    ~MemorySurface() override;
};

} // namespace hh::win
