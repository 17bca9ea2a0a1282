#pragma once
// Message boxes through one service. A box raised on the UI thread is modal
// (timers and posted messages keep running in its loop); one raised from a
// worker blocks that worker until it is answered while the UI thread goes on.
// Tests install a MessageBoxScript to answer boxes and read back what they showed.

#include <platform/window/win_types.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hh::win {

class Window;

/// MessageBox: text, caption and MB_ style; no caption (nullopt) gives the
/// application's title, an empty caption stays empty. Returns IDOK, IDYES,
/// IDNO, IDCANCEL, ... or 0 when the box cannot be shown.
int MessageBox(const Window* owner, std::u16string_view text,
               std::optional<std::u16string_view> caption, std::uint32_t style);
/// MessageBox with the default caption.
int MessageBox(const Window* owner, std::u16string_view text, std::uint32_t style = MB_OK);

/// What a box showed and how it was answered.
struct MessageBoxRecord {
    std::u16string text;
    std::u16string caption;
    std::uint32_t style = 0;
    const Window* owner = nullptr;
    bool fromUiThread = false;
    int answer = 0;
};

/// While installed, every box is recorded and answered with the next queued
/// answer; with none queued it is answered with its default button. Hold()
/// queues "leave it open" so that a test answers it with AnswerOpen.
class MessageBoxScript {
public:
    MessageBoxScript();
    ~MessageBoxScript();
    MessageBoxScript(const MessageBoxScript&) = delete;
    MessageBoxScript& operator=(const MessageBoxScript&) = delete;

    void Answer(int answer);
    void Hold();
    /// Every box raised so far, in order (answer 0 while open).
    std::vector<MessageBoxRecord> Boxes() const;
    std::size_t OpenCount() const;
    /// Waits (real time, bounded) until n boxes are open; the UI thread keeps
    /// handling events while it waits when called on it.
    bool WaitForOpen(std::size_t n,
                     std::chrono::milliseconds limit = std::chrono::seconds(5)) const;
    /// Answers the oldest open box; false when none is open.
    bool AnswerOpen(int answer);

    /// For the service.
    static MessageBoxScript* Installed();
    std::optional<int> NextAnswer(std::uint32_t style);
    std::size_t Record(MessageBoxRecord record);
    void SetAnswer(std::size_t index, int answer);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

/// The answer of a box's default button (MB_DEFBUTTON2/3 pick the second or third).
int DefaultAnswer(std::uint32_t style);

} // namespace hh::win
