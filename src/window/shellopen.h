#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <QString>
#include <QUrl>

namespace veltrano {

// Where a path of the results leads on this machine. A UNC path names a share of another
// computer and is reached through smb://, unless SHARES.MAP mounts that share here; anything
// else is a local path.
class TShareMapping
{
public:
    // Reads "\\PC\share=/mount/point" lines (UTF-8); lines of another form and '#' or ';'
    // comments are passed over. A missing file maps nothing.
    static TShareMapping load(const std::string &file);
    static TShareMapping parse(const std::string &text);

    // The URL a data path (backslashes, UTF-8) is opened as; an empty URL for a path that
    // names nothing (a drive letter, an empty text).
    QUrl urlFor(const QString &dataPath) const;
    // The local form of a mapped path; empty when no mapping covers it.
    QString localPath(const QString &dataPath) const;

private:
    std::vector<std::pair<QString, QString>> m_prefixes; // "\\PC\share" (no trailing '\') -> mount
};

// The desktop's handler: opens `url` and waits for the handler to say how it went. Returns 0
// on success, else an errno value whose text says what failed. Runs on any thread.
using TShellOpen = std::function<int(const QUrl &url)>;

// The shell the program opens items with. The default runs xdg-open. Tests replace it with a
// recorder; an empty function restores the default. Returns the one it replaces.
TShellOpen setShellOpen(TShellOpen shell);
int shellOpen(const QUrl &url);

// Shows a local item in the file manager with it selected, where the file manager offers that
// (the desktop's FileManager1 service); otherwise opens its folder through the shell. Returns
// what the shell returned, 0 when the file manager took the request.
using TShowItem = std::function<bool(const QUrl &item)>;
TShowItem setShowItem(TShowItem show);
bool showItemInFileManager(const QUrl &item);

} // namespace veltrano
