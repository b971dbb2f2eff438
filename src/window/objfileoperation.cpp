#include "window/objfileoperation.h"

#include <thread>

#include <QApplication>

#include "util/resstr.h"
#include "widgets/msgbox.h"
#include "window/shellopen.h"

namespace veltrano {

void TObjFileOperation::start(QWidget *owner, const QString &path, const QUrl &url)
{
    QPointer<QWidget> window(owner);
    std::thread([window, path, url] {
        try {
            const int result = shellOpen(url);
            if (result == 0)
                return;
            const std::string text = path.toStdString() + "\r\n" + ErrorText(result);
            // The owner is looked at on the window thread only, where it may have gone.
            QMetaObject::invokeMethod(
                    qApp,
                    [window, text] {
                        try {
                            MsgBox(window.data(), text, mkError);
                        } catch (...) { }
                    },
                    Qt::BlockingQueuedConnection);
        } catch (...) {
            // A thread of its own has nobody to report to but the box above.
        }
    }).detach();
}

} // namespace veltrano
