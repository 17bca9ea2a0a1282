#include "internal.h"

#include <platform/window/dialog_template.h>
#include <platform/window/surface.h>

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <cstdlib>
#include <functional>

namespace hh::win {

namespace {

/// Qt font for a logical font: a negative height is the character height
/// (the em size); a positive height is the cell height, ascent plus descent.
QFont MakeQtFont(const LogFont& log) {
    QFont font(detail::ToQt(MapFontFace(log.face)));
    font.setWeight(log.weight >= FW_BOLD                      ? QFont::Bold
                   : log.weight > 0 && log.weight < FW_NORMAL ? QFont::Light
                                                              : QFont::Normal);
    font.setItalic(log.italic);
    if (log.height < 0) {
        font.setPixelSize(-log.height);
    } else if (log.height > 0) {
        constexpr int kReference = 100;
        font.setPixelSize(kReference);
        const int cell = QFontMetrics(font).height();
        font.setPixelSize(std::max(1, cell > 0 ? log.height * kReference / cell : log.height));
    } else {
        font.setPixelSize(PointSizeToPixels(8));
    }
    return font;
}

QColor ToColor(COLORREF c) {
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

QColor StockColour(StockBrush brush) {
    switch (brush) {
    case StockBrush::White:
        return QColor(255, 255, 255);
    case StockBrush::LightGray:
        return QColor(192, 192, 192);
    case StockBrush::Gray:
        return QColor(128, 128, 128);
    case StockBrush::DarkGray:
        return QColor(64, 64, 64);
    case StockBrush::Black:
        return QColor(0, 0, 0);
    case StockBrush::Null:
        break;
    }
    return QColor(Qt::transparent);
}

} // namespace

Font::Font() : Font(LogFont{-PointSizeToPixels(8), FW_NORMAL, false, u"MS Shell Dlg"}) {}

Font::Font(const LogFont& logFont)
    : m_log(logFont), m_font(std::make_unique<QFont>(MakeQtFont(logFont))) {}

Font Font::FromPointSize(int tenthsOfPoint, std::u16string_view face) {
    return Font(
        LogFont{-MulDiv(tenthsOfPoint, kScreenDpi, 720), FW_NORMAL, false, std::u16string(face)});
}

Font::Font(const Font& other)
    : m_log(other.m_log), m_font(std::make_unique<QFont>(*other.m_font)) {}

Font& Font::operator=(const Font& other) {
    m_log = other.m_log;
    *m_font = *other.m_font;
    return *this;
}

Font::~Font() = default;

const QFont& Font::QtFont() const {
    return *m_font;
}

struct Surface::Target {
    QPainter* painter = nullptr;
    std::unique_ptr<QPainter> ownPainter;
    std::unique_ptr<QImage> ownImage;
    QImage* image = nullptr;
    QSize size;
    std::function<void()> done;
    COLORREF textColour = RGB(0, 0, 0);
    COLORREF backColour = RGB(255, 255, 255);
    int backMode = OPAQUE;
    Font font;
};

Surface::Surface(std::unique_ptr<Target> target) : m_target(std::move(target)) {
    m_target->painter->setFont(m_target->font.QtFont());
}

Surface::Surface(Surface&& other) noexcept = default;

Surface::~Surface() {
    if (!m_target) {
        return;
    }
    if (m_target->ownPainter) {
        m_target->ownPainter->end();
    }
    if (m_target->done) {
        m_target->done();
    }
}

QPainter& Surface::Painter() const {
    return *m_target->painter;
}

const QImage* Surface::Image() const {
    return m_target->image;
}

Rect Surface::ClientRect() const {
    return Rect{0, 0, m_target->size.width(), m_target->size.height()};
}

void Surface::FillRect(const Rect& rect, COLORREF colour) {
    m_target->painter->fillRect(QRect(rect.left, rect.top, rect.Width(), rect.Height()),
                                ToColor(colour));
}

void Surface::FillRect(const Rect& rect, StockBrush brush) {
    if (brush == StockBrush::Null) {
        return;
    }
    m_target->painter->fillRect(QRect(rect.left, rect.top, rect.Width(), rect.Height()),
                                StockColour(brush));
}

COLORREF Surface::SetTextColor(COLORREF colour) {
    return std::exchange(m_target->textColour, colour);
}

COLORREF Surface::SetBkColor(COLORREF colour) {
    return std::exchange(m_target->backColour, colour);
}

int Surface::SetBkMode(int mode) {
    if (mode != TRANSPARENT && mode != OPAQUE) {
        return 0;
    }
    return std::exchange(m_target->backMode, mode);
}

Font Surface::SelectFont(const Font& font) {
    Font previous = m_target->font;
    m_target->font = font;
    m_target->painter->setFont(font.QtFont());
    return previous;
}

int Surface::DrawText(std::u16string_view text, const Rect& rect, std::uint32_t format) {
    Rect copy = rect;
    return DrawText(text, copy, format & ~DT_CALCRECT);
}

int Surface::DrawText(std::u16string_view text, Rect& rect, std::uint32_t format) {
    QPainter& painter = *m_target->painter;
    int flags = 0;
    flags |= (format & DT_CENTER)  ? Qt::AlignHCenter
             : (format & DT_RIGHT) ? Qt::AlignRight
                                   : Qt::AlignLeft;
    flags |= (format & DT_VCENTER)  ? Qt::AlignVCenter
             : (format & DT_BOTTOM) ? Qt::AlignBottom
                                    : Qt::AlignTop;
    if ((format & DT_WORDBREAK) && !(format & DT_SINGLELINE)) {
        flags |= Qt::TextWordWrap;
    }
    if (format & DT_SINGLELINE) {
        flags |= Qt::TextSingleLine;
    }
    if (format & DT_EXPANDTABS) {
        flags |= Qt::TextExpandTabs;
    }
    if (!(format & DT_NOPREFIX)) {
        flags |= Qt::TextShowMnemonic;
    }
    if (format & DT_NOCLIP) {
        flags |= Qt::TextDontClip;
    }
    QString qtext = detail::DrawnText(text);
    qtext.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const QRect box(rect.left, rect.top, rect.Width(), rect.Height());
    if (format & DT_CALCRECT) {
        const int width = (format & DT_WORDBREAK) ? std::max(box.width(), 1) : 1 << 20;
        const QRect need = painter.fontMetrics().boundingRect(
            QRect(box.left(), box.top(), width, 1 << 20),
            flags & ~(Qt::AlignVCenter | Qt::AlignBottom), qtext);
        rect.right = rect.left + need.width();
        rect.bottom = rect.top + need.height();
        return need.height();
    }
    const QRect bounds = painter.fontMetrics().boundingRect(box, flags, qtext);
    painter.save();
    if (!(format & DT_NOCLIP)) {
        painter.setClipRect(box, Qt::IntersectClip);
    }
    if (m_target->backMode == OPAQUE) {
        painter.fillRect(bounds, ToColor(m_target->backColour));
    }
    painter.setPen(ToColor(m_target->textColour));
    painter.drawText(box, flags, qtext);
    painter.restore();
    return bounds.height();
}

bool Surface::BitBlt(int x, int y, int w, int h, const Surface& source, int sx, int sy,
                     std::uint32_t rop) {
    if (rop != SRCCOPY || !source.m_target->image) {
        return false;
    }
    QPainter& painter = *m_target->painter;
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QRect(x, y, w, h), *source.m_target->image, QRect(sx, sy, w, h));
    painter.restore();
    return true;
}

namespace {

std::unique_ptr<Surface::Target> MemoryTarget(int width, int height) {
    auto target = std::make_unique<Surface::Target>();
    target->ownImage =
        std::make_unique<QImage>(std::max(1, width), std::max(1, height), QImage::Format_RGB32);
    target->ownImage->fill(Qt::black);
    target->image = target->ownImage.get();
    target->size = QSize(width, height);
    target->ownPainter = std::make_unique<QPainter>(target->image);
    target->painter = target->ownPainter.get();
    return target;
}

} // namespace

MemorySurface::MemorySurface(int width, int height) : Surface(MemoryTarget(width, height)) {}

MemorySurface::~MemorySurface() = default;

namespace detail {

/// A surface drawing into a window's retained image; done repaints the window.
Surface ImageSurface(QImage& image, QSize size, std::function<void()> done) {
    auto target = std::make_unique<Surface::Target>();
    target->image = &image;
    target->size = size;
    target->ownPainter = std::make_unique<QPainter>(&image);
    target->painter = target->ownPainter.get();
    target->done = std::move(done);
    return Surface(std::move(target));
}

/// A surface on a painter that is already drawing (paint, erase and custom-draw handlers).
Surface PainterSurface(QPainter& painter, QSize size) {
    auto target = std::make_unique<Surface::Target>();
    target->painter = &painter;
    target->size = size;
    return Surface(std::move(target));
}

} // namespace detail

Surface Window::GetDC() {
    QImage& image = RetainedImage();
    return detail::ImageSurface(image, image.size(), [this] { RetainedImageChanged(); });
}

} // namespace hh::win
