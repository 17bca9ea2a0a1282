#include "platform/system/serial_line.h"

#include <termios.h>

namespace hh::sys {

bool IsValidDcb(const DCB& dcb) {
    return dcb.BaudRate != 0 && dcb.ByteSize >= 5 && dcb.ByteSize <= 8 &&
           dcb.Parity <= SPACEPARITY && dcb.StopBits <= TWOSTOPBITS;
}

LineSettings MapDcbToLine(const DCB& dcb) {
    LineSettings line;
    line.baudRate = dcb.BaudRate;
    line.cflag = CREAD | CLOCAL;
    switch (dcb.ByteSize) {
    case 5:
        line.cflag |= CS5;
        break;
    case 6:
        line.cflag |= CS6;
        break;
    case 7:
        line.cflag |= CS7;
        break;
    default:
        line.cflag |= CS8;
        break;
    }
    switch (dcb.Parity) {
    case ODDPARITY:
        line.cflag |= PARENB | PARODD;
        break;
    case EVENPARITY:
        line.cflag |= PARENB;
        break;
    // With CMSPAR the parity bit is constant: PARODD makes it 1 (mark), else 0 (space).
    case MARKPARITY:
        line.cflag |= PARENB | CMSPAR | PARODD;
        break;
    case SPACEPARITY:
        line.cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    // termios knows one long stop bit; a UART makes it 1.5 bits for 5-bit
    // characters and 2 for longer ones, which is what ONE5STOPBITS and
    // TWOSTOPBITS ask for on the usual sizes.
    if (dcb.StopBits != ONESTOPBIT) {
        line.cflag |= CSTOPB;
    }
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) {
        line.cflag |= CRTSCTS;
    }
    // Without parity there is no parity bit to check.
    if (dcb.fParity && dcb.Parity != NOPARITY) {
        line.iflag |= INPCK;
    }
    if (dcb.fOutX) {
        line.iflag |= IXON;
    }
    if (dcb.fInX) {
        line.iflag |= IXOFF;
    }
    line.xonChar = static_cast<uint8_t>(dcb.XonChar);
    line.xoffChar = static_cast<uint8_t>(dcb.XoffChar);
    return line;
}

} // namespace hh::sys
