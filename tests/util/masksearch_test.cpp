#include <gtest/gtest.h>

#include "util/masksearch.h"

using namespace veltrano;

namespace {

bool matches(std::string_view maskText, std::string_view name)
{
    MaskList list;
    BuildMask(maskText, list);
    return FileMatches(name, &list);
}

} // namespace

TEST(Masksearch, BuildMaskLowerCasesSortsAndKeepsEmptyParts)
{
    MaskList list{"old"};
    BuildMask("*.TXT;*.doc", list);
    EXPECT_EQ(list, (MaskList{"*.doc", "*.txt"}));
    BuildMask("", list);
    EXPECT_EQ(list, (MaskList{"*"}));
    BuildMask("B;;a;", list);
    EXPECT_EQ(list, (MaskList{"", "a", "b"}));
    BuildMask("*.ÄB;*.äb", list);
    EXPECT_EQ(list, (MaskList{"*.äb", "*.äb"}));
}

TEST(Masksearch, AMissingOrEmptyListLetsEverythingThrough)
{
    EXPECT_TRUE(FileMatches("anything", nullptr));
    const MaskList empty;
    EXPECT_TRUE(FileMatches("anything", &empty));
    EXPECT_TRUE(matches("", "whatever.bin"));
}

TEST(Masksearch, ALiteralAfterAStarAtTheEndMustEndTheName)
{
    EXPECT_TRUE(matches("*.TXT;*.doc", "Readme.Txt"));
    EXPECT_TRUE(matches("*.TXT;*.doc", "notes.doc"));
    EXPECT_FALSE(matches("*.TXT;*.doc", "notes.docx"));
    EXPECT_FALSE(matches("*.doc", "a.doc.bak"));
}

TEST(Masksearch, QuestionMarkTakesExactlyOneCharacter)
{
    EXPECT_TRUE(matches("a?c.txt", "abc.txt"));
    EXPECT_FALSE(matches("a?c.txt", "ac.txt"));
    EXPECT_FALSE(matches("a?c.txt", "abcd.txt"));
    EXPECT_FALSE(matches("abc.tx?", "abc.tx"));
    // One character, not one byte: é is two bytes of UTF-8, 功 three.
    EXPECT_TRUE(matches("caf?.txt", "café.txt"));
    EXPECT_TRUE(matches("?.txt", "功.txt"));
    EXPECT_FALSE(matches("??.txt", "功.txt"));
}

TEST(Masksearch, NamesWithoutADotAreTestedWithOneAppended)
{
    EXPECT_FALSE(matches("readme", "readme"));
    EXPECT_TRUE(matches("readme.", "README"));
    EXPECT_TRUE(matches("a?c.", "abc"));
    EXPECT_TRUE(matches("a??", "ab")); // the second '?' takes the appended dot
    EXPECT_TRUE(matches("*.*", "Makefile"));
    EXPECT_TRUE(matches("*.*", "a.b"));
}

TEST(Masksearch, TheWalkTakesTheFirstOccurrenceAndNeverBacktracks)
{
    EXPECT_FALSE(MatchMask("aab.txt", "*a?.txt"));
    EXPECT_TRUE(MatchMask("ab.txt", "*a?.txt"));
    EXPECT_TRUE(MatchMask("xaybz", "*a*b*"));
    EXPECT_FALSE(MatchMask("xbya", "*a*b"));
    EXPECT_TRUE(MatchMask("abc", "abc*"));
    EXPECT_FALSE(MatchMask("abc", "ab"));
}

TEST(Masksearch, MasksWithoutWildcardsCompareWhole)
{
    EXPECT_TRUE(MatchMask("a.txt", "a.txt"));
    EXPECT_FALSE(MatchMask("a.txt", "A.txt")); // the name is lower-cased by the caller, not here
    EXPECT_FALSE(matches(";", "a.txt")); // an empty mask matches no name
}

TEST(Masksearch, InvalidUtf8BytesMatchThemselvesOnly)
{
    EXPECT_TRUE(matches("*.\xA5", "x.\xA5"));
    EXPECT_FALSE(matches("*.\xA5", "x.\xA6"));
    EXPECT_TRUE(matches("?.txt", "\xFF.txt"));
    EXPECT_EQ(lowerUtf8("AB\xFF"), "ab\xFF");
}
