// Speed of the window work the terminal does at its cadence: appending a
// received chunk to the receive display, handing posted messages to a page,
// and drawing the twelve signal pillars.

#include <platform/window/application.h>
#include <platform/window/dialog.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace {

using namespace hh::win;

DialogTemplate Page() {
    DialogTemplate tpl;
    tpl.style = WS_POPUP;
    tpl.widthDlu = 205;
    tpl.heightDlu = 110;
    tpl.controls.push_back(ControlTemplate{1000, u"EDIT", u"",
                                           WS_CHILD | WS_VISIBLE | ES_MULTILINE | WS_VSCROLL,
                                           DluRect(0, 70, 205, 40)});
    for (std::uint16_t i = 0; i < 12; ++i) {
        tpl.controls.push_back(ControlTemplate{static_cast<std::uint16_t>(1034 + i), u"STATIC", u"",
                                               WS_CHILD | WS_VISIBLE, DluRect(i * 12, 0, 12, 35)});
    }
    return tpl;
}

class Counter : public Dialog {
public:
    using Dialog::Dialog;
    long received = 0;

protected:
    LRESULT OnMessage(std::uint32_t, WPARAM, LPARAM) override {
        ++received;
        return 0;
    }
};

std::u16string Chunk() {
    std::u16string chunk;
    while (chunk.size() < 500) {
        chunk += u"$GPGSV,3,1,12,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45*75\r\n";
    }
    return chunk;
}

void AppendChunkToReceiveDisplay(benchmark::State& state) {
    Counter page(Page());
    page.Create(nullptr);
    Edit* display = page.Item<Edit>(1000);
    const std::u16string chunk = Chunk();
    const std::u16string filled(static_cast<std::size_t>(state.range(0)), u'x');
    display->SetWindowText(filled);
    for (auto _ : state) {
        display->SetSel(30000, 30000);
        display->ScrollCaret();
        display->ReplaceSel(chunk);
        if (display->GetWindowTextLength() > 30000) {
            state.PauseTiming();
            display->SetWindowText(filled);
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(AppendChunkToReceiveDisplay)->Arg(0)->Arg(15000)->Arg(28000);

void PostedMessageToPage(benchmark::State& state) {
    Counter page(Page());
    page.Create(nullptr);
    for (auto _ : state) {
        for (int i = 0; i < 100; ++i) {
            page.PostMessage(WM_USER + 1, static_cast<WPARAM>(i), 0);
        }
        Application::Instance()->ProcessEvents();
    }
    state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(PostedMessageToPage);

void DrawTwelvePillars(benchmark::State& state) {
    Counter page(Page());
    page.Create(nullptr);
    int snr = 0;
    for (auto _ : state) {
        for (int p = 0; p < 12; ++p) {
            Surface surface = page.GetDlgItem(1034 + p)->GetDC();
            const Rect r = surface.ClientRect();
            surface.FillRect(r, RGB(192, 192, 192));
            surface.FillRect(Rect{0, r.bottom * (60 - snr) / 60, r.right, r.bottom},
                             RGB(255, 0, 0));
            surface.SetBkMode(TRANSPARENT);
            surface.SetTextColor(RGB(0, 0, 255));
            surface.DrawText(u"45", Rect{0, 0, r.right, 14}, DT_CENTER);
        }
        snr = (snr + 7) % 60;
    }
    state.SetItemsProcessed(state.iterations() * 12);
}
BENCHMARK(DrawTwelvePillars);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("HANDHELD_SCREEN", "480x272", 0);
    Application app(u"bench");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
