#include "terminal/nmea/nmea.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace terminal::nmea {
namespace {

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

// Fields are a few characters long: one loop over the array, which the
// compiler unrolls, costs less than a copy and a fill by library calls.
template <std::size_t N>
void Store(char16_t (&dest)[N], std::u16string_view field) {
    const std::size_t n = std::min(field.size(), N - 1);
    for (std::size_t i = 0; i < N; ++i) {
        dest[i] = i < n ? field[i] : u'\0';
    }
}

void Store(char16_t& dest, std::u16string_view field) {
    dest = field.empty() ? u'\0' : field[0];
}

// The headers ParseChunk looks for: "$GP" and three letters, told apart at
// the "$" of each.
enum class Header { None, Gga, Gsa, Gsv, Rmc };

Header HeaderAt(const char16_t* p) {
    if (p[1] != u'G' || p[2] != u'P') {
        return Header::None;
    }
    const char16_t a = p[3];
    const char16_t b = p[4];
    const char16_t c = p[5];
    if (a == u'G') {
        if (b == u'G' && c == u'A') {
            return Header::Gga;
        }
        if (b == u'S') {
            return c == u'A' ? Header::Gsa : c == u'V' ? Header::Gsv : Header::None;
        }
    } else if (a == u'R' && b == u'M' && c == u'C') {
        return Header::Rmc;
    }
    return Header::None;
}

// The units of text[0..15] that hold `ch`, one bit a unit, lowest first.
uint32_t Hits(const char16_t* text, char16_t ch) {
#if defined(__SSE2__)
    const __m128i want = _mm_set1_epi16(static_cast<short>(ch));
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 8));
    // Each compare gives 0xFFFF or 0 a unit; packing keeps one byte a unit.
    const __m128i eq = _mm_packs_epi16(_mm_cmpeq_epi16(low, want), _mm_cmpeq_epi16(high, want));
    return static_cast<uint32_t>(_mm_movemask_epi8(eq));
#else
    uint32_t hits = 0;
    for (int i = 0; i < 16; ++i) {
        hits |= static_cast<uint32_t>(text[i] == ch) << i;
    }
    return hits;
#endif
}

// The position of the first `ch` at or after `from`, or `end`.
std::size_t Next(char16_t ch, const char16_t* text, std::size_t from, std::size_t end) {
    std::size_t i = from;
    for (; i + 16 <= end; i += 16) {
        if (const uint32_t hits = Hits(text + i, ch); hits != 0) {
            return i + static_cast<std::size_t>(std::countr_zero(hits));
        }
    }
    for (; i < end && text[i] != ch; ++i) {
    }
    return i;
}

// Where each sentence ParseChunk uses begins: the first header of each kind
// and the first three "$GPGSV", in one pass over the chunk.
struct HeaderPositions {
    static constexpr std::size_t npos = std::u16string_view::npos;
    std::size_t gga = npos;
    std::size_t gsa = npos;
    std::size_t rmc = npos;
    std::size_t gsv[kGsvRecords] = {npos, npos, npos};
    int gsvCount = 0;

    bool complete() const {
        return gga != npos && gsa != npos && rmc != npos && gsvCount == kGsvRecords;
    }
};

// Records the header at i; true once every sentence ParseChunk uses is found.
bool Note(HeaderPositions& at, const char16_t* text, std::size_t i) {
    switch (HeaderAt(text + i)) {
    case Header::Gga:
        if (at.gga == at.npos) {
            at.gga = i;
        }
        break;
    case Header::Gsa:
        if (at.gsa == at.npos) {
            at.gsa = i;
        }
        break;
    case Header::Gsv:
        if (at.gsvCount < kGsvRecords) {
            at.gsv[at.gsvCount++] = i;
        }
        break;
    case Header::Rmc:
        if (at.rmc == at.npos) {
            at.rmc = i;
        }
        break;
    case Header::None:
        break;
    }
    return at.complete();
}

HeaderPositions FindHeaders(std::u16string_view chunk) {
    HeaderPositions at;
    if (chunk.size() < 6) {
        return at;
    }
    const char16_t* text = chunk.data();
    // A header needs its six characters inside the chunk.
    const std::size_t end = chunk.size() - 5;
    std::size_t i = 0;
    for (; i + 16 <= end; i += 16) {
        // A block holds one "$" most of the time; each is taken in order.
        for (uint32_t hits = Hits(text + i, u'$'); hits != 0; hits &= hits - 1) {
            if (Note(at, text, i + static_cast<std::size_t>(std::countr_zero(hits)))) {
                return at;
            }
        }
    }
    for (; i < end; ++i) {
        if (text[i] == u'$' && Note(at, text, i)) {
            return at;
        }
    }
    return at;
}

// The sentences of one chunk from their headers through the first "*" at or
// after each. A search for "*" that fails is remembered: no header after it
// has a "*" either, so the rest of the chunk is searched once at most.
class Framer {
public:
    explicit Framer(std::u16string_view chunk) : m_chunk(chunk) {}

    std::u16string_view sentence(std::size_t header) {
        if (header == std::u16string_view::npos || header >= m_noStarFrom) {
            return {};
        }
        const std::size_t star = Next(u'*', m_chunk.data(), header, m_chunk.size());
        if (star == m_chunk.size()) {
            m_noStarFrom = header;
            return {};
        }
        return m_chunk.substr(header, star - header + 1);
    }

private:
    std::u16string_view m_chunk;
    std::size_t m_noStarFrom = std::u16string_view::npos;
};

} // namespace

void ClearNmea(NmeaContext& ctx) {
    ctx.m_nmea = NmeaState{};
    ctx.m_nGsvIndex = 0;
}

void ParseChunk(NmeaContext& ctx, std::u16string_view chunk) {
    // The first header of each kind, and for GSV the next one at least 5
    // characters after the one before: as a header is six characters long and
    // starts with its only "$", that is simply the first three "$GPGSV".
    const HeaderPositions at = FindHeaders(chunk);
    Framer frame(chunk);
    if (auto s = frame.sentence(at.gga); !s.empty()) {
        ParseGGA(ctx, s);
    }
    if (auto s = frame.sentence(at.gsa); !s.empty()) {
        ParseGSA(ctx, s);
    }
    for (int i = 0; i < at.gsvCount; ++i) {
        if (auto s = frame.sentence(at.gsv[i]); !s.empty()) {
            ParseGSV(ctx, s);
        }
    }
    ctx.m_nGsvIndex = 0;
    if (auto s = frame.sentence(at.rmc); !s.empty()) {
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
