#pragma once
// The UI thread. Widgets are touched on the UI thread only; every window call a
// worker makes is carried over here: blocking where the window system's call
// is a send (it returns when the UI thread has run it), queued where it is a
// post. Everything posted reaches the UI thread in posting order, whichever
// thread posted it.

#include <functional>
#include <type_traits>

namespace hh::win {

/// True on the thread that runs the application's windows (or when no application exists).
bool IsUiThread();

/// Runs fn on the UI thread and waits for it; runs it at once on the UI thread.
/// Returns false, without running fn, when the application ends first.
bool RunOnUiThread(const std::function<void()>& fn);

/// Queues fn for the UI thread, after everything posted before it.
void PostToUiThread(std::function<void()> fn);

/// RunOnUiThread for a call with a result; a default value when the application is gone.
template <class F>
auto CallOnUiThread(F&& fn) -> std::invoke_result_t<F> {
    using R = std::invoke_result_t<F>;
    if constexpr (std::is_void_v<R>) {
        if (IsUiThread()) {
            fn();
        } else {
            RunOnUiThread([&] { fn(); });
        }
    } else {
        if (IsUiThread()) {
            return fn();
        }
        R result{};
        RunOnUiThread([&] { result = fn(); });
        return result;
    }
}

} // namespace hh::win
