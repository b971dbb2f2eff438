#pragma once

#include <QPoint>
#include <QString>

class QWidget;

namespace veltrano {

// What the file manager would do with a folder, for the folder tree's context menu: open it,
// show its properties, and the menu itself. Every action returns false when it could not be
// carried out, without a message: the menu is a convenience and its failures are not errors
// of the window that offers it.

// What the properties of a folder show.
struct FolderProperties
{
    QString path;
    qint64 size = 0; // bytes of the files below it (links not followed)
    qint64 files = 0;
    qint64 folders = 0;
    bool complete = true; // false when the count stopped at its time budget
    QString permissions; // "rwxr-xr-x (755)"
    QString owner;
    QString group;
    QString modified;
    bool exists = false;
};

// Reads a folder's properties, counting what lies below it for at most `budgetMs`.
FolderProperties readFolderProperties(const QString &path, int budgetMs = 2000);

// Opens the folder in the desktop's file manager.
bool OpenInFileManager(const QString &path);

// Shows the folder's properties in a modal box owned by `owner`. False for a path that is
// not there.
bool DisplayPropertiesDialog(const QString &path, QWidget *owner);

// The entries of the context menu.
enum class ShellMenuChoice {
    None,
    Open,
    NewFolder,
    Properties
};

// Shows the folder's context menu at `screenPoint` and carries out what is chosen, except a
// new folder, which belongs to the caller (it asks for a name and picks the parent its own
// way): that choice is only returned.
ShellMenuChoice DisplayContextMenu(const QString &path, QWidget *owner, const QPoint &screenPoint);

} // namespace veltrano
