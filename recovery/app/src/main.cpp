// Restel: the device's emergency recovery program. It takes no arguments; the
// device root and the screen come from the environment.

#include <platform/system/device_image.h>
#include <platform/system/module_path.h>
#include <platform/window/application.h>
#include <recovery/app/recovery_dlg.h>

#include <backend/device_backend.h>

#include <cstdio>
#include <string>

int main() {
    hh::sys::SetModuleName(u"Restel");
    std::string error;
    if (!hh::sys::PrepareDeviceRoot(error)) {
        std::fprintf(stderr, "Restel: %s\n", error.c_str());
        return 1;
    }
    if (!hh::backend::RegisterDeviceBackend(error)) {
        std::fprintf(stderr, "Restel: %s\n", error.c_str());
        return 1;
    }
    hh::win::Application application(u"Restel");
    recovery::CRecoveryApp app;
    app.InitInstance();
    return 0;
}
