#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <QPoint>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include "util/codepage.h"

class QAction;
class QMenu;

namespace veltrano {

class TEnhListView;
class TFtpForm;
class TImageList;
struct TExtList;

// The result row a hint shows the surroundings of. `item` identifies the row for as long as
// it is in the list (the owner changes it when the list is emptied).
struct THintRow
{
    uint64_t item = 0;
    QString caption;
    QString folder; // sub-item 2: the folder that holds the hit, with a trailing backslash
    bool isFolder = false;
    std::string resultKey; // cache folder + cache name (UTF-8); empty for a remote row
};

// A small window, always on top, that lists what a hit's folder holds: the folder of a file
// hit, a folder hit itself. Locally the listing comes from the node's index files. The user
// moves up and down the tree with double clicks, opens files and drags items out. It hides
// itself two seconds after the last request while the user works elsewhere.
class THintForm : public QWidget
{
    Q_OBJECT

public:
    THintForm(TImageList &images, TExtList &extList, QWidget *parent = nullptr);

    // What the owner does for the hint: the node check of a row before a local open or drag
    // (false stops it), opening a path, and dragging paths out.
    std::function<bool(const std::string &resultKey, const QString &folder)> CheckNode;
    std::function<void(const QString &path)> OpenPath;
    std::function<void(const QStringList &paths)> DragPaths;
    // The cache's code page, for the keys of the index files.
    CodePage CacheCodePage{"UTF-8"};
    // The transfer window that lists remote folders and downloads remote files; none until the
    // main window first enters remote mode.
    TFtpForm *FtpForm = nullptr;

    void ShowContent(bool local, const THintRow &row);
    // The row shown before is gone from the result list.
    void forgetItem()
    {
        m_hintItem = THintRow{};
        m_haveItem = false;
    }

    TEnhListView *listView() const { return m_list; }
    QMenu *popupMenu() const { return m_popup; }
    const QString &shownFolder() const { return m_shownFolder; }
    int hideCount() const { return m_hideCount; }
    bool hideTimerActive() const { return m_hideTimer.isActive(); }

    void ListCacheFolder(const QString &folder);
    void ListRemoteFolder(const QString &folder);
    void RemoteListDone();
    void ListViewDblClick();
    void OpenSelected();
    void N2Click();
    void N3Click();

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Stages one listed entry's row: its name, extension, size as shown, date and sort time.
    void stageRow(const std::string &caption, bool isFolder, int64_t size, double time);
    void FormShow();
    void HintTimerTimer();
    void addDotDotRow();
    void dragSelected();

    TImageList &m_images;
    TExtList &m_extList;
    TEnhListView *m_list;
    QMenu *m_popup;
    THintRow m_hintItem;
    bool m_haveItem = false;
    QString m_shownFolder;
    std::string m_nodeFolder;
    std::string m_nodeName; // UTF-8
    bool m_local = true;
    int m_hideCount = 0;
    QTimer m_hideTimer;
    QPoint m_pressPoint;
    bool m_pressed = false;
};

} // namespace veltrano
