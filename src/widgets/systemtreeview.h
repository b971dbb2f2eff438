#pragma once

#include <QPersistentModelIndex>
#include <QString>
#include <QTreeView>

class QFileSystemModel;

namespace veltrano {

// The folder tree of the local file system: folders only, hidden ones included, from the root
// folder down, with the home folder opened at start. The model watches the folders it has
// read, so folders made or removed by anyone appear and vanish without a refresh; when the
// selected folder vanishes, its parent is selected. Labels cannot be edited. A right-click
// selects the folder under the mouse and shows its context menu.
class TSystemTreeView : public QTreeView
{
    Q_OBJECT

public:
    explicit TSystemTreeView(QWidget *parent = nullptr);

    // The selected folder's path, empty when nothing is selected.
    QString GetSelection() const;
    // Selects the deepest folder of the tree on the way to `path` (the folder itself when it
    // exists; a file selects its folder) and scrolls it into view. A path that does not exist
    // leaves the selection as it was.
    void SetSelection(const QString &path);

    QFileSystemModel *fileModel() const { return m_model; }

signals:
    // The selected folder changed (empty when nothing is selected).
    void selectionPathChanged(const QString &path);
    // The context menu's new-folder entry was chosen on the selected folder.
    void newFolderRequested();

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    void rememberFallback(const QModelIndex &parent, int first, int last);
    void applyFallback();
    void keepTargetInView();
    void laterKeepTargetInView();

    QFileSystemModel *m_model;
    // The folder to select when the rows being removed take the selected one with them.
    QPersistentModelIndex m_fallback;
    // The folder SetSelection chose, kept in view until the user takes over.
    QString m_scrollTarget;
};

} // namespace veltrano
