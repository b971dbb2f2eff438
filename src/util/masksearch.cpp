#include "util/masksearch.h"

#include <algorithm>
#include <cstdint>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace veltrano {
namespace {

// Invalid bytes map to code points no valid character uses, one per byte value.
constexpr char32_t kRawByteBase = 0x110000;

std::u32string decode(std::string_view text)
{
    std::u32string out;
    out.reserve(text.size());
    const auto *s = reinterpret_cast<const uint8_t *>(text.data());
    const int32_t length = int32_t(text.size());
    int32_t i = 0;
    while (i < length) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) {
            out.push_back(kRawByteBase + s[start]);
            i = start + 1;
        } else {
            out.push_back(char32_t(c));
        }
    }
    return out;
}

std::u32string lowered(std::u32string text)
{
    for (char32_t &c : text)
        if (c < kRawByteBase)
            c = char32_t(u_tolower(UChar32(c)));
    return text;
}

void encodeInto(char32_t c, std::string &out)
{
    if (c >= kRawByteBase) {
        out.push_back(char(c - kRawByteBase));
        return;
    }
    uint8_t buffer[4];
    int32_t n = 0;
    [[maybe_unused]] UBool error = false;
    U8_APPEND(buffer, n, 4, UChar32(c), error);
    out.append(reinterpret_cast<const char *>(buffer), size_t(n));
}

bool matchDecoded(const std::u32string &name, const std::u32string &mask)
{
    if (mask == U"*" || (mask == U"*.*" && name.find(U'.') != std::u32string::npos))
        return true;
    if (mask.find_first_of(U"*?") == std::u32string::npos)
        return mask == name;
    if (mask.empty())
        return false;

    // Tokens: each '*' and '?' alone, each run of other characters as one literal.
    std::vector<std::u32string_view> tokens;
    const std::u32string_view m(mask);
    for (size_t i = 0; i < m.size();) {
        if (m[i] == U'*' || m[i] == U'?') {
            tokens.push_back(m.substr(i, 1));
            ++i;
        } else {
            const size_t end = std::min(m.find_first_of(U"*?", i), m.size());
            tokens.push_back(m.substr(i, end - i));
            i = end;
        }
    }

    // p counts from 0 here: the spot where the next token is tested.
    const std::u32string_view n(name);
    size_t p = 0;
    bool star = false;
    for (size_t t = 0; t < tokens.size(); ++t) {
        const std::u32string_view token = tokens[t];
        if (token == U"?") {
            if (++p > n.size())
                return false;
        } else if (token == U"*") {
            star = true;
        } else if (star && t + 1 == tokens.size()) {
            const std::u32string_view rest = n.substr(std::min(p, n.size()));
            const bool endsWith =
                    rest.size() >= token.size() && rest.substr(rest.size() - token.size()) == token;
            p = endsWith ? n.size() : n.size() + 1; // anything but the end fails the last test
            star = false;
        } else if (star) {
            const size_t at = n.find(token, std::min(p, n.size()));
            if (at == std::u32string_view::npos)
                return false;
            p = at + token.size();
            star = false;
        } else {
            if (p > n.size() || n.substr(p, token.size()) != token)
                return false;
            p += token.size();
        }
    }
    return star || p == n.size();
}

} // namespace

std::string lowerUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char32_t c : lowered(decode(text)))
        encodeInto(c, out);
    return out;
}

void BuildMask(std::string_view maskText, MaskList &list)
{
    list.clear();
    if (maskText.empty()) {
        list.emplace_back("*");
        return;
    }
    std::string text(maskText);
    if (text.back() != ';')
        text.push_back(';');
    for (size_t from = 0, at; (at = text.find(';', from)) != std::string::npos; from = at + 1)
        list.push_back(lowerUtf8(std::string_view(text).substr(from, at - from)));
    std::stable_sort(list.begin(), list.end());
}

bool FileMatches(std::string_view name, const MaskList *list)
{
    if (!list || list->empty())
        return true;
    std::u32string lowerName = lowered(decode(name));
    if (lowerName.find(U'.') == std::u32string::npos)
        lowerName.push_back(U'.');
    for (const std::string &mask : *list)
        if (matchDecoded(lowerName, decode(mask)))
            return true;
    return false;
}

bool MatchMask(std::string_view name, std::string_view mask)
{
    return matchDecoded(decode(name), decode(mask));
}

} // namespace veltrano
