#include <gtest/gtest.h>

#include <random>

#include "search/compare.h"
#include "res/strtable.h"
#include "util/datetime.h"
#include "util/error.h"

using namespace veltrano;

namespace {

const CodePage &big5()
{
    static const CodePage cp("CP950");
    return cp;
}

TCompInfos rows(TCompInfo r1, TCompInfo r2 = {}, TCompInfo r3 = {})
{
    r1.Logic = clAnd;
    return {r1, r2, r3};
}

TItemData item(std::string_view name, uint32_t size = 0, uint32_t attr = 0x20, double time = 0)
{
    TItemData it;
    it.setName(name);
    it.Size = size;
    it.Attr = attr;
    it.Time = time;
    return it;
}

// The outcome of both implementations, which must agree.
bool matches(const TCompInfos &conds, const TItemData &it, const CodePage &cp = big5())
{
    const bool plain = MatchItem(prepareConditions(conds, cp), it, cp);
    const bool fast = ConditionMatcher(conds, cp).matches(it);
    EXPECT_EQ(plain, fast) << "name " << cp.toUtf8(it.name());
    return fast;
}

std::string checkError(TCompInfos conds)
{
    try {
        CheckConditions(conds);
    } catch (const Error &e) {
        return e.what();
    }
    return {};
}

} // namespace

TEST(Conditions, NameContainsIgnoresLetterCase)
{
    const TCompInfos c = rows({clAnd, cfName, coContains, "doc"});
    EXPECT_TRUE(matches(c, item("report.DOC")));
    EXPECT_TRUE(matches(c, item("MyDocs", 0, 0x10)));
    EXPECT_TRUE(matches(c, item("readme.doc")));
    EXPECT_FALSE(matches(c, item("readme.txt")));
    EXPECT_FALSE(matches(c, item("do")));
}

TEST(Conditions, ExtensionIsTheTextAfterTheLastDotOfAFile)
{
    const TCompInfos c = rows({clAnd, cfExt, coEquals, "txt"});
    EXPECT_TRUE(matches(c, item("notes.TXT")));
    EXPECT_FALSE(matches(c, item("old.txt", 0, 0x10)));
    EXPECT_FALSE(matches(c, item("a.txt.bak")));
    EXPECT_FALSE(matches(c, item("dir.txt\\file")));
    EXPECT_TRUE(matches(rows({clAnd, cfExt, coLess, "a"}), item("noext"))); // the empty extension
    EXPECT_EQ(extensionOf(big5().fromUtf8Lossy("許.txt"), big5()), "txt");
    EXPECT_EQ(extensionOf(big5().fromUtf8Lossy("a.許"), big5()), big5().fromUtf8Lossy("許"));
    EXPECT_EQ(extensionOf(big5().fromUtf8Lossy("a.b許"), big5()), big5().fromUtf8Lossy("b許")); // 許 ends in 0x5C
}

TEST(Conditions, SizeKeyIsKilobytesWithoutWrapping)
{
    TCompInfos c = rows({clAnd, cfSize, coGreater, "100"});
    CheckConditions(c);
    EXPECT_EQ(c[0].SizeKey, 102400);
    EXPECT_TRUE(matches(c, item("a", 102401)));
    EXPECT_FALSE(matches(c, item("a", 102400)));
    c[0].Op = coEquals;
    EXPECT_TRUE(matches(c, item("a", 102400)));

    // Beyond 4 GB: greater finds nothing, less everything, however large the entry.
    TCompInfos big = rows({clAnd, cfSize, coGreater, "4194304"});
    CheckConditions(big);
    EXPECT_EQ(big[0].SizeKey, int64_t(4194304) * 1024);
    EXPECT_FALSE(matches(big, item("a", 0xFFFFFFFF)));
    big[0].Op = coLess;
    EXPECT_TRUE(matches(big, item("a", 0xFFFFFFFF)));
    // Below zero: every size is greater, none is less or equal.
    TCompInfos negative = rows({clAnd, cfSize, coGreater, "-5"});
    CheckConditions(negative);
    EXPECT_EQ(negative[0].SizeKey, -5120);
    EXPECT_TRUE(matches(negative, item("a", 0)));
    negative[0].Op = coLess;
    EXPECT_FALSE(matches(negative, item("a", 0)));
    // Beyond 32 bits as typed is no number at all.
    EXPECT_EQ(checkError(rows({clAnd, cfSize, coGreater, "2147483648"})), LoadResStr(kStrSizeNotNumber));
    EXPECT_EQ(checkError(rows({clAnd, cfSize, coGreater, " 12"})), "");
    EXPECT_EQ(checkError(rows({clAnd, cfSize, coGreater, "12 "})), LoadResStr(kStrSizeNotNumber));
}

TEST(Conditions, DateKeyComparesTheStoredDateTime)
{
    TCompInfos c = rows({clAnd, cfDate, coEquals, "1/1/1999"});
    CheckConditions(c);
    const double midnight = *parseDateTime("1999/1/1");
    EXPECT_EQ(c[0].DateKey, midnight);
    EXPECT_TRUE(matches(c, item("a", 0, 0x20, midnight)));
    EXPECT_FALSE(matches(c, item("a", 0, 0x20, midnight + 0.5)));
    c[0].Op = coGreater;
    EXPECT_TRUE(matches(c, item("a", 0, 0x20, midnight + 1.0 / 86400)));
    EXPECT_FALSE(matches(c, item("a", 0, 0x20, midnight)));
    EXPECT_TRUE(matches(c, item("folder", 0, 0x10, midnight + 2))); // folders too
}

TEST(Conditions, RowsJoinLeftToRightWithoutPrecedence)
{
    TCompInfos c = rows({clAnd, cfName, coContains, "a"}, {clOr, cfName, coContains, "b"},
                        {clAndNot, cfName, coContains, "c"});
    EXPECT_TRUE(matches(c, item("a")));
    EXPECT_TRUE(matches(c, item("b")));
    EXPECT_FALSE(matches(c, item("ac")));
    EXPECT_FALSE(matches(c, item("bc")));
    EXPECT_FALSE(matches(c, item("x")));
    // (a and b) or c: an "or" after a false "and" still makes it true.
    c[1].Logic = clAnd;
    c[2].Logic = clOr;
    EXPECT_TRUE(matches(c, item("c")));
    EXPECT_TRUE(matches(c, item("ab")));
    EXPECT_FALSE(matches(c, item("a")));
    // A lone row joins the starting "true" by its own logic.
    const TCompInfos lone = {TCompInfo {clNone, cfName, coContains, "x"}, TCompInfo {clAndNot, cfName, coContains, "a"}, TCompInfo {}};
    EXPECT_FALSE(matches(lone, item("abc")));
    EXPECT_TRUE(matches(lone, item("xyz")));
    // A row whose logic is none is not used, whatever it holds.
    c[1] = {clNone, cfSize, coContains, "not checked"};
    c[2].Logic = clNone;
    EXPECT_TRUE(matches(c, item("a")));
    EXPECT_EQ(checkError(c), "");
}

TEST(Conditions, CheckReportsTheFirstFaultInPassOrder)
{
    EXPECT_EQ(checkError(rows({clAnd, cfSize, coGreater, "1.5"})), LoadResStr(kStrSizeNotNumber));
    EXPECT_EQ(checkError(rows({clAnd, cfSize, coContains, "10"})), LoadResStr(kStrSizeNoContains));
    EXPECT_EQ(checkError(rows({clAnd, cfSize, coContains, "x"})), LoadResStr(kStrSizeNotNumber));
    EXPECT_EQ(checkError(rows({clAnd, cfDate, coContains, "1/1/1999"})), LoadResStr(kStrDateNoContains));
    EXPECT_EQ(checkError(rows({clAnd, cfDate, coLess, "31/31/1999"})), LoadResStr(kStrBadDate));
    EXPECT_EQ(checkError(rows({clAnd, cfName, coContains, "a,b"})), LoadResStr(kStrBadSeparator));
    EXPECT_EQ(checkError(rows({clAnd, cfName, coContains, "\t \r\n"})), LoadResStr(kStrNoKey));
    // A blank third row is reported before the bad number of the first.
    EXPECT_EQ(checkError(rows({clAnd, cfSize, coGreater, "x"}, {clOr, cfName, coContains, "ok"},
                              {clAnd, cfName, coContains, "  "})),
              LoadResStr(kStrNoKey));
}

TEST(Conditions, Big5TrailBytesAreNotAsciiCharacters)
{
    const CodePage &cp = big5();
    const auto b5 = [&](std::string_view s) { return cp.fromUtf8Lossy(s); };
    // 許 = B3 5C, 告 = A7 69 ('i'), 預 = B9 77 ('w').
    EXPECT_FALSE(matches(rows({clAnd, cfName, coContains, "\\"}), item(b5("許功蓋"))));
    EXPECT_TRUE(matches(rows({clAnd, cfName, coContains, "\\"}), item(b5("許\\x"))));
    EXPECT_FALSE(matches(rows({clAnd, cfName, coContains, "I"}), item(b5("報告"))));
    EXPECT_FALSE(matches(rows({clAnd, cfName, coContains, "W"}), item(b5("預算"))));
    EXPECT_TRUE(matches(rows({clAnd, cfName, coContains, "告i"}), item(b5("報告I.doc"))));
    EXPECT_TRUE(matches(rows({clAnd, cfName, coEquals, "告x"}), item(b5("告X"))));
    // The upper case of 告 keeps its trail byte 'i': it is not 'I'.
    EXPECT_FALSE(matches(rows({clAnd, cfName, coEquals, "告x"}), item("\xA7Ix")));
    EXPECT_TRUE(matches(rows({clAnd, cfName, coGreater, "報"}), item(b5("報告"))));
}

// Full-width Latin and Greek letters have upper and lower forms of two bytes each;
// a trail byte that happens to be an ASCII letter belongs to its character and never folds.
TEST(Conditions, DoubleByteLettersFoldAsWholeCharacters)
{
    const auto b5 = [](std::string_view s) {
        return big5().fromUtf8Lossy(s);
    };
    struct Case
    {
        TCompOp op;
        const char *key;
        std::string name;
        bool expected;
    };
    const Case cases[] = {
            {coContains, "ａ", b5("報告Ａ.txt"), true},
            {coContains, "Ａ", b5("ａ"), true},
            {coContains, "ｗ", b5("ＸＷ"), true}, // ｗ and Ｗ differ in their lead bytes
            {coEquals, "ａｂｃ", b5("ＡＢＣ"), true},
            {coContains, "α", b5("ΑΒΓ"), true},
            {coContains, "ΩΛ", b5("ωλ"), true},
            {coContains, "A", b5("ａ"), false}, // a full-width letter is no ASCII one
            {coContains, "\xE4\xB9\x99", "\xA4\x61",
                    false}, // 乙 = A4 41; A4 61 is another character
            {coEquals, "\xE4\xB9\x99x", "\xA4\x61X", false},
            {coLess, "ｂ", b5("ａ"), true},
            {coGreater, "ｂ", b5("Ａ"), false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(matches(rows({clAnd, cfName, c.op, c.key}), item(c.name)), c.expected)
                << c.key << " " << c.op << " " << big5().toUtf8(c.name);
}

TEST(Conditions, KeyOutsideTheCodePageMatchesNoName)
{
    const TCompInfos c = rows({clAnd, cfName, coContains, "☃"});
    const ConditionMatcher m(c, big5());
    EXPECT_FALSE(m.matches(item("?")));
    EXPECT_FALSE(m.matches(item("snow?man")));
}

TEST(Conditions, WordsOfTheListsAndTheirEnglishNames)
{
    EXPECT_EQ(fieldFromWord("副檔名"), cfExt);
    EXPECT_EQ(fieldFromWord("SIZE"), cfSize);
    EXPECT_EQ(opFromWord("小於"), coLess);
    EXPECT_EQ(logicFromWord("且否"), clAndNot);
    EXPECT_EQ(logicFromWord("andnot"), clAndNot);
    EXPECT_FALSE(fieldFromWord("names").has_value());
    EXPECT_EQ(kCompLogicWords[clNone], "無");
}

// The matcher that folds while it compares must agree with upper-case-then-search on any
// name: random Big5 and UTF-8 texts with letters, digits, dots, backslashes and characters
// whose trail bytes are letters or backslashes, names at the very end of their buffer.
TEST(Conditions, FastMatcherAgreesWithThePlainTestOnRandomNames)
{
    std::mt19937 rng(7);
    for (const char *page : {"CP950", "UTF-8", "windows-1252"}) {
        const CodePage cp(page);
        const std::vector<std::string> pieces = {"a", "B", "z", "Q", "i", "I", ".", "\\", ":", "1",
                " ", "_", "許", "功", "告", "預", "報", "é", "É", "ü", "ß", "ÿ", "ž", "Ž", "ａ",
                "Ａ", "ｗ", "Ｗ", "λ", "Λ"};
        const auto text = [&](size_t maxPieces) {
            std::string s;
            const size_t n = rng() % (maxPieces + 1);
            for (size_t i = 0; i < n; ++i)
                s += pieces[rng() % pieces.size()];
            return cp.fromUtf8Lossy(s);
        };
        for (int round = 0; round < 3000; ++round) {
            std::string name = text(24);
            if (name.size() > 255)
                name.resize(255);
            const std::string utf8Name = cp.toUtf8(name);
            // The key: random text, or a run of the name's own characters.
            std::string keyUtf8 = cp.toUtf8(text(3));
            if (rng() % 2) {
                std::vector<size_t> starts;
                for (size_t i = 0; i < utf8Name.size(); ++i)
                    if ((static_cast<unsigned char>(utf8Name[i]) & 0xC0) != 0x80)
                        starts.push_back(i);
                starts.push_back(utf8Name.size());
                const size_t a = rng() % starts.size();
                const size_t b = a + rng() % (starts.size() - a);
                keyUtf8 = utf8Name.substr(starts[a], starts[b] - starts[a]);
            }
            if (keyUtf8.empty() || keyUtf8.find("\xEF\xBF\xBD") != std::string::npos)
                keyUtf8 = "a";
            for (const TCompField field : {cfName, cfExt}) {
                for (const TCompOp op : {coContains, coEquals, coGreater, coLess}) {
                    const TCompInfos c = rows({clAnd, field, op, keyUtf8});
                    const bool plain = MatchItem(prepareConditions(c, cp), item(name), cp);
                    const ConditionMatcher m(c, cp);
                    // The name alone at the end of its buffer, and inside a longer one.
                    std::string tight = name;
                    std::string roomy = name + std::string(1, '\0') + std::string(40, 'A');
                    const auto *t = reinterpret_cast<const unsigned char *>(tight.data());
                    const auto *r = reinterpret_cast<const unsigned char *>(roomy.data());
                    EXPECT_EQ(m.matches(t, tight.size(), t + tight.size(), 0, 0x20, 0), plain)
                            << page << " " << utf8Name << " / " << keyUtf8 << " " << field << op;
                    EXPECT_EQ(m.matches(r, name.size() + 1, r + roomy.size(), 0, 0x20, 0), plain)
                            << page << " " << utf8Name << " / " << keyUtf8 << " " << field << op;
                    // A field without its NUL, with bytes after it that belong to the next record.
                    std::string unterminated = name + std::string(40, 'A');
                    const auto *u = reinterpret_cast<const unsigned char *>(unterminated.data());
                    EXPECT_EQ(m.matches(u, name.size(), u + unterminated.size(), 0, 0x20, 0), plain)
                            << page << " " << utf8Name << " / " << keyUtf8 << " " << field << op;
                }
            }
        }
    }
}
