#include "internal.h"

#include <platform/window/ui_thread.h>

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

namespace hh::win {
namespace detail {
namespace {

const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

/// What a blocked sender waits on; the call marks it done when it ran or was dropped.
struct Completion {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    bool ran = false;
};

class Call {
public:
    Call(std::function<void()> fn, std::shared_ptr<Completion> completion)
        : m_fn(std::move(fn)), m_completion(std::move(completion)) {}
    ~Call() { Finish(false); }
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

// The calls wait in one queue of our own, under our own lock, so that the
// order and the hand-over between threads do not depend on Qt's queue; each
// call posts one wake-up event that runs the oldest call.
std::mutex g_mutex;
std::deque<std::unique_ptr<Call>> g_queue;
QObject* g_dispatcher = nullptr;
Qt::HANDLE g_uiThread = nullptr;

class Dispatcher : public QObject {
public:
    bool event(QEvent* event) override {
        MarkEventReceived(event);
        if (event->type() != kWakeEvent) {
            return QObject::event(event);
        }
        std::unique_ptr<Call> call;
        {
            std::lock_guard lock(g_mutex);
            if (!g_queue.empty()) {
                call = std::move(g_queue.front());
                g_queue.pop_front();
            }
        }
        if (call) {
            call->Run();
        }
        return true;
    }
};

} // namespace

void InstallDispatcher() {
    std::lock_guard lock(g_mutex);
    g_dispatcher = new Dispatcher;
    g_uiThread = QThread::currentThreadId();
}

void RemoveDispatcher() {
    QObject* dispatcher = nullptr;
    std::deque<std::unique_ptr<Call>> dropped;
    {
        std::lock_guard lock(g_mutex);
        dispatcher = g_dispatcher;
        g_dispatcher = nullptr;
        g_uiThread = nullptr;
        dropped.swap(g_queue);
    }
    delete dispatcher;
    // Dropping the calls that never ran releases their senders.
    dropped.clear();
}

bool UiThreadIsCurrent() {
    std::lock_guard lock(g_mutex);
    return g_uiThread == nullptr || g_uiThread == QThread::currentThreadId();
}

bool Post(std::function<void()> fn, std::shared_ptr<Completion> completion) {
    std::unique_ptr<Call> call = std::make_unique<Call>(std::move(fn), std::move(completion));
    std::lock_guard lock(g_mutex);
    if (!g_dispatcher) {
        return false;
    }
    g_queue.push_back(std::move(call));
    auto* wake = new QEvent(kWakeEvent);
    MarkEventPosted(wake);
    QCoreApplication::postEvent(g_dispatcher, wake);
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
