#include "search/compare.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>

#include "res/strtable.h"
#include "util/datetime.h"
#include "util/error.h"

namespace veltrano {
namespace {

[[noreturn]] void fail(StringId id)
{
    throw Error(std::string(LoadResStr(id)));
}

// Blanks and control characters at either end, as the key boxes are read.
std::string_view trimmed(std::string_view text)
{
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// A signed 32-bit decimal number: leading blanks allowed, then an optional sign and digits to
// the end of the text. Anything else, or a value beyond 32 bits, is no number.
std::optional<int32_t> toInt32(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty() || text.front() == '+')
        return std::nullopt;
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool used(const TCompInfo &cond)
{
    return cond.Logic != clNone;
}

bool join(TCompLogic logic, bool c, bool soFar)
{
    switch (logic) {
    case clAnd:
        return c && soFar;
    case clOr:
        return c || soFar;
    case clAndNot:
        return soFar && !c;
    default:
        return soFar;
    }
}

template <typename T>
bool ordered(TCompOp op, T value, T key)
{
    switch (op) {
    case coEquals:
        return value == key;
    case coGreater:
        return value > key;
    case coLess:
        return value < key;
    default:
        return false;
    }
}

bool textTest(TCompOp op, const std::string &value, const std::string &key, const CodePage &cp)
{
    switch (op) {
    case coContains:
        return !key.empty() && cp.find(value, key) != std::string::npos;
    case coEquals:
        return cp.equalsNoCase(value, key);
    case coGreater:
        return value.compare(key) > 0;
    case coLess:
        return value.compare(key) < 0;
    }
    return false;
}

// The extension's offset in an ASCII name (npos when it has none): the byte after the last '.'
// that no '\' or ':' follows.
size_t asciiExtensionStart(const NameBytes &name)
{
    for (size_t i = name.length; i-- > 0;) {
        const unsigned char c = name.data[i];
        if (c == '.')
            return i + 1;
        if (c == '\\' || c == ':')
            return std::string_view::npos;
    }
    return std::string_view::npos;
}

template <size_t N>
std::optional<int> wordIndex(std::string_view word, const std::array<std::string_view, N> &words,
                             std::initializer_list<std::string_view> english)
{
    for (size_t i = 0; i < N; ++i)
        if (word == words[i])
            return int(i);
    int i = 0;
    for (const std::string_view name : english) {
        if (word.size() == name.size()
            && std::equal(word.begin(), word.end(), name.begin(), [](char a, char b) {
                   return std::tolower(static_cast<unsigned char>(a)) == b;
               }))
            return i;
        ++i;
    }
    return std::nullopt;
}

} // namespace

void CheckConditions(TCompInfos &conds)
{
    for (const TCompInfo &cond : conds) {
        if (!used(cond))
            continue;
        const std::string_view key = trimmed(cond.Text);
        if (key.empty())
            fail(kStrNoKey);
        if (key.find_first_of(";,") != std::string_view::npos)
            fail(kStrBadSeparator);
    }
    for (TCompInfo &cond : conds) {
        if (!used(cond))
            continue;
        if (cond.Field == cfSize) {
            const std::optional<int32_t> kb = toInt32(cond.Text);
            if (!kb)
                fail(kStrSizeNotNumber);
            cond.SizeKey = int64_t(*kb) * 1024;
            if (cond.Op == coContains)
                fail(kStrSizeNoContains);
        } else if (cond.Field == cfDate) {
            const std::optional<double> date = parseDateTime(cond.Text);
            if (!date)
                fail(kStrBadDate);
            cond.DateKey = *date;
            if (cond.Op == coContains)
                fail(kStrDateNoContains);
        }
    }
}

TCompInfos prepareConditions(const TCompInfos &conds, const CodePage &cp)
{
    TCompInfos prepared = conds;
    for (TCompInfo &cond : prepared)
        cond.Text = cp.upper(cp.fromUtf8Lossy(cond.Text));
    return prepared;
}

std::string_view extensionOf(std::string_view name, const CodePage &cp)
{
    size_t start = std::string_view::npos;
    const char *const begin = name.data();
    const char *const end = begin + name.size();
    for (const char *p = begin; p < end; p += cp.charLength(p, end)) {
        if (*p == '.')
            start = size_t(p - begin) + 1;
        else if (*p == '\\' || *p == ':')
            start = std::string_view::npos;
    }
    return start == std::string_view::npos ? std::string_view() : name.substr(start);
}

bool MatchCondition(const TCompInfo &cond, const TItemData &item, bool soFar, const CodePage &cp)
{
    if (!used(cond))
        return soFar;
    bool c = false;
    switch (cond.Field) {
    case cfName:
        c = textTest(cond.Op, cp.upper(item.name()), cond.Text, cp);
        break;
    case cfExt:
        if (!item.isDirectory())
            c = textTest(cond.Op, cp.upper(extensionOf(item.name(), cp)), cond.Text, cp);
        break;
    case cfSize:
        c = ordered<int64_t>(cond.Op, item.Size, cond.SizeKey);
        break;
    case cfDate:
        c = ordered<double>(cond.Op, item.Time, cond.DateKey);
        break;
    }
    return join(cond.Logic, c, soFar);
}

bool MatchItem(const TCompInfos &conds, const TItemData &item, const CodePage &cp)
{
    bool soFar = true;
    for (const TCompInfo &cond : conds)
        soFar = MatchCondition(cond, item, soFar, cp);
    return soFar;
}

ConditionMatcher::ConditionMatcher(const TCompInfos &conds, const CodePage &cp)
{
    for (const TCompInfo &cond : conds) {
        if (cond.Logic != clAnd && cond.Logic != clOr && cond.Logic != clAndNot)
            continue;
        Row &row = m_rows[size_t(m_used++)];
        row.logic = cond.Logic;
        row.field = cond.Field;
        row.op = cond.Op;
        row.sizeKey = cond.SizeKey;
        row.dateKey = cond.DateKey;
        if (cond.Field == cfName || cond.Field == cfExt) {
            const std::optional<std::string> key = cp.fromUtf8(cond.Text);
            row.text = FoldMatcher(cp.upper(key ? *key : cp.fromUtf8Lossy(cond.Text)), key.has_value(), cp);
            m_needsName = true;
        }
    }
    m_singleContains = m_used == 1 && m_rows[0].logic == clAnd && m_rows[0].field == cfName
                       && m_rows[0].op == coContains;
}

bool ConditionMatcher::testText(const Row &row, const NameBytes &value)
{
    switch (row.op) {
    case coContains:
        return row.text.contains(value);
    case coEquals:
        return row.text.equals(value);
    case coGreater:
        return row.text.compare(value) > 0;
    case coLess:
        return row.text.compare(value) < 0;
    }
    return false;
}

bool ConditionMatcher::testExtension(const Row &row, const NameBytes &name)
{
    size_t start;
    if (name.ascii) {
        start = asciiExtensionStart(name);
    } else {
        const std::string_view ext = extensionOf(name.view(), row.text.codePage());
        start = ext.empty() ? std::string_view::npos : name.length - ext.size();
    }
    return testText(row, name.tail(start == std::string_view::npos ? name.length : start));
}

bool ConditionMatcher::matchesRows(const unsigned char *name, size_t fieldLength,
                                   const unsigned char *limit, uint32_t size, uint32_t attr,
                                   double time) const
{
    NameBytes measured;
    bool haveName = false;
    bool soFar = true;
    for (int i = 0; i < m_used; ++i) {
        const Row &row = m_rows[size_t(i)];
        // A row whose outcome cannot change the result is not tested; nothing else is
        // affected by testing it.
        if (row.logic == clOr ? soFar : !soFar)
            continue;
        bool c = false;
        switch (row.field) {
        case cfSize:
            c = ordered<int64_t>(row.op, size, row.sizeKey);
            break;
        case cfDate:
            c = ordered<double>(row.op, time, row.dateKey);
            break;
        case cfName:
        case cfExt:
            if (row.field == cfExt && (attr & kAttrDirectory))
                break;
            if (!haveName && row.field == cfName && row.op == coContains) {
                c = row.text.containsInField(name, fieldLength, limit);
                break;
            }
            if (!haveName) {
                measureName(name, fieldLength, limit, measured);
                haveName = true;
            }
            c = row.field == cfName ? testText(row, measured) : testExtension(row, measured);
            break;
        }
        soFar = join(row.logic, c, soFar);
    }
    return soFar;
}

bool ConditionMatcher::matches(const TItemData &item) const
{
    const auto *p = reinterpret_cast<const unsigned char *>(item.Name);
    return matches(p, sizeof item.Name, p + sizeof item.Name, item.Size, item.Attr, item.Time);
}

std::optional<TCompField> fieldFromWord(std::string_view word)
{
    const auto i = wordIndex(word, kCompFieldWords, {"name", "ext", "size", "date"});
    return i ? std::optional(TCompField(*i)) : std::nullopt;
}

std::optional<TCompOp> opFromWord(std::string_view word)
{
    const auto i = wordIndex(word, kCompOpWords, {"contains", "equals", "greater", "less"});
    return i ? std::optional(TCompOp(*i)) : std::nullopt;
}

std::optional<TCompLogic> logicFromWord(std::string_view word)
{
    const auto i = wordIndex(word, kCompLogicWords, {"none", "and", "or", "andnot"});
    return i ? std::optional(TCompLogic(*i)) : std::nullopt;
}

} // namespace veltrano
