#pragma once
// The Linux backend: the device's drivers ("BKL1:", "PWR1:", "UFN1:",
// "ANT1:", "ECD1:", "SMB1:", "PSA1:") and kernel services answered from the
// machine the programs run on, through sysfs, IIO, rfkill, configfs, evdev
// and the login manager. It reads freely and changes the machine only with
// HANDHELD_HARDWARE_WRITES=1; without that, every change fails with
// ERROR_ACCESS_DENIED and the first says once on standard error how to allow
// it. Hardware the machine lacks fails its opens or requests with
// ERROR_FILE_NOT_FOUND (the USB function with ERROR_NOT_SUPPORTED). The
// serial ports need nothing of it: they reach the host's devices already.

namespace hh::hw {

/// Registers the drivers and kernel services for this process, and stores the
/// Bluetooth radio's state where GetBTPower reads it.
void RegisterLinuxDevice();

} // namespace hh::hw
