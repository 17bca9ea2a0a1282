#pragma once
// The application object: one per process, on the thread that becomes the UI
// thread. It owns the Qt application, the device screen, the task bar and the
// input panel. A program constructs it, runs its main dialog modally and
// returns. Tests run it with QT_QPA_PLATFORM=offscreen.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace hh::win {

class Application {
public:
    /// Starts the window system; title is the default message box caption.
    explicit Application(std::u16string title);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    static Application* Instance();
    const std::u16string& Title() const { return m_title; }

    /// Handles every event and posted call that is due now.
    void ProcessEvents();

private:
    struct Impl;
    std::u16string m_title;
    std::unique_ptr<Impl> m_impl;
};

} // namespace hh::win
