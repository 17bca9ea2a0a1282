#include "drivers.h"
#include "kernel_services.h"

#include <platform/protocol/device_protocol.h>
#include <platform/system/posix.h>

#include <hardware/linux_device.h>

namespace hh::hw {

std::unique_ptr<sys::StreamDevice> OpenedDevice(const sys::OpenRequest& request, bool present,
                                                std::unique_ptr<sys::StreamDevice> device) {
    if (request.index != 1 || !present) {
        sys::posix::Fail(sys::ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return device;
}

void RegisterLinuxDevice() {
    sys::RegisterStreamDriver(protocol::kBacklightPrefix, std::make_shared<BacklightDriver>());
    sys::RegisterStreamDriver(protocol::kPowerPrefix, std::make_shared<PowerDriver>());
    sys::RegisterStreamDriver(protocol::kUsbFunctionPrefix, std::make_shared<UsbFunctionDriver>());
    sys::RegisterStreamDriver(protocol::kBluetoothPrefix, std::make_shared<BluetoothDriver>());
    sys::RegisterStreamDriver(protocol::kCompassPrefix, std::make_shared<CompassDriver>());
    sys::RegisterStreamDriver(protocol::kGSensorPrefix, std::make_shared<GSensorDriver>());
    sys::RegisterStreamDriver(protocol::kBarometerPrefix, std::make_shared<BarometerDriver>());
    sys::RegisterKernelServices(std::make_shared<LinuxKernel>());
    MirrorBluetoothPower();
}

} // namespace hh::hw
