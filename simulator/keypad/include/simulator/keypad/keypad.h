#pragma once
// The device's keypad driver, simulated: the four hardware keys (back, up,
// down, ok as the virtual keys 0xC1 to 0xC4) pressed and released from the
// device console reach the program on the device screen that holds the
// keypad, the one that started or was activated last.
//
// The programs of a device root meet through named events: the manual-reset
// event "HHKeypad.Foreground" carries the id of the receiver that holds the
// keypad as its data word (the process id shifted left by 10 bits, plus a
// count of that process's receivers); each receiver waits on its own
// automatic-reset event "HHKeypad.<id>", whose data word is the key (the
// virtual key, plus 0x100 for a press), and acknowledges every key on
// "HHKeypad.<id>.Ack", so a sender knows the key arrived.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace hh::sim {

inline constexpr int VK_KEY_BACK = 0xC1;
inline constexpr int VK_KEY_UP = 0xC2;
inline constexpr int VK_KEY_DOWN = 0xC3;
inline constexpr int VK_KEY_OK = 0xC4;

/// The virtual key of a key name ("back", "up", "down", "ok"), or nullopt.
std::optional<int> HardwareKeyByName(std::string_view name);

/// The receiving side, one per program: a thread hands every key that
/// arrives to the handler, in order.
class KeypadReceiver {
public:
    using Handler = std::function<void(int virtualKey, bool pressed)>;

    /// Starts receiving and takes the keypad.
    explicit KeypadReceiver(Handler handler);
    /// Stops the thread and gives the keypad up when this program holds it.
    ~KeypadReceiver();
    KeypadReceiver(const KeypadReceiver&) = delete;
    KeypadReceiver& operator=(const KeypadReceiver&) = delete;

    /// Makes this program the one the keys go to.
    void TakeKeypad();
    /// True when the events could be made and the thread runs.
    bool IsReceiving() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

/// Sends one key to the program that holds the keypad and waits (up to
/// timeoutMs of real time) for it to take the key. False with a one-line
/// reason in error when no program holds the keypad or it did not answer.
bool SendHardwareKey(int virtualKey, bool pressed, std::string& error, uint32_t timeoutMs = 2000);

} // namespace hh::sim
