#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "search/foldmatch.h"
#include "cache/indexscan.h"
#include "util/codepage.h"

namespace veltrano {

// The search conditions: up to three rows of field, operator and key, joined left to right by
// a logic word. The window checks them with CheckConditions before a search; the worker tests
// every scanned entry against its own prepared copy.

// How a row joins the rows before it. Row 1 is always clAnd.
enum TCompLogic : int32_t { clNone = 0, clAnd = 1, clOr = 2, clAndNot = 3 };
// The field of the entry a row tests.
enum TCompField : int32_t { cfName = 0, cfExt = 1, cfSize = 2, cfDate = 3 };
// The comparison of a row.
enum TCompOp : int32_t { coContains = 0, coEquals = 1, coGreater = 2, coLess = 3 };

// The words of the drop-down lists of a condition row, by value (UTF-8). They are also the
// words of the search command that the history stores and the search server receives.
inline constexpr std::array<std::string_view, 4> kCompFieldWords = {"檔名", "副檔名", "檔案大小",
                                                                    "修改日期"};
inline constexpr std::array<std::string_view, 4> kCompOpWords = {"包含", "等於", "大於", "小於"};
inline constexpr std::array<std::string_view, 4> kCompLogicWords = {"無", "且", "或", "且否"};

// One condition row.
struct TCompInfo
{
    TCompLogic Logic = clNone;
    TCompField Field = cfName;
    TCompOp Op = coContains;
    // The key as typed (UTF-8). In the worker's prepared copy: the key upper-cased in the
    // cache's code page (see prepareConditions).
    std::string Text;
    // Set by CheckConditions for a cfDate row: the key as a date-time.
    double DateKey = 0;
    // Set by CheckConditions for a cfSize row: the key in bytes (KB × 1024). Wider than an
    // entry's 32-bit size so that a key beyond 4 GB or below zero compares as the number it
    // is instead of wrapping round to an unrelated size.
    int64_t SizeKey = 0;
};
using TCompInfos = std::array<TCompInfo, 3>;

// Checks the used rows (Logic other than clNone) and fills SizeKey and DateKey. Throws Error
// with the string-table text of the first fault: blank key (50104) or ';' / ',' in a key
// (50106) in any used row before a bad number (50100), size with contains (50101), bad date
// (50103) or date with contains (50102).
void CheckConditions(TCompInfos &conds);

// The worker's copy of the rows: every key converted from UTF-8 to the code page and
// upper-cased there, whether its row is used or not. A key holding a character the code page
// cannot write is kept with '?' in its place; the prepared matcher knows such a key can
// equal or contain no name.
TCompInfos prepareConditions(const TCompInfos &conds, const CodePage &cp);

// The plain, unhurried test of one entry (Name = bare entry name, code-page bytes) against
// rows prepared by prepareConditions: each used row in turn, left to right, no precedence.
bool MatchItem(const TCompInfos &conds, const TItemData &item, const CodePage &cp);
// Tests one row and joins its outcome with the running result soFar.
bool MatchCondition(const TCompInfo &cond, const TItemData &item, bool soFar, const CodePage &cp);

// The extension of a name: the text after its last '.', empty when no '.' follows the last
// '\' or ':'. Character-aware: a Big5 trail byte is never taken for one of them.
std::string_view extensionOf(std::string_view name, const CodePage &cp);

// The conditions as the worker runs them for every entry: the same outcome as MatchItem,
// computed in place on the entry's bytes, keys folded while comparing (no copy of the name),
// and a row skipped where its outcome cannot change the result. Immutable once built; one
// instance may serve several scanning threads.
class ConditionMatcher
{
public:
    // `conds` as checked by CheckConditions, keys in UTF-8; each key is converted into the
    // code page and upper-cased here, once.
    ConditionMatcher(const TCompInfos &conds, const CodePage &cp);

    // True when no used row looks at the name, so a caller may skip reading it.
    bool needsName() const { return m_needsName; }

    // The entry's name field of `fieldLength` bytes starts at `name` (its text ends at the
    // first NUL); `limit` is the end of the buffer that holds it, up to which the matcher may
    // read ahead.
    bool matches(const unsigned char *name, size_t fieldLength, const unsigned char *limit,
                 uint32_t size, uint32_t attr, double time) const
    {
        if (m_singleContains) // the usual search: one row, name contains
            return m_rows[0].text.containsInField(name, fieldLength, limit);
        return matchesRows(name, fieldLength, limit, size, attr, time);
    }
    bool matches(const TItemData &item) const;
    // For the usual search (one row, name contains) the finder of the positions where its key
    // could occur, when its key allows one; null otherwise. A name without such a position
    // does not match.
    // For a search on one row of size or date (and nothing else): that row.
    struct NumberRow
    {
        TCompField field;
        TCompOp op;
        int64_t sizeKey;
        double dateKey;
    };
    std::optional<NumberRow> singleNumberRow() const
    {
        const Row &row = m_rows[0];
        if (m_used != 1 || row.logic != clAnd || (row.field != cfSize && row.field != cfDate)
            || (row.op != coEquals && row.op != coGreater && row.op != coLess))
            return std::nullopt;
        return NumberRow {row.field, row.op, row.sizeKey, row.dateKey};
    }
    const KeyCandidates *candidates() const
    {
        return m_singleContains && m_rows[0].text.candidates().usable() ? &m_rows[0].text.candidates()
                                                                        : nullptr;
    }
    // With candidates(): the key, which tells whether it occurs at a given position.
    const FoldMatcher &singleKey() const { return m_rows[0].text; }

private:
    struct Row
    {
        TCompLogic logic = clNone;
        TCompField field = cfName;
        TCompOp op = coContains;
        int64_t sizeKey = 0;
        double dateKey = 0;
        FoldMatcher text;
    };

    bool matchesRows(const unsigned char *name, size_t fieldLength, const unsigned char *limit,
                     uint32_t size, uint32_t attr, double time) const;
    static bool testText(const Row &row, const NameBytes &value);
    static bool testExtension(const Row &row, const NameBytes &name);

    std::array<Row, 3> m_rows;
    int m_used = 0;
    bool m_needsName = false;
    bool m_singleContains = false;
};

// Reads a row word given in UTF-8: the list word (檔名, 包含, 且 …) or its English name
// (name, ext, size, date / contains, equals, greater, less / none, and, or, andnot), in any
// letter case. nullopt for any other text.
std::optional<TCompField> fieldFromWord(std::string_view word);
std::optional<TCompOp> opFromWord(std::string_view word);
std::optional<TCompLogic> logicFromWord(std::string_view word);

} // namespace veltrano
