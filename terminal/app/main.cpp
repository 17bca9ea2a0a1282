// VARDI: the serial terminal with its GPS monitor. It takes no arguments; the
// device root, the screen and the port mapping come from the environment.

#include <common/program_help.h>
#include <platform/system/module_path.h>
#include <platform/system/serial_port.h>
#include <platform/system/thread.h>
#include <platform/window/application.h>
#include <platform/window/screen.h>
#include <terminal/ui/dlg_terminal.h>

#include <backend/device_backend.h>

#include <cstdint>

namespace {

// Longer than the auto-send thread's one-second pass.
constexpr uint32_t kThreadEndLimitMs = 3000;

constexpr const char* kHelp = R"(Usage: VARDI
The serial terminal with its GPS monitor, on the handheld device.
It shows what arrives on a serial port (COM7:, the simulated GPS receiver,
by default), sends text or bytes, saves the display to the storage card and
charts the satellites of the NMEA sentences. It takes no arguments.
)";
constexpr const char* kEnvironment =
    R"(  HANDHELD_COM<n>               the host device behind COM<n>: (/dev/ttyUSB0,
                                /dev/pts/N, or replay:FILE for a recorded NMEA
                                log)
)";

} // namespace

int main(int argc, char** argv) {
    if (hh::PrintHelpIfAsked(
            argc, argv, kHelp,
            {hh::win::kDeviceScreenHelp, kEnvironment, hh::backend::kDeviceBackendHelp})) {
        return 0;
    }
    hh::sys::SetModuleName(u"VARDI");
    hh::sys::RegisterSerialDriver();
    if (!hh::backend::StartDevice("VARDI")) {
        return 1;
    }

    {
        hh::win::Application app(u"VARDI");
        terminal::CDlgTerminal dialog;
        dialog.DoModal();
    }
    // The reader and auto-send threads find the window gone at their next
    // pass and end; the program ends after them, so that none of them runs
    // while the exit destroys what they use. The wait is bounded, so that a
    // thread stuck in a driver cannot keep the program from ending.
    hh::sys::WaitForOtherThreads(kThreadEndLimitMs);
    return 0;
}
