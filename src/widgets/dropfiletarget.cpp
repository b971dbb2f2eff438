#include "widgets/dropfiletarget.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace veltrano {
namespace {

const QString kUriList = QStringLiteral("text/uri-list");

Qt::DropAction actionOf(int effect)
{
    return effect == dtMove ? Qt::MoveAction : effect == dtLink ? Qt::LinkAction : Qt::CopyAction;
}

} // namespace

TDropFileTarget::TDropFileTarget(QObject *parent)
    : QObject(parent)
{ }

TDropFileTarget::~TDropFileTarget()
{
    Unregister();
}

void TDropFileTarget::Register(QWidget *control)
{
    Unregister();
    if (!control)
        return;
    m_control = control;
    control->setAcceptDrops(true);
    control->installEventFilter(this);
}

void TDropFileTarget::Unregister()
{
    if (m_control) {
        m_control->removeEventFilter(this);
        m_control->setAcceptDrops(false);
    }
    m_control = nullptr;
    m_files.clear();
    m_haveData = false;
}

int TDropFileTarget::effectFor(Qt::KeyboardModifiers keys, TDragTypes allowed)
{
    const bool shift = keys & Qt::ShiftModifier;
    const bool ctrl = keys & Qt::ControlModifier;
    if (shift && ctrl && (allowed & dtLink))
        return dtLink;
    if (shift && !ctrl && (allowed & dtMove))
        return dtMove;
    for (const TDragType type : {dtCopy, dtMove, dtLink})
        if (allowed & type)
            return type;
    return 0;
}

bool TDropFileTarget::readFiles(const QMimeData *data)
{
    m_files.clear();
    if (!data || !data->hasFormat(kUriList))
        return false;
    for (const QUrl &url : data->urls()) {
        if (!url.isValid() || url.isEmpty())
            continue;
        m_files.append(url.isLocalFile() ? url.toLocalFile() : url.toString());
    }
    return !m_files.isEmpty();
}

bool TDropFileTarget::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_control)
        return false;
    try {
        switch (event->type()) {
        case QEvent::DragEnter: {
            auto *e = static_cast<QDragEnterEvent *>(event);
            m_files.clear();
            m_haveData = false;
            int effect =
                    e->mimeData()->hasFormat(kUriList) ? effectFor(e->modifiers(), Dragtypes) : 0;
            if (effect && GetDataOnEnter) {
                m_haveData = readFiles(e->mimeData());
                if (!m_haveData)
                    effect = 0;
            }
            if (effect == 0) {
                e->ignore();
                return true;
            }
            e->setDropAction(actionOf(effect));
            e->accept();
            emit OnEnter(e->modifiers(), e->position().toPoint(), effect);
            return true;
        }
        case QEvent::DragMove: {
            auto *e = static_cast<QDragMoveEvent *>(event);
            const int effect =
                    e->mimeData()->hasFormat(kUriList) ? effectFor(e->modifiers(), Dragtypes) : 0;
            if (effect == 0) {
                e->ignore();
                return true;
            }
            e->setDropAction(actionOf(effect));
            e->accept();
            emit OnDragOver(e->modifiers(), e->position().toPoint(), effect);
            return true;
        }
        case QEvent::DragLeave:
            m_files.clear();
            m_haveData = false;
            emit OnLeave();
            return true;
        case QEvent::Drop: {
            auto *e = static_cast<QDropEvent *>(event);
            const int effect =
                    e->mimeData()->hasFormat(kUriList) ? effectFor(e->modifiers(), Dragtypes) : 0;
            const bool have = m_haveData || readFiles(e->mimeData());
            m_haveData = false;
            if (effect == 0 || !have) {
                e->ignore();
                return true;
            }
            e->setDropAction(actionOf(effect));
            e->accept();
            emit OnDrop(TDragType(effect), e->position().toPoint());
            return true;
        }
        default:
            return false;
        }
    } catch (...) {
        return true;
    }
}

} // namespace veltrano
