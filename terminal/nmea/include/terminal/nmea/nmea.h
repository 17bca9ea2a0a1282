#pragma once
// NMEA 0183 sentence parser of the GPS page. It picks the first "$GPGGA",
// "$GPGSA" and "$GPRMC" sentences and up to three "$GPGSV" sentences out of one
// received chunk and stores their fields as text, exactly as received: no
// number conversion and no checksum test. Text fields are fixed-capacity
// arrays whose sizes count the terminating zero; a longer field is cut to fit.
// A single-character field holds the field's first character, or 0 when the
// field is empty. Nothing here allocates.

#include <cstdint>
#include <string_view>

namespace terminal::nmea {

/// Fields of "$GPGGA".
struct GgaInfo {
    char16_t szTime[20];
    char16_t szLatitude[20];
    char16_t chLatHemisphere;
    char16_t szLongitude[20];
    char16_t chLonHemisphere;
    char16_t chQuality;
    char16_t szSatsUsed[3];
    char16_t szHdop[10];
    char16_t szAltitude[10];
    char16_t szAltitudeUnit[25];

    bool operator==(const GgaInfo&) const = default;
};

/// Fields of "$GPGSA".
struct GsaInfo {
    char16_t szMode[3];
    char16_t szFixType[3];
    char16_t szUsedPrn[12][3];
    char16_t szPdop[10];
    char16_t szHdop[10];
    char16_t szVdop[10];

    bool operator==(const GsaInfo&) const = default;
};

/// Fields of one "$GPGSV" sentence: up to four satellites.
struct GsvRecord {
    char16_t szNumMessages[5];
    char16_t szMessageNumber[5];
    char16_t szInView[3];
    char16_t szPrn[4][3];
    char16_t szElevation[4][3];
    char16_t szAzimuth[4][4];
    char16_t szSnr[4][4];

    bool operator==(const GsvRecord&) const = default;
};

/// Fields of "$GPRMC".
struct RmcInfo {
    char16_t szTime[20];
    char16_t chStatus;
    char16_t szLatitude[20];
    char16_t chLatHemisphere;
    char16_t szLongitude[20];
    char16_t chLonHemisphere;
    char16_t szSpeed[10];
    char16_t szCourse[10];
    char16_t szDate[20];
    char16_t szMagVariation[10];
    char16_t chVariationDir;
    char16_t chMode;

    bool operator==(const RmcInfo&) const = default;
};

/// Number of GSV records one chunk can fill.
inline constexpr int32_t kGsvRecords = 3;

/// What one chunk said. Value-initialise it (`NmeaState{}`) to clear it.
struct NmeaState {
    GgaInfo gga;
    GsaInfo gsa;
    GsvRecord gsv[kGsvRecords];
    RmcInfo rmc;

    bool operator==(const NmeaState&) const = default;
};

/// The parser's working state as the GPS page holds it: the decoded fields and
/// the GSV record that the next "$GPGSV" sentence fills.
struct NmeaContext {
    NmeaState m_nmea{};
    int32_t m_nGsvIndex = 0;
};

/// Clears every field and sets the GSV index to 0, ready for the next chunk.
void ClearNmea(NmeaContext& ctx);

/// Runs the recognisers on one chunk in the order GGA, GSA, GSV, RMC; the
/// checksum after "*" is never read. Does not clear ctx first.
void ParseChunk(NmeaContext& ctx, std::u16string_view chunk);

// The four recognisers take the text of one sentence from its "$" through its
// "*"; a missing "*" ends the last field at the end of the text. Fields beyond
// the end of a short sentence stay as they are (empty after ClearNmea).

/// $GPGGA,123519.00,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,*69
/// Stores time and latitude; with a latitude also fields 3 to 10.
void ParseGGA(NmeaContext& ctx, std::u16string_view sentence);

/// $GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39
/// Stores mode, fix type and the non-empty used PRNs; with a PDOP also the DOPs.
void ParseGSA(NmeaContext& ctx, std::u16string_view sentence);

/// $GPGSV,2,1,08,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45*75
/// Fills record m_nGsvIndex and adds 1 to it; ignored once all records are full.
void ParseGSV(NmeaContext& ctx, std::u16string_view sentence);

/// $GPRMC,081836.00,A,3751.6500,S,14507.3600,E,000.0,360.0,130998,011.3,E,A*21
/// Stores time and status; with a latitude also fields 3 to 12.
void ParseRMC(NmeaContext& ctx, std::u16string_view sentence);

} // namespace terminal::nmea
