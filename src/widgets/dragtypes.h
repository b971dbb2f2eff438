#pragma once

#include <QFlags>
#include <Qt>

namespace veltrano {

// What a drag may do with its files, and how it ended.
enum TDragType {
    dtCopy = 1,
    dtMove = 2,
    dtLink = 4
};
using TDragTypes = unsigned; // a set of TDragType bits
enum TDragResult {
    drDropCopy,
    drDropMove,
    drDropLink,
    drCancel,
    drOutMemory,
    drUnknown
};

inline Qt::DropActions dropActionsOf(TDragTypes types)
{
    Qt::DropActions actions;
    if (types & dtCopy)
        actions |= Qt::CopyAction;
    if (types & dtMove)
        actions |= Qt::MoveAction;
    if (types & dtLink)
        actions |= Qt::LinkAction;
    return actions;
}

} // namespace veltrano
