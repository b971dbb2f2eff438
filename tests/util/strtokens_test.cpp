#include <gtest/gtest.h>

#include "res/strtable.h"
#include "util/codepage.h"
#include "util/error.h"
#include "util/strtokens.h"

using namespace veltrano;

namespace {

const CodePage &big5()
{
    static const CodePage cp("CP950");
    return cp;
}

TokenList split(std::string_view line, std::string_view templ)
{
    TokenList list;
    ParseTokens(line, templ, list, big5());
    return list;
}

// The message of the error a split raises, with the fields cut before it.
std::string errorOf(std::string_view line, std::string_view templ, TokenList *list = nullptr)
{
    TokenList local;
    try {
        ParseTokens(line, templ, list ? *list : local, big5());
    } catch (const Error &e) {
        return e.what();
    }
    return {};
}

} // namespace

TEST(Strtokens, SplitsAtEachSeparatorUntilLineOrTemplateRunsOut)
{
    EXPECT_EQ(split("a<b<c", "S<S<S"), (TokenList{"a", "b", "c"}));
    EXPECT_EQ(split("a<b<c", "S<S"), (TokenList{"a", "b<c"}));
    EXPECT_EQ(split("a<b", "S<S<S"), (TokenList{"a", "b"}));
    EXPECT_EQ(split("ab", "S<S"), (TokenList{"ab"}));
    EXPECT_TRUE(split("", "S<S").empty());
    EXPECT_TRUE(split("abc", "").empty());
}

TEST(Strtokens, SwallowsTheWholeRunOfSeparators)
{
    EXPECT_EQ(split("a<<<b", "S<S"), (TokenList{"a", "b"}));
    // A run at the end leaves nothing for the next descriptor.
    EXPECT_EQ(split("a<<<", "S<S"), (TokenList{"a"}));
}

TEST(Strtokens, NeverEndsAFieldAtItsFirstCharacter)
{
    EXPECT_EQ(split("<a", "S<S"), (TokenList{"<a"}));
    EXPECT_EQ(split("<<a", "S<S"), (TokenList{"<", "a"}));
}

TEST(Strtokens, ALongSeparatorLetsShorterRunsBelongToTheField)
{
    const TokenList fields =
            split("drwxr-xr-x 1 owner group 0 Jan 01 2001 my folder", "S S S S S S S S S     S");
    ASSERT_EQ(fields.size(), 9u);
    EXPECT_EQ(fields[0], "drwxr-xr-x");
    EXPECT_EQ(fields[7], "2001");
    EXPECT_EQ(fields[8], "my folder");

    EXPECT_EQ(split("a<b<<c", "S<<S"), (TokenList{"a<b", "c"}));
    // Five blanks end the name; the rest goes to the last descriptor.
    EXPECT_EQ(split("a      b  c", "S     S"), (TokenList{"a", "b  c"}));
}

TEST(Strtokens, Big5TrailBytesNeverEndAField)
{
    // 功 is A5 5C: its trail byte is a backslash; 許 is B3 5C. Neither ends a field split at '\'.
    const std::string name = "\xA5\x5C\xB3\x5C"; // 功許
    EXPECT_EQ(split(name + "\\x", "S\\S"), (TokenList{name, "x"}));
    // Fixed widths count characters: a two-character C field takes both Big5 characters whole.
    EXPECT_EQ(split(name + "<z", "CD<S"), (TokenList{name, "z"}));
    // The first character of a field is a whole Big5 character.
    EXPECT_EQ(split("\xA5\x5C\\\\y", "S\\S"), (TokenList{"\xA5\x5C", "y"}));
}

TEST(Strtokens, NumberAndMoneyFieldsAreCheckedAndMoneyLosesItsCommas)
{
    EXPECT_EQ(split("1,234<x", "M<S"), (TokenList{"1234", "x"}));
    EXPECT_EQ(split("-12.5<x", "N<S"), (TokenList{"-12.5", "x"}));

    TokenList kept;
    EXPECT_EQ(errorOf("a<12a<b", "S<N<S", &kept), LoadResStr(kStrNotNumber));
    EXPECT_EQ(kept, (TokenList{"a"})); // fields before the error stay
    EXPECT_EQ(errorOf("1,2x", "M"), LoadResStr(kStrNotMoney));
}

TEST(Strtokens, FixedWidthFieldsTakeTheirCharactersThenSkipTheSeparatorRun)
{
    EXPECT_EQ(split("123--ab", "DDD-S"), (TokenList{"123", "ab"}));
    EXPECT_EQ(split("ab1-x", "CDD-S"), (TokenList{"ab1", "x"}));
    EXPECT_EQ(split("12", "DDD"), (TokenList{"12"})); // a short line gives a short field
    EXPECT_EQ(errorOf("1a3-x", "DDD-S"), LoadResStr(kStrNotNumber));
}

TEST(Strtokens, UnknownTypeLetterIsASyntaxError)
{
    EXPECT_EQ(errorOf("abc", "X<S"), LoadResStr(kStrSyntaxError));
    TokenList kept;
    EXPECT_EQ(errorOf("a<b", "S<s", &kept), LoadResStr(kStrSyntaxError));
    EXPECT_EQ(kept, (TokenList{"a"}));
}

TEST(Strtokens, GetTokensClearsTrimsAndCounts)
{
    TokenList list{"old"};
    EXPECT_EQ(GetTokens("  a<b  ", "S<S", list, big5()), 2);
    EXPECT_EQ(list, (TokenList{"a", "b"}));
    EXPECT_EQ(GetTokens("\t x<y\r\n", "S<S", list, big5()), 2);
    EXPECT_EQ(list, (TokenList{"x", "y"}));
    EXPECT_EQ(GetTokens(" \r\n", "S<S", list, big5()), 0);
}

TEST(Strtokens, NumberAndDigitTests)
{
    for (const char *yes : {"0", "+", "-", "12.3.4", "-.5", "+7"})
        EXPECT_TRUE(IsNumber(yes)) << yes;
    for (const char *no : {"", "1e5", "+-1", "1 ", "1,0"})
        EXPECT_FALSE(IsNumber(no)) << no;
    EXPECT_TRUE(IsDigits("0123"));
    for (const char *no : {"", "1a", "+1", "1.0"})
        EXPECT_FALSE(IsDigits(no)) << no;
}

TEST(Strtokens, IntegerAndSizeConversionsFallBackOnAnythingElse)
{
    EXPECT_EQ(toIntDef("42", 0), 42);
    EXPECT_EQ(toIntDef(" -7", 0), -7);
    EXPECT_EQ(toIntDef("+3", 0), 3);
    for (const char *bad : {"", "x", "1x", "+-1", "99999999999", "1 "})
        EXPECT_EQ(toIntDef(bad, -9), -9) << bad;
    EXPECT_EQ(toSizeDef("4294967295"), 4294967295u);
    for (const char *bad : {"4294967296", "-1", "abc", ""})
        EXPECT_EQ(toSizeDef(bad), 0u) << bad;
}

TEST(Strtokens, CutAtCharNeverSplitsACharacter)
{
    const std::string text = "ab\xA5\x5C"; // ab功
    EXPECT_EQ(cutAtChar(text, 3, big5()), "ab");
    EXPECT_EQ(cutAtChar(text, 4, big5()), text);
    EXPECT_EQ(cutAtChar("abcdef", 4, big5()), "abcd");
}
