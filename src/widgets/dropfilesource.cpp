#include "widgets/dropfilesource.h"

#include <QDrag>
#include <QMimeData>
#include <QWidget>

namespace veltrano {
namespace {

TDropFileSource::Executor g_executor;

int effectOf(Qt::DropAction action)
{
    switch (action) {
    case Qt::CopyAction:
        return dtCopy;
    case Qt::MoveAction:
    case Qt::TargetMoveAction:
        return dtMove;
    case Qt::LinkAction:
        return dtLink;
    default:
        return 0;
    }
}

} // namespace

TDropFileSource::TDropFileSource(QObject *parent)
    : QObject(parent)
{ }

TDropFileSource::Executor TDropFileSource::setExecutor(Executor executor)
{
    return std::exchange(g_executor, std::move(executor));
}

QMimeData *TDropFileSource::makeMimeData() const
{
    if (Files.isEmpty())
        return nullptr;
    if (!EntryFormat.isEmpty()) {
        auto *entries = new QMimeData;
        entries->setData(EntryFormat, Files.join(QLatin1Char('\n')).toUtf8());
        return entries;
    }
    QList<QUrl> urls;
    for (const QString &path : Files) {
        const QUrl url = UrlOf ? UrlOf(path) : QUrl::fromLocalFile(path);
        if (url.isValid() && !url.isEmpty())
            urls.append(url);
    }
    auto *data = new QMimeData;
    data->setUrls(urls);
    data->setText(Files.join(QLatin1Char('\n')));
    return data;
}

TDragResult TDropFileSource::Execute(QWidget *from)
{
    QMimeData *data = makeMimeData();
    if (!data)
        return drUnknown;
    const Qt::DropActions allowed = dropActionsOf(Dragtypes);
    if (!allowed) {
        delete data;
        return drCancel;
    }
    QDrag drag(from);
    drag.setMimeData(data);
    connect(&drag, &QDrag::actionChanged, this, [this](Qt::DropAction action) {
        emit OnFeedback(effectOf(action));
    });
    const Qt::DropAction done =
            g_executor ? g_executor(drag, allowed) : drag.exec(allowed, Qt::CopyAction);
    const int effect = effectOf(done);
    // A target may report an effect the source did not offer; that is no drop of ours.
    if (effect == 0 || !(Dragtypes & unsigned(effect)))
        return drCancel;
    emit OnDrop(TDragType(effect));
    return effect == dtCopy ? drDropCopy : effect == dtMove ? drDropMove : drDropLink;
}

} // namespace veltrano
