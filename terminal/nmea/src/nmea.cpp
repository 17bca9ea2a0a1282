#include "terminal/nmea/nmea.h"

#include <algorithm>
#include <cstddef>

namespace terminal::nmea {
namespace {

constexpr std::u16string_view kGga = u"$GPGGA";
constexpr std::u16string_view kGsa = u"$GPGSA";
constexpr std::u16string_view kGsv = u"$GPGSV";
constexpr std::u16string_view kRmc = u"$GPRMC";

// Walks the comma-separated fields of one sentence. Field 1 begins after the
// first ","; each field runs to the next "," or, for the last one, to the "*"
// that closes the sentence. Past the end every field reads as empty.
class FieldReader {
public:
    explicit FieldReader(std::u16string_view sentence) {
        if (!sentence.empty() && sentence.back() == u'*') {
            sentence.remove_suffix(1);
        }
        const std::size_t comma = sentence.find(u',');
        if (comma != std::u16string_view::npos) {
            m_rest = sentence.substr(comma + 1);
            m_more = true;
        }
    }

    std::u16string_view next() {
        if (!m_more) {
            return {};
        }
        const std::size_t comma = m_rest.find(u',');
        std::u16string_view field = m_rest.substr(0, comma);
        if (comma == std::u16string_view::npos) {
            m_rest = {};
            m_more = false;
        } else {
            m_rest.remove_prefix(comma + 1);
        }
        return field;
    }

private:
    std::u16string_view m_rest;
    bool m_more = false;
};

template <std::size_t N>
void Store(char16_t (&dest)[N], std::u16string_view field) {
    const std::size_t n = std::min(field.size(), N - 1);
    std::copy_n(field.data(), n, dest);
    std::fill(dest + n, dest + N, u'\0');
}

void Store(char16_t& dest, std::u16string_view field) {
    dest = field.empty() ? u'\0' : field[0];
}

// The sentence that starts at the first `header` at or after `from`, through
// the first "*" after it; empty when there is no such header or no "*".
// `found` receives the header's position (npos when absent).
std::u16string_view Frame(std::u16string_view chunk, std::u16string_view header, std::size_t from,
                          std::size_t& found) {
    found = chunk.find(header, from);
    if (found == std::u16string_view::npos) {
        return {};
    }
    const std::size_t star = chunk.find(u'*', found);
    if (star == std::u16string_view::npos) {
        return {};
    }
    return chunk.substr(found, star - found + 1);
}

} // namespace

void ClearNmea(NmeaContext& ctx) {
    ctx.m_nmea = NmeaState{};
    ctx.m_nGsvIndex = 0;
}

void ParseChunk(NmeaContext& ctx, std::u16string_view chunk) {
    std::size_t at = 0;
    if (auto s = Frame(chunk, kGga, 0, at); !s.empty()) {
        ParseGGA(ctx, s);
    }
    if (auto s = Frame(chunk, kGsa, 0, at); !s.empty()) {
        ParseGSA(ctx, s);
    }
    // Each further search starts 5 characters after the previous header, so a
    // header is never found twice; three searches at most.
    std::size_t from = 0;
    for (int i = 0; i < kGsvRecords; ++i) {
        const auto s = Frame(chunk, kGsv, from, at);
        if (at == std::u16string_view::npos) {
            break;
        }
        if (!s.empty()) {
            ParseGSV(ctx, s);
        }
        from = at + 5;
    }
    ctx.m_nGsvIndex = 0;
    if (auto s = Frame(chunk, kRmc, 0, at); !s.empty()) {
        ParseRMC(ctx, s);
    }
}

void ParseGGA(NmeaContext& ctx, std::u16string_view sentence) {
    GgaInfo& g = ctx.m_nmea.gga;
    FieldReader f(sentence);
    Store(g.szTime, f.next());
    const auto latitude = f.next();
    Store(g.szLatitude, latitude);
    if (latitude.empty()) {
        return;
    }
    Store(g.chLatHemisphere, f.next());
    Store(g.szLongitude, f.next());
    Store(g.chLonHemisphere, f.next());
    Store(g.chQuality, f.next());
    Store(g.szSatsUsed, f.next());
    Store(g.szHdop, f.next());
    Store(g.szAltitude, f.next());
    Store(g.szAltitudeUnit, f.next());
}

void ParseGSA(NmeaContext& ctx, std::u16string_view sentence) {
    GsaInfo& g = ctx.m_nmea.gsa;
    FieldReader f(sentence);
    Store(g.szMode, f.next());
    Store(g.szFixType, f.next());
    for (auto& slot : g.szUsedPrn) {
        if (const auto prn = f.next(); !prn.empty()) {
            Store(slot, prn);
        }
    }
    const auto pdop = f.next();
    if (pdop.empty()) {
        return;
    }
    Store(g.szPdop, pdop);
    Store(g.szHdop, f.next());
    Store(g.szVdop, f.next());
}

void ParseGSV(NmeaContext& ctx, std::u16string_view sentence) {
    // The GPS page keeps three records; a further sentence has nowhere to go.
    if (ctx.m_nGsvIndex < 0 || ctx.m_nGsvIndex >= kGsvRecords) {
        return;
    }
    GsvRecord& r = ctx.m_nmea.gsv[ctx.m_nGsvIndex];
    FieldReader f(sentence);
    Store(r.szNumMessages, f.next());
    Store(r.szMessageNumber, f.next());
    Store(r.szInView, f.next());
    for (int i = 0; i < 4; ++i) {
        Store(r.szPrn[i], f.next());
        Store(r.szElevation[i], f.next());
        Store(r.szAzimuth[i], f.next());
        Store(r.szSnr[i], f.next());
    }
    ++ctx.m_nGsvIndex;
}

void ParseRMC(NmeaContext& ctx, std::u16string_view sentence) {
    RmcInfo& r = ctx.m_nmea.rmc;
    FieldReader f(sentence);
    Store(r.szTime, f.next());
    Store(r.chStatus, f.next());
    const auto latitude = f.next();
    if (latitude.empty()) {
        return;
    }
    Store(r.szLatitude, latitude);
    Store(r.chLatHemisphere, f.next());
    Store(r.szLongitude, f.next());
    Store(r.chLonHemisphere, f.next());
    Store(r.szSpeed, f.next());
    Store(r.szCourse, f.next());
    Store(r.szDate, f.next());
    Store(r.szMagVariation, f.next());
    Store(r.chVariationDir, f.next());
    Store(r.chMode, f.next());
}

} // namespace terminal::nmea
