// Dialogs over QDialog: a client area that erases and paints through the
// dialog's handlers, a caption strip on the device screen, the controls of the
// template, and the modal loop.

#include "internal.h"

#include <platform/window/dialog.h>
#include <platform/window/screen.h>
#include <platform/window/ui_thread.h>

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QToolButton>
#include <atomic>
#include <cstdio>
#include <vector>

namespace hh::win {

using detail::FromQt;
using detail::ToQt;

namespace {

Dialog* g_mainDialog = nullptr;
std::vector<Dialog*> g_liveDialogs;

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

class ClientArea : public QWidget {
public:
    ClientArea(QWidget* parent, Dialog* owner) : QWidget(parent), m_owner(owner) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        m_owner->DispatchEraseAndPaint(painter);
    }

private:
    Dialog* m_owner;
};

/// The caption the device draws above a dialog with WS_CAPTION: title and the
/// OK button (or a close button without WS_EX_CAPTIONOKBTN).
class CaptionStrip : public QWidget {
public:
    CaptionStrip(QWidget* parent, Dialog* owner, bool okButton) : QWidget(parent) {
        setAutoFillBackground(true);
        QPalette palette;
        palette.setColor(QPalette::Window, QColor(0, 0, 128));
        palette.setColor(QPalette::WindowText, Qt::white);
        setPalette(palette);
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(4, 0, 2, 0);
        m_title = new QLabel(this);
        QFont font = m_title->font();
        font.setBold(true);
        m_title->setFont(font);
        layout->addWidget(m_title, 1);
        m_button = new QToolButton(this);
        m_button->setObjectName(QStringLiteral("captionOk"));
        m_button->setText(okButton ? QStringLiteral("OK") : QStringLiteral("\u00D7"));
        m_button->setFocusPolicy(Qt::NoFocus);
        layout->addWidget(m_button);
        QObject::connect(m_button, &QToolButton::clicked, this,
                         [owner] { owner->DispatchCaptionOk(); });
    }
    void SetTitle(const QString& title) { m_title->setText(title); }

private:
    QLabel* m_title;
    QToolButton* m_button;
};

class DialogWidget : public QDialog {
public:
    DialogWidget(Dialog* owner) : m_owner(owner) { setSizeGripEnabled(false); }
    ClientArea* client = nullptr;
    CaptionStrip* caption = nullptr;

    void Layout() {
        const int captionHeight = caption ? GetSystemMetrics(SM_CYCAPTION) : 0;
        if (caption) {
            caption->setGeometry(0, 0, width(), captionHeight);
        }
        client->setGeometry(0, captionHeight, width(), std::max(0, height() - captionHeight));
    }

protected:
    void resizeEvent(QResizeEvent*) override { Layout(); }
    void closeEvent(QCloseEvent* event) override {
        // The window's close box is the caption OK button; the handlers decide.
        event->ignore();
        m_owner->DispatchCaptionOk();
    }
    void changeEvent(QEvent* event) override {
        if (event->type() == QEvent::WindowTitleChange && caption) {
            caption->SetTitle(windowTitle());
        }
        QDialog::changeEvent(event);
    }

public:
    void reject() override { m_owner->DispatchCommand(IDCANCEL, BN_CLICKED); }

private:
    Dialog* m_owner;
};

bool SameClass(std::u16string_view a, std::u16string_view b) {
    return QString::compare(ToQt(a), ToQt(b), Qt::CaseInsensitive) == 0;
}

std::unique_ptr<Control> MakeControl(Dialog* owner, const ControlTemplate& tpl, QWidget* parent) {
    if (SameClass(tpl.windowClass, WC_BUTTON)) {
        return std::make_unique<Button>(owner, tpl, parent);
    }
    if (SameClass(tpl.windowClass, WC_EDIT)) {
        return std::make_unique<Edit>(owner, tpl, parent);
    }
    if (SameClass(tpl.windowClass, WC_STATIC)) {
        return std::make_unique<Static>(owner, tpl, parent);
    }
    if (SameClass(tpl.windowClass, WC_COMBOBOX)) {
        return std::make_unique<ComboBox>(owner, tpl, parent);
    }
    if (SameClass(tpl.windowClass, WC_TABCONTROL)) {
        return std::make_unique<TabControl>(owner, tpl, parent);
    }
    if (SameClass(tpl.windowClass, TRACKBAR_CLASS)) {
        return std::make_unique<Trackbar>(owner, tpl, parent);
    }
    if (SameClass(tpl.windowClass, PROGRESS_CLASS)) {
        return std::make_unique<ProgressBar>(owner, tpl, parent);
    }
    return nullptr;
}

} // namespace

BaseUnits MeasureBaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    return BaseUnits{AverageCharWidth(metrics.horizontalAdvance(QString::fromLatin1(kAlphabet))),
                     metrics.height()};
}

struct Dialog::Impl {
    DialogWidget* widget = nullptr;
    std::vector<std::unique_ptr<Control>> controls;
    std::atomic<bool> live{false};
    bool modal = false;
    bool ending = false;
    std::intptr_t result = 0;
    Dialog* owner = nullptr;
    std::unique_ptr<QImage> retained;
    BaseUnits units;
};

Dialog::Dialog(DialogTemplate tpl) : m_template(std::move(tpl)), m_impl(std::make_unique<Impl>()) {
    g_liveDialogs.push_back(this);
}

Dialog::~Dialog() {
    if (m_impl->widget) {
        Teardown();
    }
    std::erase(g_liveDialogs, this);
    if (g_mainDialog == this) {
        g_mainDialog = nullptr;
    }
}

Dialog* Dialog::MainDialog() {
    return g_mainDialog;
}

bool Dialog::IsCreated() const {
    return m_impl->live.load();
}

QWidget* Dialog::ClientWidget() const {
    return m_impl->widget ? m_impl->widget->client : nullptr;
}

bool Dialog::Build(QWidget* parentWidget, bool modal) {
    auto* widget = new DialogWidget(this);
    const bool child = parentWidget != nullptr;
    if (child) {
        widget->setParent(parentWidget, Qt::Widget);
        // A child page sits where its template puts it, the parent's top left;
        // unmoved, Qt would centre it in the parent when it is first shown.
        widget->move(0, 0);
    } else {
        detail::PlaceTopLevel(widget, !(m_template.style & WS_CAPTION));
    }
    QFont font(ToQt(MapFontFace(m_template.fontFace)));
    font.setPixelSize(
        PointSizeToPixels(m_template.fontPointSize > 0 ? m_template.fontPointSize : 8));
    widget->setFont(font);
    m_impl->units = MeasureBaseUnits(font);
    widget->setWindowTitle(ToQt(m_template.caption));
    if (!child && detail::ScreenHost() && (m_template.style & WS_CAPTION) == WS_CAPTION) {
        widget->caption =
            new CaptionStrip(widget, this, (m_template.exStyle & WS_EX_CAPTIONOKBTN) != 0);
        widget->caption->SetTitle(widget->windowTitle());
    }
    widget->client = new ClientArea(widget, this);
    Attach(widget);
    m_impl->widget = widget;
    m_impl->modal = modal;
    m_impl->ending = false;
    m_impl->result = 0;

    const Rect client =
        DluToPixels(DluRect(0, 0, m_template.widthDlu, m_template.heightDlu), m_impl->units);
    const int captionHeight = widget->caption ? GetSystemMetrics(SM_CYCAPTION) : 0;
    widget->resize(client.Width(), client.Height() + captionHeight);
    widget->Layout();

    for (const ControlTemplate& tpl : m_template.controls) {
        std::unique_ptr<Control> control = MakeControl(this, tpl, widget->client);
        if (!control) {
            std::fprintf(stderr, "dialog %d: control %u has the unknown window class \"%s\"\n",
                         m_template.id, tpl.id, ToQt(tpl.windowClass).toUtf8().constData());
            Teardown();
            return false;
        }
        const Rect r = DluToPixels(tpl.dlu, m_impl->units);
        control->MoveWindow(r.left, r.top, r.Width(), r.Height(), false);
        m_impl->controls.push_back(std::move(control));
    }
    if (m_template.style & WS_DISABLED) {
        widget->setEnabled(false);
    }
    m_impl->live = true;
    return true;
}

std::intptr_t Dialog::DoModal() {
    if (m_impl->widget || !Build(nullptr, true)) {
        return -1;
    }
    Dialog* previousMain = g_mainDialog;
    if (!g_mainDialog) {
        g_mainDialog = this;
    }
    const Rect area = GetWorkArea();
    if (!previousMain) {
        // The application's dialog fills the device screen's work area.
        m_impl->widget->setGeometry(area.left, area.top, area.Width(), area.Height());
        // Laid out now, so that OnInitDialog finds its client area at this size.
        m_impl->widget->Layout();
    } else {
        // Dialogs it opens keep their template size, centred in the work area.
        const QSize size = m_impl->widget->size();
        m_impl->widget->move(area.left + (area.Width() - size.width()) / 2,
                             area.top + (area.Height() - size.height()) / 2);
    }
    // The focus goes back where it was when the dialog ends (the owner's control).
    const QPointer<QWidget> previousFocus = QApplication::focusWidget();
    const bool defaultFocus = OnInitDialog();
    if (!m_impl->ending && m_impl->widget) {
        m_impl->widget->show();
        m_impl->widget->raise();
        detail::RaiseScreenChrome();
        // The dialog takes the keyboard: as a window of the desktop it is activated.
        if (m_impl->widget->isWindow()) {
            m_impl->widget->activateWindow();
        }
        if (defaultFocus) {
            for (const auto& control : m_impl->controls) {
                QWidget* w = control->Widget();
                if ((control->Style() & WS_TABSTOP) && w->isVisible() && w->isEnabled()) {
                    w->setFocus(Qt::TabFocusReason);
                    break;
                }
            }
        }
        // As the window system does, a modal dialog disables its owner, the main dialog.
        QWidget* owner = previousMain ? previousMain->Widget() : nullptr;
        const bool ownerWasEnabled = owner && owner->isEnabled();
        if (ownerWasEnabled) {
            owner->setEnabled(false);
        }
        m_impl->widget->exec();
        if (ownerWasEnabled && previousMain->Widget() == owner) {
            owner->setEnabled(true);
        }
        if (previousMain) {
            detail::GiveFocus(previousFocus);
        }
    }
    const std::intptr_t result = m_impl->result;
    if (m_impl->widget) {
        Teardown();
    }
    g_mainDialog = previousMain;
    return result;
}

bool Dialog::Create(Window* parent) {
    return CallOnUiThread([&] {
        if (m_impl->widget) {
            return false;
        }
        QWidget* parentWidget = nullptr;
        if (parent) {
            parentWidget = parent->Widget() ? (dynamic_cast<Dialog*>(parent)
                                                   ? static_cast<Dialog*>(parent)->ClientWidget()
                                                   : parent->Widget())
                                            : nullptr;
            if (!parentWidget) {
                return false;
            }
        }
        if (!Build(parentWidget, false)) {
            return false;
        }
        m_impl->owner = parent ? nullptr : g_mainDialog;
        OnInitDialog();
        if (m_impl->widget && (m_template.style & WS_VISIBLE) && !m_impl->ending) {
            ShowWindow(SW_SHOW);
        }
        return m_impl->widget != nullptr;
    });
}

void Dialog::EndDialog(std::intptr_t result) {
    CallOnUiThread([&] {
        if (!m_impl->widget) {
            return;
        }
        m_impl->result = result;
        m_impl->ending = true;
        if (m_impl->modal) {
            m_impl->widget->done(0);
        } else {
            m_impl->widget->hide();
        }
    });
}

void Dialog::DestroyWindow() {
    CallOnUiThread([this] {
        if (m_impl->widget) {
            Teardown();
        }
    });
}

void Dialog::Teardown() {
    // Child pages and owned popups go first, as the window system destroys them with their parent.
    const std::vector<Dialog*> dialogs = g_liveDialogs;
    for (Dialog* other : dialogs) {
        if (other == this || !other->m_impl->widget) {
            continue;
        }
        const bool inside = m_impl->widget && m_impl->widget->isAncestorOf(other->m_impl->widget);
        if (inside || other->m_impl->owner == this) {
            other->Teardown();
        }
    }
    m_impl->live = false;
    if (m_impl->widget) {
        OnDestroy();
    }
    detail::StopAllTimers(this);
    m_impl->controls.clear();
    DialogWidget* widget = m_impl->widget;
    m_impl->widget = nullptr;
    Detach();
    m_impl->retained.reset();
    if (widget) {
        widget->hide();
        delete widget;
    }
}

Control* Dialog::GetDlgItem(int id) const {
    return CallOnUiThread([&]() -> Control* {
        for (const auto& control : m_impl->controls) {
            if (control->GetDlgCtrlID() == id) {
                return control.get();
            }
        }
        return nullptr;
    });
}

Button* Dialog::DefaultButton() const {
    for (const auto& control : m_impl->controls) {
        if (auto* button = dynamic_cast<Button*>(control.get()); button && button->IsDefault()) {
            return button;
        }
    }
    return nullptr;
}

bool Dialog::SetDlgItemText(int id, std::u16string_view text) {
    Control* control = GetDlgItem(id);
    return control && control->SetWindowText(text);
}

std::u16string Dialog::GetDlgItemText(int id) const {
    Control* control = GetDlgItem(id);
    return control ? control->GetWindowText() : std::u16string();
}

bool Dialog::SetDlgItemInt(int id, long value, bool isSigned) {
    Control* control = GetDlgItem(id);
    return control && control->SetInt(value, isSigned);
}

long Dialog::GetDlgItemInt(int id, bool* translated, bool isSigned) const {
    Control* control = GetDlgItem(id);
    if (!control) {
        if (translated) {
            *translated = false;
        }
        return 0;
    }
    return control->GetInt(translated, isSigned);
}

bool Dialog::CheckDlgButton(int id, int state) {
    auto* button = Item<Button>(id);
    if (!button) {
        return false;
    }
    button->SetCheck(state);
    return true;
}

int Dialog::IsDlgButtonChecked(int id) const {
    auto* button = Item<Button>(id);
    return button ? button->GetCheck() : BST_UNCHECKED;
}

bool Dialog::SetTimer(std::uintptr_t id, std::uint32_t periodMs) {
    return CallOnUiThread([&] {
        if (!m_impl->widget) {
            return false;
        }
        detail::StartTimer(this, id, periodMs);
        return true;
    });
}

bool Dialog::KillTimer(std::uintptr_t id) {
    return CallOnUiThread([&] { return detail::StopTimer(this, id); });
}

bool Dialog::PostMessage(std::uint32_t message, WPARAM wParam, LPARAM lParam) {
    if (!m_impl->live.load()) {
        return false;
    }
    const std::uint64_t serial = detail::SerialOf(this);
    PostToUiThread([serial, message, wParam, lParam] {
        detail::WithLiveWindow(serial, [&](Window* window) {
            auto* dialog = static_cast<Dialog*>(window);
            if (dialog->IsCreated()) {
                dialog->OnMessage(message, wParam, lParam);
            }
        });
    });
    return true;
}

LRESULT Dialog::SendMessage(std::uint32_t message, WPARAM wParam, LPARAM lParam) {
    return CallOnUiThread(
        [&]() -> LRESULT { return m_impl->widget ? OnMessage(message, wParam, lParam) : 0; });
}

void Dialog::OnCommand(int id, int) {
    if (id == IDOK) {
        OnOK();
    } else if (id == IDCANCEL) {
        OnCancel();
    }
}

LRESULT Dialog::OnNotify(const Notification&) {
    return 0;
}

void Dialog::OnTimer(std::uintptr_t) {}

LRESULT Dialog::OnMessage(std::uint32_t, WPARAM, LPARAM) {
    return 0;
}

bool Dialog::PreTranslateMessage(const KeyMessage&) {
    return false;
}

bool Dialog::OnEraseBackground(Surface&) {
    return false;
}

void Dialog::OnPaint(Surface&) {}

void Dialog::DispatchCommand(int id, int code) {
    if (m_impl->widget) {
        OnCommand(id, code);
    }
}

LRESULT Dialog::DispatchNotify(const Notification& notification) {
    return m_impl->widget ? OnNotify(notification) : 0;
}

bool Dialog::DispatchPreTranslate(const KeyMessage& key) {
    return m_impl->widget && PreTranslateMessage(key);
}

void Dialog::DispatchTimer(std::uintptr_t id, std::uint64_t generation) {
    if (m_impl->widget && detail::TimerCurrent(this, id, generation)) {
        OnTimer(id);
    }
}

void Dialog::DispatchCaptionOk() {
    DispatchCommand((m_template.exStyle & WS_EX_CAPTIONOKBTN) ? IDOK : IDCANCEL, BN_CLICKED);
}

void Dialog::DispatchEraseAndPaint(QPainter& painter) {
    QWidget* client = ClientWidget();
    if (!client) {
        return;
    }
    painter.save();
    {
        Surface surface = detail::PainterSurface(painter, client->size());
        if (!OnEraseBackground(surface)) {
            painter.fillRect(client->rect(), client->palette().color(QPalette::Window));
        }
    }
    painter.restore();
    if (m_impl->retained) {
        painter.drawImage(0, 0, *m_impl->retained);
    }
    painter.save();
    {
        Surface surface = detail::PainterSurface(painter, client->size());
        OnPaint(surface);
    }
    painter.restore();
}

QImage& Dialog::RetainedImage() {
    QWidget* client = ClientWidget();
    const QSize size = client ? client->size().expandedTo(QSize(1, 1)) : QSize(1, 1);
    if (!m_impl->retained || m_impl->retained->size() != size) {
        auto image = std::make_unique<QImage>(size, QImage::Format_ARGB32_Premultiplied);
        image->fill(Qt::transparent);
        if (m_impl->retained) {
            QPainter painter(image.get());
            painter.drawImage(0, 0, *m_impl->retained);
        }
        m_impl->retained = std::move(image);
    }
    return *m_impl->retained;
}

void Dialog::RetainedImageChanged() {
    if (QWidget* client = ClientWidget()) {
        client->update();
    }
}

} // namespace hh::win
