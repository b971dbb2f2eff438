#pragma once

#include <chrono>
#include <functional>

#include <QCoreApplication>
#include <QTimer>

namespace veltrano::test {

// The one application object of the test program, made on first use.
inline void ensureApplication()
{
    static int argc = 1;
    static char name[] = "net_tests";
    static char *argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
}

// Runs the event loop until `done` holds or the time is up; true when it holds.
inline bool runUntil(const std::function<bool()> &done, int milliseconds = 5000)
{
    ensureApplication();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    QTimer wake;
    wake.start(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

} // namespace veltrano::test
