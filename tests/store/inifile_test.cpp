#include <gtest/gtest.h>

#include "store/inifile.h"
#include "support/tempdir.h"

using namespace veltrano;

TEST(IniFile, ReadsLikeTheWindowsProfileReader)
{
    const std::string bytes =
        "stray=before any section\r\n"
        "  [ First ]  \r\n"
        "  Key = padded value \t\r\n"
        "key=second of the same key\n"
        "no equals sign here\r"
        "Empty=\r\n"
        "\r\n"
        "[Second]\n"
        "A=1=2\n"
        "[FIRST]\r\n"
        "Later=merged\r\n";
    const IniFile ini = IniFile::fromBytes(bytes, CodePage("CP950"));

    EXPECT_EQ(ini.sectionNames(), (std::vector<std::string> {"First", "Second"}));
    EXPECT_EQ(ini.value("first", "KEY"), "padded value") << "case-blind, trimmed, first wins";
    EXPECT_EQ(ini.value("First", "Empty"), "");
    EXPECT_EQ(ini.value("First", "Later"), "merged") << "a later section of that name merges";
    EXPECT_EQ(ini.value("Second", "A"), "1=2");
    EXPECT_EQ(ini.value("Second", "stray"), std::nullopt);
    EXPECT_EQ(ini.value("Third", "A"), std::nullopt);
    EXPECT_EQ(ini.readString("Third", "A", "fallback"), "fallback");
}

TEST(IniFile, Big5TrailBytesAreNeverTakenForBracketsOrEquals)
{
    // 也 = A4 5D (trail byte ']'), 加 = A5 5B ('['), 許 = B3 5C ('\').
    const std::string name = "\xA4\x5D\xA5\x5B";
    const std::string bytes = "[" + name + "]\r\nK\xB3\x5C=\xA4\x5D=\xA5\x5B\r\n";
    const IniFile ini = IniFile::fromBytes(bytes, CodePage("CP950"));
    ASSERT_EQ(ini.sectionNames(), std::vector<std::string> {name});
    EXPECT_EQ(ini.value(name, "K\xB3\x5C"), "\xA4\x5D=\xA5\x5B");
    EXPECT_EQ(ini.toBytes(), bytes);
}

TEST(IniFile, IntegersReadAsGetPrivateProfileIntDoes)
{
    const IniFile ini = IniFile::fromBytes(
        "[s]\nA= 200 \nB=200abc\nC=-5\nD=abc\nE=+7\n", CodePage("CP950"));
    EXPECT_EQ(ini.readInteger("s", "A"), 200);
    EXPECT_EQ(ini.readInteger("s", "B"), 200);
    EXPECT_EQ(ini.readInteger("s", "C"), 0);
    EXPECT_EQ(ini.readInteger("s", "D", 9), 0) << "present but not a number";
    EXPECT_EQ(ini.readInteger("s", "E"), 7);
    EXPECT_EQ(ini.readInteger("s", "missing", 9), 9);
}

TEST(IniFile, WritingUpdatesInPlaceAndSavesCrLfLines)
{
    IniFile ini(CodePage("CP950"));
    ini.setValue("One", "A", "1");
    ini.setValue("Two", "B", "2");
    ini.setValue("one", "a", "changed");
    ini.setValue("ONE", "C", " kept verbatim ");
    EXPECT_EQ(ini.toBytes(), "[One]\r\nA=changed\r\nC= kept verbatim \r\n[Two]\r\nB=2\r\n");

    veltrano::test::TempDir dir;
    ini.save(dir.path() / "x.ini");
    const IniFile back = IniFile::load(dir.path() / "x.ini", CodePage("CP950"));
    EXPECT_EQ(back.toBytes(), "[One]\r\nA=changed\r\nC=kept verbatim\r\n[Two]\r\nB=2\r\n");
    EXPECT_TRUE(IniFile::load(dir.path() / "missing.ini", CodePage("CP950")).sections().empty());
}
