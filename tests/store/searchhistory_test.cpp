#include <gtest/gtest.h>

#include "store/searchhistory.h"
#include "support/tempdir.h"
#include "util/datetime.h"
#include "util/error.h"

using namespace veltrano;
using veltrano::test::readFile;
using veltrano::test::TempDir;
using veltrano::test::writeFile;

namespace {

const CodePage &big5()
{
    static const CodePage cp("CP950");
    return cp;
}

std::string b5(std::string_view utf8)
{
    return big5().fromUtf8(utf8).value();
}

// The rows of a search for `text` in file names, the other rows unused as the window starts.
ConditionRowTexts nameSearch(const std::string &text)
{
    return {{
        {"", b5("檔名"), b5("包含"), text},
        {b5("無"), b5("檔案大小"), b5("大於"), ""},
        {b5("無"), b5("修改日期"), b5("大於"), ""},
    }};
}

std::string stamp(int n)
{
    return "2024/05/01 10:00:" + std::string(n < 10 ? "0" : "") + std::to_string(n);
}

} // namespace

TEST(SearchHistory, EntryTextsAndCommandOfASearch)
{
    ConditionRowTexts rows = nameSearch("abc");
    rows[2] = {b5("且否"), b5("副檔名"), b5("等於"), "tmp"};
    const HistoryEntry entry = makeHistoryEntry(rows, "2024/05/01", big5());
    EXPECT_EQ(entry.Cond1, b5("檔名包含abc"));
    EXPECT_EQ(entry.Cond2, "") << "row 2's logic is 無";
    EXPECT_EQ(entry.Cond3, b5("且否副檔名等於tmp"));
    EXPECT_EQ(entry.Command, b5("檔名,包含,abc;無,檔案大小,大於,;且否,副檔名,等於,tmp"));
}

TEST(SearchHistory, SixteenSearchesKeepTheNewestFifteen)
{
    SearchHistory history;
    for (int i = 0; i < 16; ++i)
        recordSearch(history, nameSearch("key" + std::to_string(i)), stamp(i), big5());
    ASSERT_EQ(history.entries.size(), 15u);
    EXPECT_EQ(history.entries.front().DateTime, stamp(15));
    EXPECT_EQ(history.entries.back().DateTime, stamp(1)) << "the oldest is gone";
    ASSERT_EQ(history.recentTexts[0].size(), 15u);
    EXPECT_EQ(history.recentTexts[0].front(), "key15");
    EXPECT_EQ(history.recentTexts[0].back(), "key1");
    EXPECT_TRUE(history.recentTexts[1].empty()) << "empty texts of rows 2 and 3 are not kept";
}

TEST(SearchHistory, RepeatedSearchMovesToTheTopWithItsNewDate)
{
    SearchHistory history;
    for (int i = 0; i < 3; ++i)
        recordSearch(history, nameSearch("key" + std::to_string(i)), stamp(i), big5());
    recordSearch(history, nameSearch("key0"), stamp(9), big5());
    ASSERT_EQ(history.entries.size(), 3u);
    EXPECT_EQ(history.entries[0].DateTime, stamp(9));
    EXPECT_EQ(history.entries[0].Cond1, b5("檔名包含key0"));
    EXPECT_EQ(history.entries[2].DateTime, stamp(1));

    // COMMAND is compared exactly: another letter case is another search.
    recordSearch(history, nameSearch("KEY0"), stamp(10), big5());
    EXPECT_EQ(history.entries.size(), 4u);
    EXPECT_EQ(history.recentTexts[0].front(), "KEY0");
    EXPECT_EQ(std::count(history.recentTexts[0].begin(), history.recentTexts[0].end(), "key0"), 0)
        << "the recent list drops an equal text whatever its case";
}

TEST(SearchHistory, RepeatOnAFullListDropsBothTheLastAndTheEqualEntry)
{
    SearchHistory history;
    for (int i = 0; i < 15; ++i)
        recordSearch(history, nameSearch("key" + std::to_string(i)), stamp(i), big5());
    recordSearch(history, nameSearch("key10"), stamp(20), big5()); // row 4 of 15
    EXPECT_EQ(history.entries.size(), 14u);
    EXPECT_EQ(history.entries.back().DateTime, stamp(1)) << "key0 went to make room";

    SearchHistory full;
    for (int i = 0; i < 15; ++i)
        recordSearch(full, nameSearch("key" + std::to_string(i)), stamp(i), big5());
    recordSearch(full, nameSearch("key0"), stamp(20), big5()); // the 15th row itself
    EXPECT_EQ(full.entries.size(), 15u);
    EXPECT_EQ(full.entries.front().DateTime, stamp(20));
}

TEST(SearchHistory, RecentListsCutLongLoadedListsToFifteen)
{
    SearchHistory history;
    for (int i = 0; i < 20; ++i)
        history.recentTexts[1].push_back("t" + std::to_string(i));
    ConditionRowTexts rows = nameSearch("a");
    rows[1].text = "T5";
    recordSearch(history, rows, stamp(0), big5());
    ASSERT_EQ(history.recentTexts[1].size(), 15u);
    EXPECT_EQ(history.recentTexts[1][0], "T5");
    EXPECT_EQ(history.recentTexts[1][1], "t0");
    EXPECT_EQ(history.recentTexts[1][6], "t6");
}

TEST(SearchHistory, CommandSplitsIntoElevenElements)
{
    const auto full = splitCommand(b5("檔名,包含,abc;無,檔案大小,大於,;且,修改日期,小於,2024/1/1"), big5());
    EXPECT_EQ(full[0], b5("檔名"));
    EXPECT_EQ(full[2], "abc");
    EXPECT_EQ(full[3], b5("無"));
    EXPECT_EQ(full[6], "");
    EXPECT_EQ(full[7], b5("且"));
    EXPECT_EQ(full[10], "2024/1/1");

    const auto shortOne = splitCommand("x,y,z w", big5());
    EXPECT_EQ(shortOne[2], "z w") << "no ';': the element takes the rest";
    for (size_t i = 3; i < 11; ++i)
        EXPECT_EQ(shortOne[i], "") << i;
    EXPECT_EQ(splitCommand("", big5()), (std::array<std::string, 11> {}));
}

TEST(SearchHistory, RecallSelectsTheBoxesOfTheSplitCommand)
{
    const RecalledRows rows =
        recallCommand(b5("檔名,包含,abc;無,檔案大小,大於,;無,修改日期,大於,"), big5());
    EXPECT_EQ(rows[0].logic, std::nullopt);
    EXPECT_EQ(rows[0].field, 0);
    EXPECT_EQ(rows[0].op, 0);
    EXPECT_EQ(rows[0].text, "abc");
    EXPECT_EQ(rows[1].logic, 0) << "無: the window hides row 2";
    EXPECT_EQ(rows[1].field, 2);
    EXPECT_EQ(rows[1].op, 2);
    EXPECT_EQ(rows[1].text, "");
    EXPECT_EQ(rows[2].logic, 0);
    EXPECT_EQ(rows[2].field, 3);
    EXPECT_EQ(rows[2].text, "");

    const RecalledRows odd = recallCommand("name,has,x;or", big5());
    EXPECT_EQ(odd[0].field, std::nullopt) << "an unknown word leaves its box as it was";
    EXPECT_EQ(odd[1].logic, std::nullopt);
    EXPECT_EQ(odd[0].text, "x");

    // The words are compared in the history's code page, whichever it is.
    const CodePage utf8("UTF-8");
    const std::string words = "檔名,包含,x;且,副檔名,等於,y;或,檔名,小於,z";
    const RecalledRows plain = recallCommand(words, utf8);
    EXPECT_EQ(plain[1].logic, 1);
    EXPECT_EQ(plain[2].logic, 2);
    EXPECT_EQ(plain[2].op, 3);
}

TEST(SearchHistory, RecallAndDeleteWithoutSelectionDoNothing)
{
    SearchHistory history;
    recordSearch(history, nameSearch("a"), stamp(0), big5());
    recordSearch(history, nameSearch("b"), stamp(1), big5());
    EXPECT_EQ(recallEntry(history, -1, big5()), std::nullopt);
    EXPECT_EQ(recallEntry(history, 2, big5()), std::nullopt);
    ASSERT_TRUE(recallEntry(history, 1, big5()));
    EXPECT_EQ(recallEntry(history, 1, big5())->at(0).text, "a");

    deleteEntry(history, -1);
    deleteEntry(history, 5);
    EXPECT_EQ(history.entries.size(), 2u);
    deleteEntry(history, 0);
    ASSERT_EQ(history.entries.size(), 1u);
    EXPECT_EQ(history.entries[0].DateTime, stamp(0));
}

TEST(SearchHistory, DateTimeTextDropsTheTimeAtExactlyMidnight)
{
    EXPECT_EQ(historyDateTime(*encodeDate(2024, 5, 1)), "2024/05/01");
    EXPECT_EQ(historyDateTime(*encodeDate(2024, 5, 1) + *encodeTime(9, 5, 7)), "2024/05/01 09:05:07");
    EXPECT_EQ(historyDateTime(*encodeDate(2024, 5, 1) + *encodeTime(0, 0, 0, 400)),
              "2024/05/01 00:00:00");
}

TEST(SearchHistoryFiles, Big5HistoryReadsBackExactlyAndWritesIdenticalBytes)
{
    TempDir dir;
    SearchHistory history;
    ConditionRowTexts rows = nameSearch(b5("許功蓋"));        // trail bytes 0x5C
    rows[1] = {b5("且"), b5("檔名"), b5("包含"), b5("也加")}; // trail bytes ']' '['
    recordSearch(history, rows, stamp(1), big5());
    recordSearch(history, nameSearch("plain"), stamp(2), big5());
    history.recentTexts[2] = {"", b5("許"), "x"};

    saveSearchHistory(history, dir.path(), big5());
    saveRecentTexts(history, dir.path());
    const std::string searchHis = readFile(dir.path() / "SEARCH.HIS");
    const std::string head = "[" + stamp(2) + "]\r\nVER=200\r\nDATETIME=" + stamp(2) + "\r\nCOND1=";
    EXPECT_EQ(searchHis.substr(0, head.size()), head);
    EXPECT_EQ(readFile(dir.path() / "TEXT3.HIS"), "\r\n" + b5("許") + "\r\nx\r\n");
    EXPECT_EQ(readFile(dir.path() / "TEXT2.HIS"), b5("也加") + "\r\n");

    SearchHistory loaded;
    loadSearchHistory(loaded, dir.path(), big5());
    loadRecentTexts(loaded, dir.path());
    EXPECT_EQ(loaded.entries, history.entries);
    EXPECT_EQ(loaded.recentTexts, history.recentTexts);

    saveSearchHistory(loaded, dir.path(), big5());
    EXPECT_EQ(readFile(dir.path() / "SEARCH.HIS"), searchHis);
}

TEST(SearchHistoryFiles, TwoSearchesInOneSecondShareOneSectionHoldingTheLaterWrite)
{
    TempDir dir;
    SearchHistory history;
    recordSearch(history, nameSearch("first"), stamp(5), big5());
    recordSearch(history, nameSearch("second"), stamp(5), big5());
    saveSearchHistory(history, dir.path(), big5());

    SearchHistory loaded;
    loadSearchHistory(loaded, dir.path(), big5());
    ASSERT_EQ(loaded.entries.size(), 1u);
    // The list's top row is written first; the row below it overwrites the shared section.
    EXPECT_EQ(loaded.entries[0].Cond1, b5("檔名包含first"));
}

TEST(SearchHistoryFiles, ReadingSkipsOtherVersionsAndDropsBlanksAroundValues)
{
    TempDir dir;
    writeFile(dir.path() / "SEARCH.HIS",
              "[old]\r\nVER=199\r\nDATETIME=old\r\n\r\n"
              "[nover]\r\nDATETIME=nover\r\n"
              "[good]\r\nver = 200 \r\ndatetime=2024/05/01 10:00:00\r\nCOND1=" + b5("檔名包含abc") +
              "   \r\nCOMMAND=" + b5("檔名,包含,abc;無,檔名,包含,;無,檔名,包含,def") + "  \t\r\n");
    SearchHistory history;
    loadSearchHistory(history, dir.path(), big5());
    ASSERT_EQ(history.entries.size(), 1u);
    EXPECT_EQ(history.entries[0].DateTime, "2024/05/01 10:00:00");
    EXPECT_EQ(history.entries[0].Cond1, b5("檔名包含abc"));
    EXPECT_EQ(history.entries[0].Cond2, "") << "a missing key reads as empty";
    EXPECT_EQ(splitCommand(history.entries[0].Command, big5())[10], "def");
}

TEST(SearchHistoryFiles, TrailingBlanksOfAKeyTextAreLostOverARestart)
{
    TempDir dir;
    SearchHistory history;
    recordSearch(history, nameSearch("abc  "), stamp(0), big5());
    saveSearchHistory(history, dir.path(), big5());
    SearchHistory loaded;
    loadSearchHistory(loaded, dir.path(), big5());
    ASSERT_EQ(loaded.entries.size(), 1u);
    EXPECT_EQ(loaded.entries[0].Cond1, b5("檔名包含abc"));
}

TEST(SearchHistoryFiles, RecentTextFilesTakeAnyLineEndAndMissingOnesLeaveTheList)
{
    TempDir dir;
    writeFile(dir.path() / "TEXT1.HIS", "one\ntwo\r\n\r\nfour\rfive");
    SearchHistory history;
    history.recentTexts[1] = {"kept"};
    loadRecentTexts(history, dir.path());
    EXPECT_EQ(history.recentTexts[0], (std::vector<std::string> {"one", "two", "", "four", "five"}));
    EXPECT_EQ(history.recentTexts[1], std::vector<std::string> {"kept"});

    history.recentTexts[1].clear();
    saveRecentTexts(history, dir.path());
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "TEXT2.HIS"));
    EXPECT_EQ(readFile(dir.path() / "TEXT2.HIS"), "");
}

TEST(SearchHistoryFiles, FailuresComeBackAsErrorsAndEmptyTheList)
{
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "SEARCH.HIS" / "in-the-way");
    SearchHistory history;
    history.entries.push_back(HistoryEntry {"x", "", "", "", ""});
    EXPECT_THROW(loadSearchHistory(history, dir.path(), big5()), Error);
    EXPECT_TRUE(history.entries.empty());

    history.entries.push_back(HistoryEntry {"x", "", "", "", ""});
    try {
        saveSearchHistory(history, dir.path(), big5());
        FAIL() << "saving over a folder must fail";
    } catch (const Error &e) {
        EXPECT_NE(std::string(e.what()).find("SEARCH.HIS"), std::string::npos) << e.what();
    }
}

TEST(SearchHistoryFiles, SavingAnEmptyHistoryRemovesTheFile)
{
    TempDir dir;
    writeFile(dir.path() / "SEARCH.HIS", "[a]\r\nVER=200\r\n");
    SearchHistory history;
    saveSearchHistory(history, dir.path(), big5());
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "SEARCH.HIS"));
}

TEST(SearchHistoryFiles, WindowTextsConvertAtTheFilesAndWhatBig5CannotHoldIsLeftOut)
{
    const CodePage utf8("UTF-8");
    SearchHistory typed;
    const auto utf8Search = [](const std::string &text) {
        return ConditionRowTexts {{{"", "檔名", "包含", text}, {"無", "檔案大小", "大於", ""},
                                   {"無", "修改日期", "大於", ""}}};
    };
    recordSearch(typed, utf8Search("許功蓋"), stamp(1), utf8);
    recordSearch(typed, utf8Search("们"), stamp(2), utf8); // no Big5 code
    ASSERT_EQ(typed.recentTexts[0], (std::vector<std::string> {"们", "許功蓋"}));

    const SearchHistory files = historyFromUtf8(typed, big5());
    EXPECT_EQ(files.recentTexts[0], std::vector<std::string> {b5("許功蓋")});
    ASSERT_EQ(files.entries.size(), 1u);
    EXPECT_EQ(files.entries[0].Command, b5("檔名,包含,許功蓋;無,檔案大小,大於,;無,修改日期,大於,"));

    const SearchHistory back = historyToUtf8(files, big5());
    EXPECT_EQ(back.recentTexts[0], std::vector<std::string> {"許功蓋"});
    EXPECT_EQ(back.entries[0], typed.entries[1]);
}
