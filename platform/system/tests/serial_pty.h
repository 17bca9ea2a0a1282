#pragma once
// A pseudo-terminal for the serial tests: the test holds the far end (the
// master), the port under test opens the device end.

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hh::sys::test {

struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;

    Pty() {
        termios raw{};
        cfmakeraw(&raw);
        char name[128] = {};
        if (openpty(&master, &slave, name, &raw, nullptr) == 0) {
            path = name;
        }
    }
    ~Pty() {
        closeMaster();
        closeSlave();
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    /// Hands the device end over (to SerialPort::Open, which closes it).
    int takeSlave() {
        int fd = slave;
        slave = -1;
        return fd;
    }
    void closeSlave() {
        if (slave >= 0) {
            ::close(slave);
            slave = -1;
        }
    }
    void closeMaster() {
        if (master >= 0) {
            ::close(master);
            master = -1;
        }
    }

    bool send(const void* data, std::size_t size) const {
        auto* p = static_cast<const char*>(data);
        while (size > 0) {
            ssize_t n = ::write(master, p, size);
            if (n <= 0) {
                return false;
            }
            p += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }
    bool send(const std::string& text) const { return send(text.data(), text.size()); }

    /// Reads exactly size bytes from the far end.
    std::vector<uint8_t> receive(std::size_t size) const {
        std::vector<uint8_t> out(size);
        std::size_t got = 0;
        while (got < size) {
            ssize_t n = ::read(master, out.data() + got, size - got);
            if (n <= 0) {
                out.resize(got);
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        return out;
    }
};

} // namespace hh::sys::test
