#pragma once
// The simulated power driver "PWR1:" and the kernel's restart request.
//
// The device keeps a 32-bit recover flag in its power driver across restarts
// (platform/system/recover_flag.h). A simulated restart turns a stored 100
// into 101, as the device's boot code does, starts the tick count again and
// ends the program that asked for it (exit code 0 after flushing its output);
// a restart that cannot store its changes (a full disk) does none of this.
// The host itself is never restarted.
//
// Requests of "PWR1:": IOCTL_POWER_* of the device protocol; the card's CID
// fails with ERROR_NOT_READY without a card. Requests 3, 4 and 7 are recorded in the power log with
// their device tick. Other codes fail with ERROR_NOT_SUPPORTED.

#include <platform/protocol/device_protocol.h>
#include <platform/system/recover_flag.h>
#include <platform/system/stream_device.h>
#include <simulator/kernel/simulated_kernel.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace hh::sim {

using protocol::IOCTL_POWER_CARD_ID;
using protocol::IOCTL_POWER_PREPARE_RESTART;
using protocol::IOCTL_POWER_PREPARE_SUSPEND;
using protocol::IOCTL_POWER_READ_RECOVER_FLAG;
using protocol::IOCTL_POWER_RESTORE_REGISTRY;
using protocol::IOCTL_POWER_SAMPLE_COUNT;
using protocol::IOCTL_POWER_USB_ADAPTER;
using protocol::IOCTL_POWER_WRITE_RECOVER_FLAG;

/// The USB adapter status word that request 5 reports (0 when none was
/// stored); nothing, with the last error set, when the state cannot be read.
std::optional<uint32_t> UsbAdapterStatus();
bool StoreUsbAdapterStatus(uint32_t status);

/// One recorded request of the power log (3, 4, 7, and the kernel's
/// suspend/wake as POWER_STATE_SUSPEND/POWER_STATE_ON) with its input value.
struct PowerRequest {
    int64_t atMs = 0;
    uint32_t code = 0;
    uint32_t value = 0;
};
bool ReadPowerRequests(std::vector<PowerRequest>& requests);

/// The value the request writes, and what the restart turns it into.
using protocol::kRecoverPending;
using protocol::kRecoverRequested;

/// The stored flag of the device root, shared with every backend.
using sys::ReadStoredRecoverFlag;
using sys::StoreRecoverFlag;

/// The device side of a restart: a stored 100 becomes 101 and the tick count
/// starts again for every program of the device root, both in one step. The
/// caller decides whether its own program ends. False with the last error set
/// (ERROR_DISK_FULL on a full disk) when the restart could not happen: then
/// neither the flag nor the tick count has changed.
bool RestartSimulatedDevice();

/// What ends the program that asked for the restart. The default flushes the
/// standard streams and ends the process with exit code 0; tests install one
/// that records the restart instead.
using ProgramEnd = std::function<void()>;

/// What a restart request does: the device side of the restart, then the
/// program end (the default one when programEnd is empty). A restart that
/// could not happen fails the request and the program goes on.
RestartAction RestartAndEnd(ProgramEnd programEnd);

/// Registers the "PWR" driver and a kernel that answers only the restart
/// request, for this process; calling it again replaces the program end. The
/// programs register the whole device instead (RegisterSimulatedDevice).
void RegisterSimulatedPower(ProgramEnd programEnd = {});

/// The "PWR" stream driver.
class PowerDriver : public sys::StreamDriver {
public:
    std::unique_ptr<sys::StreamDevice> open(const sys::OpenRequest& request) override;
};

} // namespace hh::sim
