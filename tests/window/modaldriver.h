#pragma once

#include <functional>
#include <memory>

#include <QApplication>
#include <QElapsedTimer>
#include <QInputMethodEvent>
#include <QTest>
#include <QTimer>
#include <QWidget>

// Runs `act` on the next modal window or popup that opens, once it is showing. Modal dialogs
// run their own event loop, so a test hands its input to them through this before the click
// that opens them.
namespace veltrano::test {

inline void onNext(bool popup, std::function<void(QWidget *)> act, int timeoutMs = 5000)
{
    QWidget *before = popup ? QApplication::activePopupWidget() : QApplication::activeModalWidget();
    auto *timer = new QTimer;
    timer->setInterval(10);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        QWidget *now =
                popup ? QApplication::activePopupWidget() : QApplication::activeModalWidget();
        const bool ready = now && now != before && now->isVisible();
        if (!ready && clock->elapsed() < timeoutMs)
            return;
        timer->stop();
        timer->deleteLater();
        if (!ready)
            return;
        // As a window that has just opened: active, with the keyboard focus in it.
        if (!popup) {
            now->activateWindow();
            // A window manager that never activates it still gets the input sent to it.
            (void)QTest::qWaitForWindowActive(now, 1000);
        }
        act(now);
    });
    timer->start();
}

// Types `text` into `edit`: key by key where keys exist, and the rest the way an input method
// hands over Chinese, as one committed string.
inline void typeText(QWidget *edit, const QString &text)
{
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() >= 0x20 && c.unicode() < 0x7f;
    if (ascii) {
        QTest::keyClicks(edit, text);
        return;
    }
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QApplication::sendEvent(edit, &commit);
}

inline void onNextModal(std::function<void(QWidget *)> act)
{
    onNext(false, std::move(act));
}
inline void onNextPopup(std::function<void(QWidget *)> act)
{
    onNext(true, std::move(act));
}

} // namespace veltrano::test
