#include "util/strtokens.h"

#include <charconv>
#include <climits>

#include "res/strtable.h"
#include "util/codepage.h"
#include "util/error.h"

namespace veltrano {
namespace {

[[noreturn]] void raise(int id)
{
    throw Error(std::string(LoadResStr(id)));
}

// Byte length of the first `chars` characters of text (fewer when the text is shorter).
size_t charsToBytes(std::string_view text, size_t chars, const CodePage &cp)
{
    const char *const begin = text.data();
    const char *const end = begin + text.size();
    const char *p = begin;
    for (size_t i = 0; i < chars && p < end; ++i)
        p += cp.charLength(p, end);
    return size_t(p - begin);
}

std::string withoutCommas(std::string_view field, const CodePage &cp)
{
    std::string out;
    out.reserve(field.size());
    const char *p = field.data();
    const char *const end = p + field.size();
    while (p < end) {
        const size_t n = cp.charLength(p, end);
        if (!(n == 1 && *p == ','))
            out.append(p, n);
        p += n;
    }
    return out;
}

// One descriptor of S, N or M: cuts its field from `line` and returns where the rest of the line
// starts, or npos when the split ends with this field. `templ` is advanced past the descriptor.
// Template separators are ASCII, so a byte equal to one on a character boundary is that
// character.
size_t cutRunField(
        std::string_view line, std::string_view &templ, std::string_view &field, const CodePage &cp)
{
    size_t runLength = 0;
    char sep = '\0';
    if (templ.size() > 1) {
        sep = templ[1];
        while (1 + runLength < templ.size() && templ[1 + runLength] == sep)
            ++runLength;
    }
    templ.remove_prefix(1 + runLength);

    // The first character always belongs to the field.
    const size_t from = cp.charLength(line.data(), line.data() + line.size());
    const size_t at =
            runLength ? cp.find(line, std::string(runLength, sep), from) : std::string_view::npos;
    if (at == std::string_view::npos) {
        field = line;
        return std::string_view::npos;
    }
    field = line.substr(0, at);
    size_t rest = at + runLength;
    while (rest < line.size() && line[rest] == sep)
        ++rest; // the separator is a character of its own, and so is every repetition of it
    return rest;
}

// One descriptor of D or C: a fixed count of characters, then any run of the separator.
size_t cutFixedField(
        std::string_view line, std::string_view &templ, std::string_view &field, const CodePage &cp)
{
    size_t width = 1;
    while (width < templ.size() && templ[width] == 'D')
        ++width;
    const bool hasSep = width < templ.size();
    const char sep = hasSep ? templ[width] : '\0';
    templ.remove_prefix(hasSep ? width + 1 : width);

    const size_t bytes = charsToBytes(line, width, cp);
    field = line.substr(0, bytes);
    size_t rest = bytes;
    while (hasSep && rest < line.size() && line[rest] == sep)
        ++rest;
    return rest;
}

} // namespace

void ParseTokens(std::string_view line, std::string_view templ, TokenList &list, const CodePage &cp)
{
    while (!line.empty() && !templ.empty()) {
        const char letter = templ[0];
        std::string_view field;
        size_t rest = 0;
        switch (letter) {
        case 'S':
        case 'N':
        case 'M': {
            rest = cutRunField(line, templ, field, cp);
            if (letter == 'S') {
                list.emplace_back(field);
            } else if (letter == 'N') {
                if (!IsNumber(field))
                    raise(kStrNotNumber);
                list.emplace_back(field);
            } else {
                std::string amount = withoutCommas(field, cp);
                if (!IsNumber(amount))
                    raise(kStrNotMoney);
                list.push_back(std::move(amount));
            }
            if (rest == std::string_view::npos)
                return;
            break;
        }
        case 'D':
        case 'C':
            rest = cutFixedField(line, templ, field, cp);
            if (letter == 'D' && !IsDigits(field))
                raise(kStrNotNumber);
            list.emplace_back(field);
            break;
        default:
            raise(kStrSyntaxError);
        }
        line.remove_prefix(rest);
    }
}

int GetTokens(std::string_view line, std::string_view templ, TokenList &list, const CodePage &cp)
{
    list.clear();
    // Blanks and control bytes are never trail bytes, so trimming byte-wise is safe.
    while (!line.empty() && static_cast<unsigned char>(line.front()) <= ' ')
        line.remove_prefix(1);
    while (!line.empty() && static_cast<unsigned char>(line.back()) <= ' ')
        line.remove_suffix(1);
    ParseTokens(line, templ, list, cp);
    return int(list.size());
}

bool IsDigits(std::string_view text)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

bool IsNumber(std::string_view text)
{
    if (text.empty())
        return false;
    if (text[0] == '+' || text[0] == '-')
        text.remove_prefix(1);
    for (char c : text)
        if ((c < '0' || c > '9') && c != '.')
            return false;
    return true;
}

std::string_view cutAtChar(std::string_view text, size_t maxBytes, const CodePage &cp)
{
    if (text.size() <= maxBytes)
        return text;
    const char *const begin = text.data();
    const char *const end = begin + text.size();
    const char *p = begin;
    while (p < end) {
        const size_t n = cp.charLength(p, end);
        if (size_t(p - begin) + n > maxBytes)
            break;
        p += n;
    }
    return text.substr(0, size_t(p - begin));
}

int toIntDef(std::string_view text, int fallback)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '+' || text.front() == '-'))
            return fallback;
    }
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < INT_MIN || value > INT_MAX)
        return fallback;
    return int(value);
}

uint32_t toSizeDef(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() ? value : 0;
}

} // namespace veltrano
