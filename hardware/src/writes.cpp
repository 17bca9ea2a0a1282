#include "writes.h"

#include <platform/system/error.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace hh::hw {

bool MayChangeMachine(std::string_view what) {
    const char* allowed = std::getenv(kWritesVariable);
    if (allowed && std::string_view(allowed) == "1") {
        return true;
    }
    static std::atomic<bool> told{false};
    if (!told.exchange(true)) {
        std::fprintf(stderr,
                     "%.*s was left as it is: the device library changes this machine's "
                     "hardware only with %s=1\n",
                     static_cast<int>(what.size()), what.data(), kWritesVariable);
    }
    sys::SetLastError(sys::ERROR_ACCESS_DENIED);
    return false;
}

} // namespace hh::hw
