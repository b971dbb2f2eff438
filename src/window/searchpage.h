#pragma once

#include <array>
#include <string>
#include <vector>

#include <QWidget>

#include "search/compare.h"
#include "store/searchhistory.h"

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;

namespace veltrano {

class TImageList;
class TWhereComboBox;

// The page "名稱及位置": three condition rows (row 1 field, operator and key; rows 2 and 3 also
// a logic word), the button "更多" that offers row 2, and the search location box. The page
// shows and hides rows 2 and 3 as their logic words say; it knows nothing of searching beyond
// announcing Enter.
class TSearchPage : public QWidget
{
    Q_OBJECT

public:
    explicit TSearchPage(const TImageList *locationImages, QWidget *parent = nullptr);

    // The boxes, by row (0 to 2); row 0 has no logic box.
    QComboBox *logicBox(int row) const { return m_logic[size_t(row)]; }
    QComboBox *fieldBox(int row) const { return m_field[size_t(row)]; }
    QComboBox *opBox(int row) const { return m_op[size_t(row)]; }
    QComboBox *textBox(int row) const { return m_text[size_t(row)]; }
    QPushButton *moreButton() const { return m_more; }
    TWhereComboBox *whereBox() const { return m_where; }

    // Logic "無", fields 檔名 / 檔案大小 / 修改日期, operators 包含 / 大於 / 大於.
    void setStartValues();
    // Copies the rows into `conds` (row 1's Logic stays as it is): item indexes and key texts.
    void readConditions(TCompInfos &conds) const;
    // The displayed texts of the rows, UTF-8.
    std::array<ConditionTexts, kConditionRows> displayedTexts() const;
    // Replaces the drop-down items of row `row`'s key box, keeping its text.
    void setRecentTexts(int row, const std::vector<std::string> &texts);
    std::vector<std::string> recentTexts(int row) const;
    // Puts recalled values into the rows and shows or hides rows 2 and 3 accordingly.
    void applyRecall(const RecalledRows &rows);
    void setLocations(const std::vector<std::string> &entries);
    // The selected location entry: its index and text.
    int locationIndex() const;
    std::string locationText() const;

    void BitBtn4Click();
    void Logic2ComboBoxChange();
    void Logic3ComboBoxChange();

signals:
    // Enter was pressed anywhere on the page: the window searches, as its 搜尋 button does.
    void searchRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createRows();
    void createLocation();

    std::array<QComboBox *, kConditionRows> m_logic {};
    std::array<QComboBox *, kConditionRows> m_field {};
    std::array<QComboBox *, kConditionRows> m_op {};
    std::array<QComboBox *, kConditionRows> m_text {};
    QPushButton *m_more = nullptr;
    QFrame *m_separator = nullptr;
    QLabel *m_whereLabel = nullptr;
    TWhereComboBox *m_where = nullptr;
    const TImageList *m_locationImages;
};

} // namespace veltrano
