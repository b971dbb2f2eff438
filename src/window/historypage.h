#pragma once

#include <filesystem>

#include <QWidget>

#include "store/searchhistory.h"
#include "util/codepage.h"

class QPushButton;

namespace veltrano {

class TEnhListView;
class TImageList;

// The page "歷史": the past searches, newest first, with "選取" (and a double click) to recall
// one and "刪除" (or the Delete key) to delete one; the recent key texts of the three rows
// travel with them. The page owns the history store and keeps it as typed, in UTF-8; only the
// files are in the program's code page.
class THistoryPage : public QWidget
{
    Q_OBJECT

public:
    THistoryPage(const TImageList *locationImages, const CodePage &codePage, QWidget *parent = nullptr);

    const SearchHistory &history() const { return m_history; }
    TEnhListView *listView() const { return m_list; }
    QPushButton *selectButton() const { return m_select; }
    QPushButton *deleteButton() const { return m_delete; }

    // The recent key texts of row `row`, UTF-8, newest first.
    std::vector<std::string> recentTexts(int row) const;
    // Records a search with the rows as the boxes show them (UTF-8).
    void recordSearch(const ConditionRowTexts &rowsUtf8);

    // Reads the history files of `folder`. A failure reading SEARCH.HIS empties the list and
    // shows "讀取紀錄時發生錯誤" with the reason; missing files leave their lists empty.
    void load(const std::filesystem::path &folder);
    // Writes TEXT1.HIS to TEXT3.HIS (a failure there is thrown to the caller), then SEARCH.HIS
    // (a failure there is shown as "寫入紀錄時發生錯誤" with the reason).
    void save(const std::filesystem::path &folder);

    void BitBtn6Click();
    void BitBtn5Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    // A history entry was recalled; the window puts its values into the condition rows.
    void recalled(const veltrano::RecalledRows &rows);
    // The recent key texts changed (after a search was recorded or the files were read).
    void recentTextsChanged();

private:
    void createList();
    void refill();
    void takeShownOrder();

    CodePage m_codePage;
    CodePage m_utf8;
    SearchHistory m_history;
    const TImageList *m_locationImages;
    TEnhListView *m_list = nullptr;
    QPushButton *m_select = nullptr;
    QPushButton *m_delete = nullptr;
};

} // namespace veltrano
