#pragma once
// What the terminal window shares with its worker threads.

#include "terminal/ui/dlg_terminal.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace terminal {

/// The dialog as the worker threads see it: written on the UI thread only
/// (set at start-up, cleared when the window is destroyed) and read only in
/// calls the UI thread runs for them, so no lock is needed.
struct CDlgTerminal::Anchor {
    CDlgTerminal* dialog = nullptr;
};

/// The window as the reader of one open port reports to it. Each report runs
/// on the UI thread and is dropped (returning false, which ends the reader)
/// once the port is no longer the open one or the window is gone. The reader
/// holds the port, so the port object outlives the reader's last call on it
/// even though ClosePort closes it without waiting for the reader.
struct CDlgTerminal::ReaderSession final : ReaderClient {
    explicit ReaderSession(std::shared_ptr<Anchor> a) : anchor(std::move(a)) {}

    bool ChunkReceived(std::u16string_view text, uint32_t bytes) override;
    bool FlushDisplay(std::u16string_view text, uint32_t bytes) override;
    void HandToPage(const std::u16string& chunk) override;

    std::shared_ptr<Anchor> anchor;
};

/// A message text from one of the window's wide printf formats.
std::u16string FormatMessage(const char16_t* format, ...);

} // namespace terminal
