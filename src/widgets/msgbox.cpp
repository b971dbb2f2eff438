#include "widgets/msgbox.h"

#include <mutex>
#include <utility>

#include <QCoreApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

#include "res/strtable.h"

namespace veltrano {
namespace {

std::mutex g_presenterMutex;
MsgBoxPresenter g_presenter;

int titleId(TMsgKind kind)
{
    switch (kind) {
    case mkInformation:
        return kStrTitleInformation;
    case mkQuestion:
        return kStrTitleQuestion;
    case mkError:
        break;
    }
    return kStrTitleError;
}

int showQMessageBox(const MsgBoxRequest &request)
{
    QMessageBox box(request.owner);
    box.setWindowTitle(QString::fromStdString(request.title));
    // Texts carry file names and server replies; a '<' in one is a character, not markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(request.text));
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    switch (request.kind) {
    case mkQuestion:
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::No ? kIdNo : kIdYes;
    case mkInformation:
        box.setIcon(QMessageBox::Information);
        break;
    case mkError:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return kIdOk;
}

int present(const MsgBoxRequest &request)
{
    MsgBoxPresenter presenter;
    {
        std::lock_guard lock(g_presenterMutex);
        presenter = g_presenter;
    }
    if (presenter)
        return presenter(request);
    return showQMessageBox(request);
}

} // namespace

MsgBoxPresenter setMsgBoxPresenter(MsgBoxPresenter presenter)
{
    std::lock_guard lock(g_presenterMutex);
    return std::exchange(g_presenter, std::move(presenter));
}

int MsgBox(QWidget *owner, std::string_view text, TMsgKind kind)
{
    MsgBoxRequest request;
    request.owner = owner;
    request.title = std::string(LoadResStr(titleId(kind)));
    request.text = std::string(text);
    request.kind = kind;

    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread())
        return present(request);

    // A worker thread: the box belongs to the window thread; the worker waits for the answer.
    // The owner may be gone by the time the call runs, so it is passed guarded.
    QPointer<QWidget> guardedOwner(owner);
    int result = kIdOk;
    QMetaObject::invokeMethod(
        app,
        [&] {
            MsgBoxRequest onWindowThread = request;
            onWindowThread.owner = guardedOwner.data();
            result = present(onWindowThread);
        },
        Qt::BlockingQueuedConnection);
    return result;
}

int MsgBoxRes(QWidget *owner, int id, TMsgKind kind)
{
    return MsgBox(owner, LoadResStr(id), kind);
}

} // namespace veltrano
