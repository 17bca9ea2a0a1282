#pragma once
// Process-wide state shared by the terminal window, its reader thread and the
// NMEA page. Each value has one writer; the others poll it, so the flags are
// atomics to make those polls well-defined.

#include <platform/system/event.h>

#include <atomic>
#include <cstdint>

namespace hh::win {
class Dialog;
}

namespace terminal {

class CDlgNMEA;

/// Posted to the NMEA page with wParam = address of the reader's chunk string
/// (a std::u16string) and lParam = 0; the page signals g_hDrawPillarEvent when done.
inline constexpr uint32_t WM_NMEA_DATA = 0x0400 + 1;

/// The Analyze box of the NMEA page: each received chunk is handed to the page.
extern std::atomic<int32_t> g_bAnalyze;
/// "EVENT_DRAW_PILLAR" (automatic reset), created by the terminal at start-up.
extern hh::sys::Event g_hDrawPillarEvent;
/// The NMEA page window and object, set by the page when it is created.
extern std::atomic<hh::win::Dialog*> g_hNmeaPage;
extern std::atomic<CDlgNMEA*> g_pNmeaPage;

} // namespace terminal
