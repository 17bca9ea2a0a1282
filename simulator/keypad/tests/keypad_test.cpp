// The keypad between a sender and receivers of one device root.

#include <platform/system/event.h>
#include <platform/system/testing.h>
#include <simulator/keypad/keypad.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace hh::sim {
namespace {

class KeypadTest : public hh::sys::testing::DeviceRootTest {
protected:
    KeypadTest() : DeviceRootTest(hh::sys::testing::RootLayout::Empty) {}

    struct Received {
        std::mutex lock;
        std::vector<std::pair<int, bool>> keys;
        void Add(int vk, bool pressed) {
            std::lock_guard guard(lock);
            keys.emplace_back(vk, pressed);
        }
        std::vector<std::pair<int, bool>> Get() {
            std::lock_guard guard(lock);
            return keys;
        }
    };
};

TEST_F(KeypadTest, KeyNames) {
    EXPECT_EQ(HardwareKeyByName("back"), 0xC1);
    EXPECT_EQ(HardwareKeyByName("up"), 0xC2);
    EXPECT_EQ(HardwareKeyByName("down"), 0xC3);
    EXPECT_EQ(HardwareKeyByName("ok"), 0xC4);
    EXPECT_EQ(HardwareKeyByName("Back"), std::nullopt);
    EXPECT_EQ(HardwareKeyByName(""), std::nullopt);
}

TEST_F(KeypadTest, KeysArriveInOrderAndAreAcknowledged) {
    Received received;
    KeypadReceiver receiver([&](int vk, bool pressed) { received.Add(vk, pressed); });
    ASSERT_TRUE(receiver.IsReceiving());
    std::string error;
    ASSERT_TRUE(SendHardwareKey(VK_KEY_BACK, true, error)) << error;
    ASSERT_TRUE(SendHardwareKey(VK_KEY_BACK, false, error)) << error;
    ASSERT_TRUE(SendHardwareKey(VK_KEY_OK, true, error)) << error;
    // Each send returns once the receiver took the key, so all three are there.
    EXPECT_EQ(received.Get(), (std::vector<std::pair<int, bool>>{
                                  {VK_KEY_BACK, true}, {VK_KEY_BACK, false}, {VK_KEY_OK, true}}));
}

TEST_F(KeypadTest, TheLastProgramToTakeTheKeypadGetsTheKeys) {
    Received first;
    Received second;
    KeypadReceiver a([&](int vk, bool pressed) { first.Add(vk, pressed); });
    {
        KeypadReceiver b([&](int vk, bool pressed) { second.Add(vk, pressed); });
        std::string error;
        ASSERT_TRUE(SendHardwareKey(VK_KEY_UP, true, error)) << error;
        EXPECT_TRUE(first.Get().empty());
        EXPECT_EQ(second.Get().size(), 1u);
        a.TakeKeypad();
        ASSERT_TRUE(SendHardwareKey(VK_KEY_DOWN, true, error)) << error;
        EXPECT_EQ(first.Get().size(), 1u);
        b.TakeKeypad();
    }
    // The holder ended: nobody holds the keypad until a program takes it again.
    std::string error;
    EXPECT_FALSE(SendHardwareKey(VK_KEY_OK, true, error));
    EXPECT_NE(error.find("no program"), std::string::npos) << error;
    a.TakeKeypad();
    EXPECT_TRUE(SendHardwareKey(VK_KEY_OK, true, error)) << error;
    EXPECT_EQ(first.Get().back(), std::make_pair(VK_KEY_OK, true));
}

TEST_F(KeypadTest, WithoutAReceiverTheSendFailsWithAReason) {
    std::string error;
    EXPECT_FALSE(SendHardwareKey(VK_KEY_BACK, true, error));
    EXPECT_EQ(error, "no program on the device screen takes keys (is one running?)");
}

TEST_F(KeypadTest, AReceiverThatDoesNotAnswerIsReported) {
    // A program that holds the keypad but whose receiver does not run.
    sys::Event foreground =
        sys::Event::Create(sys::EventReset::Manual, false, "HHKeypad.Foreground");
    sys::Event keys = sys::Event::Create(sys::EventReset::Automatic, false, "HHKeypad.4343808");
    sys::Event ack = sys::Event::Create(sys::EventReset::Automatic, false, "HHKeypad.4343808.Ack");
    foreground.setData(4242 << 10);
    std::string error;
    EXPECT_FALSE(SendHardwareKey(VK_KEY_BACK, true, error, 50));
    EXPECT_EQ(error, "the program 4242 did not take the key");
}

} // namespace
} // namespace hh::sim
