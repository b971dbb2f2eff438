#include "res/strtable.h"

#include <algorithm>
#include <array>
#include <span>
#include <utility>

#include "res/uilanguage.h"

namespace veltrano {
namespace {

struct Entry
{
    int id;
    std::string_view text;
};

// Sorted by id.
constexpr std::array kTable {
    Entry {10010, "失敗"},
    Entry {20030, "快取檔中沒有 %s 的資料"},
    Entry {20050, "非數字型態"},
    Entry {20051, "非金錢型態"},
    Entry {20052, "語法錯誤"},
    Entry {32000, "詢問"},
    Entry {32001, "資訊"},
    Entry {32002, "錯誤"},
    Entry {50100, "關鑑值必須為數值(KB)"},
    Entry {50101, "檔案大小不支援\"包含\"方法"},
    Entry {50102, "修改日期不支援\"包含\"方法"},
    Entry {50103, "日期格式不合法\r\n正確格式 1/1/1999 10:00 AM 或 1/1/1999"},
    Entry {50104, "至少輸入一個關鍵值(非空白)"},
    Entry {50105, "請先停止搜尋"},
    Entry {50106, "字元 ';' 或 ',' 是不允許的"},
    Entry {50107, "%s 資料夾 "},
    Entry {50108, "%s 檔案 "},
    Entry {50109, "搜尋到 %s 項目"},
    Entry {50110, "總共搜尋到 %s 項目"},
    Entry {50111, "%s 沒反應"},
    Entry {50112, "搜尋紀錄無法寫入，仍要結束嗎？"},
};

// The same ids in English, for users whose language is English. Entry 10010 had its English
// form from the start; the others are ours.
constexpr std::array kEnglish {
    Entry {10010, "Could not get folder data."},
    Entry {20030, "The cache holds no data for %s"},
    Entry {20050, "Not a number"},
    Entry {20051, "Not an amount of money"},
    Entry {20052, "Syntax error"},
    Entry {32000, "Question"},
    Entry {32001, "Information"},
    Entry {32002, "Error"},
    Entry {50100, "The key must be a number (KB)"},
    Entry {50101, "File size cannot be searched with \"contains\""},
    Entry {50102, "Date modified cannot be searched with \"contains\""},
    Entry {50103, "The date is not valid\r\nWrite it as 1/1/1999 10:00 AM or 1/1/1999"},
    Entry {50104, "Enter at least one key (not blank)"},
    Entry {50105, "Stop the search first"},
    Entry {50106, "The characters ';' and ',' are not allowed"},
    Entry {50107, "%s folders "},
    Entry {50108, "%s files "},
    Entry {50109, "%s items found"},
    Entry {50110, "%s items found in all"},
    Entry {50111, "%s does not respond"},
    Entry {50112, "The search history could not be written. Quit anyway?"},
};

// Every id speaks both languages: a text added to one table alone stops the build.
constexpr bool sameIds(std::span<const Entry> a, std::span<const Entry> b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].id != b[i].id || b[i].text.empty())
            return false;
    }
    return true;
}
static_assert(sameIds(kTable, kEnglish), "every string-table id needs an English text, in id order");

std::string_view lookup(std::span<const Entry> table, int id)
{
    const auto it = std::lower_bound(table.begin(), table.end(), id,
                                     [](const Entry &e, int key) { return e.id < key; });
    return it != table.end() && it->id == id ? it->text : std::string_view();
}

} // namespace

std::string_view LoadResStr(int id)
{
    return LoadResStr(id, uiLanguage() == UiLanguage::English);
}

std::string_view LoadResStr(int id, bool english)
{
    if (english) {
        const std::string_view text = lookup(kEnglish, id);
        if (!text.empty())
            return text;
    }
    return lookup(kTable, id);
}

std::vector<int> ResStrIds()
{
    std::vector<int> ids;
    for (const Entry &entry : kTable)
        ids.push_back(entry.id);
    return ids;
}

} // namespace veltrano
