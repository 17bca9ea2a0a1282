// V5520Demo: the device test application. It takes no arguments; the device
// root and the screen come from the environment.

#include <devtest/pages/pages.h>
#include <platform/system/device_image.h>
#include <platform/system/module_path.h>
#include <platform/window/application.h>
#include <platform/window/device_screen.h>
#include <simulator/keypad/keypad.h>

#include <backend/device_backend.h>

#include <cstdio>
#include <string>

int main() {
    hh::sys::SetModuleName(u"V5520Demo");
    std::string error;
    if (!hh::sys::PrepareDeviceRoot(error)) {
        std::fprintf(stderr, "V5520Demo: %s\n", error.c_str());
        return 1;
    }
    if (!hh::backend::RegisterDeviceBackend(error)) {
        std::fprintf(stderr, "V5520Demo: %s\n", error.c_str());
        return 1;
    }
    hh::win::Application application(u"V5520Demo");
    hh::win::FollowDeviceDisplay();
    // The device's keypad: keys sent with devctl key reach the focused page.
    hh::sim::KeypadReceiver keypad(
        [](int virtualKey, bool pressed) { hh::win::PostHardwareKey(virtualKey, pressed); });
    hh::win::OnProgramActivated([&keypad] { keypad.TakeKeypad(); });
    devtest::CTestApp app;
    app.InitInstance();
    return 0;
}
