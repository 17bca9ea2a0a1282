#pragma once
// The offscreen application every window test runs in: a 480 x 272 device
// screen in a temporary device root, removed after the suite.

#include <platform/system/testing.h>
#include <platform/window/application.h>
#include <platform/window/dialog.h>
#include <platform/window/testing.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace hh::win::test {

class WindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("HANDHELD_SCREEN", "480x272", 1);
        s_device.emplace();
        s_runtime.emplace(s_device->base());
    }
    static void TearDownTestSuite() {
        s_runtime.reset();
        s_device.reset();
    }

    Application app{u"WindowTests"};

private:
    inline static std::optional<hh::sys::testing::TempDeviceRoot> s_device;
    inline static std::optional<hh::sys::testing::RuntimeDir> s_runtime;
};

/// A control template in the resource compiler's form.
inline ControlTemplate Ctl(std::uint16_t id, std::u16string_view cls, std::u16string_view text,
                           std::uint32_t style, Rect dlu) {
    return ControlTemplate{id, std::u16string(cls), std::u16string(text),
                           WS_CHILD | WS_VISIBLE | style, dlu};
}

inline DialogTemplate Tpl(std::vector<ControlTemplate> controls,
                          std::uint32_t style = WS_POPUP | WS_CAPTION | WS_SYSMENU,
                          std::uint32_t exStyle = 0) {
    DialogTemplate tpl;
    tpl.id = 100;
    tpl.caption = u"Test";
    tpl.style = style;
    tpl.exStyle = exStyle;
    tpl.widthDlu = 200;
    tpl.heightDlu = 120;
    tpl.controls = std::move(controls);
    return tpl;
}

/// A dialog that records what its handlers saw.
class Recorder : public Dialog {
public:
    using Dialog::Dialog;
    std::vector<std::pair<int, int>> commands;
    std::vector<Notification> notifies;
    std::vector<std::uintptr_t> timers;
    std::vector<std::pair<std::uint32_t, WPARAM>> messages;
    std::vector<KeyMessage> keys;
    std::function<LRESULT(const Notification&)> onNotify;
    std::function<void(std::uintptr_t)> onTimer;
    std::function<bool()> onInit;
    std::function<void(int, int)> onCommand;
    bool consumeKeys = false;
    int destroyed = 0;

protected:
    bool OnInitDialog() override { return onInit ? onInit() : true; }
    void OnCommand(int id, int code) override {
        commands.emplace_back(id, code);
        if (onCommand) {
            onCommand(id, code);
        }
        Dialog::OnCommand(id, code);
    }
    LRESULT OnNotify(const Notification& n) override {
        notifies.push_back(n);
        return onNotify ? onNotify(n) : 0;
    }
    void OnTimer(std::uintptr_t id) override {
        timers.push_back(id);
        if (onTimer) {
            onTimer(id);
        }
    }
    LRESULT OnMessage(std::uint32_t msg, WPARAM w, LPARAM l) override {
        messages.emplace_back(msg, w);
        return static_cast<LRESULT>(w) + l;
    }
    bool PreTranslateMessage(const KeyMessage& key) override {
        keys.push_back(key);
        return consumeKeys;
    }
    void OnDestroy() override { ++destroyed; }
};

} // namespace hh::win::test
