#pragma once

#include <functional>

#include <QObject>
#include <QStringList>
#include <QUrl>

#include "widgets/dragtypes.h"

class QDrag;
class QMimeData;

namespace veltrano {

// Lets the user drag files out of a list onto a file manager or any other window that takes
// files. The files go out as text/uri-list (their URLs) and as text/plain (their paths, one a
// line). Fill Files, then Execute() from the mouse-move handler that decided a drag begins.
class TDropFileSource : public QObject
{
    Q_OBJECT

public:
    explicit TDropFileSource(QObject *parent = nullptr);

    TDragTypes Dragtypes = dtCopy;
    // Paths as the user knows them (UNC or local) and the URL each is offered as.
    QStringList Files;
    std::function<QUrl(const QString &path)> UrlOf;
    // When set, Files are not paths but entries of this private type, offered only as it (one
    // a line, UTF-8): no file manager may take them for files.
    QString EntryFormat;

    // Runs the drag until the user drops or gives up. Blocks in the drag's own event loop.
    TDragResult Execute(QWidget *from);
    // The data a drag of Files offers; the caller owns it. Null for an empty Files.
    QMimeData *makeMimeData() const;

    // Where the drag's loop runs; tests put a recorder in its place. Returns the replaced one.
    using Executor = std::function<Qt::DropAction(QDrag &drag, Qt::DropActions allowed)>;
    static Executor setExecutor(Executor executor);

signals:
    // The drag ended with a drop of this type. The drop has happened by then: the desktop does
    // not ask the source before it takes the files.
    void OnDrop(veltrano::TDragType dragType);
    // The target now proposes this effect (a TDragType, 0 for none).
    void OnFeedback(int effect);
};

} // namespace veltrano
