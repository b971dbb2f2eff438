#include "window/resultlist.h"

#include <algorithm>
#include <array>

#include <QCoreApplication>

#include "search/resultsave.h"
#include "widgets/enhlistview.h"
#include "widgets/fileicons.h"

namespace veltrano {

void setupResultList(TEnhListView *list, const TImageList *images)
{
    std::vector<TEnhListModel::Column> columns = {
            {QCoreApplication::translate("veltrano::ResultList", "名稱"), 172, Qt::AlignLeft,
                    false},
            {QCoreApplication::translate("veltrano::ResultList", "副檔名"), 64, Qt::AlignLeft,
                    true},
            {QCoreApplication::translate("veltrano::ResultList", "大小(KB)"), 75, Qt::AlignRight,
                    false},
            {QCoreApplication::translate("veltrano::ResultList", "目錄"), 100, Qt::AlignLeft, true},
            {QCoreApplication::translate("veltrano::ResultList", "位置"), 100, Qt::AlignLeft, true},
            {QCoreApplication::translate("veltrano::ResultList", "修改日期"), 100, Qt::AlignRight,
                    false},
    };
    list->setColumns(std::move(columns), 1, {true});
    list->setImages(images);
    list->setMultiSelect(true);
    list->AutoColumnSort = acsSortToggle;
    list->AutoResort = false;
    list->setShowSortArrows(true);
    list->setReverseSortArrows(true);
    list->SaveSettings.AutoSave = true;
    list->SaveSettings.RegistryKey = kResultListKey;
    // ListViewSortItems: sizes as numbers, dates as date-times, the rest as text.
    list->OnSortItems = [](const TEnhListModel &, RowId, RowId, int sortColumn, TSortAs &sortAs,
                                int &) {
        if (sortColumn == rcSize - 1)
            sortAs = saNumeric;
        else if (sortColumn == rcDate - 1)
            sortAs = saDateTime;
        else
            sortAs = saString;
    };
}

ResultIntake::ResultIntake(TEnhListView *list, TImageList &images, TExtList &extList)
    : m_list(list)
    , m_images(images)
    , m_extList(extList)
{
    // Rows staged just after a showing must not wait for the next batch, which may be long
    // in coming while the worker reads a large node.
    m_pending.setSingleShot(true);
    QObject::connect(&m_pending, &QTimer::timeout, list, [this] {
        flush();
    });
}

void ResultIntake::addHit(const TItemData &item, std::string_view nodeName,
        std::string_view nodeKey, const CodePage &cp)
{
    // The saved file and the command line's --save take their words from the same place.
    const ResultRow row = resultRowOf(item, nodeName, cp);
    const int image =
            item.isDirectory() ? kFolderImage : FileIconIndex(row.name, m_images, m_extList);
    const std::array<std::string_view, rcCount> cells = {
            row.name, row.ext, row.size, row.folder, row.location, row.date, nodeKey};
    m_list->model()->stage(image, cells);
}

qint64 ResultIntake::showEveryMs() const
{
    return std::clamp(qint64(m_list->model()->count()) / kRowsPerMs, kShowEveryMs,
            kLongestPauseMs);
}

void ResultIntake::flushIfDue()
{
    const qint64 every = showEveryMs();
    if (!m_sinceFlush.isValid() || m_sinceFlush.hasExpired(every)) {
        flush();
        return;
    }
    if (!m_pending.isActive())
        m_pending.start(int(std::max<qint64>(every - m_sinceFlush.elapsed(), 0)));
}

void ResultIntake::flush()
{
    m_pending.stop();
    m_list->model()->flush();
    m_sinceFlush.start();
}

int ResultIntake::rowCount() const
{
    return m_list->model()->stagedCount();
}

} // namespace veltrano
