// The NMEA page as the user and the reader thread see it: what each chunk
// draws on the pillars and sets in the labels, the TTFF counter on the test
// clock, the cold-start command and the page's hand-off with the reader.

#include "page_test_support.h"
#include "terminal/page/shared_state.h"

#include <platform/system/event.h>
#include <platform/system/wait.h>
#include <platform/window/testing.h>
#include <platform/window/ui_thread.h>

#include <gtest/gtest.h>

#include <QColor>
#include <QWidget>
#include <thread>
#include <vector>

namespace terminal::testing {
namespace {

using hh::win::COLORREF;
namespace wt = hh::win::testing;

// Twelve satellites in three GSV sentences; the PRN / SNR pairs of the pillars:
// 01/46 02/41 12/39 14/45 | 04/30 05/60 09/00 17/-- | 24/72 25/15 29/52 31/20
constexpr std::string_view kGsv1 =
    "GPGSV,3,1,12,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45";
constexpr std::string_view kGsv2 = "GPGSV,3,2,12,04,61,101,30,05,55,170,60,09,10,030,00,17,05,270,";
constexpr std::string_view kGsv3 =
    "GPGSV,3,3,12,24,70,200,72,25,12,010,15,29,33,090,52,31,45,300,20";
constexpr std::string_view kGga =
    "GPGGA,123519.00,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,";
constexpr std::string_view kGsa3D = "GPGSA,A,3,04,05,12,24,01,,,,,,,,2.5,1.3,2.1";
constexpr std::string_view kGsa2D = "GPGSA,A,2,04,05,12,24,01,,,,,,,,3.1,2.2,2.0";
constexpr std::string_view kGsaNoFix = "GPGSA,A,1,,,,,,,,,,,,,99.99,99.99,99.99";
constexpr std::string_view kRmc =
    "GPRMC,123519.00,A,4807.0380,N,01131.0000,E,022.4,084.4,080626,003.1,W,A";

const char16_t* const kPrns[12] = {u"01", u"02", u"12", u"14", u"04", u"05",
                                   u"09", u"17", u"24", u"25", u"29", u"31"};
constexpr int kSnrs[12] = {46, 41, 39, 45, 30, 60, 0, 0, 72, 15, 52, 20};
// Satellites in the used list 04 05 12 24 01.
constexpr bool kUsed[12] = {true,  false, true, false, true,  true,
                            false, false, true, false, false, false};

COLORREF Colour(const QImage& image, int x, int y) {
    const QColor c = image.pixelColor(x, y);
    return hh::win::RGB(c.red(), c.green(), c.blue());
}

std::string Hex(COLORREF c) {
    char text[16];
    std::snprintf(text, sizeof text, "%02X%02X%02X", hh::win::GetRValue(c), hh::win::GetGValue(c),
                  hh::win::GetBValue(c));
    return text;
}

// The bar of SNR snr on a pillar h pixels tall starts at this row.
int ExpectedTop(int h, int snr) {
    return snr >= 60 ? 0 : snr <= 0 ? h : h * (60 - snr) / 60;
}

// A pillar's two edge columns (clear of the centred SNR text) show the
// background above row top and the bar colour from there to the bottom.
void ExpectPillar(const QImage& image, COLORREF bar, int top, const std::string& what) {
    SCOPED_TRACE(what);
    ASSERT_FALSE(image.isNull());
    for (int x : {0, image.width() - 1}) {
        for (int y = 0; y < image.height(); ++y) {
            const COLORREF want = y < top ? kPillarBackground : bar;
            const COLORREF got = Colour(image, x, y);
            if (got != want) {
                ADD_FAILURE() << "pixel " << x << "," << y << " is " << Hex(got) << ", want "
                              << Hex(want) << " (bar top " << top << ")";
                return;
            }
        }
    }
}

// Whether the SNR strip at the pillar's top holds blue text.
bool HasSnrText(const QImage& image) {
    for (int y = 0; y < 14 && y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.blue() > 160 && c.red() < 140 && c.green() < 140) {
                return true;
            }
        }
    }
    return false;
}

bool SameImage(const QImage& a, const QImage& b) {
    return a.convertToFormat(QImage::Format_RGB32) == b.convertToFormat(QImage::Format_RGB32);
}

class NmeaPageTest : public PageTest {};

TEST_F(NmeaPageTest, TemplateLaysOutTwelvePillarsWithLabelsUnderThem) {
    const QWidget* page = m_page->Widget();
    const QRect area(0, 0, page->width(), page->height());
    const QRect first = m_page->GetDlgItem(IDC_PILLAR_FIRST)->Widget()->geometry();
    EXPECT_EQ(first.topLeft(), QPoint(0, 0));
    EXPECT_GT(first.height(), first.width() * 2); // 12 x 35 dialog units
    std::vector<QRect> rects;
    for (int i = 0; i < 12; ++i) {
        const QRect pillar = m_page->GetDlgItem(IDC_PILLAR_FIRST + i)->Widget()->geometry();
        const QRect prn = m_page->GetDlgItem(IDC_PRN_FIRST + i)->Widget()->geometry();
        EXPECT_EQ(pillar.size(), first.size()) << i;
        EXPECT_EQ(pillar.left(), i * first.width()) << i;
        EXPECT_EQ(prn.left(), pillar.left()) << i;
        EXPECT_GT(prn.top(), pillar.bottom()) << i;
        rects.push_back(pillar);
        rects.push_back(prn);
    }
    for (int id : {IDC_USE, IDC_VIEW, IDC_PDOP, IDC_HDOP, IDC_VDOP, IDC_FIX, IDC_LONGITUDE,
                   IDC_LATITUDE, IDC_TTFF, IDC_TIME_DATE, IDC_CHK_ANALYZE, IDC_BTN_COLD}) {
        ASSERT_NE(m_page->GetDlgItem(id), nullptr) << id;
        rects.push_back(m_page->GetDlgItem(id)->Widget()->geometry());
    }
    for (const auto& tpl : NmeaPageTemplate().controls) {
        if (const hh::win::Control* control = m_page->GetDlgItem(tpl.id);
            control && tpl.id != 0xFFFF) {
            EXPECT_TRUE(control->Widget()->isVisibleTo(page)) << "control " << tpl.id;
        }
    }
    for (std::size_t i = 0; i < rects.size(); ++i) {
        EXPECT_TRUE(area.contains(rects[i])) << "control " << i << " leaves the page";
        for (std::size_t j = i + 1; j < rects.size(); ++j) {
            EXPECT_FALSE(rects[i].intersects(rects[j])) << "controls " << i << " and " << j;
        }
    }
    EXPECT_EQ(m_page->GetDlgItemText(IDC_CHK_ANALYZE), u"Analyze");
    EXPECT_EQ(m_page->GetDlgItemText(IDC_BTN_COLD), u"Cold");
}

TEST_F(NmeaPageTest, InitialisationClearsLabelsAndRegistersThePageUntilItsWindowGoes) {
    EXPECT_EQ(g_pNmeaPage.load(), m_page.get());
    EXPECT_EQ(g_hNmeaPage.load(), m_page.get());
    EXPECT_EQ(m_page->Ttff(), 1);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(Text(IDC_PRN_FIRST + i), u"") << i;
    }
    for (int id : {IDC_VIEW, IDC_USE, IDC_PDOP, IDC_HDOP, IDC_VDOP, IDC_TTFF}) {
        EXPECT_EQ(Text(id), u"") << id;
    }
    EXPECT_EQ(Text(IDC_LATITUDE), u"N00\u00B000.0000'");
    EXPECT_EQ(Text(IDC_LONGITUDE), u"E00\u00B000.0000'");
    EXPECT_EQ(Text(IDC_FIX), u"NA");
    EXPECT_EQ(Text(IDC_TIME_DATE), u"time date");

    wt::Click(*m_page, IDC_CHK_ANALYZE);
    ASSERT_EQ(g_bAnalyze.load(), 1);
    m_page->DestroyWindow();
    EXPECT_EQ(g_hNmeaPage.load(), nullptr);
    EXPECT_EQ(g_pNmeaPage.load(), nullptr);
    EXPECT_EQ(g_bAnalyze.load(), 0);
    // The terminal closes its port after its pages are gone.
    m_page->ResetPage();
    m_page->StopTtff();
    EXPECT_EQ(m_page->Ttff(), 0);
}

struct FixCase {
    const char* name;
    std::string_view gsa; // empty: no GSA in the chunk
    COLORREF usedColour;  // bar of a used satellite; 0 when no bar is drawn at all
    bool anyBar;
    const char16_t* fixLabel;
    bool position;
};

TEST_F(NmeaPageTest, PillarsShowEachSatelliteInTheColourOfItsFix) {
    const FixCase cases[] = {
        {"3D", kGsa3D, kBarUsed3D, true, u"3D", true},
        {"2D", kGsa2D, kBarUsed2D, true, u"2D", true},
        {"no fix", kGsaNoFix, kBarNoFix, true, u"NA", false},
        // Without a GSA the fix is unknown: no bars, and the fix label keeps "NA" from before.
        {"no GSA", "", 0, false, u"NA", false},
    };
    for (const FixCase& c : cases) {
        SCOPED_TRACE(c.name);
        m_page->ResetPage();
        const std::u16string chunk = c.gsa.empty()
                                         ? Chunk({kGga, kGsv1, kGsv2, kGsv3, kRmc})
                                         : Chunk({kGga, c.gsa, kGsv1, kGsv2, kGsv3, kRmc});
        ASSERT_EQ(Feed(chunk), hh::sys::WAIT_OBJECT_0);
        for (int p = 0; p < 12; ++p) {
            EXPECT_EQ(Text(IDC_PRN_FIRST + p), kPrns[p]) << p;
            const QImage image = PillarImage(p);
            const COLORREF bar = kUsed[p] ? c.usedColour : kBarNoFix;
            const int top = c.anyBar ? ExpectedTop(image.height(), kSnrs[p]) : image.height();
            ExpectPillar(image, bar, top, "pillar " + std::to_string(p));
            EXPECT_EQ(HasSnrText(image), p != 7) << "pillar " << p; // 17 has no SNR
        }
        EXPECT_EQ(Text(IDC_VIEW), u"12");
        EXPECT_EQ(Text(IDC_USE), u"08");
        EXPECT_EQ(Text(IDC_FIX), c.fixLabel);
        EXPECT_EQ(Text(IDC_TIME_DATE), u"12:35:19 080626");
        if (c.position) {
            EXPECT_EQ(Text(IDC_LATITUDE), u"N48\u00B007.0380'");
            EXPECT_EQ(Text(IDC_LONGITUDE), u"E011\u00B031.0000'");
        } else {
            EXPECT_EQ(Text(IDC_LATITUDE), u"N00\u00B000.0000'");
            EXPECT_EQ(Text(IDC_LONGITUDE), u"E00\u00B000.0000'");
        }
    }
}

TEST_F(NmeaPageTest, DopLabelsFollowTheGsaOfTheChunk) {
    ASSERT_EQ(Feed({kGga, kGsa3D, kGsv1, kRmc}), hh::sys::WAIT_OBJECT_0);
    EXPECT_EQ(Text(IDC_PDOP), u"2.5");
    EXPECT_EQ(Text(IDC_HDOP), u"1.3");
    EXPECT_EQ(Text(IDC_VDOP), u"2.1");
    ASSERT_EQ(Feed({kGga, kGsv1, kRmc}), hh::sys::WAIT_OBJECT_0);
    EXPECT_EQ(Text(IDC_PDOP), u"");
    EXPECT_EQ(Text(IDC_HDOP), u"");
    EXPECT_EQ(Text(IDC_VDOP), u"");
    EXPECT_EQ(Text(IDC_FIX), u"3D");
}

TEST_F(NmeaPageTest, AUsedEntryContainingThePrnCountsAsUsed) {
    ASSERT_EQ(
        Feed({"GPGSA,A,3,12,,,,,,,,,,,,1.8,1.0,1.5", "GPGSV,1,1,02,1,40,083,30,3,20,100,30", kRmc}),
        hh::sys::WAIT_OBJECT_0);
    const QImage one = PillarImage(0);
    const QImage three = PillarImage(1);
    ExpectPillar(one, kBarUsed3D, ExpectedTop(one.height(), 30), "PRN 1");
    ExpectPillar(three, kBarNoFix, ExpectedTop(three.height(), 30), "PRN 3");
}

TEST_F(NmeaPageTest, AtMostTwelvePillarsAreDrawn) {
    ASSERT_EQ(Feed({kGsa3D, "GPGSV,4,1,14,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45",
                    "GPGSV,4,2,14,04,61,101,30,05,55,170,60,09,10,030,00,17,05,270,",
                    "GPGSV,4,3,14,24,70,200,72,25,12,010,15,29,33,090,52,31,45,300,20",
                    "GPGSV,4,4,14,32,10,010,33,33,20,020,34", kRmc}),
              hh::sys::WAIT_OBJECT_0);
    EXPECT_EQ(Text(IDC_VIEW), u"14");
    EXPECT_EQ(Text(IDC_PRN_FIRST + 11), u"31");
}

TEST_F(NmeaPageTest, PillarsBeyondTheChunksSatellitesKeepTheirLastDrawing) {
    ASSERT_EQ(Feed({kGga, kGsa3D, kGsv1, kGsv2, kGsv3, kRmc}), hh::sys::WAIT_OBJECT_0);
    std::vector<QImage> before;
    for (int p = 0; p < 12; ++p) {
        before.push_back(PillarImage(p));
    }
    // Record 0 promises three sentences, but the read held only the first.
    ASSERT_EQ(Feed({kGga, kGsaNoFix, kGsv1, kRmc}), hh::sys::WAIT_OBJECT_0);
    for (int p = 0; p < 4; ++p) {
        const QImage image = PillarImage(p);
        ExpectPillar(image, kBarNoFix, ExpectedTop(image.height(), kSnrs[p]),
                     "pillar " + std::to_string(p));
        EXPECT_EQ(Text(IDC_PRN_FIRST + p), kPrns[p]);
    }
    for (int p = 4; p < 12; ++p) {
        EXPECT_TRUE(SameImage(PillarImage(p), before[p])) << "pillar " << p;
        EXPECT_EQ(Text(IDC_PRN_FIRST + p), u"") << p;
    }
}

TEST_F(NmeaPageTest, ARepaintShowsTheLastDrawing) {
    ASSERT_EQ(Feed({kGga, kGsa3D, kGsv1, kGsv2, kGsv3, kRmc}), hh::sys::WAIT_OBJECT_0);
    std::vector<QImage> drawn;
    for (int p = 0; p < 12; ++p) {
        drawn.push_back(PillarImage(p));
    }
    m_page->ShowWindow(hh::win::SW_HIDE);
    wt::ProcessEvents();
    m_page->ShowWindow(hh::win::SW_SHOW);
    m_page->Invalidate();
    m_page->UpdateWindow();
    wt::ProcessEvents();
    for (int p = 0; p < 12; ++p) {
        EXPECT_TRUE(SameImage(PillarImage(p), drawn[p])) << "pillar " << p;
    }
}

TEST_F(NmeaPageTest, ChunksWithoutSentencesDrawNothingAndStillReleaseTheReader) {
    ASSERT_EQ(Feed({kGga, kGsa3D, kGsv1, kGsv2, kGsv3, kRmc}), hh::sys::WAIT_OBJECT_0);
    std::vector<QImage> drawn;
    for (int p = 0; p < 12; ++p) {
        drawn.push_back(PillarImage(p));
    }
    // The HEX view hands over two digits per byte: "$GPGSV" is 24475047...
    std::u16string hex;
    for (char16_t ch : Chunk({kGsv1})) {
        static const char16_t kDigits[] = u"0123456789ABCDEF";
        if (ch >= 0x10) {
            hex.push_back(kDigits[ch >> 4]);
        }
        hex.push_back(kDigits[ch & 0xF]);
    }
    hex += u"\r\n";
    const std::u16string chunks[] = {hex, u"", u"$GPGSV,3,1,12,01,40,083,46"};
    for (const std::u16string& chunk : chunks) {
        SCOPED_TRACE(Narrow(chunk));
        ASSERT_EQ(Feed(chunk), hh::sys::WAIT_OBJECT_0);
        for (int p = 0; p < 12; ++p) {
            EXPECT_TRUE(SameImage(PillarImage(p), drawn[p])) << "pillar " << p;
            EXPECT_EQ(Text(IDC_PRN_FIRST + p), u"");
        }
        EXPECT_EQ(Text(IDC_VIEW), u"");
        EXPECT_EQ(Text(IDC_PDOP), u"");
        EXPECT_EQ(Text(IDC_FIX), u"3D");
        EXPECT_EQ(Text(IDC_LATITUDE), u"N00\u00B000.0000'");
    }
}

TEST_F(NmeaPageTest, NoChunkIsNotAnswered) {
    EXPECT_EQ(m_page->SendMessage(WM_NMEA_DATA, 0, 0), 0);
    EXPECT_EQ(hh::sys::WaitForSingleObject(g_hDrawPillarEvent, 0), hh::sys::WAIT_TIMEOUT);
}

TEST_F(NmeaPageTest, ResetPageEmptiesThePillarsAndTheFix) {
    ASSERT_EQ(Feed({kGga, kGsa3D, kGsv1, kGsv2, kGsv3, kRmc}), hh::sys::WAIT_OBJECT_0);
    m_page->ResetPage();
    for (int p = 0; p < 12; ++p) {
        const QImage image = PillarImage(p);
        ExpectPillar(image, kPillarBackground, image.height(), "pillar " + std::to_string(p));
        EXPECT_FALSE(HasSnrText(image));
        EXPECT_EQ(Text(IDC_PRN_FIRST + p), u"");
    }
    EXPECT_EQ(Text(IDC_FIX), u"NA");
    EXPECT_EQ(Text(IDC_VIEW), u"");
    EXPECT_EQ(Text(IDC_LATITUDE), u"N00\u00B000.0000'");
    EXPECT_EQ(Text(IDC_LONGITUDE), u"E00\u00B000.0000'");
    EXPECT_EQ(Text(IDC_TIME_DATE), u"12:35:19 080626");
}

TEST_F(NmeaPageTest, AnalyzeStartsTheTtffCountThatKeepsRunningWhenCleared) {
    wt::Click(*m_page, IDC_CHK_ANALYZE);
    EXPECT_EQ(g_bAnalyze.load(), 1);
    Second();
    EXPECT_EQ(Text(IDC_TTFF), u"1");
    Second();
    EXPECT_EQ(Text(IDC_TTFF), u"2");
    wt::Click(*m_page, IDC_CHK_ANALYZE);
    EXPECT_EQ(g_bAnalyze.load(), 0);
    Second();
    EXPECT_EQ(Text(IDC_TTFF), u"3");
}

TEST_F(NmeaPageTest, ColdSendsTheCommandAndCountsFromZeroUntilTheFirstFix) {
    wt::Click(*m_page, IDC_CHK_ANALYZE);
    ASSERT_EQ(Feed({kGga, kGsa3D, kGsv1, kGsv2, kGsv3, kRmc}), hh::sys::WAIT_OBJECT_0);
    wt::Click(*m_page, IDC_BTN_COLD);
    EXPECT_EQ(TakeWrittenBytes(), std::string("$PGNVS,RSET,COLD\r\n", 18));
    EXPECT_EQ(Text(IDC_FIX), u"NA");
    const QImage reset = PillarImage(0);
    ExpectPillar(reset, kPillarBackground, reset.height(), "pillar 0 after Cold");

    for (const char16_t* count : {u"0", u"1", u"2"}) {
        Second();
        EXPECT_EQ(Text(IDC_TTFF), count);
    }
    ASSERT_EQ(Feed({kGsaNoFix, kGsv1, kRmc}), hh::sys::WAIT_OBJECT_0);
    Second();
    EXPECT_EQ(Text(IDC_TTFF), u"3");
    // The first chunk with a 2D fix stops the count where it stands.
    ASSERT_EQ(Feed({kGsa2D, kGsv1, kRmc}), hh::sys::WAIT_OBJECT_0);
    EXPECT_EQ(m_page->Ttff(), 0);
    for (int i = 0; i < 3; ++i) {
        Second();
    }
    EXPECT_EQ(Text(IDC_TTFF), u"3");
    EXPECT_EQ(Text(IDC_FIX), u"2D");
}

TEST_F(NmeaPageTest, AFixWithoutSatellitesDoesNotStopTheCount) {
    wt::Click(*m_page, IDC_CHK_ANALYZE);
    ASSERT_EQ(Feed({kGga, kGsa3D, kRmc}), hh::sys::WAIT_OBJECT_0);
    Second();
    EXPECT_EQ(Text(IDC_TTFF), u"1");
}

TEST_F(NmeaPageTest, ClosingThePortFromAnotherThreadStopsTheCountAndResetsThePage) {
    wt::Click(*m_page, IDC_CHK_ANALYZE);
    ASSERT_EQ(Feed({kGga, kGsa3D, kGsv1, kGsv2, kGsv3, kRmc}), hh::sys::WAIT_OBJECT_0);
    Second();
    ASSERT_EQ(Text(IDC_TTFF), u"");
    wt::Click(*m_page, IDC_BTN_COLD);
    Second();
    ASSERT_EQ(Text(IDC_TTFF), u"0");

    std::atomic<bool> done{false};
    std::thread closer([&] {
        g_pNmeaPage.load()->ResetPage();
        g_pNmeaPage.load()->StopTtff();
        done = true;
    });
    ASSERT_TRUE(wt::ProcessEventsUntil([&] { return done.load(); }));
    closer.join();
    EXPECT_EQ(m_page->Ttff(), 0);
    EXPECT_EQ(Text(IDC_FIX), u"NA");
    const QImage image = PillarImage(0);
    ExpectPillar(image, kPillarBackground, image.height(), "pillar 0");
    Second();
    EXPECT_EQ(Text(IDC_TTFF), u"0");
}

} // namespace
} // namespace terminal::testing
