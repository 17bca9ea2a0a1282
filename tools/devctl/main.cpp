// devctl: inspects and drives the simulated device of the device root named
// by HANDHELD_ROOT. Each verb prints plain text; bad input gets one line on
// standard error and a non-zero exit code.

#include "commands.h"

#include <cstdio>

int main(int argc, char** argv) {
    CLI::App app{"The device console: inspects and drives the simulated device", "devctl"};
    app.require_subcommand(1);
    hh::devctl::AddRegCommand(app);
    hh::devctl::AddPowerCommand(app);
    hh::devctl::AddNotifyCommand(app);
    hh::devctl::AddKeyCommand(app);
    hh::devctl::AddBatteryCommand(app);
    hh::devctl::AddBacklightCommand(app);
    hh::devctl::AddBluetoothCommand(app);
    hh::devctl::AddUsbCommand(app);
    hh::devctl::AddCardCommand(app);
    hh::devctl::AddAccelCommand(app);
    hh::devctl::AddBaroCommand(app);
    hh::devctl::AddCompassCommand(app);
    hh::devctl::AddBuzzerCommand(app);
    hh::devctl::AddDriverCommand(app);
    hh::devctl::AddUuidCommand(app);
    hh::devctl::AddOsInfoCommand(app);
    hh::devctl::AddCallCommand(app);
    hh::devctl::AddProbeCommand(app);
    hh::devctl::AddGpsCommand(app);
    // After the verbs, which would otherwise inherit it.
    app.footer("Environment:\n"
               "  HANDHELD_ROOT    the device root (unset: $XDG_DATA_HOME/handheld-device, else\n"
               "                   ~/.local/share/handheld-device)\n"
               "  HANDHELD_DEVICE  the device of \"call\": simulated (the default) or linux, this\n"
               "                   machine's own hardware\n"
               "  HANDHELD_HALVIX  the libHalvix.so that \"call\" loads (default libHalvix.so.1)\n"
               "\n"
               "Each verb has its own --help.");
    if (argc > 1 && argv[1][0] != '-') {
        try {
            app.get_subcommand(argv[1]);
        } catch (const CLI::OptionNotFound&) {
            std::fprintf(stderr, "devctl: unknown verb \"%s\" (try devctl --help)\n", argv[1]);
            return 2;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "devctl: %s\n", e.what());
        return 2;
    } catch (const hh::devctl::CommandError& e) {
        std::fprintf(stderr, "devctl: %s\n", e.what());
        return 1;
    }
    return 0;
}
