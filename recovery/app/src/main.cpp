// Restel: the device's emergency recovery program. It takes no arguments; the
// device root and the screen come from the environment.

#include <common/program_help.h>
#include <platform/system/module_path.h>
#include <platform/window/application.h>
#include <platform/window/screen.h>
#include <recovery/app/recovery_dlg.h>

#include <backend/device_backend.h>

namespace {

constexpr const char* kHelp = R"(Usage: Restel
The device's emergency recovery program, on the handheld device.
It copies the files that the recovery's Path.xml names from the storage card
back onto the device, deletes what it names, and restarts the device. It
takes no arguments.
)";

} // namespace

int main(int argc, char** argv) {
    if (hh::PrintHelpIfAsked(argc, argv, kHelp,
                             {hh::win::kDeviceScreenHelp, hh::backend::kDeviceBackendHelp})) {
        return 0;
    }
    hh::sys::SetModuleName(u"Restel");
    if (!hh::backend::StartDevice("Restel")) {
        return 1;
    }
    hh::win::Application application(u"Restel");
    recovery::CRecoveryApp app;
    app.InitInstance();
    return 0;
}
