#include "internal.h"

#include <platform/window/ui_thread.h>

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace hh::win {
namespace detail {
namespace {

const QEvent::Type kCallEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

/// What a blocked sender waits on; the event marks it done when it ran or was dropped.
struct Completion {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    bool ran = false;
};

class CallEvent : public QEvent {
public:
    CallEvent(std::function<void()> fn, std::shared_ptr<Completion> completion)
        : QEvent(kCallEvent), m_fn(std::move(fn)), m_completion(std::move(completion)) {}
    ~CallEvent() override { Finish(false); }
    void Run() {
        m_fn();
        Finish(true);
    }

private:
    void Finish(bool ran) {
        if (!m_completion) {
            return;
        }
        {
            std::lock_guard lock(m_completion->mutex);
            m_completion->done = true;
            m_completion->ran = ran;
        }
        m_completion->cv.notify_all();
        m_completion.reset();
    }
    std::function<void()> m_fn;
    std::shared_ptr<Completion> m_completion;
};

class Dispatcher : public QObject {
public:
    bool event(QEvent* event) override {
        if (event->type() == kCallEvent) {
            static_cast<CallEvent*>(event)->Run();
            return true;
        }
        return QObject::event(event);
    }
};

std::mutex g_mutex;
Dispatcher* g_dispatcher = nullptr;
Qt::HANDLE g_uiThread = nullptr;

} // namespace

void InstallDispatcher() {
    std::lock_guard lock(g_mutex);
    g_dispatcher = new Dispatcher;
    g_uiThread = QThread::currentThreadId();
}

void RemoveDispatcher() {
    Dispatcher* dispatcher = nullptr;
    {
        std::lock_guard lock(g_mutex);
        dispatcher = g_dispatcher;
        g_dispatcher = nullptr;
        g_uiThread = nullptr;
    }
    // Deleting the receiver drops its pending calls, which releases their senders.
    delete dispatcher;
}

bool UiThreadIsCurrent() {
    std::lock_guard lock(g_mutex);
    return g_uiThread == nullptr || g_uiThread == QThread::currentThreadId();
}

bool Post(std::function<void()> fn, std::shared_ptr<Completion> completion) {
    std::lock_guard lock(g_mutex);
    if (!g_dispatcher) {
        return false;
    }
    QCoreApplication::postEvent(g_dispatcher, new CallEvent(std::move(fn), std::move(completion)));
    return true;
}

} // namespace detail

bool IsUiThread() {
    return detail::UiThreadIsCurrent();
}

bool RunOnUiThread(const std::function<void()>& fn) {
    if (IsUiThread()) {
        fn();
        return true;
    }
    auto completion = std::make_shared<detail::Completion>();
    if (!detail::Post(fn, completion)) {
        return false;
    }
    std::unique_lock lock(completion->mutex);
    completion->cv.wait(lock, [&] { return completion->done; });
    return completion->ran;
}

void PostToUiThread(std::function<void()> fn) {
    detail::Post(std::move(fn), nullptr);
}

} // namespace hh::win
