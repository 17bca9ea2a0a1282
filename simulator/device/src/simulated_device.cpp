#include "simulator/device/simulated_device.h"

#include <platform/system/device_display.h>
#include <simulator/backlight/backlight_driver.h>
#include <simulator/bluetooth/bluetooth_driver.h>
#include <simulator/compass/compass_driver.h>
#include <simulator/kernel/simulated_kernel.h>
#include <simulator/receiver/receiver_host.h>
#include <simulator/sensors/sensor_drivers.h>
#include <simulator/usb/usb_function_driver.h>

namespace hh::sim {

namespace {

class SimulatedDisplay : public sys::DisplayStateSource {
public:
    sys::DisplayState displayState() override {
        BacklightState backlight = ReadBacklightState();
        sys::DisplayState s;
        s.screenOn = backlight.screenOn;
        s.backlightLevel = backlight.level;
        s.buzzerSounding = backlight.sounding;
        s.suspended = DeviceSuspended();
        return s;
    }
};

} // namespace

void RegisterSimulatedDevice(ProgramEnd programEnd) {
    sys::RegisterStreamDriver("PWR", std::make_shared<PowerDriver>());
    sys::RegisterKernelServices(
        std::make_shared<SimulatedKernel>(RestartAndEnd(std::move(programEnd))));
    sys::RegisterStreamDriver("BKL", std::make_shared<BacklightDriver>());
    sys::RegisterStreamDriver("UFN", std::make_shared<UsbFunctionDriver>());
    sys::RegisterStreamDriver("ANT", std::make_shared<BluetoothDriver>());
    sys::RegisterStreamDriver("ECD", std::make_shared<CompassDriver>());
    sys::RegisterStreamDriver("SMB", std::make_shared<GSensorDriver>());
    sys::RegisterStreamDriver("PSA", std::make_shared<BarometerDriver>());
    RegisterSimulatedPorts();
    sys::RegisterDisplayStateSource(std::make_shared<SimulatedDisplay>());
}

} // namespace hh::sim
