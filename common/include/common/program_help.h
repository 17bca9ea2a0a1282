#pragma once
// The help of a program that takes no arguments: what it does and the
// environment it reads, printed for --help. The program's manual page is made
// of this text at build time, so the two always say the same.

#include <initializer_list>
#include <string_view>

namespace hh {

/// Prints the program's help on standard output when its first argument is
/// --help or -h: `help` (a usage line and the description), then an
/// "Environment:" section of the parts of `environment` (the program's own
/// variables, one indented line or more each) followed by the variables every
/// program reads.
/// True when printed; the program then ends with exit code 0. Other
/// arguments are ignored, as they always were.
bool PrintHelpIfAsked(int argc, char** argv, std::string_view help,
                      std::initializer_list<std::string_view> environment = {});

} // namespace hh
