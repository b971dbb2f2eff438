#include "window/historypage.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QHeaderView>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "res/uilanguage.h"
#include "util/error.h"
#include "widgets/enhlistview.h"
#include "widgets/images.h"
#include "widgets/msgbox.h"
#include "window/enginetext.h"

namespace veltrano {
namespace {

constexpr int kClockImage = 2;
constexpr int kCellCommand = 4;
constexpr int kCellEntry = 5; // the entry's position in the store, to follow the user's sorting

// A past condition as an English window shows it: its words in English, apart. The entry keeps
// the list's own words, which the files and the search server read; a row whose words are not
// the list's shows as it was stored.
std::string shownCondition(const RecalledRows &rows, size_t row, const std::string &stored)
{
    const RecalledRow &recalled = rows[row];
    if (stored.empty() || !recalled.field || !recalled.op || (row > 0 && !recalled.logic))
        return stored;
    std::string shown;
    if (row > 0)
        shown = engineText(kCompLogicWords[size_t(*recalled.logic)]).toStdString() + ' ';
    return shown + engineText(kCompFieldWords[size_t(*recalled.field)]).toStdString() + ' '
            + engineText(kCompOpWords[size_t(*recalled.op)]).toStdString() + ' ' + recalled.text;
}

} // namespace

THistoryPage::THistoryPage(const TImageList *locationImages, const CodePage &codePage, QWidget *parent)
    : QWidget(parent)
    , m_codePage(codePage)
    , m_utf8("UTF-8")
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
        columns.push_back({engineText(caption), 100});
    m_list->setColumns(std::move(columns), 2);
    m_list->setImages(m_locationImages);
    m_list->setMultiSelect(false);
    m_list->AutoColumnSort = acsSortToggle;
    m_list->AutoResort = false;
    m_list->setShowSortArrows(true);
    m_list->setReverseSortArrows(true);
    m_list->setShowClippedTips(true);
    // The columns share the list's width; the date takes what its texts need.
    m_list->header()->setSectionResizeMode(QHeaderView::Stretch);
    m_list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_list->Loaded();
    row->addWidget(m_list, 1);

    auto *buttons = new QVBoxLayout;
    m_select = new QPushButton(tr("選取"), this);
    m_delete = new QPushButton(tr("刪除"), this);
    for (QPushButton *button : {m_select, m_delete}) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    row->addLayout(buttons);

    m_list->reportView()->installEventFilter(this);
    connect(m_select, &QPushButton::clicked, this, &THistoryPage::BitBtn6Click);
    connect(m_delete, &QPushButton::clicked, this, &THistoryPage::BitBtn5Click);
    connect(m_list, &TEnhListView::rowActivated, this, &THistoryPage::BitBtn6Click);
    connect(m_list, &TEnhListView::sortFinished, this, &THistoryPage::takeShownOrder);
}

std::vector<std::string> THistoryPage::recentTexts(int row) const
{
    return m_history.recentTexts[size_t(row)];
}

void THistoryPage::recordSearch(const ConditionRowTexts &rowsUtf8)
{
    veltrano::recordSearch(m_history, rowsUtf8, historyDateTime(currentLocalDateTime()), m_utf8);
    refill();
    emit recentTextsChanged();
}

void THistoryPage::refill()
{
    TEnhListModel *model = m_list->model();
    model->clear();
    for (size_t i = 0; i < m_history.entries.size(); ++i) {
        const HistoryEntry &entry = m_history.entries[i];
        const std::string position = std::to_string(i);
        const bool english = uiLanguage() == UiLanguage::English;
        const RecalledRows rows = english ? recallCommand(entry.Command, m_utf8) : RecalledRows{};
        const std::string cond1 = english ? shownCondition(rows, 0, entry.Cond1) : entry.Cond1;
        const std::string cond2 = english ? shownCondition(rows, 1, entry.Cond2) : entry.Cond2;
        const std::string cond3 = english ? shownCondition(rows, 2, entry.Cond3) : entry.Cond3;
        const std::string_view cells[] = {
                entry.DateTime, cond1, cond2, cond3, entry.Command, position};
        model->stage(kClockImage, cells);
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
    if (const std::optional<RecalledRows> recalledRows = recallEntry(m_history, rows.front(), m_utf8))
        emit recalled(*recalledRows);
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
    SearchHistory files;
    try {
        loadRecentTexts(files, folder);
    } catch (const std::exception &error) {
        MsgBox(this, error.what(), mkError);
    }
    try {
        loadSearchHistory(files, folder, m_codePage);
    } catch (const std::exception &error) {
        files.entries.clear();
        MsgBox(this, engineText(kHistoryReadFailed).toStdString() + error.what(), mkError);
    }
    m_history = historyToUtf8(files, m_codePage);
    refill();
    emit recentTextsChanged();
}

void THistoryPage::save(const std::filesystem::path &folder)
{
    const SearchHistory files = historyFromUtf8(m_history, m_codePage);
    saveRecentTexts(files, folder);
    try {
        saveSearchHistory(files, folder, m_codePage);
    } catch (const std::exception &error) {
        MsgBox(this, engineText(kHistoryWriteFailed).toStdString() + error.what(), mkError);
    }
}

bool THistoryPage::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier) {
            BitBtn5Click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace veltrano
