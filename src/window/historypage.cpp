#include "window/historypage.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QVBoxLayout>

#include "util/error.h"
#include "widgets/enhlistview.h"
#include "widgets/images.h"
#include "widgets/msgbox.h"

namespace veltrano {
namespace {

constexpr int kClockImage = 2;
constexpr int kCellCommand = 4;
constexpr int kCellEntry = 5; // the entry's position in the store, to follow the user's sorting

} // namespace

THistoryPage::THistoryPage(const TImageList *locationImages, const CodePage &codePage, QWidget *parent)
    : QWidget(parent)
    , m_codePage(codePage)
    , m_locationImages(locationImages)
{
    createList();
}

void THistoryPage::createList()
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(8, 8, 16, 8);
    row->setSpacing(8);
    m_list = new TEnhListView(this);
    std::vector<TEnhListModel::Column> columns;
    for (const std::string_view caption : kHistoryColumnTexts)
        columns.push_back({QString::fromUtf8(caption.data(), qsizetype(caption.size())), 100});
    m_list->setColumns(std::move(columns), 2);
    m_list->setImages(m_locationImages);
    m_list->setMultiSelect(false);
    m_list->AutoColumnSort = acsSortToggle;
    m_list->AutoResort = false;
    m_list->setShowSortArrows(true);
    m_list->setReverseSortArrows(true);
    // The columns share the list's width; the date takes what its texts need.
    m_list->header()->setSectionResizeMode(QHeaderView::Stretch);
    m_list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_list->Loaded();
    row->addWidget(m_list, 1);

    auto *buttons = new QVBoxLayout;
    m_select = new QPushButton(QStringLiteral("選取"), this);
    m_delete = new QPushButton(QStringLiteral("刪除"), this);
    for (QPushButton *button : {m_select, m_delete}) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    row->addLayout(buttons);

    connect(m_select, &QPushButton::clicked, this, &THistoryPage::BitBtn6Click);
    connect(m_delete, &QPushButton::clicked, this, &THistoryPage::BitBtn5Click);
    connect(m_list, &TEnhListView::rowActivated, this, &THistoryPage::BitBtn6Click);
    connect(m_list, &TEnhListView::sortFinished, this, &THistoryPage::takeShownOrder);
}

std::vector<std::string> THistoryPage::recentTexts(int row) const
{
    std::vector<std::string> texts;
    for (const std::string &text : m_history.recentTexts[size_t(row)])
        texts.push_back(m_codePage.toUtf8(text));
    return texts;
}

void THistoryPage::recordSearch(const ConditionRowTexts &rowsUtf8)
{
    ConditionRowTexts rows;
    for (size_t i = 0; i < kConditionRows; ++i) {
        rows[i].logic = m_codePage.fromUtf8Lossy(rowsUtf8[i].logic);
        rows[i].field = m_codePage.fromUtf8Lossy(rowsUtf8[i].field);
        rows[i].op = m_codePage.fromUtf8Lossy(rowsUtf8[i].op);
        rows[i].text = m_codePage.fromUtf8Lossy(rowsUtf8[i].text);
    }
    const std::string stamp = m_codePage.fromUtf8Lossy(historyDateTime(currentLocalDateTime()));
    veltrano::recordSearch(m_history, rows, stamp, m_codePage);
    refill();
    emit recentTextsChanged();
}

void THistoryPage::refill()
{
    TEnhListModel *model = m_list->model();
    model->clear();
    for (size_t i = 0; i < m_history.entries.size(); ++i) {
        const HistoryEntry &entry = m_history.entries[i];
        const std::string cells[] = {m_codePage.toUtf8(entry.DateTime), m_codePage.toUtf8(entry.Cond1),
                                     m_codePage.toUtf8(entry.Cond2),    m_codePage.toUtf8(entry.Cond3),
                                     m_codePage.toUtf8(entry.Command),  std::to_string(i)};
        std::string_view views[std::size(cells)];
        for (size_t c = 0; c < std::size(cells); ++c)
            views[c] = cells[c];
        model->stage(kClockImage, views);
    }
    model->flush();
}

void THistoryPage::takeShownOrder()
{
    // The store saves the entries in the order the list shows them.
    const TEnhListModel *model = m_list->model();
    std::vector<HistoryEntry> shown;
    for (int row = 0; row < model->count(); ++row) {
        const size_t entry = std::stoul(std::string(model->cell(row, kCellEntry)));
        if (entry < m_history.entries.size())
            shown.push_back(m_history.entries[entry]);
    }
    m_history.entries = std::move(shown);
    const int selected = m_list->currentRow();
    refill();
    if (selected >= 0)
        m_list->selectRow(selected);
}

void THistoryPage::BitBtn6Click()
{
    const std::vector<int> rows = m_list->selectedRows();
    if (rows.empty())
        return;
    const std::optional<RecalledRows> recalledRows = recallEntry(m_history, rows.front(), m_codePage);
    if (!recalledRows)
        return;
    RecalledRows utf8 = *recalledRows;
    for (RecalledRow &row : utf8)
        row.text = m_codePage.toUtf8(row.text);
    emit recalled(utf8);
}

void THistoryPage::BitBtn5Click()
{
    const std::vector<int> rows = m_list->selectedRows();
    if (rows.empty())
        return;
    deleteEntry(m_history, rows.front());
    refill();
}

void THistoryPage::load(const std::filesystem::path &folder)
{
    try {
        loadRecentTexts(m_history, folder);
    } catch (const std::exception &error) {
        MsgBox(this, error.what(), mkError);
    }
    try {
        loadSearchHistory(m_history, folder, m_codePage);
    } catch (const std::exception &error) {
        m_history.entries.clear();
        refill();
        MsgBox(this, std::string(kHistoryReadFailed) + error.what(), mkError);
    }
    refill();
    emit recentTextsChanged();
}

void THistoryPage::save(const std::filesystem::path &folder)
{
    saveRecentTexts(m_history, folder);
    try {
        saveSearchHistory(m_history, folder, m_codePage);
    } catch (const std::exception &error) {
        MsgBox(this, std::string(kHistoryWriteFailed) + error.what(), mkError);
    }
}

} // namespace veltrano
