#pragma once

#include <string_view>
#include <vector>

namespace veltrano {

// Ids of the string table. The texts are the program's own and are shown as they stand.
enum StringId : int {
    kStrNoCacheData = 20030,   // "快取檔中沒有 %s 的資料"
    kStrNotNumber = 20050,
    kStrNotMoney = 20051,
    kStrSyntaxError = 20052,
    kStrTitleQuestion = 32000,
    kStrTitleInformation = 32001,
    kStrTitleError = 32002,
    kStrSizeNotNumber = 50100,
    kStrSizeNoContains = 50101,
    kStrDateNoContains = 50102,
    kStrBadDate = 50103,
    kStrNoKey = 50104,
    kStrStopFirst = 50105,
    kStrBadSeparator = 50106,
    kStrFolders = 50107,
    kStrFiles = 50108,
    kStrItemsFound = 50109,
    kStrItemsFoundTotal = 50110,
    kStrNoResponse = 50111,
    kStrQuitAnyway = 50112, // asked after the key lists could not be written at close
    kStrFolderFailed = 10010,
};

// The UTF-8 text of a string-table entry in the language the user chose (uiLanguage()); the
// empty text for an id that has none.
std::string_view LoadResStr(int id);
// The same in a given language: English, or Traditional Chinese, the program's own.
std::string_view LoadResStr(int id, bool english);

// Every id of the table, ascending.
std::vector<int> ResStrIds();

} // namespace veltrano
