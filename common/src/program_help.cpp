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

bool PrintHelpIfAsked(int argc, char** argv, std::string_view help, std::string_view environment) {
    if (argc < 2 || (std::strcmp(argv[1], "--help") != 0 && std::strcmp(argv[1], "-h") != 0)) {
        return false;
    }
    std::printf("%.*s\nEnvironment:\n%.*s%.*s", static_cast<int>(help.size()), help.data(),
                static_cast<int>(environment.size()), environment.data(),
                static_cast<int>(kPlatformEnvironment.size()), kPlatformEnvironment.data());
    return true;
}

} // namespace hh
