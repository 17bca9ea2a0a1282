#include "platform/system/serial_line.h"

#include <gtest/gtest.h>
#include <termios.h>

namespace hh::sys {
namespace {

DCB Dcb(uint8_t byteSize, uint8_t parity, uint8_t stopBits) {
    DCB dcb;
    dcb.BaudRate = 38400;
    dcb.fParity = 1;
    dcb.ByteSize = byteSize;
    dcb.Parity = parity;
    dcb.StopBits = stopBits;
    return dcb;
}

constexpr uint32_t kFrameBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;

TEST(SerialLine, FramingMapsToTermiosFlags) {
    struct Case {
        uint8_t byteSize, parity, stopBits;
        uint32_t frame;
    };
    const Case cases[] = {
        {8, NOPARITY, ONESTOPBIT, CS8},
        {7, EVENPARITY, ONESTOPBIT, CS7 | PARENB},
        {7, ODDPARITY, TWOSTOPBITS, CS7 | PARENB | PARODD | CSTOPB},
        {6, MARKPARITY, ONESTOPBIT, CS6 | PARENB | CMSPAR | PARODD},
        {5, SPACEPARITY, ONESTOPBIT, CS5 | PARENB | CMSPAR},
        {5, NOPARITY, ONE5STOPBITS, CS5 | CSTOPB},
        {8, NOPARITY, ONE5STOPBITS, CS8 | CSTOPB},
        {8, MARKPARITY, TWOSTOPBITS, CS8 | PARENB | CMSPAR | PARODD | CSTOPB},
    };
    for (const Case& c : cases) {
        LineSettings line = MapDcbToLine(Dcb(c.byteSize, c.parity, c.stopBits));
        EXPECT_EQ(line.cflag & kFrameBits, c.frame)
            << int(c.byteSize) << " bits, parity " << int(c.parity) << ", stop " << int(c.stopBits);
        EXPECT_EQ(line.cflag & (CREAD | CLOCAL), uint32_t(CREAD | CLOCAL));
        EXPECT_EQ(line.lflag & (ICANON | ECHO | ISIG), 0u) << "raw mode";
        EXPECT_EQ(line.oflag & OPOST, 0u);
        EXPECT_EQ(line.baudRate, 38400u);
    }
}

TEST(SerialLine, ParityCheckingAndFlowControl) {
    struct Case {
        const char* what;
        void (*set)(DCB&);
        uint32_t iflag, cflag;
    };
    const Case cases[] = {
        {"fParity without parity checks nothing", [](DCB&) {}, 0, 0},
        {"fParity with even parity", [](DCB& d) { d.Parity = EVENPARITY; }, INPCK, 0},
        {"fParity off", [](DCB& d) { d.Parity = ODDPARITY, d.fParity = 0; }, 0, 0},
        {"CTS flow", [](DCB& d) { d.fOutxCtsFlow = 1; }, 0, CRTSCTS},
        {"RTS handshake", [](DCB& d) { d.fRtsControl = RTS_CONTROL_HANDSHAKE; }, 0, CRTSCTS},
        {"RTS disabled", [](DCB& d) { d.fRtsControl = RTS_CONTROL_DISABLE; }, 0, 0},
        {"XON/XOFF out", [](DCB& d) { d.fOutX = 1; }, IXON, 0},
        {"XON/XOFF in", [](DCB& d) { d.fInX = 1; }, IXOFF, 0},
    };
    for (const Case& c : cases) {
        DCB dcb = Dcb(8, NOPARITY, ONESTOPBIT);
        c.set(dcb);
        LineSettings line = MapDcbToLine(dcb);
        EXPECT_EQ(line.iflag & (INPCK | IXON | IXOFF), c.iflag) << c.what;
        EXPECT_EQ(line.cflag & CRTSCTS, c.cflag) << c.what;
    }
    DCB dcb = Dcb(8, NOPARITY, ONESTOPBIT);
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    LineSettings line = MapDcbToLine(dcb);
    EXPECT_EQ(line.xonChar, 0x11);
    EXPECT_EQ(line.xoffChar, 0x13);
}

TEST(SerialLine, ValidDcb) {
    struct Case {
        uint32_t baud;
        uint8_t byteSize, parity, stopBits;
        bool valid;
    };
    const Case cases[] = {
        {110, 5, NOPARITY, ONESTOPBIT, true},   {256000, 8, SPACEPARITY, TWOSTOPBITS, true},
        {0, 8, NOPARITY, ONESTOPBIT, false},    {9600, 4, NOPARITY, ONESTOPBIT, false},
        {9600, 9, NOPARITY, ONESTOPBIT, false}, {9600, 8, 5, ONESTOPBIT, false},
        {9600, 8, NOPARITY, 3, false},
    };
    for (const Case& c : cases) {
        DCB dcb = Dcb(c.byteSize, c.parity, c.stopBits);
        dcb.BaudRate = c.baud;
        EXPECT_EQ(IsValidDcb(dcb), c.valid)
            << c.baud << " " << int(c.byteSize) << " " << int(c.parity) << " " << int(c.stopBits);
    }
}

} // namespace
} // namespace hh::sys
