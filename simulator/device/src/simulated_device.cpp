#include "simulator/device/simulated_device.h"

#include <platform/protocol/device_protocol.h>
#include <platform/system/device_display.h>
#include <simulator/backlight/backlight_driver.h>
#include <simulator/bluetooth/bluetooth_driver.h>
#include <simulator/compass/compass_driver.h>
#include <simulator/kernel/simulated_kernel.h>
#include <simulator/receiver/receiver_host.h>
#include <simulator/sensors/sensor_drivers.h>
#include <simulator/state/device_state.h>
#include <simulator/usb/usb_function_driver.h>

#include <mutex>

namespace hh::sim {

namespace {

// The screen shows what the drivers last stored; while the device state
// cannot be read it keeps what it last showed rather than the defaults.
class SimulatedDisplay : public sys::DisplayStateSource {
public:
    sys::DisplayState displayState() override {
        std::optional<BacklightState> backlight = ReadBacklightState();
        std::optional<bool> suspended = DeviceSuspended();
        std::lock_guard lock(m_mutex);
        if (backlight && suspended) {
            m_last.screenOn = backlight->screenOn;
            m_last.backlightLevel = backlight->level;
            m_last.buzzerSounding = backlight->sounding;
            m_last.suspended = *suspended;
        }
        return m_last;
    }

private:
    std::mutex m_mutex;
    sys::DisplayState m_last{true, kDefaultBacklightLevel, false, false};
};

} // namespace

bool RegisterSimulatedDevice(ProgramEnd programEnd) {
    if (!state::Check()) {
        return false;
    }
    sys::RegisterStreamDriver(protocol::kPowerPrefix, std::make_shared<PowerDriver>());
    sys::RegisterKernelServices(
        std::make_shared<SimulatedKernel>(RestartAndEnd(std::move(programEnd))));
    sys::RegisterStreamDriver(protocol::kBacklightPrefix, std::make_shared<BacklightDriver>());
    sys::RegisterStreamDriver(protocol::kUsbFunctionPrefix, std::make_shared<UsbFunctionDriver>());
    sys::RegisterStreamDriver(protocol::kBluetoothPrefix, std::make_shared<BluetoothDriver>());
    sys::RegisterStreamDriver(protocol::kCompassPrefix, std::make_shared<CompassDriver>());
    sys::RegisterStreamDriver(protocol::kGSensorPrefix, std::make_shared<GSensorDriver>());
    sys::RegisterStreamDriver(protocol::kBarometerPrefix, std::make_shared<BarometerDriver>());
    RegisterSimulatedPorts();
    sys::RegisterDisplayStateSource(std::make_shared<SimulatedDisplay>());
    return true;
}

} // namespace hh::sim
