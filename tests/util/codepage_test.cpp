#include <gtest/gtest.h>

#include "support/tempdir.h"
#include "util/codepage.h"
#include "util/error.h"

using namespace veltrano;

namespace {

// Big5 characters whose trail byte is a backslash (許 B3 5C, 功 A5 5C) or an ASCII letter
// (乙 A4 41, 丁 A4 42).
const std::string kXu = "\xB3\x5C";
const std::string kGong = "\xA5\x5C";
const std::string kYi = "\xA4\x41";

const CodePage &big5()
{
    static const CodePage cp("CP950");
    return cp;
}

} // namespace

TEST(CodePage, NamesOfCodePage950AllSelectTheWindowsTable)
{
    for (const char *name : {"CP950", "950", "Big5", "big5", "windows-950", "MS950", ""})
        EXPECT_EQ(CodePage(name).name(), "windows-950-2000") << name;
    EXPECT_TRUE(CodePage("utf8").isUtf8());
    EXPECT_TRUE(CodePage("65001").isUtf8());
    EXPECT_FALSE(CodePage("1252").isMultiByte());
    EXPECT_THROW(CodePage("no-such-page"), Error);
}

TEST(CodePage, Big5ConvertsBothWaysAndRefusesWhatItCannotHold)
{
    const std::string utf8 = "許功乙.txt";
    EXPECT_EQ(big5().toUtf8(kXu + kGong + kYi + ".txt"), utf8);
    EXPECT_EQ(big5().fromUtf8(utf8), kXu + kGong + kYi + ".txt");
    EXPECT_FALSE(big5().fromUtf8("smile \xF0\x9F\x98\x80").has_value());
    EXPECT_EQ(big5().fromUtf8Lossy("a\xF0\x9F\x98\x80"), "a?");
    // Windows' table maps 0xA1 0xC3 to U+FFE3; IBM's "CP950" alias does not.
    EXPECT_EQ(big5().toUtf8("\xA1\xC3"), "\xEF\xBF\xA3");
}

TEST(CodePage, UpperCaseLeavesTrailBytesAlone)
{
    const std::string lowerTrail = "\xA4\x61"; // a Big5 character whose trail byte is 'a'
    EXPECT_EQ(big5().upper("ab" + lowerTrail + "c" + kYi), "AB" + lowerTrail + "C" + kYi);
    // Double-byte letters fold as whole characters, into forms of the same length.
    EXPECT_EQ(big5().upper(big5().fromUtf8Lossy("ａｚα許")), big5().fromUtf8Lossy("ＡＺΑ許"));
    EXPECT_EQ(CodePage("UTF-8").upper("é.txt"), "É.TXT");
    EXPECT_EQ(CodePage("windows-1252").upper("\xE9"), "\xC9");
}

TEST(CodePage, SearchesMatchOnlyOnCharacterBoundaries)
{
    const CodePage &cp = big5();
    EXPECT_EQ(cp.find(kYi, "A"), std::string::npos);
    EXPECT_EQ(cp.find("x" + kYi + "A", "A"), 3u);
    EXPECT_EQ(cp.findChar(kXu + kGong, '\\'), std::string::npos);

    const std::string path = "\\\\PC\\" + kXu + kGong + "\\a";
    EXPECT_EQ(cp.findChar(path, '\\', 2), 4u);
    EXPECT_EQ(cp.rfindChar(path, '\\'), 9u);
    EXPECT_EQ(cp.find("ab", ""), 0u);
}

// The last character c, found from the end, is the one a walk from the start finds: in runs
// of lead bytes, after trail bytes that equal c, and in a character cut by the text's end.
TEST(CodePage, FindsTheLastCharacterFromTheEndAsAWalkFromTheStartDoes)
{
    const auto walked = [](const CodePage &cp, std::string_view text, char c) {
        size_t last = std::string_view::npos;
        for (size_t at = 0; at < text.size(); at += cp.charLength(text.data() + at, text.data() + text.size()))
            if (text[at] == c)
                last = at;
        return last;
    };
    const std::string bytes = "\\A¤³þÃäð";
    unsigned seed = 12345;
    for (const CodePage &cp : {big5(), CodePage("UTF-8"), CodePage("windows-1252")}) {
        for (int round = 0; round < 3000; ++round) {
            std::string text(size_t(seed % 12), ' ');
            for (char &byte : text) {
                seed = seed * 1103515245u + 12345u;
                byte = bytes[(seed >> 16) % bytes.size()];
            }
            seed = seed * 1103515245u + 12345u;
            for (const char c : {'\\', 'A', '\xB3'})
                ASSERT_EQ(cp.rfindChar(text, c), walked(cp, text, c)) << cp.name() << " " << text;
        }
    }
}

TEST(CodePage, ComparesWithoutRegardToCase)
{
    const CodePage &cp = big5();
    EXPECT_LT(cp.compareNoCase("abc", "ABD"), 0);
    EXPECT_TRUE(cp.equalsNoCase("\\\\pc\\Doc\\", "\\\\PC\\DOC\\"));
    EXPECT_FALSE(cp.equalsNoCase(kYi, "\xA4\x61")); // different characters, not different cases
}

TEST(CodePage, CacheMarkerChoosesTheCachesCodePage)
{
    test::TempDir dir;
    EXPECT_EQ(readCodePageMarker(dir.path()), "");
    EXPECT_EQ(CodePage::forCache(dir.path()).name(), "windows-950-2000");
    test::writeFile(dir.path() / "CODEPAGE", "  UTF-8 \r\n");
    EXPECT_EQ(readCodePageMarker(dir.path()), "UTF-8");
    EXPECT_TRUE(CodePage::forCache(dir.path()).isUtf8());
    EXPECT_EQ(CodePage::forCache(dir.path(), "Big5").name(), "windows-950-2000");
}
