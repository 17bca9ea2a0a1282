#include "terminal/link/port_reader.h"

#include <platform/system/code_page.h>
#include <platform/system/wait.h>
#include <terminal/core/receive_text.h>

#include <algorithm>
#include <array>
#include <cstddef>

namespace terminal {

std::shared_ptr<PortReader> PortReader::Create(std::shared_ptr<hh::sys::SerialPort> port,
                                               std::shared_ptr<ReaderClient> client,
                                               ReaderFlags flags) {
    return std::shared_ptr<PortReader>(new PortReader(std::move(port), std::move(client), flags));
}

PortReader::PortReader(std::shared_ptr<hh::sys::SerialPort> port,
                       std::shared_ptr<ReaderClient> client, ReaderFlags flags)
    : m_port(std::move(port)), m_client(std::move(client)), m_flags(flags) {}

hh::sys::Thread PortReader::Start() {
    return hh::sys::Thread::Start([self = shared_from_this()] { return self->Run(); });
}

uint32_t PortReader::Run() {
    hh::sys::SerialPort& port = *m_port;
    ReaderClient& client = *m_client;
    std::array<uint8_t, kReadBufferSize> buffer{};
    std::u16string chunk;
    // Text of reads the display has not been told of yet, and their bytes.
    std::u16string pending;
    uint32_t pendingBytes = 0;
    int32_t clearCount = 0;
    auto tell = [&] {
        const bool taken = pendingBytes == 0 || client.ChunkReceived(pending, pendingBytes);
        pending.clear();
        pendingBytes = 0;
        return taken;
    };
    auto flushIfDue = [&] {
        if (clearCount < kDisplayFlushBytes) {
            return true;
        }
        const bool taken = client.FlushDisplay(pending, pendingBytes);
        pending.clear();
        pendingBytes = 0;
        clearCount = 0;
        return taken;
    };
    bool open = true;
    while (open && !m_stop.load()) {
        hh::sys::Sleep(kReadPassMs);
        if (m_stop.load() || !flushIfDue()) {
            break;
        }
        uint32_t events = 0;
        port.WaitCommEvent(events);
        port.SetCommMask(hh::sys::EV_RXCHAR);
        for (;;) {
            hh::sys::COMSTAT stat;
            uint32_t errors = 0;
            if (m_stop.load() || !port.ClearCommError(&errors, &stat) || stat.cbInQue == 0) {
                break;
            }
            if (!flushIfDue()) {
                open = false;
                break;
            }
            buffer.fill(0);
            const uint32_t wanted =
                std::min<uint32_t>(stat.cbInQue, static_cast<uint32_t>(kReadBufferSize - 1));
            uint32_t count = 0;
            if (!port.read(std::as_writable_bytes(std::span(buffer.data(), wanted)), count) ||
                count == 0) {
                break;
            }
            const std::span<const uint8_t> bytes(buffer.data(), count);
            chunk.clear();
            if (m_flags.hexView->load() != 0) {
                AppendHexChunkText(bytes, chunk);
            } else {
                const std::span<const uint8_t> text = BytesBeforeZero(bytes);
                chunk = hh::sys::AnsiToWide(
                    std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
            }
            pending += chunk;
            pendingBytes += count;
            clearCount += static_cast<int32_t>(count);
            if (m_flags.analyze->load() == 1) {
                if (!tell()) {
                    open = false;
                    break;
                }
                client.HandToPage(chunk);
            }
        }
        if (open && !tell()) {
            break;
        }
    }
    return 1;
}

bool WriteBytes(hh::sys::SerialPort& port, std::span<const uint8_t> bytes) {
    for (const uint8_t byte : bytes) {
        const std::byte one[1] = {static_cast<std::byte>(byte)};
        uint32_t written = 0;
        if (!port.write(one, written) || written != 1) {
            return false;
        }
    }
    return true;
}

} // namespace terminal
