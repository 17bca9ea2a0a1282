#pragma once
// The simulated USB function controller "UFN1:": which USB client (serial or
// mass storage) the device offers a host.
//
// Requests:
//   0x0022000C  current client    output: 756 bytes, name (128 UTF-16
//                                 characters) and description (250)
//   0x00220010  change client     input: 256 bytes, the client's name
//                                 ("Serial_Class" or "Mass_Storage_Class")
// Opened with share mode none, the driver refuses further opens of this
// process (ERROR_SHARING_VIOLATION) until that handle is closed, and the
// other way round.

#include <platform/system/stream_device.h>

#include <optional>
#include <string>

namespace hh::sim {

inline constexpr uint32_t IOCTL_UFN_GET_CURRENT_CLIENT = 0x0022000C;
inline constexpr uint32_t IOCTL_UFN_CHANGE_CURRENT_CLIENT = 0x00220010;
inline constexpr size_t kUfnClientInfoSize = 756;
inline constexpr size_t kUfnClientNameSize = 256;

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
