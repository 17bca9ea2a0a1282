#pragma once
// The "NMEA" page of the terminal: twelve signal pillars with the PRN of each
// satellite under its pillar, satellites in view and in use, the DOPs, the fix
// type, a time-to-first-fix counter, the position and the UTC time. While its
// "Analyze" box is ticked the reader thread posts every received chunk
// (WM_NMEA_DATA) and waits on g_hDrawPillarEvent until the page has parsed and
// drawn it; the page is done with the chunk text before it signals. Each
// chunk stands alone: a sentence cut by the end of a read is not joined with
// its rest in the next one. The pillars are drawn when a chunk arrives, into
// images the pillars keep, so a repaint shows each pillar's last drawing.
//
// The template has no WS_VISIBLE: the page is created hidden in the
// terminal's tab control and shown when its tab is chosen.
//
// The page works on the UI thread; ResetPage, StopTtff and ClearLabels may be
// called from any thread and run there. Before the page's window exists and
// after it is destroyed (the terminal closes its port after its pages are
// gone) ResetPage and ClearLabels do nothing.

#include <platform/window/dialog.h>
#include <terminal/nmea/gps_page.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace terminal {

/// Template 129 and its control ids.
inline constexpr int IDD_NMEA = 129;
inline constexpr int IDC_BTN_COLD = 1015;
inline constexpr int IDC_PILLAR_FIRST = 1034; ///< pillars 0..11: 1034..1045
inline constexpr int IDC_PRN_FIRST = 1046;    ///< PRN labels 0..11: 1046..1057
inline constexpr int IDC_USE = 1058;
inline constexpr int IDC_VIEW = 1059;
inline constexpr int IDC_PDOP = 1060;
inline constexpr int IDC_HDOP = 1061;
inline constexpr int IDC_VDOP = 1062;
inline constexpr int IDC_FIX = 1063;
inline constexpr int IDC_LONGITUDE = 1064;
inline constexpr int IDC_LATITUDE = 1065;
inline constexpr int IDC_TTFF = 1066;
inline constexpr int IDC_TIME_DATE = 1067;
inline constexpr int IDC_CHK_ANALYZE = 1068;

/// The page's TTFF timer: one tick a second.
inline constexpr std::uintptr_t TIMER_TTFF = 1;
inline constexpr std::uint32_t kTtffPeriodMs = 1000;

/// Colours of the pillars.
inline constexpr hh::win::COLORREF kPillarBackground = hh::win::RGB(192, 192, 192);
inline constexpr hh::win::COLORREF kBarNoFix = hh::win::RGB(128, 128, 128);
inline constexpr hh::win::COLORREF kBarUsed2D = hh::win::RGB(255, 255, 128);
inline constexpr hh::win::COLORREF kBarUsed3D = hh::win::RGB(255, 0, 0);
inline constexpr hh::win::COLORREF kSnrText = hh::win::RGB(0, 0, 255);

/// The receiver's cold-start command, sent as stored (18 bytes, no checksum).
inline constexpr char kColdStartCommand[] = "$PGNVS,RSET,COLD\r\n";

/// Template 129: a child page of 205 x 67 dialog units in 8 point "MS Shell Dlg".
hh::win::DialogTemplate NmeaPageTemplate();

/// Writes bytes to the open port (the terminal's WriteRaw): 1 when all were
/// written (or count is 0), 0 when no port is open or a write fails.
using RawWriter = std::function<int(const uint8_t* data, uint32_t count)>;

class CDlgNMEA : public hh::win::Dialog {
public:
    /// Cold sends its command through writer; without one it sends nothing.
    explicit CDlgNMEA(RawWriter writer = {});
    ~CDlgNMEA() override;

    /// Fills every pillar with the background colour, sets the fix label to
    /// "NA" and clears the labels.
    void ResetPage();
    /// Stops the TTFF counter: kills timer 1 and sets the count to 0.
    void StopTtff();
    /// Empties the PRN, view, use and DOP labels and puts the position labels
    /// back to "N00°00.0000'" / "E00°00.0000'".
    void ClearLabels();

    /// The TTFF count the next timer tick shows.
    int32_t Ttff() const { return m_nTtff; }

protected:
    bool OnInitDialog() override;
    void OnCommand(int id, int code) override;
    void OnTimer(std::uintptr_t id) override;
    hh::win::LRESULT OnMessage(std::uint32_t message, hh::win::WPARAM wParam,
                               hh::win::LPARAM lParam) override;
    void OnDestroy() override;

private:
    /// Parses one chunk, draws the pillars and labels and signals
    /// g_hDrawPillarEvent; 0 without a chunk (nothing is signalled).
    hh::win::LRESULT OnNmeaData(const std::u16string* chunk);
    void OnAnalyze();
    void OnCold();

    std::array<hh::win::Control*, nmea::kPillars> m_pillars{};
    std::array<hh::win::Control*, nmea::kPillars> m_prnLabels{};
    hh::win::Control* m_ttffLabel = nullptr;
    hh::win::Button* m_analyzeBox = nullptr;
    nmea::NmeaContext m_nmea;
    int32_t m_nTtff = 0;
    RawWriter m_writer;
};

} // namespace terminal
