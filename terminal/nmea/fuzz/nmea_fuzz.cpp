// Feeds arbitrary chunks to the parser and the page's walk. Each input byte
// becomes one UTF-16 code unit, as the ANSI conversion of a received chunk
// would make it, so the seed sentences keep their meaning. Every text field
// must still end with its terminator, and the walk must stay on the pillars.

#include "terminal/nmea/gps_page.h"
#include "terminal/nmea/nmea.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace terminal::nmea;

namespace {

template <std::size_t N>
void CheckTerminated(const char16_t (&field)[N]) {
    if (field[N - 1] != u'\0') {
        std::abort();
    }
}

template <std::size_t M, std::size_t N>
void CheckTerminated(const char16_t (&fields)[M][N]) {
    for (const auto& f : fields) {
        CheckTerminated(f);
    }
}

void CheckState(const NmeaState& s) {
    CheckTerminated(s.gga.szTime);
    CheckTerminated(s.gga.szLatitude);
    CheckTerminated(s.gga.szLongitude);
    CheckTerminated(s.gga.szSatsUsed);
    CheckTerminated(s.gga.szHdop);
    CheckTerminated(s.gga.szAltitude);
    CheckTerminated(s.gga.szAltitudeUnit);
    CheckTerminated(s.gsa.szMode);
    CheckTerminated(s.gsa.szFixType);
    CheckTerminated(s.gsa.szUsedPrn);
    CheckTerminated(s.gsa.szPdop);
    CheckTerminated(s.gsa.szHdop);
    CheckTerminated(s.gsa.szVdop);
    for (const auto& r : s.gsv) {
        CheckTerminated(r.szNumMessages);
        CheckTerminated(r.szMessageNumber);
        CheckTerminated(r.szInView);
        CheckTerminated(r.szPrn);
        CheckTerminated(r.szElevation);
        CheckTerminated(r.szAzimuth);
        CheckTerminated(r.szSnr);
    }
    CheckTerminated(s.rmc.szTime);
    CheckTerminated(s.rmc.szLatitude);
    CheckTerminated(s.rmc.szLongitude);
    CheckTerminated(s.rmc.szSpeed);
    CheckTerminated(s.rmc.szCourse);
    CheckTerminated(s.rmc.szDate);
    CheckTerminated(s.rmc.szMagVariation);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::u16string chunk(data, data + size);
    NmeaContext ctx;
    ClearNmea(ctx);
    ParseChunk(ctx, chunk);
    if (ctx.m_nGsvIndex != 0) {
        std::abort();
    }
    CheckState(ctx.m_nmea);

    const PillarWalk walk = WalkPillars(ctx.m_nmea, 35);
    if (walk.drawn < 0 || walk.drawn > kPillars) {
        std::abort();
    }
    for (int32_t p = 0; p < walk.drawn; ++p) {
        const PillarDraw& pillar = walk.pillars[p];
        if (pillar.paint == PillarPaint::Untouched || pillar.prn.empty() || pillar.barTop < 0 ||
            pillar.barTop > 35) {
            std::abort();
        }
    }
    return 0;
}
