#include <platform/system/error.h>
#include <platform/system/event.h>
#include <platform/system/thread.h>
#include <platform/system/wait.h>
#include <simulator/keypad/keypad.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace hh::sim {

namespace {

constexpr char kForegroundName[] = "HHKeypad.Foreground";
constexpr uint32_t kPressedBit = 0x100;

std::string KeyEventName(uint32_t id) {
    return "HHKeypad." + std::to_string(id);
}

std::string AckEventName(uint32_t id) {
    return KeyEventName(id) + ".Ack";
}

/// A receiver's id: its process id (at most 22 bits on Linux) and a count of
/// the receivers this process made.
uint32_t NextReceiverId() {
    static std::atomic<uint32_t> count{0};
    return (static_cast<uint32_t>(::getpid()) << 10) | (count++ & 0x3FF);
}

/// Opens an event only when some program already made it.
sys::Event OpenExisting(const std::string& name) {
    sys::Event event = sys::Event::Create(sys::EventReset::Automatic, false, name);
    if (event && sys::GetLastError() != sys::ERROR_ALREADY_EXISTS) {
        return sys::Event();
    }
    return event;
}

} // namespace

std::optional<int> HardwareKeyByName(std::string_view name) {
    if (name == "back") {
        return VK_KEY_BACK;
    }
    if (name == "up") {
        return VK_KEY_UP;
    }
    if (name == "down") {
        return VK_KEY_DOWN;
    }
    if (name == "ok") {
        return VK_KEY_OK;
    }
    return std::nullopt;
}

struct KeypadReceiver::State {
    Handler handler;
    uint32_t id = NextReceiverId();
    sys::Event foreground;
    sys::Event keys;
    sys::Event ack;
    sys::Event stop;
    sys::Thread thread;

    uint32_t Run() {
        for (;;) {
            const uint32_t woke = sys::WaitForMultipleObjects({&stop, &keys}, sys::INFINITE);
            if (woke == sys::WAIT_OBJECT_0) {
                return 0;
            }
            if (woke != sys::WAIT_OBJECT_0 + 1) {
                // The handles are ours and live as long as the thread, so
                // this does not happen; do not spin if it does.
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            const uint32_t word = keys.data();
            handler(static_cast<int>(word & 0xFF), (word & kPressedBit) != 0);
            ack.set();
        }
    }
};

KeypadReceiver::KeypadReceiver(Handler handler) : m_state(std::make_unique<State>()) {
    State& s = *m_state;
    s.handler = std::move(handler);
    s.foreground = sys::Event::Create(sys::EventReset::Manual, false, kForegroundName);
    s.keys = sys::Event::Create(sys::EventReset::Automatic, false, KeyEventName(s.id));
    s.ack = sys::Event::Create(sys::EventReset::Automatic, false, AckEventName(s.id));
    s.stop = sys::Event::Create(sys::EventReset::Automatic, false);
    if (!s.foreground || !s.keys || !s.ack || !s.stop) {
        return;
    }
    s.thread = sys::Thread::Start([state = m_state.get()] { return state->Run(); });
    TakeKeypad();
}

KeypadReceiver::~KeypadReceiver() {
    State& s = *m_state;
    if (s.thread) {
        s.stop.set();
        sys::WaitForSingleObject(s.thread, sys::INFINITE);
    }
    if (s.foreground && s.foreground.data() == s.id) {
        s.foreground.setData(0);
    }
}

void KeypadReceiver::TakeKeypad() {
    if (m_state->thread) {
        m_state->foreground.setData(m_state->id);
    }
}

bool KeypadReceiver::IsReceiving() const {
    return static_cast<bool>(m_state->thread);
}

bool SendHardwareKey(int virtualKey, bool pressed, std::string& error, uint32_t timeoutMs) {
    const std::string none = "no program on the device screen takes keys (is one running?)";
    sys::Event foreground = OpenExisting(kForegroundName);
    const uint32_t id = foreground ? foreground.data() : 0;
    if (id == 0) {
        error = none;
        return false;
    }
    sys::Event keys = OpenExisting(KeyEventName(id));
    sys::Event ack = OpenExisting(AckEventName(id));
    if (!keys || !ack) {
        error = none;
        return false;
    }
    ack.reset();
    keys.setData(static_cast<uint32_t>(virtualKey & 0xFF) | (pressed ? kPressedBit : 0));
    keys.set();
    if (sys::WaitForSingleObject(ack, timeoutMs) != sys::WAIT_OBJECT_0) {
        error = "the program " + std::to_string(id >> 10) + " did not take the key";
        return false;
    }
    return true;
}

} // namespace hh::sim
