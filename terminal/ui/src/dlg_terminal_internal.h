#pragma once
// What the terminal window shares with its worker threads.

#include "terminal/ui/dlg_terminal.h"

#include <atomic>
#include <memory>
#include <string>

namespace terminal {

/// The dialog as the worker threads see it: written on the UI thread only
/// (set at start-up, cleared when the window is destroyed) and read only in
/// calls the UI thread runs for them, so no lock is needed.
struct CDlgTerminal::Anchor {
    CDlgTerminal* dialog = nullptr;
};

/// One open port and its reader thread. The reader owns a reference to the
/// port, so the port object outlives the reader's last call on it even though
/// ClosePort closes it without waiting for the reader.
struct CDlgTerminal::ReaderSession {
    std::shared_ptr<hh::sys::SerialPort> port;
    std::shared_ptr<Anchor> anchor;
    /// Set by ClosePort; this reader ends at its next pass. Each session has
    /// its own flag, so a reader still finishing a pass after a close never
    /// picks up a later open.
    std::atomic<bool> stop{false};
};

/// A message text from one of the window's wide printf formats.
std::u16string FormatMessage(const char16_t* format, ...);

} // namespace terminal
