#pragma once

#include <string>

#include <QWidget>

#include "widgets/enhlistmodel.h"

class QAbstractItemView;
class QHeaderView;
class QItemSelectionModel;
class QListView;
class QStackedLayout;
class QTableView;

namespace veltrano {

class EnhHeader;
class EnhReport;

// What a header click does: nothing, sort, or sort and toggle the direction on a second click.
enum TAutoColumnSort { acsNoSort, acsSort, acsSortToggle };

// Persistence of a list's layout in the per-user store (see userstore.h).
struct TEnhLVSaveSettings
{
    bool AutoSave = false;
    std::string RegistryKey;
    bool SaveColumnSizes = true;
    bool SaveCurrentSort = true;
    bool SaveViewStyle = true;
};

// The list of every list of the program: one model shown in a report view (a header with
// sortable columns and the sort arrow) or in the icon, small-icon and list views, which share
// the model and the selection. Owns its model. Call Loaded() once the list is set up; when
// SaveSettings.AutoSave is on, the layout is read there and written when the list is destroyed.
class TEnhListView : public QWidget
{
    Q_OBJECT

public:
    explicit TEnhListView(QWidget *parent = nullptr);
    ~TEnhListView() override;

    TEnhListModel *model() const { return m_model; }
    void setColumns(std::vector<TEnhListModel::Column> columns, int hiddenCells = 0,
                    std::vector<bool> hiddenPooled = {});
    void setImages(const TImageList *images);

    // Properties.
    TAutoColumnSort AutoColumnSort = acsNoSort;
    TAutoSortStyle AutoSortStyle = assSmart;
    bool AutoResort = true;
    bool AutoSortAscending = true;
    TEnhLVSaveSettings SaveSettings;
    TLVSortItemsEvent OnSortItems;
    void setShowSortArrows(bool show);
    bool showSortArrows() const { return m_showSortArrows; }
    void setReverseSortArrows(bool reverse);
    bool reverseSortArrows() const { return m_reverseSortArrows; }
    void setNoColumnResize(bool locked);
    void setMultiSelect(bool multi);
    // A cell of the report view whose text is cut shows the whole text as its tool tip.
    void setShowClippedTips(bool show);

    // 0 icons, 1 small icons, 2 list, 3 report.
    void setViewStyle(int style);
    int viewStyle() const { return m_viewStyle; }
    int sortColumn() const { return m_lastColumnClicked; }
    bool sortAscending() const { return m_currentSortAscending; }
    void setSortColumn(int column) { m_lastColumnClicked = column; }
    void setSortAscending(bool ascending) { m_currentSortAscending = ascending; }
    int columnWidth(int column) const;
    void setColumnWidth(int column, int width);

    void ColClick(int column);
    void Resort();
    void BeginUpdate();
    void EndUpdate();
    void Loaded();
    void LoadSettings();
    void StoreSettings();

    // Rows, in shown order.
    int currentRow() const;
    std::vector<int> selectedRows() const;
    void selectRow(int row);
    QAbstractItemView *activeView() const;
    QTableView *reportView() const;
    QListView *iconView() const { return m_list; }
    QHeaderView *header() const;
    // The arrow pictures, for the header and for tests.
    QPixmap ascendingArrow() const;
    QPixmap descendingArrow() const;
    int arrowSide() const;

signals:
    // A header was clicked (the list's own column-click event).
    void columnClicked(int column);
    void sortBegin(int column, bool ascending);
    void sortFinished(int column, bool ascending);
    // A row was double-clicked or activated with Enter.
    void rowActivated(int row);

protected:
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void doSort(int column, bool ascending);
    void buildArrows();

    TEnhListModel *m_model;
    QStackedLayout *m_stack;
    EnhReport *m_report;
    QListView *m_list;
    EnhHeader *m_header;
    int m_viewStyle = 3;
    int m_lastColumnClicked = -1;
    bool m_currentSortAscending = true;
    bool m_showSortArrows = false;
    bool m_reverseSortArrows = false;
    bool m_showClippedTips = false;
    int m_updateCount = 0;
    bool m_resortPending = false;
    bool m_settingsLoaded = false;
    QPixmap m_upArrow;
    QPixmap m_downArrow;
};

} // namespace veltrano
