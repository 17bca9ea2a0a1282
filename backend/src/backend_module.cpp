// The device's backend as a module of its own, which the platform loads into
// a program that registered no backend at its start (a program of another
// project that links the device library alone): the same device root and the
// backend HANDHELD_DEVICE chooses, as the suite's programs get.

#include <platform/system/device_image.h>
#include <platform/system/stream_device.h>

#include <backend/device_backend.h>

#include <cstdio>
#include <string>

extern "C" __attribute__((visibility("default"))) int hh_register_device_backend() {
    std::string error;
    if (!hh::sys::PrepareDeviceRoot(error)) {
        std::fprintf(stderr, "libHalvix: %s\n", error.c_str());
        return 0;
    }
    if (!hh::backend::RegisterDeviceBackend(error)) {
        std::fprintf(stderr, "libHalvix: %s\n", error.c_str());
        return 0;
    }
    return 1;
}
