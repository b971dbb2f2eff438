#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <QAbstractItemModel>

#include "widgets/listrows.h"

namespace veltrano {

class TImageList;

// How two cell texts are compared.
enum TSortAs { saNone, saString, saNumeric, saDateTime };
// The default comparison: smart (dates, then numbers, then text) or plain text.
enum TAutoSortStyle { assSmart, assDefault };

class TEnhListModel;

// Chooses the comparison of two rows for the sort column (-1 = the caption column, 0 = the
// first sub-item). Leaving sortAs at saNone makes compResult the answer.
using TLVSortItemsEvent = std::function<void(const TEnhListModel &model, RowId item1, RowId item2,
                                             int sortColumn, TSortAs &sortAs, int &compResult)>;

// The number and date tests of the default comparison, on cell texts (UTF-8). A text that
// fails gives false.
bool smartNumber(std::string_view text, double &value);
bool smartDateTime(std::string_view text, double &value);

// The rows of one list of the program: shown columns (caption first) and hidden cells after
// them, over compact ListRows storage. Rows are added in batches and sorted inside the model.
class TEnhListModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    struct Column
    {
        QString caption;
        int width = 100;
        Qt::Alignment alignment = Qt::AlignLeft;
        bool pooled = false; // values repeat across rows (folders, locations)
    };

    explicit TEnhListModel(QObject *parent = nullptr);

    // Sets the shown columns and the number of hidden cells after them; removes every row.
    void setColumns(std::vector<Column> columns, int hiddenCells = 0, std::vector<bool> hiddenPooled = {});
    const std::vector<Column> &columns() const { return m_columns; }
    int cellCount() const { return m_rows.cellCount(); }
    // The images that rows name by index; not owned.
    void setImages(const TImageList *images) { m_images = images; }
    // The state images drawn before a row's image (an on-line mark); not owned. A row's state
    // is -1 (none) until it is given one.
    void setStateImages(const TImageList *images) { m_stateImages = images; }
    // Words for the state marks, by image index, for assistive technology: a mark is a picture.
    void setStateTexts(std::vector<QString> texts) { m_stateTexts = std::move(texts); }
    int stateImage(int row) const;
    void setStateImage(int row, int state);

    // Appends a row that appears at the next flush(): callers add a batch, then flush once, so
    // views see one insertion per batch.
    RowId stage(int image, std::span<const std::string_view> cells);
    // Shows the staged rows (one beginInsertRows for all of them).
    void flush();
    // Inserts one row at `row` at once.
    void insertRowAt(int row, int image, std::span<const std::string_view> cells);
    void removeRowAt(int row);
    // Removes every row (one reset).
    void clear();

    int count() const { return m_shown; }
    // Rows shown and staged.
    int stagedCount() const { return int(m_order.size()); }
    RowId idAt(int row) const { return m_order[size_t(row)]; }
    std::string_view cell(int row, int cell) const { return m_rows.text(idAt(row), cell); }
    std::string_view itemText(RowId id, int cell) const { return m_rows.text(id, cell); }
    int image(int row) const { return m_rows.image(idAt(row)); }
    int itemImage(RowId id) const { return m_rows.image(id); }
    size_t memoryBytes() const;

    // Sorts the shown rows by `column` (0 = caption) with the given comparisons.
    void sortRows(int column, bool ascending, const TLVSortItemsEvent &onSortItems,
                  TAutoSortStyle style);

    // QAbstractItemModel
    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    std::vector<Column> m_columns;
    ListRows m_rows;
    std::vector<RowId> m_order; // shown order; staged rows follow the first m_shown
    int m_shown = 0;
    const TImageList *m_images = nullptr;
    const TImageList *m_stateImages = nullptr;
    std::vector<QString> m_stateTexts;
    std::vector<int8_t> m_states; // by RowId; rows beyond its end have none
};

} // namespace veltrano
