// Tab controls: a Qt tab bar along one edge with the pages over the rest.

#include "internal.h"

#include <platform/window/controls.h>
#include <platform/window/dialog.h>
#include <platform/window/ui_thread.h>

#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QTabBar>
#include <algorithm>

namespace hh::win {

using detail::ApplyCommonStyle;
using detail::ToQt;

namespace {

/// Tabs as narrow as the device's: a few pixels beside the text, so that a
/// strip holds as many tabs as it does on the device.
class CompactTabs : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        if (metric == PM_TabBarTabHSpace) {
            return 10;
        }
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

/// The tab control's area: the strip along one edge, the pages over the rest.
class TabArea : public QWidget {
public:
    TabArea(QWidget* parent, bool bottom) : QWidget(parent), m_bar(new QTabBar(this)) {
        m_bar->setStyle(TabStyle());
        m_bar->setShape(bottom ? QTabBar::RoundedSouth : QTabBar::RoundedNorth);
        m_bar->setDrawBase(true);
        m_bar->setExpanding(false);
        m_bottom = bottom;
    }
    QTabBar* Bar() const { return m_bar; }
    /// Places the strip; its height follows the tabs it holds.
    void Layout() {
        const int h = m_bar->sizeHint().height();
        m_bar->setGeometry(0, m_bottom ? height() - h : 0, width(), h);
    }

protected:
    void resizeEvent(QResizeEvent*) override { Layout(); }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::Mid));
        const int h = m_bar->sizeHint().height();
        painter.drawRect(m_bottom ? QRect(0, 0, width() - 1, height() - h)
                                  : QRect(0, h - 1, width() - 1, height() - h));
    }

private:
    /// One style for every strip, living as long as the application.
    static QStyle* TabStyle() {
        static QPointer<CompactTabs> style;
        if (!style) {
            style = new CompactTabs;
            style->setParent(qApp);
        }
        return style;
    }

    QTabBar* m_bar;
    bool m_bottom = false;
};

QTabBar* Bar(QWidget* widget) {
    return static_cast<TabArea*>(widget)->Bar();
}

} // namespace

TabControl::TabControl(Dialog* owner, const ControlTemplate& tpl, QWidget* parent)
    : Control(owner, tpl) {
    auto* area = new TabArea(parent, (tpl.style & TCS_BOTTOM) != 0);
    QObject::connect(area->Bar(), &QTabBar::currentChanged, area, [this](int) {
        Notification notification;
        notification.idFrom = GetDlgCtrlID();
        notification.code = TCN_SELCHANGE;
        notification.control = this;
        if (Owner()) {
            Owner()->DispatchNotify(notification);
        }
    });
    Attach(area);
    ApplyCommonStyle(area, tpl);
}

QWidget* TabControl::ClientWidget() const {
    return Widget();
}

int TabControl::InsertItem(int index, std::u16string_view text) {
    return CallOnUiThread([&] {
        QTabBar* bar = Bar(Widget());
        if (index < 0) {
            return -1;
        }
        const QSignalBlocker block(bar);
        const int inserted = bar->insertTab(std::min(index, bar->count()), ToQt(text));
        static_cast<TabArea*>(Widget())->Layout();
        return inserted;
    });
}

int TabControl::GetItemCount() const {
    return CallOnUiThread([this] { return Bar(Widget())->count(); });
}

int TabControl::SetCurSel(int index) {
    return CallOnUiThread([&] {
        QTabBar* bar = Bar(Widget());
        const int previous = bar->currentIndex();
        if (index < 0 || index >= bar->count()) {
            return -1;
        }
        const QSignalBlocker block(bar);
        bar->setCurrentIndex(index);
        return previous;
    });
}

int TabControl::GetCurSel() const {
    return CallOnUiThread([this] { return Bar(Widget())->currentIndex(); });
}

void TabControl::SetCurFocus(int index) {
    CallOnUiThread([&] {
        QTabBar* bar = Bar(Widget());
        if (index >= 0 && index < bar->count() && index != bar->currentIndex()) {
            bar->setCurrentIndex(index); // notifies TCN_SELCHANGE through currentChanged
        }
    });
}

int TabControl::GetCurFocus() const {
    return GetCurSel();
}

} // namespace hh::win
