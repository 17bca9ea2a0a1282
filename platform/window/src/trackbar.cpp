// Trackbars over Qt sliders, with the custom-draw stages of their paint.

#include "internal.h"

#include <platform/window/controls.h>
#include <platform/window/dialog.h>
#include <platform/window/ui_thread.h>

#include <QPaintEvent>
#include <QPainter>
#include <QSlider>
#include <algorithm>

namespace hh::win {

using detail::ApplyCommonStyle;

namespace {

class TrackbarWidget : public QSlider {
public:
    TrackbarWidget(Trackbar* control, Qt::Orientation orientation, QWidget* parent)
        : QSlider(orientation, parent), m_control(control) {}

protected:
    void paintEvent(QPaintEvent* event) override {
        const LRESULT answer = Stage(CDDS_PREPAINT, 0);
        if (answer & CDRF_NOTIFYITEMDRAW) {
            for (std::uintptr_t item : {TBCD_CHANNEL, TBCD_TICS, TBCD_THUMB}) {
                Stage(CDDS_ITEMPREPAINT, item);
            }
        }
        if (!(answer & CDRF_SKIPDEFAULT)) {
            QSlider::paintEvent(event);
        }
        if (answer & CDRF_NOTIFYPOSTPAINT) {
            Stage(CDDS_POSTPAINT, 0);
        }
    }

private:
    LRESULT Stage(std::uint32_t stage, std::uintptr_t item) {
        Dialog* owner = m_control->Owner();
        if (!owner) {
            return CDRF_DODEFAULT;
        }
        QPainter painter(this);
        Surface surface = detail::PainterSurface(painter, size());
        Notification notification;
        notification.idFrom = m_control->GetDlgCtrlID();
        notification.code = NM_CUSTOMDRAW;
        notification.control = m_control;
        notification.drawStage = stage;
        notification.itemSpec = item;
        notification.itemRect = Rect{0, 0, width(), height()};
        notification.surface = &surface;
        return owner->DispatchNotify(notification);
    }

    Trackbar* m_control;
};

QSlider* Slider(QWidget* widget) {
    return static_cast<QSlider*>(widget);
}

} // namespace

Trackbar::Trackbar(Dialog* owner, const ControlTemplate& tpl, QWidget* parent)
    : Control(owner, tpl) {
    const bool vertical = (tpl.style & TBS_VERT) != 0;
    auto* slider = new TrackbarWidget(this, vertical ? Qt::Vertical : Qt::Horizontal, parent);
    slider->setInvertedAppearance(vertical);
    slider->setTickPosition((tpl.style & TBS_NOTICKS) ? QSlider::NoTicks : QSlider::TicksBelow);
    slider->setRange(0, 100);
    Attach(slider);
    ApplyCommonStyle(slider, tpl);
}

void Trackbar::SetRange(int minimum, int maximum, bool redraw) {
    CallOnUiThread([&] {
        Slider(Widget())->setRange(minimum, std::max(minimum, maximum));
        if (redraw) {
            Widget()->update();
        }
    });
}

int Trackbar::GetRangeMin() const {
    return CallOnUiThread([this] { return Slider(Widget())->minimum(); });
}

int Trackbar::GetRangeMax() const {
    return CallOnUiThread([this] { return Slider(Widget())->maximum(); });
}

void Trackbar::SetPos(int position, bool redraw) {
    CallOnUiThread([&] {
        Slider(Widget())->setValue(position);
        if (redraw) {
            Widget()->update();
        }
    });
}

int Trackbar::GetPos() const {
    return CallOnUiThread([this] { return Slider(Widget())->value(); });
}

} // namespace hh::win
