#include "terminal/nmea/gps_page.h"

#include <algorithm>
#include <cstddef>
#include <limits>

namespace terminal::nmea {
namespace {

constexpr char16_t kDegree = u'\u00B0';

// Inserts like the framework's string insert: a position past the end appends,
// a negative one prepends.
void InsertAt(std::u16string& text, std::ptrdiff_t pos, char16_t ch) {
    const auto size = static_cast<std::ptrdiff_t>(text.size());
    pos = std::clamp<std::ptrdiff_t>(pos, 0, size);
    text.insert(static_cast<std::size_t>(pos), 1, ch);
}

std::u16string WithHemisphere(char16_t hemisphere, const char16_t* text) {
    std::u16string out;
    if (hemisphere != u'\0') {
        out.push_back(hemisphere);
    }
    out.append(text);
    return out;
}

std::u16string_view View(const char16_t* text) {
    return std::u16string_view(text);
}

bool IsBlank(char16_t ch) {
    return ch == u' ' || (ch >= u'\t' && ch <= u'\r');
}

// Paints a bar for a satellite when the receiver reports a 2D or 3D fix: the
// satellite counts as used when a used-list entry contains its PRN text; an
// empty entry ends the list.
PillarPaint UsedPaint(const GsaInfo& gsa, std::u16string_view prn, PillarPaint fixPaint) {
    for (const auto& slot : gsa.szUsedPrn) {
        const auto entry = View(slot);
        if (entry.empty()) {
            return PillarPaint::NoFix;
        }
        if (entry.find(prn) != std::u16string_view::npos) {
            return fixPaint;
        }
    }
    return PillarPaint::NoBar;
}

} // namespace

int32_t FieldValue(const char16_t* text) {
    while (IsBlank(*text)) {
        ++text;
    }
    bool negative = false;
    if (*text == u'+' || *text == u'-') {
        negative = *text == u'-';
        ++text;
    }
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t value = 0;
    for (; *text >= u'0' && *text <= u'9'; ++text) {
        value = std::min(value * 10 + (*text - u'0'), kLimit);
    }
    if (negative) {
        value = -value;
    }
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

std::u16string FormatLatitude(char16_t hemisphere, const char16_t* latitude) {
    std::u16string out = WithHemisphere(hemisphere, latitude);
    InsertAt(out, 3, kDegree);
    out.push_back(u'\'');
    return out;
}

std::u16string FormatLongitude(char16_t hemisphere, const char16_t* longitude) {
    std::u16string out = WithHemisphere(hemisphere, longitude);
    const std::size_t dot = out.find(u'.');
    const std::ptrdiff_t pos = dot == std::u16string::npos ? -1 : static_cast<std::ptrdiff_t>(dot);
    InsertAt(out, pos - 2, kDegree);
    out.push_back(u'\'');
    return out;
}

std::u16string FormatTimeDate(const char16_t* time, const char16_t* date) {
    std::u16string out(View(time).substr(0, 6));
    InsertAt(out, 2, u':');
    InsertAt(out, 5, u':');
    out.push_back(u' ');
    out.append(date);
    return out;
}

int32_t BarTop(int32_t height, int32_t snr) {
    // 64-bit so that an absurd SNR text cannot overflow the product.
    const int64_t top = int64_t{height} * (60 - int64_t{snr}) / 60;
    return static_cast<int32_t>(std::clamp<int64_t>(top, 0, std::max(height, 0)));
}

PillarWalk WalkPillars(const NmeaState& nmea, int32_t pillarHeight) {
    PillarWalk walk;
    const GsvRecord& first = nmea.gsv[0];
    const int32_t msgs = FieldValue(first.szNumMessages);
    const int32_t inView = FieldValue(first.szInView);
    const int32_t fixType = FieldValue(nmea.gsa.szFixType);

    int32_t p = 0;
    int32_t r = 0;
    int32_t s = 0;
    while (msgs > 0 && p < inView && p < kPillars) {
        const GsvRecord& record = nmea.gsv[r];
        const auto prn = View(record.szPrn[s]);
        if (prn.empty()) {
            ++r;
            s = 0;
        } else {
            PillarDraw& pillar = walk.pillars[p];
            pillar.prn = prn;
            pillar.snr = View(record.szSnr[s]);
            pillar.barTop = BarTop(pillarHeight, FieldValue(record.szSnr[s]));
            walk.fix = fixType;
            switch (fixType) {
            case 1:
                pillar.paint = PillarPaint::NoFix;
                break;
            case 2:
            case 3:
                walk.stopTtff = true;
                pillar.paint = UsedPaint(nmea.gsa, prn,
                                         fixType == 2 ? PillarPaint::Fix2D : PillarPaint::Fix3D);
                break;
            default:
                pillar.paint = PillarPaint::NoBar;
                break;
            }
            ++p;
            if (++s > 3) {
                ++r;
                s = 0;
            }
        }
        if (r >= msgs || r >= kGsvRecords) {
            break;
        }
    }
    walk.drawn = p;

    if (walk.drawn > 0) {
        walk.setStatus = true;
        walk.inView = View(first.szInView);
        walk.used = View(nmea.gga.szSatsUsed);
        walk.pdop = View(nmea.gsa.szPdop);
        walk.hdop = View(nmea.gsa.szHdop);
        walk.vdop = View(nmea.gsa.szVdop);
        if (walk.fix == 2 || walk.fix == 3) {
            walk.setPosition = true;
            walk.latitude = FormatLatitude(nmea.rmc.chLatHemisphere, nmea.rmc.szLatitude);
            walk.longitude = FormatLongitude(nmea.rmc.chLonHemisphere, nmea.rmc.szLongitude);
        }
        walk.timeDate = FormatTimeDate(nmea.rmc.szTime, nmea.rmc.szDate);
    }
    switch (walk.fix) {
    case 1:
        walk.fixLabel = u"NA";
        break;
    case 2:
        walk.fixLabel = u"2D";
        break;
    case 3:
        walk.fixLabel = u"3D";
        break;
    default:
        break;
    }
    return walk;
}

} // namespace terminal::nmea
