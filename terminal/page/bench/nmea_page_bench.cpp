// How long the reader thread waits for the page: one received second of a
// 3D fix with twelve satellites parsed, drawn on the pillars and shown in the
// labels, offscreen.

#include "terminal/page/dlg_nmea.h"
#include "terminal/page/shared_state.h"

#include <platform/system/event.h>
#include <platform/window/application.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace terminal {

namespace {

constexpr char kSecond[] =
    "$GPGGA,123519.00,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,*6E\r\n"
    "$GPGSA,A,3,04,05,12,24,01,,,,,,,,2.5,1.3,2.1*3A\r\n"
    "$GPGSV,3,1,12,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45*75\r\n"
    "$GPGSV,3,2,12,04,61,101,30,05,55,170,60,09,10,030,00,17,05,270,*7F\r\n"
    "$GPGSV,3,3,12,24,70,200,72,25,12,010,15,29,33,090,52,31,45,300,20*7A\r\n"
    "$GPRMC,123519.00,A,4807.0380,N,01131.0000,E,022.4,084.4,080626,003.1,W,A*0B\r\n";

void BM_PageDrawsOneSecond(benchmark::State& state) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    hh::win::Application app(u"VARDI");
    g_hDrawPillarEvent = hh::sys::Event::Create(hh::sys::EventReset::Automatic, false);
    CDlgNMEA page;
    if (!page.Create(nullptr)) {
        state.SkipWithError("the page cannot be created");
        return;
    }
    const std::string bytes(kSecond);
    const std::u16string chunk(bytes.begin(), bytes.end());
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            page.SendMessage(WM_NMEA_DATA, reinterpret_cast<hh::win::WPARAM>(&chunk), 0));
    }
    page.DestroyWindow();
    g_hDrawPillarEvent.close();
}
BENCHMARK(BM_PageDrawsOneSecond)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace terminal

BENCHMARK_MAIN();
