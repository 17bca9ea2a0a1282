// startup: marks in the registry that it has run, adds one to the run
// counter, flushes both values and prints the tick count at which it ran.

#include <common/program_help.h>
#include <common/reg_key.h>
#include <platform/system/clock.h>
#include <platform/system/device_image.h>
#include <platform/system/registry.h>
#include <platform/system/trace.h>

#include <cstdint>
#include <cstdio>
#include <string>

using namespace hh::sys;

uint32_t g_dwStartupTick = 0;

namespace {

constexpr const char* kHelp = R"(Usage: startup
Runs at the device's start: marks in the device registry that it has run
(HKEY_LOCAL_MACHINE\init\App "startup" = 1), adds one to the run counter
("startup_cnt"), flushes both and prints the tick count at which it ran. It
takes no arguments. Installed, it lies outside the PATH, in the suite's own
folder of programs: )" HH_STARTUP_INSTALLED R"(.
)";

} // namespace

int main(int argc, char** argv) {
    if (hh::PrintHelpIfAsked(argc, argv, kHelp)) {
        return 0;
    }
    g_dwStartupTick = GetTickCount();
    TracePrintf("===TIME==>g_dwStartupTick=%d\r\n", static_cast<int>(g_dwStartupTick));

    // A device root that cannot be made is reported and treated like a key
    // that cannot be opened.
    std::string error;
    if (!PrepareDeviceRoot(error)) {
        std::fprintf(stderr, "startup: %s\n", error.c_str());
        return 0;
    }

    // Two runs at the same moment must both count: the read and the increment
    // happen under the registry's write lock, which the flush releases. A
    // registry that cannot be locked (corrupt, held too long, no device root)
    // is treated like a key that cannot be opened.
    RegistryTransaction transaction;
    if (transaction.ok()) {
        RegKey key;
        if (key.Create(HKEY_LOCAL_MACHINE, u"init\\App")) {
            key.WriteDword(u"startup", 1);
            TracePrintf("startup = %d\r\n", static_cast<int>(key.ReadDword(u"startup", 0)));
            uint32_t dwCount = key.ReadDword(u"startup_cnt", 0) + 1;
            key.WriteDword(u"startup_cnt", dwCount);
            key.Flush();
            TracePrintf("startup_cnt = %d\r\n", static_cast<int>(dwCount));
        }
    }
    return 0;
}
