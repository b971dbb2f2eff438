#pragma once

#include <string>
#include <string_view>

#include <QElapsedTimer>
#include <QTimer>

#include "cache/indexscan.h"
#include "util/codepage.h"

namespace veltrano {

class TEnhListView;
class TImageList;
struct TExtList;

// The result list's columns, by position: the five shown sub-items follow the caption, the
// node key is a hidden sixth value.
enum ResultColumn {
    rcName,
    rcExt,
    rcSize,
    rcFolder,
    rcLocation,
    rcDate,
    rcResultKey,
    rcCount
};
constexpr const char *kResultListKey = "\\Software\\Calderwick\\Drellmoor\\Veltrano\\ListView";
constexpr int kFileImage = 0;
constexpr int kFolderImage = 1;

// Sets up the result list: columns and widths, sorting by header click with reversed arrows,
// the comparison of each column, and the layout saved in the per-user store.
void setupResultList(TEnhListView *list, const TImageList *images);

// Turns hits into result rows. Rows are staged one hit at a time and shown together: a view
// lays out all its rows again after every insertion, so while hits pour in they are shown at
// most every 100 ms, at the latest 100 ms after they came, and at once when the search ends.
// Past 200,000 rows the pause grows with the list (1 ms per 2,000 rows, at most a second), so
// that laying out the whole list again never takes more than a small share of the window's
// time.
class ResultIntake
{
public:
    ResultIntake(TEnhListView *list, TImageList &images, TExtList &extList);

    // One hit of the node `nodeName` (code-page bytes) whose cache files are nodeKey (UTF-8).
    // item.Name is the hit's full path in the cache's code page.
    void addHit(const TItemData &item, std::string_view nodeName, std::string_view nodeKey,
                const CodePage &cp);
    // Shows the staged rows when the last showing is 100 ms old, else when it will be.
    void flushIfDue();
    void flush();
    // Rows in the list, shown or staged.
    int rowCount() const;

private:
    static constexpr qint64 kShowEveryMs = 100;
    static constexpr qint64 kRowsPerMs = 2000;
    static constexpr qint64 kLongestPauseMs = 1000;
    qint64 showEveryMs() const;

    QElapsedTimer m_sinceFlush;
    QTimer m_pending;
    TEnhListView *m_list;
    TImageList &m_images;
    TExtList &m_extList;
};

} // namespace veltrano
