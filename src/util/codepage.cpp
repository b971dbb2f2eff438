#include "util/codepage.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include "util/error.h"

namespace veltrano {
namespace {

struct ConverterCloser
{
    void operator()(UConverter *c) const { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

Converter openConverter(const std::string &name)
{
    UErrorCode status = U_ZERO_ERROR;
    Converter c(ucnv_open(name.c_str(), &status));
    if (U_FAILURE(status))
        return nullptr;
    return c;
}

// Opening a converter costs more than most conversions, and one may not be shared between
// threads: each thread keeps the few it has used, reset before every use. `strict` ones stop at
// a character without a mapping instead of writing the substitute.
UConverter *threadConverter(const std::string &name, bool strict = false)
{
    struct Entry
    {
        std::string name;
        bool strict;
        Converter conv;
    };
    thread_local std::vector<Entry> cache;
    for (Entry &e : cache) {
        if (e.strict == strict && e.name == name) {
            ucnv_reset(e.conv.get());
            return e.conv.get();
        }
    }
    Converter conv = openConverter(name);
    if (!conv)
        return nullptr;
    if (strict) {
        UErrorCode status = U_ZERO_ERROR;
        ucnv_setFromUCallBack(conv.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    }
    if (cache.size() >= 8)
        cache.erase(cache.begin());
    cache.push_back(Entry {name, strict, std::move(conv)});
    return cache.back().conv.get();
}

std::string lowered(std::string_view s)
{
    std::string out(s);
    for (char &ch : out)
        ch = char(std::tolower(static_cast<unsigned char>(ch)));
    return out;
}

// ICU's "CP950" alias is IBM's table; Windows' own mapping is windows-950-2000.
std::string canonicalName(std::string_view given)
{
    std::string name = lowered(given);
    name.erase(std::remove_if(name.begin(), name.end(), [](char c) { return c == ' '; }), name.end());
    if (name.empty() || name == "cp950" || name == "950" || name == "big5" || name == "ms950"
        || name == "windows-950" || name == "windows950" || name == "big-5")
        return "windows-950-2000";
    if (name == "utf-8" || name == "utf8" || name == "65001" || name == "cp65001")
        return "UTF-8";
    if (std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return "windows-" + name;
    return std::string(given);
}

} // namespace

CodePage CodePage::programDefault()
{
    const char *env = std::getenv("VELTRANO_CODEPAGE");
    return CodePage(env && *env ? env : "CP950");
}

CodePage CodePage::forCache(const std::filesystem::path &cacheRoot, std::string_view override)
{
    if (!override.empty())
        return CodePage(override);
    const std::string marker = readCodePageMarker(cacheRoot);
    return CodePage(marker.empty() ? std::string_view("CP950") : std::string_view(marker));
}

CodePage::CodePage(std::string_view given)
    : m_name(canonicalName(given))
{
    Converter conv = openConverter(m_name);
    if (!conv)
        throw Error("Unknown code page: " + std::string(given));
    UErrorCode nameStatus = U_ZERO_ERROR;
    const char *icuName = ucnv_getName(conv.get(), &nameStatus);
    if (U_SUCCESS(nameStatus) && icuName)
        m_name = icuName;

    for (int b = 0; b < 256; ++b) {
        m_leadLength[b] = 1;
        m_upper[b] = uint8_t(b);
    }
    for (int b = 'a'; b <= 'z'; ++b)
        m_upper[b] = uint8_t(b - 'a' + 'A');

    const UConverterType type = ucnv_getType(conv.get());
    if (type == UCNV_UTF8) {
        m_kind = Kind::Utf8;
        for (int b = 0xC2; b <= 0xDF; ++b)
            m_leadLength[b] = 2;
        for (int b = 0xE0; b <= 0xEF; ++b)
            m_leadLength[b] = 3;
        for (int b = 0xF0; b <= 0xF4; ++b)
            m_leadLength[b] = 4;
        return;
    }
    if (ucnv_getMaxCharSize(conv.get()) > 1) {
        m_kind = Kind::MultiByte;
        UBool starters[256] = {};
        UErrorCode status = U_ZERO_ERROR;
        ucnv_getStarters(conv.get(), starters, &status);
        if (U_FAILURE(status))
            throw Error("Unsupported code page: " + std::string(given));
        for (int b = 0x80; b < 256; ++b)
            m_leadLength[b] = starters[b] ? 2 : 1;
        buildPairFolds(conv.get());
        return;
    }
    // A single-byte page: every byte is a character, so upper-case each one through Unicode.
    m_kind = Kind::SingleByte;
    for (int b = 0x80; b < 256; ++b) {
        const char in = char(b);
        UChar u[4];
        UErrorCode status = U_ZERO_ERROR;
        const int32_t n = ucnv_toUChars(conv.get(), u, 4, &in, 1, &status);
        if (U_FAILURE(status) || n != 1)
            continue;
        const UChar32 up = u_toupper(u[0]);
        if (up == u[0] || up > 0xFFFF)
            continue;
        const UChar upChar = UChar(up);
        char out[8];
        status = U_ZERO_ERROR;
        const int32_t m = ucnv_fromUChars(conv.get(), out, sizeof out, &upChar, 1, &status);
        if (U_SUCCESS(status) && m == 1)
            m_upper[b] = uint8_t(out[0]);
    }
}

// From the letters' side: a few hundred characters have an upper case of their own, while a
// double-byte page has tens of thousands of characters.
void CodePage::buildPairFolds(void *converter)
{
    // Finding the pairs takes a few milliseconds; a program makes many CodePage objects of
    // the same one or two pages.
    static std::mutex mutex;
    static std::map<std::string, std::vector<std::pair<uint16_t, uint16_t>>> known;
    bool found = false;
    {
        std::lock_guard lock(mutex);
        if (const auto it = known.find(m_name); it != known.end()) {
            m_pairUpper = it->second;
            found = true;
        }
    }
    if (!found) {
        findPairFolds(converter);
        std::lock_guard lock(mutex);
        known.emplace(m_name, m_pairUpper);
    }
    for (const auto &pair : m_pairUpper)
        m_pairLead[pair.first >> 8] = 1;
}

void CodePage::findPairFolds(void *converter)
{
    auto *conv = static_cast<UConverter *>(converter);
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setFromUCallBack(conv, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status))
        return;
    // The character's two bytes, when it has exactly two that read back as it.
    const auto pairOf = [&](UChar c) -> int {
        char out[8];
        UErrorCode st = U_ZERO_ERROR;
        ucnv_resetFromUnicode(conv);
        const int32_t n = ucnv_fromUChars(conv, out, sizeof out, &c, 1, &st);
        if (U_FAILURE(st) || n != 2 || m_leadLength[static_cast<unsigned char>(out[0])] != 2)
            return -1;
        UChar back[4];
        st = U_ZERO_ERROR;
        ucnv_resetToUnicode(conv);
        if (ucnv_toUChars(conv, back, 4, out, 2, &st) != 1 || U_FAILURE(st) || back[0] != c)
            return -1;
        return static_cast<unsigned char>(out[0]) << 8 | static_cast<unsigned char>(out[1]);
    };
    for (UChar32 c = 0x80; c <= 0xFFFF; ++c) {
        const UChar32 up = u_toupper(c);
        if (up == c || up > 0xFFFF || up < 0x80 || U_IS_SURROGATE(c))
            continue;
        const int lower = pairOf(UChar(c));
        const int upper = lower < 0 ? -1 : pairOf(UChar(up));
        if (upper < 0)
            continue;
        m_pairUpper.emplace_back(uint16_t(lower), uint16_t(upper));
    }
    std::sort(m_pairUpper.begin(), m_pairUpper.end());
    ucnv_reset(conv);
}

uint16_t CodePage::lookUpPair(uint16_t code) const
{
    const auto it = std::lower_bound(
            m_pairUpper.begin(), m_pairUpper.end(), std::pair<uint16_t, uint16_t>(code, 0));
    return it != m_pairUpper.end() && it->first == code ? it->second : code;
}

bool CodePage::hasLowerPair(unsigned char lead, unsigned char trail) const
{
    const uint16_t code = uint16_t(lead << 8 | trail);
    return std::any_of(m_pairUpper.begin(), m_pairUpper.end(), [code](const auto &pair) {
        return pair.second == code;
    });
}

std::string CodePage::toUtf8(std::string_view bytes) const
{
    if (bytes.empty())
        return {};
    UConverter *conv = threadConverter(m_name);
    if (!conv)
        return std::string(bytes);
    UErrorCode status = U_ZERO_ERROR;
    std::u16string wide(bytes.size() * 2 + 2, u'\0');
    const int32_t n = ucnv_toUChars(conv, reinterpret_cast<UChar *>(wide.data()),
                                    int32_t(wide.size()), bytes.data(), int32_t(bytes.size()), &status);
    if (U_FAILURE(status))
        return std::string(bytes);
    std::string out(size_t(n) * 3 + 1, '\0');
    int32_t len = 0;
    status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), int32_t(out.size()), &len, reinterpret_cast<UChar *>(wide.data()),
                       n, 0xFFFD, nullptr, &status);
    out.resize(U_SUCCESS(status) ? size_t(len) : 0);
    return out;
}

namespace {

std::optional<std::string> encode(const std::string &name, std::string_view utf8, bool strict)
{
    if (utf8.empty())
        return std::string();
    UErrorCode status = U_ZERO_ERROR;
    std::u16string wide(utf8.size() + 1, u'\0');
    int32_t wlen = 0;
    u_strFromUTF8WithSub(reinterpret_cast<UChar *>(wide.data()), int32_t(wide.size()), &wlen,
                         utf8.data(), int32_t(utf8.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status))
        return std::nullopt;
    UConverter *conv = threadConverter(name, strict);
    if (!conv)
        return std::nullopt;
    std::string out(size_t(wlen) * 4 + 1, '\0');
    status = U_ZERO_ERROR;
    const int32_t n = ucnv_fromUChars(conv, out.data(), int32_t(out.size()),
                                      reinterpret_cast<UChar *>(wide.data()), wlen, &status);
    if (U_FAILURE(status))
        return std::nullopt;
    out.resize(size_t(n));
    return out;
}

} // namespace

std::optional<std::string> CodePage::fromUtf8(std::string_view utf8) const
{
    if (utf8.find("\xEF\xBF\xBD") != std::string_view::npos)
        return std::nullopt; // already lost before it reached us
    return encode(m_name, utf8, true);
}

std::string CodePage::fromUtf8Lossy(std::string_view utf8) const
{
    return encode(m_name, utf8, false).value_or(std::string());
}

void CodePage::upperInto(std::string_view text, std::string &out) const
{
    out.assign(text);
    char *p = out.data();
    char *const end = p + out.size();
    while (p < end) {
        const size_t n = charLength(p, end);
        if (n == 1) {
            *p = char(m_upper[static_cast<unsigned char>(*p)]);
        } else if (m_kind == Kind::Utf8) {
            // Upper-case a multi-byte character only where its upper case has the same length.
            int32_t i = 0;
            UChar32 c;
            U8_NEXT(reinterpret_cast<const uint8_t *>(p), i, int32_t(n), c);
            if (c >= 0 && i == int32_t(n)) {
                const UChar32 up = u_toupper(c);
                if (up != c && U8_LENGTH(up) == int32_t(n)) {
                    int32_t j = 0;
                    [[maybe_unused]] UBool error = false;
                    U8_APPEND(reinterpret_cast<uint8_t *>(p), j, int32_t(n), up, error);
                }
            }
        } else if (n == 2) {
            const uint16_t up =
                    upperPair(static_cast<unsigned char>(p[0]), static_cast<unsigned char>(p[1]));
            p[0] = char(up >> 8);
            p[1] = char(up & 0xFF);
        }
        p += n;
    }
}

std::string CodePage::upper(std::string_view text) const
{
    std::string out;
    upperInto(text, out);
    return out;
}

size_t CodePage::find(std::string_view hay, std::string_view needle, size_t from) const
{
    if (needle.empty())
        return from <= hay.size() ? from : std::string_view::npos;
    const char *const begin = hay.data();
    const char *const end = begin + hay.size();
    for (const char *p = begin + std::min(from, hay.size()); p < end; p += charLength(p, end)) {
        if (size_t(end - p) < needle.size())
            break;
        if (*p == needle[0] && std::memcmp(p, needle.data(), needle.size()) == 0)
            return size_t(p - begin);
    }
    return std::string_view::npos;
}

size_t CodePage::findChar(std::string_view text, char c, size_t from) const
{
    return find(text, std::string_view(&c, 1), from);
}

size_t CodePage::rfindChar(std::string_view text, char c) const
{
    const auto lengthOf = [&](char byte) { return m_leadLength[static_cast<unsigned char>(byte)]; };
    if (m_kind == Kind::Utf8 || lengthOf(c) != 1) {
        size_t last = std::string_view::npos;
        const char *const begin = text.data();
        const char *const end = begin + text.size();
        for (const char *p = begin; p < end; p += charLength(p, end))
            if (*p == c)
                last = size_t(p - begin);
        return last;
    }
    // From the end, without walking the whole text (a path, for every hit the window lists).
    // Characters are of one or two bytes: a character starts right after any byte that cannot
    // start two, so a byte c at k starts one when the run of bytes before it that can start
    // two, back to such a byte, is of even length. No c lies inside such a run, so each byte is
    // looked at about once.
    size_t k = text.size();
    while (k > 0) {
        const void *hit = ::memrchr(text.data(), c, k);
        if (!hit)
            break;
        k = size_t(static_cast<const char *>(hit) - text.data());
        size_t start = k;
        while (start > 0 && lengthOf(text[start - 1]) == 2)
            --start;
        if ((k - start) % 2 == 0)
            return k;
    }
    return std::string_view::npos;
}

int CodePage::compareNoCase(std::string_view a, std::string_view b) const
{
    const std::string ua = upper(a);
    const std::string ub = upper(b);
    const int r = ua.compare(ub);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

bool CodePage::equalsNoCase(std::string_view a, std::string_view b) const
{
    return a.size() == b.size() && compareNoCase(a, b) == 0;
}

std::string readCodePageMarker(const std::filesystem::path &cacheRoot)
{
    std::ifstream in(cacheRoot / "CODEPAGE");
    std::string line;
    if (!in || !std::getline(in, line))
        return {};
    const auto notBlank = [](unsigned char c) { return !std::isspace(c); };
    line.erase(line.begin(), std::find_if(line.begin(), line.end(), notBlank));
    line.erase(std::find_if(line.rbegin(), line.rend(), notBlank).base(), line.end());
    return line;
}

} // namespace veltrano
