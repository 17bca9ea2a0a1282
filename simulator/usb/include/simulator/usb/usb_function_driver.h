#pragma once
// The simulated USB function controller "UFN1:": which USB client (serial or
// mass storage) the device offers a host.
//
// Requests: IOCTL_UFN_GET_CURRENT_CLIENT and IOCTL_UFN_CHANGE_CURRENT_CLIENT
// of the device protocol.
// Opened with share mode none, the driver refuses further opens of this
// process (ERROR_SHARING_VIOLATION) until that handle is closed, and the
// other way round.

#include <platform/protocol/device_protocol.h>
#include <platform/system/stream_device.h>

#include <optional>
#include <string>

namespace hh::sim {

using protocol::IOCTL_UFN_CHANGE_CURRENT_CLIENT;
using protocol::IOCTL_UFN_GET_CURRENT_CLIENT;
using protocol::kUfnClientInfoSize;
using protocol::kUfnClientNameSize;

inline constexpr const char* kSerialClient = "Serial_Class";
inline constexpr const char* kMassStorageClient = "Mass_Storage_Class";

/// The current client's name.
std::optional<std::string> CurrentUsbClient();
/// Stores a client; false with ERROR_INVALID_PARAMETER for an unknown name.
bool StoreUsbClient(const std::string& name);

class UsbFunctionDriver : public sys::StreamDriver {
public:
    std::unique_ptr<sys::StreamDevice> open(const sys::OpenRequest& request) override;
};

} // namespace hh::sim
