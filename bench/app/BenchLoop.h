// Running the Qt event loop of an in-process benchmark for a while, or until
// a condition holds.
#pragma once

#include <functional>

#include <QEventLoop>
#include <QTimer>

namespace bench
{

inline bool RunUntil(const std::function<bool()>& done, int timeoutMs, int stepMs = 10)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer step;
    QObject::connect(&step, &QTimer::timeout, [&] {
        if (done())
            loop.quit();
    });
    step.start(stepMs);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

inline void RunFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace bench
