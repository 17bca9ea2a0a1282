#include "terminal/page/shared_state.h"

namespace terminal {

std::atomic<int32_t> g_bAnalyze{0};
hh::sys::Event g_hDrawPillarEvent;
std::atomic<hh::win::Dialog*> g_hNmeaPage{nullptr};
std::atomic<CDlgNMEA*> g_pNmeaPage{nullptr};

} // namespace terminal
