#include "widgets/systemtreeview.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QScrollBar>

#include "widgets/shellactions.h"

namespace veltrano {

TSystemTreeView::TSystemTreeView(QWidget *parent)
    : QTreeView(parent)
    , m_model(new QFileSystemModel(this))
{
    m_model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::Drives);
    m_model->setReadOnly(true);
    m_model->setRootPath(QDir::rootPath());
    // Ahead of the selection model, which moves the current row to a neighbour first.
    connect(m_model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            &TSystemTreeView::rememberFallback);
    setModel(m_model);
    for (int column = 1; column < m_model->columnCount(); ++column)
        hideColumn(column);
    setHeaderHidden(true);
    setIndentation(21);
    setEditTriggers(NoEditTriggers);
    setSelectionMode(SingleSelection);
    setUniformRowHeights(true);
    header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);

    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current) {
                // Reading the folder's children also starts watching it, so folders made in
                // it later show up (with the plus sign) without the user opening it.
                if (current.isValid() && m_model->canFetchMore(current))
                    m_model->fetchMore(current);
                emit selectionPathChanged(m_model->filePath(current));
            });
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &TSystemTreeView::applyFallback);
    connect(m_model, &QAbstractItemModel::rowsInserted, this,
            &TSystemTreeView::laterKeepTargetInView);
    connect(m_model, &QAbstractItemModel::layoutChanged, this,
            &TSystemTreeView::laterKeepTargetInView);
    connect(verticalScrollBar(), &QScrollBar::sliderPressed, this, [this] {
        m_scrollTarget.clear();
    });

    const QModelIndex home = m_model->index(QDir::homePath());
    for (QModelIndex at = home; at.isValid(); at = at.parent())
        expand(at);
}

QString TSystemTreeView::GetSelection() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? m_model->filePath(current) : QString();
}

void TSystemTreeView::SetSelection(const QString &path)
{
    if (path.isEmpty())
        return;
    QFileInfo info(QDir::cleanPath(path));
    if (!info.exists())
        return;
    if (!info.isDir())
        info = QFileInfo(info.absolutePath());
    const QModelIndex target = m_model->index(info.absoluteFilePath());
    if (!target.isValid())
        return;
    for (QModelIndex at = target.parent(); at.isValid(); at = at.parent())
        expand(at);
    setCurrentIndex(target);
    // The folders around it are read and sorted in the background, which moves the rows: it is
    // kept in view as they arrive, until the user takes over the tree.
    m_scrollTarget = info.absoluteFilePath();
    keepTargetInView();
}

void TSystemTreeView::keepTargetInView()
{
    if (m_scrollTarget.isEmpty())
        return;
    const QModelIndex target = m_model->index(m_scrollTarget);
    if (!target.isValid() || target != currentIndex()) {
        m_scrollTarget.clear();
        return;
    }
    scrollTo(target, PositionAtCenter);
    horizontalScrollBar()->setValue(0);
}

void TSystemTreeView::laterKeepTargetInView()
{
    if (!m_scrollTarget.isEmpty())
        QMetaObject::invokeMethod(this, &TSystemTreeView::keepTargetInView, Qt::QueuedConnection);
}

void TSystemTreeView::mousePressEvent(QMouseEvent *event)
{
    m_scrollTarget.clear();
    QTreeView::mousePressEvent(event);
}

void TSystemTreeView::keyPressEvent(QKeyEvent *event)
{
    m_scrollTarget.clear();
    QTreeView::keyPressEvent(event);
}

void TSystemTreeView::wheelEvent(QWheelEvent *event)
{
    m_scrollTarget.clear();
    QTreeView::wheelEvent(event);
}

void TSystemTreeView::rememberFallback(const QModelIndex &parent, int first, int last)
{
    // Find whether the selected folder is one of the rows going, or lies below one.
    QModelIndex at = currentIndex();
    while (at.isValid() && at.parent() != parent)
        at = at.parent();
    if (at.isValid() && at.row() >= first && at.row() <= last)
        m_fallback = parent;
}

void TSystemTreeView::applyFallback()
{
    if (!m_fallback.isValid())
        return;
    const QModelIndex parent = m_fallback;
    m_fallback = QPersistentModelIndex();
    setCurrentIndex(parent);
    scrollTo(parent);
}

void TSystemTreeView::contextMenuEvent(QContextMenuEvent *event)
{
    // The view receives its viewport's event, in the viewport's coordinates.
    const QModelIndex under = indexAt(event->pos());
    if (!under.isValid())
        return;
    setCurrentIndex(under);
    const QString path = m_model->filePath(under);
    if (DisplayContextMenu(path, this, event->globalPos()) == ShellMenuChoice::NewFolder)
        emit newFolderRequested();
}

} // namespace veltrano
