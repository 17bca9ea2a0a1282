#include "terminal/page/dlg_nmea.h"

#include "terminal/page/shared_state.h"

#include <platform/window/ui_thread.h>

#include <string>
#include <string_view>
#include <utility>

namespace terminal {
namespace {

using hh::win::Rect;

constexpr char16_t kLatitudeZero[] = u"N00\u00B000.0000'";
constexpr char16_t kLongitudeZero[] = u"E00\u00B000.0000'";

// The strip across the top of a pillar that holds its SNR number.
constexpr int kSnrStripHeight = 14;

hh::win::COLORREF BarColour(nmea::PillarPaint paint) {
    switch (paint) {
    case nmea::PillarPaint::Fix2D:
        return kBarUsed2D;
    case nmea::PillarPaint::Fix3D:
        return kBarUsed3D;
    default:
        return kBarNoFix;
    }
}

// The count as "%d" formats it.
std::u16string Decimal(int32_t value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

bool HasBar(nmea::PillarPaint paint) {
    return paint == nmea::PillarPaint::NoFix || paint == nmea::PillarPaint::Fix2D ||
           paint == nmea::PillarPaint::Fix3D;
}

} // namespace

CDlgNMEA::CDlgNMEA(RawWriter writer)
    : hh::win::Dialog(NmeaPageTemplate()), m_writer(std::move(writer)) {}

CDlgNMEA::~CDlgNMEA() {
    DestroyWindow();
}

bool CDlgNMEA::OnInitDialog() {
    for (int i = 0; i < nmea::kPillars; ++i) {
        m_pillars[i] = GetDlgItem(IDC_PILLAR_FIRST + i);
        m_prnLabels[i] = GetDlgItem(IDC_PRN_FIRST + i);
    }
    m_ttffLabel = GetDlgItem(IDC_TTFF);
    m_analyzeBox = Item<hh::win::Button>(IDC_CHK_ANALYZE);
    ClearLabels();
    g_pNmeaPage = this;
    m_nTtff = 1;
    g_hNmeaPage = this;
    return true;
}

void CDlgNMEA::OnDestroy() {
    m_pillars.fill(nullptr);
    m_prnLabels.fill(nullptr);
    m_ttffLabel = nullptr;
    m_analyzeBox = nullptr;
    // The reader must not post to a page that is gone.
    g_bAnalyze = 0;
    CDlgNMEA* self = this;
    g_pNmeaPage.compare_exchange_strong(self, nullptr);
    hh::win::Dialog* window = this;
    g_hNmeaPage.compare_exchange_strong(window, nullptr);
}

void CDlgNMEA::ClearLabels() {
    hh::win::CallOnUiThread([this] {
        if (!IsCreated()) {
            return;
        }
        for (hh::win::Control* label : m_prnLabels) {
            label->SetWindowText(u"");
        }
        for (int id : {IDC_VIEW, IDC_USE, IDC_PDOP, IDC_HDOP, IDC_VDOP}) {
            SetDlgItemText(id, u"");
        }
        SetDlgItemText(IDC_LATITUDE, kLatitudeZero);
        SetDlgItemText(IDC_LONGITUDE, kLongitudeZero);
    });
}

void CDlgNMEA::ResetPage() {
    hh::win::CallOnUiThread([this] {
        if (!IsCreated()) {
            return;
        }
        for (hh::win::Control* pillar : m_pillars) {
            hh::win::Surface dc = pillar->GetDC();
            dc.FillRect(dc.ClientRect(), kPillarBackground);
        }
        SetDlgItemText(IDC_FIX, u"NA");
        ClearLabels();
    });
}

void CDlgNMEA::StopTtff() {
    hh::win::CallOnUiThread([this] {
        KillTimer(TIMER_TTFF);
        m_nTtff = 0;
    });
}

void CDlgNMEA::OnCommand(int id, int code) {
    if (id == IDC_CHK_ANALYZE && code == hh::win::BN_CLICKED) {
        OnAnalyze();
    } else if (id == IDC_BTN_COLD && code == hh::win::BN_CLICKED) {
        OnCold();
    } else {
        Dialog::OnCommand(id, code);
    }
}

void CDlgNMEA::OnAnalyze() {
    // Clearing the box stops the hand-off only; the TTFF count goes on.
    const bool ticked = m_analyzeBox->GetCheck() == hh::win::BST_CHECKED;
    g_bAnalyze = ticked ? 1 : 0;
    if (ticked) {
        SetTimer(TIMER_TTFF, kTtffPeriodMs);
    }
}

void CDlgNMEA::OnCold() {
    if (m_writer) {
        const std::string_view command(kColdStartCommand);
        m_writer(reinterpret_cast<const uint8_t*>(command.data()),
                 static_cast<uint32_t>(command.size()));
    }
    m_nTtff = 0;
    ResetPage();
    SetTimer(TIMER_TTFF, kTtffPeriodMs);
}

void CDlgNMEA::OnTimer(std::uintptr_t id) {
    if (id == TIMER_TTFF) {
        m_ttffLabel->SetWindowText(Decimal(m_nTtff));
        ++m_nTtff;
    }
}

hh::win::LRESULT CDlgNMEA::OnMessage(std::uint32_t message, hh::win::WPARAM wParam,
                                     hh::win::LPARAM lParam) {
    if (message == WM_NMEA_DATA) {
        return OnNmeaData(reinterpret_cast<const std::u16string*>(wParam));
    }
    return Dialog::OnMessage(message, wParam, lParam);
}

hh::win::LRESULT CDlgNMEA::OnNmeaData(const std::u16string* chunk) {
    if (!chunk) {
        return 0;
    }
    nmea::ClearNmea(m_nmea);
    ClearLabels();
    nmea::ParseChunk(m_nmea, *chunk);

    // The pillars share the template's size.
    const int height = m_pillars[0]->GetClientRect().Height();
    const nmea::PillarWalk walk = nmea::WalkPillars(m_nmea.m_nmea, height);
    for (int p = 0; p < walk.drawn; ++p) {
        const nmea::PillarDraw& pillar = walk.pillars[p];
        m_prnLabels[p]->SetWindowText(pillar.prn);
        hh::win::Surface dc = m_pillars[p]->GetDC();
        const Rect client = dc.ClientRect();
        dc.FillRect(client, kPillarBackground);
        if (HasBar(pillar.paint)) {
            dc.FillRect(Rect{0, pillar.barTop, client.Width(), pillar.barTop + client.Height()},
                        BarColour(pillar.paint));
        }
        dc.SetTextColor(kSnrText);
        dc.SetBkMode(hh::win::TRANSPARENT);
        dc.DrawText(pillar.snr, Rect{0, 0, client.Width(), kSnrStripHeight},
                    hh::win::DT_CENTER | hh::win::DT_SINGLELINE | hh::win::DT_NOPREFIX);
    }
    if (walk.stopTtff) {
        StopTtff();
    }
    if (walk.setStatus) {
        SetDlgItemText(IDC_VIEW, walk.inView);
        SetDlgItemText(IDC_USE, walk.used);
        SetDlgItemText(IDC_PDOP, walk.pdop);
        SetDlgItemText(IDC_HDOP, walk.hdop);
        SetDlgItemText(IDC_VDOP, walk.vdop);
        if (walk.setPosition) {
            SetDlgItemText(IDC_LATITUDE, walk.latitude);
            SetDlgItemText(IDC_LONGITUDE, walk.longitude);
        }
        SetDlgItemText(IDC_TIME_DATE, walk.timeDate);
    }
    if (!walk.fixLabel.empty()) {
        SetDlgItemText(IDC_FIX, walk.fixLabel);
    }
    g_hDrawPillarEvent.set();
    return 1;
}

} // namespace terminal
