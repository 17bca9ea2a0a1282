#include "nmea_test_support.h"

namespace terminal::nmea {
namespace {

template <std::size_t N>
void Field(std::ostream& os, const char* name, const char16_t (&field)[N]) {
    if (field[0] != u'\0') {
        os << ' ' << name << "=\"" << Narrow(field) << '"';
    }
}

void Field(std::ostream& os, const char* name, char16_t ch) {
    if (ch != u'\0') {
        os << ' ' << name << "='" << Narrow(std::u16string_view(&ch, 1)) << '\'';
    }
}

template <std::size_t M, std::size_t N>
void Fields(std::ostream& os, const char* name, const char16_t (&fields)[M][N]) {
    for (std::size_t i = 0; i < M; ++i) {
        if (fields[i][0] != u'\0') {
            os << ' ' << name << i << "=\"" << Narrow(fields[i]) << '"';
        }
    }
}

} // namespace

void PrintTo(const NmeaState& s, std::ostream* os) {
    *os << "{GGA:";
    Field(*os, "time", s.gga.szTime);
    Field(*os, "lat", s.gga.szLatitude);
    Field(*os, "ns", s.gga.chLatHemisphere);
    Field(*os, "lon", s.gga.szLongitude);
    Field(*os, "ew", s.gga.chLonHemisphere);
    Field(*os, "q", s.gga.chQuality);
    Field(*os, "used", s.gga.szSatsUsed);
    Field(*os, "hdop", s.gga.szHdop);
    Field(*os, "alt", s.gga.szAltitude);
    Field(*os, "unit", s.gga.szAltitudeUnit);
    *os << " | GSA:";
    Field(*os, "mode", s.gsa.szMode);
    Field(*os, "fix", s.gsa.szFixType);
    Fields(*os, "prn", s.gsa.szUsedPrn);
    Field(*os, "pdop", s.gsa.szPdop);
    Field(*os, "hdop", s.gsa.szHdop);
    Field(*os, "vdop", s.gsa.szVdop);
    for (int r = 0; r < kGsvRecords; ++r) {
        const GsvRecord& g = s.gsv[r];
        *os << " | GSV" << r << ':';
        Field(*os, "msgs", g.szNumMessages);
        Field(*os, "no", g.szMessageNumber);
        Field(*os, "view", g.szInView);
        Fields(*os, "prn", g.szPrn);
        Fields(*os, "elev", g.szElevation);
        Fields(*os, "az", g.szAzimuth);
        Fields(*os, "snr", g.szSnr);
    }
    *os << " | RMC:";
    Field(*os, "time", s.rmc.szTime);
    Field(*os, "status", s.rmc.chStatus);
    Field(*os, "lat", s.rmc.szLatitude);
    Field(*os, "ns", s.rmc.chLatHemisphere);
    Field(*os, "lon", s.rmc.szLongitude);
    Field(*os, "ew", s.rmc.chLonHemisphere);
    Field(*os, "speed", s.rmc.szSpeed);
    Field(*os, "course", s.rmc.szCourse);
    Field(*os, "date", s.rmc.szDate);
    Field(*os, "var", s.rmc.szMagVariation);
    Field(*os, "vardir", s.rmc.chVariationDir);
    Field(*os, "mode", s.rmc.chMode);
    *os << '}';
}

} // namespace terminal::nmea
