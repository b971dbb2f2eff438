#include <gtest/gtest.h>

#include "protocol/listparse.h"
#include "support/tempdir.h"
#include "util/datetime.h"

using namespace veltrano;

namespace {

const CodePage &big5()
{
    static const CodePage cp("CP950");
    return cp;
}

std::optional<TItemData> line(std::string_view text)
{
    return ParseListLine(text, big5());
}

} // namespace

TEST(ListParse, FolderLineKeepsANameWithSingleBlanksAndItsDate)
{
    const auto item = line("drwxr-xr-x 1 u g 0 feb 3 2001 My Files");
    ASSERT_TRUE(item);
    EXPECT_EQ(item->name(), "My Files");
    EXPECT_TRUE(item->isDirectory());
    EXPECT_EQ(item->Size, 0u);
    EXPECT_EQ(formatDateTime(item->Time), "2001/02/03 00:00:00");
}

TEST(ListParse, FileLineTakesItsSizeAndATimeOfDayMeansTheYear2000)
{
    const auto item = line("-rw-r--r--   1 owner   group    123456 Dec 31 10:15 report.doc");
    ASSERT_TRUE(item);
    EXPECT_EQ(item->name(), "report.doc");
    EXPECT_FALSE(item->isDirectory());
    EXPECT_EQ(item->Size, 123456u);
    EXPECT_EQ(formatDateTime(item->Time), "2000/12/31 00:00:00");
}

TEST(ListParse, UnknownMonthsAndDaysFallBackToTheFirst)
{
    auto item = line("-rw-r--r-- 1 u g x Foo x 1999 a");
    ASSERT_TRUE(item);
    EXPECT_EQ(item->Size, 0u); // a size that is not a number
    EXPECT_EQ(formatDateTime(item->Time), "1999/01/01 00:00:00");
}

TEST(ListParse, LinesThatNameNoEntryGiveNone)
{
    using namespace std::string_literals;
    // The last three are names that a NUL cuts down to nothing, "." or "..".
    for (const std::string &text : {"total 12"s, "drwxr-xr-x 1 u g 0 Jan 1 2001"s,
                 "drwxr-xr-x 1 u g 0 Jan 1 2001 ."s, "drwxr-xr-x 1 u g 0 Jan 1 2001 .."s, ""s,
                 "-rw-r--r-- 1 u g 5 Feb 30 2001 a"s, "-rw-r--r-- 1 u g 5 Jan 1 0 a"s,
                 "-rw-r--r-- 1 u g 5 Jan 99 2001 a"s, "-rw-r--r-- 1 u g 5 Jan 1 2001 \0x"s,
                 "drwxr-xr-x 1 u g 0 Jan 1 2001 .\0x"s, "drwxr-xr-x 1 u g 0 Jan 1 2001 ..\0x"s})
        EXPECT_FALSE(line(text)) << text;
}

TEST(ListParse, FiveBlanksEndTheNameAndBig5NamesStayWhole)
{
    auto item = line("-rw-r--r-- 1 u g 5 Jan 1 2001 a b     tail");
    ASSERT_TRUE(item);
    EXPECT_EQ(item->name(), "a b");
    const std::string big5Name = "\xA5\x5C \xB3\x5C.txt"; // 功 許.txt
    item = line("-rw-r--r-- 1 u g 5 Jan 1 2001 " + big5Name);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->name(), big5Name);
}

TEST(ListParse, LongNamesAreCutTo255BytesOnACharacterBoundary)
{
    std::string name(254, 'n');
    name += "\xA5\x5C";
    const auto item = line("-rw-r--r-- 1 u g 5 Jan 1 2001 " + name);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->name(), std::string(254, 'n'));
}

TEST(ListParse, TextCountsFoldersAndFilesOverAnyLineEnd)
{
    const Listing listing = parseListingText("total 3\r\n"
                                             "drwxr-xr-x 1 u g 0 Jan 1 2001 .\r\n"
                                             "drwxr-xr-x 1 u g 0 Jan 1 2001 sub\n"
                                             "-rw-r--r-- 1 u g 10 Jan 1 2001 a.txt\r"
                                             "-rw-r--r-- 1 u g 20 Jan 1 2001 b.txt",
            big5());
    ASSERT_EQ(listing.entries.size(), 3u);
    EXPECT_EQ(listing.folders, 1);
    EXPECT_EQ(listing.files, 2);
    EXPECT_EQ(listing.entries[1].name(), "a.txt"); // no CR left on the name
    EXPECT_EQ(listing.entries[2].Size, 20u);
}

TEST(ListParse, AMissingListingFileIsAnEmptyListing)
{
    test::TempDir dir;
    Listing listing = parseListingFile(dir.path() / "TAMBRELO.DIR", big5());
    EXPECT_TRUE(listing.entries.empty());
    test::writeFile(dir.path() / "TAMBRELO.DIR", "drwxr-xr-x 1 u g 0 Jan 1 2001 x\n");
    listing = parseListingFile(dir.path() / "TAMBRELO.DIR", big5());
    EXPECT_EQ(listing.folders, 1);
}
