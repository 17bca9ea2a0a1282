#pragma once
// The translation of a port's DCB into terminal-device settings. Pure and
// separate from the port so that every combination can be checked without a
// device. Flag values are those of <termios.h>.

#include "platform/system/serial_port.h"

#include <cstdint>

namespace hh::sys {

/// What a DCB asks of a terminal device.
struct LineSettings {
    uint32_t iflag = 0;
    uint32_t oflag = 0;
    uint32_t cflag = 0; ///< without the speed bits: the speed is baudRate
    uint32_t lflag = 0;
    uint32_t baudRate = 0;
    uint8_t xonChar = 0;
    uint8_t xoffChar = 0;
};

/// True when the device would accept the DCB: non-zero baud rate, ByteSize
/// 5..8, Parity 0..4, StopBits 0..2.
bool IsValidDcb(const DCB& dcb);

/// Raw mode (no echo, no line editing, no character translation), receiver on,
/// modem control lines ignored for opening; data bits, parity (mark and space
/// through CMSPAR), stop bits, parity checking (fParity), hardware flow control
/// (fOutxCtsFlow or RTS_CONTROL_HANDSHAKE) and XON/XOFF (fOutX, fInX). Assumes
/// IsValidDcb.
LineSettings MapDcbToLine(const DCB& dcb);

/// Applies the settings to a terminal device, the baud rate as an arbitrary
/// rate; false with errno set.
bool ApplyLineSettings(int fd, const LineSettings& line);
/// The output baud rate the device reports; false with errno set.
bool ReadLineSpeed(int fd, uint32_t& baudRate);

} // namespace hh::sys
