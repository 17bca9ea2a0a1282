#include "platform/system/code_page.h"

#include "platform/system/error.h"
#include "platform/system/trace.h"

#include <iconv.h>

#include <array>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace hh::sys {

static_assert(std::endian::native == std::endian::little, "UTF-16LE is the host's char16_t");

namespace {

constexpr const char* kDefaultCodePage = "CP1252";
constexpr char16_t kReplacement = u'?';
constexpr char16_t kUtf8Replacement = 0xFFFD;
const iconv_t kNoIconv = reinterpret_cast<iconv_t>(-1);

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// How many UTF-16 units make the character that starts at text[i]: a valid
// surrogate pair is one character that the code page cannot hold as a whole.
size_t CharUnits(std::u16string_view text, size_t i) {
    return IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]) ? 2 : 1;
}

// One code page: its iconv name, its number and, for a single-byte code page,
// both directions as tables.
struct CodePage {
    std::string iconvName;
    uint32_t number = 0;
    bool singleByte = false;
    std::array<char16_t, 256> decode{};
    std::vector<int16_t> encode; // indexed by UTF-16 unit; -1 when not representable
};

// Converts a single byte with a fresh descriptor; false when the code page
// needs more bytes for it (a lead byte of a multi-byte code page).
bool DecodeOneByte(iconv_t cd, unsigned char byte, char16_t& result, bool& defined) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char in = static_cast<char>(byte);
    char* inPtr = &in;
    size_t inLeft = 1;
    char16_t out[4];
    char* outPtr = reinterpret_cast<char*>(out);
    size_t outLeft = sizeof out;
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
        if (errno != EILSEQ) {
            return false;
        }
        defined = false;
        result = byte;
        return true;
    }
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    size_t units = (sizeof out - outLeft) / sizeof(char16_t);
    if (units != 1) {
        return false;
    }
    defined = true;
    result = out[0];
    return true;
}

std::shared_ptr<CodePage> LoadCodePage(const std::string& iconvName, uint32_t number) {
    iconv_t toWide = iconv_open("UTF-16LE", iconvName.c_str());
    if (toWide == kNoIconv) {
        return nullptr;
    }
    iconv_t fromWide = iconv_open(iconvName.c_str(), "UTF-16LE");
    if (fromWide == kNoIconv) {
        iconv_close(toWide);
        return nullptr;
    }
    iconv_close(fromWide);
    auto page = std::make_shared<CodePage>();
    page->iconvName = iconvName;
    page->number = number;
    page->singleByte = true;
    std::array<bool, 256> defined{};
    for (unsigned b = 0; b < 256 && page->singleByte; ++b) {
        page->singleByte =
            DecodeOneByte(toWide, static_cast<unsigned char>(b), page->decode[b], defined[b]);
    }
    iconv_close(toWide);
    if (page->singleByte) {
        page->encode.assign(0x10000, -1);
        // Defined bytes first, so that an undefined byte never takes the place
        // of a real character that shares its number.
        for (int pass = 0; pass < 2; ++pass) {
            for (unsigned b = 0; b < 256; ++b) {
                if (defined[b] == (pass == 0) && page->encode[page->decode[b]] < 0) {
                    page->encode[page->decode[b]] = static_cast<int16_t>(b);
                }
            }
        }
    }
    return page;
}

bool AllDigits(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

// "936" -> CP936; "WINDOWS-1251" -> 1251; other iconv names carry no number.
void ResolveName(const std::string& configured, std::string& iconvName, uint32_t& number) {
    if (AllDigits(configured)) {
        number = static_cast<uint32_t>(std::strtoul(configured.c_str(), nullptr, 10));
        iconvName = "CP" + configured;
        return;
    }
    iconvName = configured;
    std::string upper;
    for (char c : configured) {
        upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    number = 0;
    for (std::string_view prefix : {"CP", "WINDOWS-", "MS"}) {
        if (upper.starts_with(prefix) && AllDigits(std::string_view(upper).substr(prefix.size()))) {
            number =
                static_cast<uint32_t>(std::strtoul(upper.c_str() + prefix.size(), nullptr, 10));
        }
    }
}

std::mutex g_pagesMutex;
std::map<std::string, std::shared_ptr<const CodePage>> g_pages;
std::set<std::string> g_reportedNames;

// The code page of a configured name or number, loaded once per process.
std::shared_ptr<const CodePage> FindCodePage(const std::string& configured) {
    std::lock_guard lock(g_pagesMutex);
    if (auto it = g_pages.find(configured); it != g_pages.end()) {
        return it->second;
    }
    std::string iconvName;
    uint32_t number = 0;
    ResolveName(configured, iconvName, number);
    std::shared_ptr<const CodePage> page = LoadCodePage(iconvName, number);
    if (page) {
        g_pages[configured] = page;
    }
    return page;
}

std::shared_ptr<const CodePage> DefaultCodePage() {
    auto page = FindCodePage(kDefaultCodePage);
    if (!page) {
        std::lock_guard lock(g_pagesMutex);
        if (g_reportedNames.insert(kDefaultCodePage).second) {
            DebugPrintf("code page: iconv has no %s; text conversions fail\n", kDefaultCodePage);
        }
    }
    return page;
}

// The per-thread cache: the code page of the last HANDHELD_CODEPAGE value seen,
// and the iconv descriptors of multi-byte code pages (never shared between threads).
struct IconvPair {
    const CodePage* page = nullptr;
    iconv_t toWide = kNoIconv;
    iconv_t fromWide = kNoIconv;
};

struct ThreadCache {
    bool hasAcp = false;
    std::string acpSetting;
    std::shared_ptr<const CodePage> acp;
    std::vector<std::shared_ptr<const CodePage>> keep;
    std::vector<IconvPair> iconvs;

    ~ThreadCache() {
        for (auto& pair : iconvs) {
            iconv_close(pair.toWide);
            iconv_close(pair.fromWide);
        }
    }

    const IconvPair* descriptors(const std::shared_ptr<const CodePage>& page) {
        for (const auto& pair : iconvs) {
            if (pair.page == page.get()) {
                return &pair;
            }
        }
        IconvPair pair{page.get(), iconv_open("UTF-16LE", page->iconvName.c_str()),
                       iconv_open(page->iconvName.c_str(), "UTF-16LE")};
        if (pair.toWide == kNoIconv || pair.fromWide == kNoIconv) {
            if (pair.toWide != kNoIconv) {
                iconv_close(pair.toWide);
            }
            if (pair.fromWide != kNoIconv) {
                iconv_close(pair.fromWide);
            }
            return nullptr;
        }
        keep.push_back(page);
        iconvs.push_back(pair);
        return &iconvs.back();
    }
};

thread_local ThreadCache t_cache;

std::shared_ptr<const CodePage> AnsiCodePage() {
    const char* env = std::getenv("HANDHELD_CODEPAGE");
    std::string setting = env && *env ? env : kDefaultCodePage;
    if (t_cache.hasAcp && t_cache.acpSetting == setting) {
        return t_cache.acp;
    }
    auto page = FindCodePage(setting);
    if (!page) {
        {
            std::lock_guard lock(g_pagesMutex);
            if (g_reportedNames.insert(setting).second) {
                DebugPrintf("code page \"%s\" is not available; using Windows-1252\n",
                            setting.c_str());
            }
        }
        page = DefaultCodePage();
    }
    t_cache.hasAcp = true;
    t_cache.acpSetting = setting;
    t_cache.acp = page;
    return page;
}

std::shared_ptr<const CodePage> CodePageFor(uint32_t codePage) {
    if (codePage == CP_ACP) {
        return AnsiCodePage();
    }
    return FindCodePage(std::to_string(codePage));
}

std::u16string DecodeIconv(iconv_t cd, std::string_view bytes) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::u16string out(bytes.size() + 8, u'\0');
    size_t produced = 0;
    char* inPtr = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    while (true) {
        char* outPtr = reinterpret_cast<char*>(out.data() + produced);
        size_t outLeft = (out.size() - produced) * sizeof(char16_t);
        size_t result = inLeft ? iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft)
                               : iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
        int error = errno;
        produced = out.size() - outLeft / sizeof(char16_t);
        if (result != static_cast<size_t>(-1)) {
            if (inLeft == 0) {
                break;
            }
            continue;
        }
        if (error == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        // An invalid or cut-off sequence: one replacement for its first byte.
        if (produced == out.size()) {
            out.resize(out.size() * 2);
        }
        out[produced++] = kReplacement;
        ++inPtr;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    out.resize(produced);
    return out;
}

std::string EncodeIconv(iconv_t cd, std::u16string_view text, std::string_view replacement,
                        bool& usedDefault) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string out(text.size() * 2 + 8, '\0');
    size_t produced = 0;
    size_t consumed = 0;
    while (true) {
        char* inPtr = const_cast<char*>(reinterpret_cast<const char*>(text.data() + consumed));
        size_t inLeft = (text.size() - consumed) * sizeof(char16_t);
        char* outPtr = out.data() + produced;
        size_t outLeft = out.size() - produced;
        size_t result = inLeft ? iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft)
                               : iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
        int error = errno;
        produced = out.size() - outLeft;
        consumed = text.size() - inLeft / sizeof(char16_t);
        if (result != static_cast<size_t>(-1)) {
            if (inLeft == 0) {
                break;
            }
            continue;
        }
        if (error == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        out.resize(std::max(out.size(), produced + replacement.size() + 8));
        std::memcpy(out.data() + produced, replacement.data(), replacement.size());
        produced += replacement.size();
        usedDefault = true;
        consumed += CharUnits(text, consumed);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    out.resize(produced);
    return out;
}

std::u16string Decode(const std::shared_ptr<const CodePage>& page, std::string_view bytes) {
    if (page->singleByte) {
        std::u16string out(bytes.size(), u'\0');
        for (size_t i = 0; i < bytes.size(); ++i) {
            out[i] = page->decode[static_cast<unsigned char>(bytes[i])];
        }
        return out;
    }
    const IconvPair* pair = t_cache.descriptors(page);
    if (!pair) {
        return std::u16string(bytes.size(), kReplacement);
    }
    return DecodeIconv(pair->toWide, bytes);
}

std::string Encode(const std::shared_ptr<const CodePage>& page, std::u16string_view text,
                   std::string_view replacement, bool& usedDefault) {
    if (page->singleByte) {
        std::string out;
        out.reserve(text.size());
        for (size_t i = 0; i < text.size();) {
            int16_t byte = page->encode[text[i]];
            if (byte >= 0) {
                out += static_cast<char>(byte);
                ++i;
                continue;
            }
            out += replacement;
            usedDefault = true;
            i += CharUnits(text, i);
        }
        return out;
    }
    const IconvPair* pair = t_cache.descriptors(page);
    if (!pair) {
        usedDefault = !text.empty();
        std::string out;
        for (size_t i = 0; i < text.size(); i += CharUnits(text, i)) {
            out += replacement;
        }
        return out;
    }
    return EncodeIconv(pair->fromWide, text, replacement, usedDefault);
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Checks the sizes and copies a converted text into the caller's buffer as
// the device's conversion functions do.
template <typename Char, typename Text>
int CopyOut(const Text& text, Char* buffer, int bufferSize) {
    if (bufferSize == 0) {
        return static_cast<int>(text.size());
    }
    if (text.size() > static_cast<size_t>(bufferSize)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, text.data(), text.size() * sizeof(Char));
    return static_cast<int>(text.size());
}

} // namespace

uint32_t GetACP() {
    auto page = AnsiCodePage();
    return page ? page->number : 0;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            AppendUtf8(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            AppendUtf8(out, kUtf8Replacement);
        } else {
            AppendUtf8(out, c);
        }
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<unsigned char>(text[i]);
        size_t length = byte < 0x80                   ? 1
                        : byte >= 0xC2 && byte < 0xE0 ? 2
                        : byte >= 0xE0 && byte < 0xF0 ? 3
                        : byte >= 0xF0 && byte < 0xF5 ? 4
                                                      : 0;
        char32_t c = length == 1   ? byte
                     : length == 2 ? byte & 0x1F
                     : length == 3 ? byte & 0x0F
                                   : byte & 0x07;
        bool valid = length != 0 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are invalid too.
        valid = valid && !(length == 3 && c < 0x800) && !(length == 4 && c < 0x10000) &&
                !(c >= 0xD800 && c <= 0xDFFF) && c <= 0x10FFFF;
        if (!valid) {
            out += kUtf8Replacement;
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += length;
    }
    return out;
}

std::u16string AnsiToWide(std::string_view bytes, StopAt stop) {
    if (stop == StopAt::FirstZero) {
        bytes = bytes.substr(0, std::min(bytes.size(), bytes.find('\0')));
    }
    auto page = AnsiCodePage();
    return page ? Decode(page, bytes) : std::u16string(bytes.size(), kReplacement);
}

std::string WideToAnsi(std::u16string_view text, bool* usedDefaultChar) {
    bool used = false;
    auto page = AnsiCodePage();
    std::string out = page ? Encode(page, text, "?", used) : std::string(text.size(), '?');
    if (usedDefaultChar) {
        *usedDefaultChar = used || (!page && !text.empty());
    }
    return out;
}

int MultiByteToWideChar(uint32_t codePage, uint32_t, const char* multiByte, int cbMultiByte,
                        char16_t* wideChar, int cchWideChar) {
    if (!multiByte || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (cchWideChar > 0 && !wideChar)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length = cbMultiByte == -1 ? std::strlen(multiByte) + 1 : size_t(cbMultiByte);
    std::string_view bytes(multiByte, length);
    std::u16string text;
    if (codePage == CP_UTF8) {
        text = Utf8ToUtf16(bytes);
    } else {
        auto page = CodePageFor(codePage);
        if (!page) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        text = Decode(page, bytes);
    }
    return CopyOut(text, wideChar, cchWideChar);
}

int WideCharToMultiByte(uint32_t codePage, uint32_t, const char16_t* wideChar, int cchWideChar,
                        char* multiByte, int cbMultiByte, const char* defaultChar,
                        int* usedDefaultChar) {
    if (!wideChar || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && !multiByte)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length =
        cchWideChar == -1 ? std::char_traits<char16_t>::length(wideChar) + 1 : size_t(cchWideChar);
    std::u16string_view text(wideChar, length);
    std::string bytes;
    bool used = false;
    if (codePage == CP_UTF8) {
        bytes = Utf16ToUtf8(text);
    } else {
        auto page = CodePageFor(codePage);
        if (!page) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        // The device takes one character from defaultChar.
        bytes = Encode(page, text, defaultChar ? std::string_view(defaultChar, 1) : "?", used);
    }
    if (usedDefaultChar) {
        *usedDefaultChar = used ? 1 : 0;
    }
    return CopyOut(bytes, multiByte, cbMultiByte);
}

} // namespace hh::sys
