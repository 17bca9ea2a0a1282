#include "common/program_help.h"

#include <cstdio>
#include <cstring>

namespace hh {

namespace {

// What the platform reads in every program, in the programs' own columns
// (names, then their text from column 33), so that the manual page makes one
// list of them.
constexpr std::string_view kPlatformEnvironment =
    "  HANDHELD_ROOT                 the device root: a host folder that stands for\n"
    "                                the device's file system and state; unset,\n"
    "                                $XDG_DATA_HOME/handheld-device, else\n"
    "                                ~/.local/share/handheld-device. A new root gets\n"
    "                                the sample device image; one that cannot be made\n"
    "                                or written ends the program with a one-line\n"
    "                                message\n"
    "  HANDHELD_CODEPAGE             the ANSI code page (default 1252)\n"
    "  HANDHELD_DEBUG_LOG            a file that gets the debug output instead of\n"
    "                                standard error\n"
    "  HANDHELD_REGISTRY_TIMEOUT_MS  how long a locked registry is waited for\n"
    "                                (default 10000)\n";

} // namespace

bool PrintHelpIfAsked(int argc, char** argv, std::string_view help,
                      std::initializer_list<std::string_view> environment) {
    if (argc < 2 || (std::strcmp(argv[1], "--help") != 0 && std::strcmp(argv[1], "-h") != 0)) {
        return false;
    }
    auto print = [](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); };
    print(help);
    print("\nEnvironment:\n");
    for (std::string_view part : environment) {
        print(part);
    }
    print(kPlatformEnvironment);
    return true;
}

} // namespace hh
