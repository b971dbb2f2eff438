#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "search/compare.h"
#include "util/codepage.h"

namespace veltrano {

// The search history: the recent key texts of the three condition rows and the list of past
// searches that the history page shows and recalls. The main window binds these plain records
// to its controls; everything that decides what the lists hold lives here.
//
// Texts are code-page bytes, as the history files hold them. The words of the condition rows'
// drop-down lists are below in UTF-8, for the window to fill its boxes with; the store converts
// them into the code page where it compares with them.

// Words of the condition rows' drop-down lists, by item index (UTF-8): the conditions' own.
inline constexpr const auto &kFieldTexts = kCompFieldWords;
inline constexpr const auto &kOperatorTexts = kCompOpWords;
inline constexpr const auto &kLogicTexts = kCompLogicWords;
// Captions of the history list's columns (the hidden fifth column holds COMMAND).
inline constexpr std::array<std::string_view, 4> kHistoryColumnTexts = {"搜尋日期", "條件一",
                                                                        "條件二", "條件三"};
// Prefixes of the messages that show a failure of the history files.
inline constexpr std::string_view kHistoryReadFailed = "讀取紀錄時發生錯誤";
inline constexpr std::string_view kHistoryWriteFailed = "寫入紀錄時發生錯誤";

constexpr size_t kConditionRows = 3;
constexpr size_t kMaxRecentTexts = 15;
constexpr size_t kMaxHistoryEntries = 15;
constexpr long kHistoryVersion = 200;
constexpr const char *kSearchHistoryName = "SEARCH.HIS";
// "TEXT1.HIS" to "TEXT3.HIS" for rows 0 to 2.
std::string recentTextsFileName(size_t row);

// One condition row as the window shows it: the texts of its logic, field and operator boxes
// and of its key text box. Row 1's logic box does not exist; its logic is ignored.
struct ConditionTexts
{
    std::string logic;
    std::string field;
    std::string op;
    std::string text;
};
using ConditionRowTexts = std::array<ConditionTexts, kConditionRows>;

// One past search, one row of the history list.
struct HistoryEntry
{
    std::string DateTime; // caption: when the search started
    std::string Cond1;    // field, operator and text of row 1, joined without separator
    std::string Cond2;    // logic, field, operator, text of row 2; empty when its logic is "無"
    std::string Cond3;
    std::string Command;  // the eleven texts of the three rows, see buildCommand

    bool operator==(const HistoryEntry &) const = default;
};

// The whole store. Entries are in the order the list shows them, top row first; the window
// sorts this vector itself when the user sorts the list, and that order is the one saved.
struct SearchHistory
{
    std::array<std::vector<std::string>, kConditionRows> recentTexts; // newest first
    std::vector<HistoryEntry> entries;
};

// COMMAND: field1,op1,text1;logic2,field2,op2,text2;logic3,field3,op3,text3. Rows 2 and 3
// are included whatever their logic shows.
std::string buildCommand(const ConditionRowTexts &rows);
// The eleven elements of a COMMAND, in the order buildCommand joins them. Elements 1, 2 end
// at ',', 3 at ';', 4 to 6 at ',', 7 at ';', 8 to 10 at ',', 11 is the rest; when the text
// ends early the remaining elements are empty.
std::array<std::string, 11> splitCommand(std::string_view command, const CodePage &codePage);

// The entry a search with these rows records, stamped with `dateTime`.
HistoryEntry makeHistoryEntry(const ConditionRowTexts &rows, std::string dateTime,
                              const CodePage &codePage);
// DATETIME of a search started at `localTime` (days since 1899-12-30, local time): date and
// time, or the date alone at exactly midnight.
std::string historyDateTime(double localTime);
// The present local date-time as days since 1899-12-30.
double currentLocalDateTime();

// Records a search that passed its checks: the key text of row 1, and of rows 2 and 3 when
// not empty, moves to the top of its recent list (replacing an equal text, letter case aside;
// at most 15 stay); then the history gets the new entry on top, an older entry with the same
// COMMAND goes, and the list is cut so that at most 15 entries remain.
void recordSearch(SearchHistory &history, const ConditionRowTexts &rows, std::string dateTime,
                  const CodePage &codePage);

// What recalling an entry sets in the condition rows. An index names the item of kFieldTexts,
// kOperatorTexts or kLogicTexts to select; nullopt leaves that box as it is (an element that
// matches no item, and always row 1's logic). The key texts replace the text boxes' texts.
// The window then shows or hides rows 2 and 3 as their logic boxes now say.
struct RecalledRow
{
    std::optional<int> logic;
    std::optional<int> field;
    std::optional<int> op;
    std::string text;
};
using RecalledRows = std::array<RecalledRow, kConditionRows>;

RecalledRows recallCommand(std::string_view command, const CodePage &codePage);
// Recall of the selected entry; nullopt when `selected` names no entry (no selection is -1).
std::optional<RecalledRows> recallEntry(const SearchHistory &history, int selected,
                                        const CodePage &codePage);

// Removes the selected entry, if `selected` names one; no question is asked.
void deleteEntry(SearchHistory &history, int selected);

// The files, in `folder` (the program folder). Failures throw Error with the text that the
// window shows after kHistoryReadFailed or kHistoryWriteFailed.
//
// Each TEXTn.HIS that exists replaces the recent list of its row; lines may end with CR LF,
// LF or CR. A missing file leaves the list as it was.
void loadRecentTexts(SearchHistory &history, const std::filesystem::path &folder);
// Writes all three files (also the empty ones), one text a line, CR LF.
void saveRecentTexts(const SearchHistory &history, const std::filesystem::path &folder);
// Reads SEARCH.HIS, if it exists, into the entries: one entry per section whose VER is 200,
// in file order. On failure the entries are left empty and the failure is thrown.
void loadSearchHistory(SearchHistory &history, const std::filesystem::path &folder,
                       const CodePage &codePage);
// Replaces SEARCH.HIS with one section per entry, named by its DateTime, keys VER, DATETIME,
// COND1, COND2, COND3, COMMAND. Entries with the same DateTime share one section, the later
// entry's values winning, as the Windows profile writer has it. With no entries the file is
// removed.
void saveSearchHistory(const SearchHistory &history, const std::filesystem::path &folder,
                       const CodePage &codePage);

// A window holds the history as the user typed it, in UTF-8, and converts only at the files:
// historyToUtf8 after reading them, historyFromUtf8 before writing them. Writing leaves out
// what `codePage` cannot hold (a recent text, or an entry with such a text) rather than
// storing a '?' that would be searched for later.
SearchHistory historyToUtf8(const SearchHistory &history, const CodePage &codePage);
SearchHistory historyFromUtf8(const SearchHistory &history, const CodePage &codePage);

// The bytes of TEXTn.HIS and of SEARCH.HIS for these lists, and the lists those bytes give.
std::string recentTextsToBytes(const std::vector<std::string> &texts);
std::vector<std::string> recentTextsFromBytes(std::string_view bytes);
std::string searchHistoryToBytes(const std::vector<HistoryEntry> &entries,
                                 const CodePage &codePage);
std::vector<HistoryEntry> searchHistoryFromBytes(std::string_view bytes,
                                                 const CodePage &codePage);

} // namespace veltrano
