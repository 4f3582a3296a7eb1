// One QApplication for a whole test binary (offscreen in the test runs).
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>
#include <string>

#include "OffscreenScreen.h"

inline QApplication& TestApp()
{
    static int argc = 1;
    static char name[] = "telvar-test";
    static char platformOption[] = "-platform";
    static std::string platform;
    static char* argv[] = {name, nullptr, nullptr, nullptr};
    static QApplication* app = []() -> QApplication* {
        // A test program that made its own, for a screen of its own, keeps it.
        if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance()))
            return existing;
        qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
        if (RunsOffscreen()) {
            // A screen the main dialog fits on, as on an ordinary desktop.
            platform = OffscreenPlatformArg(1920, 1080);
            argv[1] = platformOption;
            argv[2] = platform.data();
            argc = 3;
        }
        return new QApplication(argc, argv);
    }();
    return *app;
}

// Runs the event loop until done() holds or timeoutMs passes; returns done().
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

inline void PumpFor(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}
