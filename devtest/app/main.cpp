// V5520Demo: the device test application. It takes no arguments; the device
// root and the screen come from the environment.

#include <common/program_help.h>
#include <devtest/pages/pages.h>
#include <platform/system/module_path.h>
#include <platform/window/application.h>
#include <platform/window/device_screen.h>
#include <platform/window/screen.h>
#include <simulator/keypad/keypad.h>

#include <backend/device_backend.h>

namespace {

constexpr const char* kHelp = R"(Usage: V5520Demo
The device test application, on the handheld device: nine pages
(System, SPK, BKL, DevInfo, Sensor, KEY, USB, Switch, GSensor) that show and
drive the device's hardware through its device interface library. Keys sent
with "devctl key" reach the focused page. It takes no arguments.
)";

} // namespace

int main(int argc, char** argv) {
    if (hh::PrintHelpIfAsked(argc, argv, kHelp,
                             {hh::win::kDeviceScreenHelp, hh::backend::kDeviceBackendHelp})) {
        return 0;
    }
    hh::sys::SetModuleName(u"V5520Demo");
    if (!hh::backend::StartDevice("V5520Demo")) {
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
