// The message box service: one box widget for every caller, modal on the UI
// thread, and shown without blocking the UI thread for a worker, which waits
// for the answer.

#include "internal.h"

#include <platform/window/application.h>
#include <platform/window/dialog.h>
#include <platform/window/message_box.h>
#include <platform/window/ui_thread.h>
#include <platform/window/window.h>

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace hh::win {

using detail::ToQt;

namespace {

struct ButtonChoice {
    const char* label;
    int answer;
};

std::vector<ButtonChoice> ButtonsOf(std::uint32_t style) {
    switch (style & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return {{"OK", IDOK}, {"Cancel", IDCANCEL}};
    case MB_ABORTRETRYIGNORE:
        return {{"Abort", IDABORT}, {"Retry", IDRETRY}, {"Ignore", IDIGNORE}};
    case MB_YESNOCANCEL:
        return {{"Yes", IDYES}, {"No", IDNO}, {"Cancel", IDCANCEL}};
    case MB_YESNO:
        return {{"Yes", IDYES}, {"No", IDNO}};
    case MB_RETRYCANCEL:
        return {{"Retry", IDRETRY}, {"Cancel", IDCANCEL}};
    default:
        return {{"OK", IDOK}};
    }
}

/// The box: caption strip (on the device screen, where no window frame draws
/// one), icon, text and the buttons of the style. It takes the keyboard as it
/// opens, with the focus on its default button, and gives the focus back to
/// where it was when it closes. Keys are Qt's dialog keys: Enter presses the
/// focused button (the default one unless the user moved the focus), Space
/// the focused one, Escape answers as the box's Cancel or No button, or as OK
/// in a box that has only OK.
class BoxWidget : public QDialog {
public:
    BoxWidget(const QString& text, const QString& caption, std::uint32_t style,
              QWidget* previousFocus)
        : m_previousFocus(previousFocus) {
        setWindowTitle(caption);
        // On the device screen the box is a child of the screen window, which
        // draws no background for it.
        setAutoFillBackground(true);
        auto* outer = new QVBoxLayout(this);
        outer->setContentsMargins(0, 0, 0, 6);
        if (detail::ScreenHost()) {
            auto* title = new QLabel(caption, this);
            title->setObjectName(QStringLiteral("caption"));
            title->setAutoFillBackground(true);
            QPalette palette;
            palette.setColor(QPalette::Window, QColor(0, 0, 128));
            palette.setColor(QPalette::WindowText, Qt::white);
            title->setPalette(palette);
            title->setContentsMargins(4, 2, 4, 2);
            outer->addWidget(title);
        }
        auto* body = new QHBoxLayout;
        body->setContentsMargins(8, 6, 8, 6);
        if (const auto icon = IconOf(style); icon != QStyle::SP_CustomBase) {
            auto* iconLabel = new QLabel(this);
            iconLabel->setPixmap(QApplication::style()->standardIcon(icon).pixmap(24, 24));
            body->addWidget(iconLabel, 0, Qt::AlignTop);
        }
        auto* textLabel = new QLabel(text, this);
        textLabel->setObjectName(QStringLiteral("text"));
        textLabel->setTextFormat(Qt::PlainText);
        textLabel->setWordWrap(true);
        body->addWidget(textLabel, 1);
        outer->addLayout(body);
        auto* buttons = new QHBoxLayout;
        buttons->addStretch();
        const auto choices = ButtonsOf(style);
        const int defaultAnswer = DefaultAnswer(style);
        for (const ButtonChoice& choice : choices) {
            auto* button = new QPushButton(QString::fromLatin1(choice.label), this);
            button->setDefault(choice.answer == defaultAnswer);
            if (choice.answer == defaultAnswer) {
                m_default = button;
            }
            const int answer = choice.answer;
            connect(button, &QPushButton::clicked, this, [this, answer] { done(answer); });
            buttons->addWidget(button);
        }
        buttons->addStretch();
        outer->addLayout(buttons);
        m_cancelAnswer = CancelAnswer(choices);
    }

    void reject() override {
        // A box without Cancel, No or a lone OK (abort, retry, ignore) stays open.
        if (m_cancelAnswer) {
            done(m_cancelAnswer);
        }
    }

    void done(int answer) override {
        const QWidget* focus = QApplication::focusWidget();
        m_returnFocus = !focus || focus == this || isAncestorOf(focus);
        QDialog::done(answer);
        ReturnFocus();
    }

    /// Gives the focus back to the widget that had it when the box opened,
    /// unless the user had moved it elsewhere while the box was open.
    void ReturnFocus() const {
        if (m_returnFocus) {
            detail::GiveFocus(m_previousFocus);
        }
    }
    bool ReturnsFocus() const { return m_returnFocus; }
    QPointer<QWidget> PreviousFocus() const { return m_previousFocus; }

protected:
    void showEvent(QShowEvent* event) override {
        QDialog::showEvent(event);
        detail::GiveFocus(m_default);
    }

private:
    static QStyle::StandardPixmap IconOf(std::uint32_t style) {
        switch (style & MB_ICONMASK) {
        case MB_ICONERROR:
            return QStyle::SP_MessageBoxCritical;
        case MB_ICONQUESTION:
            return QStyle::SP_MessageBoxQuestion;
        case MB_ICONEXCLAMATION:
            return QStyle::SP_MessageBoxWarning;
        case MB_ICONINFORMATION:
            return QStyle::SP_MessageBoxInformation;
        default:
            return QStyle::SP_CustomBase;
        }
    }
    static int CancelAnswer(const std::vector<ButtonChoice>& choices) {
        for (const int wanted : {IDCANCEL, IDNO}) {
            for (const ButtonChoice& choice : choices) {
                if (choice.answer == wanted) {
                    return wanted;
                }
            }
        }
        return choices.size() == 1 ? choices.front().answer : 0;
    }

    QPointer<QWidget> m_previousFocus;
    QPointer<QPushButton> m_default;
    int m_cancelAnswer = 0;
    bool m_returnFocus = false;
};

struct OpenBox {
    QPointer<BoxWidget> widget;
    std::size_t recordIndex = static_cast<std::size_t>(-1);
};

std::mutex g_openMutex;
std::vector<OpenBox> g_open;

void Place(BoxWidget* box, const Window* owner, std::uint32_t style) {
    if (QWidget* host = detail::ScreenHost()) {
        box->setParent(host, Qt::Widget);
        box->adjustSize();
        const QSize screen = detail::ScreenSize();
        const QSize size = box->sizeHint().boundedTo(screen);
        box->setGeometry((screen.width() - size.width()) / 2, (screen.height() - size.height()) / 2,
                         size.width(), size.height());
    } else {
        // A window of its own that stays above its owner's window without being
        // its child: the owner is disabled while the box is open, and a child
        // widget would be disabled with it.
        QWidget* ownerWindow = owner && owner->Widget() ? owner->Widget()->window() : nullptr;
        Qt::WindowFlags flags = Qt::Dialog;
        if (style & MB_TOPMOST) {
            flags |= Qt::WindowStaysOnTopHint;
        }
        box->setParent(nullptr, flags);
        if (ownerWindow && ownerWindow->windowHandle()) {
            box->winId();
            box->windowHandle()->setTransientParent(ownerWindow->windowHandle());
        }
    }
}

/// The widget of the window without parent that holds owner (a dialog), or null.
QWidget* TopLevelDialogWidget(const Window* owner) {
    for (QWidget* w = owner ? owner->Widget() : nullptr; w; w = w->parentWidget()) {
        const bool topLevel = w->isWindow() || w->parentWidget() == detail::ScreenHost();
        if (topLevel && dynamic_cast<Dialog*>(Window::FromWidget(w))) {
            return w;
        }
    }
    return nullptr;
}

/// The widget that has the focus before the box opens. A window that was just
/// given the focus back may not be active yet: then the focus it keeps for
/// its activation (the owner's window, else the active one).
QWidget* FocusBefore(const MessageBoxRecord& record) {
    if (QWidget* hidden = detail::HiddenFocus()) {
        return hidden;
    }
    if (QWidget* focus = QApplication::focusWidget()) {
        return focus;
    }
    QWidget* window = record.owner && record.owner->Widget() ? record.owner->Widget()->window()
                                                             : QApplication::activeWindow();
    return window ? window->focusWidget() : nullptr;
}

/// Creates and opens the box on the UI thread; finished receives the answer.
BoxWidget* Open(const MessageBoxRecord& record, std::size_t recordIndex,
                std::function<void(int)> finished) {
    auto* box =
        new BoxWidget(ToQt(record.text), ToQt(record.caption), record.style, FocusBefore(record));
    Place(box, record.owner, record.style);
    box->setAttribute(Qt::WA_DeleteOnClose, false);
    QObject::connect(box, &QDialog::finished, box, [box, recordIndex, finished](int answer) {
        {
            std::lock_guard lock(g_openMutex);
            std::erase_if(g_open, [box](const OpenBox& open) { return open.widget == box; });
        }
        if (MessageBoxScript* script = MessageBoxScript::Installed()) {
            if (recordIndex != static_cast<std::size_t>(-1)) {
                script->SetAnswer(recordIndex, answer);
            }
        }
        finished(answer);
        box->deleteLater();
    });
    {
        std::lock_guard lock(g_openMutex);
        g_open.push_back(OpenBox{box, recordIndex});
    }
    if (MessageBoxScript* script = MessageBoxScript::Installed()) {
        if (const std::optional<int> answer = script->NextAnswer(record.style)) {
            const int value = *answer;
            QTimer::singleShot(0, box, [box, value] { box->done(value); });
        }
    }
    return box;
}

} // namespace

int DefaultAnswer(std::uint32_t style) {
    const auto choices = ButtonsOf(style);
    const std::size_t index = (style & MB_DEFMASK) == MB_DEFBUTTON2   ? 1
                              : (style & MB_DEFMASK) == MB_DEFBUTTON3 ? 2
                                                                      : 0;
    return choices[index < choices.size() ? index : 0].answer;
}

int MessageBox(const Window* owner, std::u16string_view text, std::uint32_t style) {
    return MessageBox(owner, text, std::nullopt, style);
}

int MessageBox(const Window* owner, std::u16string_view text,
               std::optional<std::u16string_view> caption, std::uint32_t style) {
    Application* app = Application::Instance();
    if (!app) {
        return 0;
    }
    MessageBoxRecord record;
    record.text = std::u16string(text);
    record.caption = caption ? std::u16string(*caption) : app->Title();
    record.style = style;
    record.owner = owner;
    record.fromUiThread = IsUiThread();
    std::size_t recordIndex = static_cast<std::size_t>(-1);
    if (MessageBoxScript* script = MessageBoxScript::Installed()) {
        recordIndex = script->Record(record);
    }
    if (record.fromUiThread) {
        int result = 0;
        bool returnFocus = false;
        BoxWidget* opened = nullptr;
        BoxWidget* box = Open(record, recordIndex, [&](int answer) {
            result = answer;
            returnFocus = opened && opened->ReturnsFocus();
        });
        opened = box;
        const QPointer<QWidget> previousFocus = box->PreviousFocus();
        // The owner's dialog takes no input while its box is open.
        QPointer<QWidget> ownerWidget = TopLevelDialogWidget(owner);
        const bool ownerWasEnabled = ownerWidget && ownerWidget->isEnabled();
        if (ownerWasEnabled) {
            ownerWidget->setEnabled(false);
        }
        box->exec();
        if (ownerWasEnabled && ownerWidget) {
            ownerWidget->setEnabled(true);
        }
        // The owner takes its focus back now that it is enabled again.
        if (returnFocus) {
            detail::GiveFocus(previousFocus);
        }
        return result;
    }
    // From a worker: the UI thread opens the box and goes on; this thread waits for the answer.
    struct Wait {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
        bool opened = false;
        int answer = 0;
    };
    auto wait = std::make_shared<Wait>();
    // Releases the worker with 0 when the application ends before the box opened.
    std::shared_ptr<void> unopened(nullptr, [wait](void*) {
        {
            std::lock_guard lock(wait->mutex);
            if (wait->opened) {
                return;
            }
            wait->done = true;
        }
        wait->cv.notify_all();
    });
    PostToUiThread([record, recordIndex, wait, unopened] {
        {
            std::lock_guard lock(wait->mutex);
            wait->opened = true;
        }
        BoxWidget* box = Open(record, recordIndex, [wait](int answer) {
            {
                std::lock_guard lock(wait->mutex);
                wait->done = true;
                wait->answer = answer;
            }
            wait->cv.notify_all();
        });
        box->setWindowModality(Qt::NonModal);
        box->show();
        box->raise();
    });
    unopened.reset();
    std::unique_lock lock(wait->mutex);
    wait->cv.wait(lock, [&] { return wait->done; });
    return wait->answer;
}

namespace detail {

void CloseAllMessageBoxes() {
    std::vector<OpenBox> open;
    {
        std::lock_guard lock(g_openMutex);
        open = g_open;
    }
    for (OpenBox& box : open) {
        if (box.widget) {
            box.widget->done(0);
        }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace detail

// Scripted answers -------------------------------------------------------

namespace {
constexpr int kHold = -1;
std::mutex g_scriptMutex;
MessageBoxScript* g_script = nullptr;
} // namespace

struct MessageBoxScript::Impl {
    mutable std::mutex mutex;
    std::deque<int> answers;
    std::vector<MessageBoxRecord> boxes;
};

MessageBoxScript::MessageBoxScript() : m_impl(std::make_unique<Impl>()) {
    std::lock_guard lock(g_scriptMutex);
    g_script = this;
}

MessageBoxScript::~MessageBoxScript() {
    std::lock_guard lock(g_scriptMutex);
    if (g_script == this) {
        g_script = nullptr;
    }
}

MessageBoxScript* MessageBoxScript::Installed() {
    std::lock_guard lock(g_scriptMutex);
    return g_script;
}

void MessageBoxScript::Answer(int answer) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->answers.push_back(answer);
}

void MessageBoxScript::Hold() {
    std::lock_guard lock(m_impl->mutex);
    m_impl->answers.push_back(kHold);
}

std::optional<int> MessageBoxScript::NextAnswer(std::uint32_t style) {
    std::lock_guard lock(m_impl->mutex);
    if (m_impl->answers.empty()) {
        return DefaultAnswer(style);
    }
    const int answer = m_impl->answers.front();
    m_impl->answers.pop_front();
    if (answer == kHold) {
        return std::nullopt;
    }
    return answer;
}

std::size_t MessageBoxScript::Record(MessageBoxRecord record) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->boxes.push_back(std::move(record));
    return m_impl->boxes.size() - 1;
}

void MessageBoxScript::SetAnswer(std::size_t index, int answer) {
    std::lock_guard lock(m_impl->mutex);
    if (index < m_impl->boxes.size()) {
        m_impl->boxes[index].answer = answer;
    }
}

std::vector<MessageBoxRecord> MessageBoxScript::Boxes() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->boxes;
}

std::size_t MessageBoxScript::OpenCount() const {
    std::lock_guard lock(g_openMutex);
    return g_open.size();
}

bool MessageBoxScript::WaitForOpen(std::size_t n, std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (OpenCount() < n) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        if (IsUiThread() && Application::Instance()) {
            Application::Instance()->ProcessEvents();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool MessageBoxScript::AnswerOpen(int answer) {
    return CallOnUiThread([answer] {
        QPointer<BoxWidget> box;
        {
            std::lock_guard lock(g_openMutex);
            if (!g_open.empty()) {
                box = g_open.front().widget;
            }
        }
        if (!box) {
            return false;
        }
        box->done(answer);
        return true;
    });
}

} // namespace hh::win
