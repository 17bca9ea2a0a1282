#include "logind.h"

#include <platform/system/error.h>
#include <platform/system/posix.h>

#include <systemd/sd-bus.h>

#include <cerrno>
#include <memory>

namespace hh::hw {

namespace {

namespace posix = sys::posix;

constexpr const char* kService = "org.freedesktop.login1";
constexpr const char* kObject = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";

struct BusClose {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using Bus = std::unique_ptr<sd_bus, BusClose>;

struct ErrorFree {
    void operator()(sd_bus_error* error) const { sd_bus_error_free(error); }
};

// A bus that cannot be reached is a device that is not there.
uint32_t ErrorOfOpen(int result) {
    const int error = -result;
    if (error == EACCES || error == EPERM) {
        return sys::ERROR_ACCESS_DENIED;
    }
    return sys::ERROR_FILE_NOT_FOUND;
}

uint32_t ErrorOfCall(const sd_bus_error& error, int result) {
    if (sd_bus_error_has_names(&error, SD_BUS_ERROR_ACCESS_DENIED,
                               SD_BUS_ERROR_INTERACTIVE_AUTHORIZATION_REQUIRED,
                               "org.freedesktop.login1.OperationInProgress")) {
        return sys::ERROR_ACCESS_DENIED;
    }
    if (sd_bus_error_has_names(&error, SD_BUS_ERROR_SERVICE_UNKNOWN, SD_BUS_ERROR_NAME_HAS_NO_OWNER,
                               SD_BUS_ERROR_UNKNOWN_METHOD, SD_BUS_ERROR_UNKNOWN_OBJECT)) {
        return sys::ERROR_FILE_NOT_FOUND;
    }
    if (sd_bus_error_has_name(&error, SD_BUS_ERROR_NOT_SUPPORTED)) {
        return sys::ERROR_NOT_SUPPORTED;
    }
    return sys::ErrorFromErrno(-result);
}

std::optional<Bus> SystemBus() {
    sd_bus* bus = nullptr;
    int result = sd_bus_open_system(&bus);
    if (result < 0) {
        posix::Fail(ErrorOfOpen(result));
        return std::nullopt;
    }
    return Bus(bus);
}

} // namespace

bool CallLoginManager(const char* method) {
    std::optional<Bus> bus = SystemBus();
    if (!bus) {
        return false;
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    std::unique_ptr<sd_bus_error, ErrorFree> release(&error);
    // The argument is "interactive": false, so polkit never waits for a password.
    int result = sd_bus_call_method(bus->get(), kService, kObject, kManager, method, &error,
                                    nullptr, "b", 0);
    return result >= 0 || posix::Fail(ErrorOfCall(error, result));
}

std::optional<std::string> LoginManagerOwner() {
    std::optional<Bus> bus = SystemBus();
    if (!bus) {
        return std::nullopt;
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    std::unique_ptr<sd_bus_error, ErrorFree> release(&error);
    sd_bus_message* reply = nullptr;
    int result =
        sd_bus_call_method(bus->get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "GetNameOwner", &error, &reply, "s", kService);
    if (result < 0) {
        posix::Fail(ErrorOfCall(error, result));
        return std::nullopt;
    }
    const char* name = nullptr;
    std::optional<std::string> found;
    if (sd_bus_message_read(reply, "s", &name) >= 0 && name) {
        found = name;
    }
    sd_bus_message_unref(reply);
    if (!found) {
        posix::Fail(sys::ERROR_INVALID_DATA);
    }
    return found;
}

} // namespace hh::hw
