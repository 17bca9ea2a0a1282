// The Linux backend's tests run under umockdev's preload, which this program
// arranges for itself. They never reach the machine's login manager: the
// system bus they would use is one that does not exist.

#include "testbed.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    hh::hw::testing::RunUnderUmockdev(argv);
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/system_bus_socket", 1);
    ::unsetenv("HANDHELD_HARDWARE_WRITES");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The testbed's worker thread and this program's share the testbed through
// GLib's locks, which are futexes that ThreadSanitizer does not see: what it
// reports inside umockdev's testbed library and GLib is theirs, never the
// backend's (the preload that stands between the backend and its files is
// another library, libumockdev-preload, and stays checked).
extern "C" const char* __tsan_default_suppressions() {
    return "race:libumockdev.so\n"
           "race:libglib-2.0.so\n";
}
