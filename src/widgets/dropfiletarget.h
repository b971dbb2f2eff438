#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include "widgets/dragtypes.h"

class QMimeData;

namespace veltrano {

// Lets the user drop files from a file manager onto a window. Takes text/uri-list only: plain
// text and anything else is refused as soon as it enters. Register it on the widget that takes
// the drops; it reads the dropped paths and fires OnDrop with the drop's type and point.
class TDropFileTarget : public QObject
{
    Q_OBJECT

public:
    explicit TDropFileTarget(QObject *parent = nullptr);
    ~TDropFileTarget() override;

    TDragTypes Dragtypes = dtCopy | dtMove | dtLink;
    // Read the paths when the drag enters instead of when it drops.
    bool GetDataOnEnter = false;

    // Takes drops on `control` (another registration ends first). Unregister() ends it.
    void Register(QWidget *control);
    void Unregister();
    QWidget *control() const { return m_control; }

    // The dropped items: local paths for file URLs, the URL's text for others.
    const QStringList &Files() const { return m_files; }

    // The effect for the keys held: Shift+Ctrl links, Shift moves, else the first allowed.
    static int effectFor(Qt::KeyboardModifiers keys, TDragTypes allowed);

signals:
    void OnEnter(Qt::KeyboardModifiers keys, const QPoint &point, int effect);
    void OnDragOver(Qt::KeyboardModifiers keys, const QPoint &point, int effect);
    void OnLeave();
    void OnDrop(veltrano::TDragType dragType, const QPoint &point);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool readFiles(const QMimeData *data);

    QPointer<QWidget> m_control;
    QStringList m_files;
    bool m_haveData = false;
};

} // namespace veltrano
