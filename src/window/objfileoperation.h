#pragma once

#include <QPointer>
#include <QUrl>
#include <QWidget>

namespace veltrano {

// Opens one item with the desktop's handler on a short thread of its own, so that a slow
// handler or an unreachable share never holds the window. Nobody waits for it: it reports a
// failure itself, in a box owned by the window that asked (the path, a line break and the
// error's text), and ends.
class TObjFileOperation
{
public:
    static constexpr int Open = 256;

    // `path` is what the box names; `url` what the handler is given.
    static void start(QWidget *owner, const QString &path, const QUrl &url);
};

} // namespace veltrano
