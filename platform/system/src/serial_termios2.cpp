// Arbitrary baud rates (14400, 56000, 128000, 256000 have no B constant) need
// the kernel's termios2 interface, whose header clashes with <termios.h>; this
// file is the only one that includes it.
#include "platform/system/serial_line.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace hh::sys {

bool ApplyLineSettings(int fd, const LineSettings& line) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return false;
    }
    tio.c_iflag = line.iflag;
    tio.c_oflag = line.oflag;
    tio.c_lflag = line.lflag;
    tio.c_cflag = line.cflag | BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = line.baudRate;
    tio.c_ospeed = line.baudRate;
    tio.c_cc[VSTART] = line.xonChar;
    tio.c_cc[VSTOP] = line.xoffChar;
    // The port reads without blocking after poll() reported data.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    return ioctl(fd, TCSETS2, &tio) == 0;
}

bool ReadLineSpeed(int fd, uint32_t& baudRate) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return false;
    }
    baudRate = tio.c_ospeed;
    return true;
}

} // namespace hh::sys
