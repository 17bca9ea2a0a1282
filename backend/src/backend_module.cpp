// The device's backend as a module of its own, which the platform loads into
// a program that registered no backend at its start (a program of another
// project that links the device library alone): the same device root and the
// backend HANDHELD_DEVICE chooses, as the suite's programs get.

#include <backend/device_backend.h>

extern "C" __attribute__((visibility("default"))) int hh_register_device_backend() {
    return hh::backend::StartDevice("libHalvix") ? 1 : 0;
}
