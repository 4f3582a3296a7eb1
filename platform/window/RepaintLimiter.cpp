#include "platform/window/RepaintLimiter.h"

#include <algorithm>

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

CRepaintLimiter* CRepaintLimiter::Install(QWidget* topLevel, int intervalMs)
{
    if (!topLevel)
        return nullptr;
    auto* limiter = new CRepaintLimiter(topLevel, intervalMs);
    topLevel->installEventFilter(limiter);
    return limiter;
}

CRepaintLimiter::CRepaintLimiter(QWidget* topLevel, int intervalMs)
    : QObject(topLevel), m_pWindow(topLevel), m_nIntervalMs(intervalMs)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { Deliver(); });
}

// Qt paints a window's invalidated widgets when the window receives an update
// request; one request covers everything invalidated since the last paint.
bool CRepaintLimiter::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_pWindow || event->type() != QEvent::UpdateRequest || m_bDelivering)
        return false;
    if (!m_sinceLastPaint.isValid() || m_sinceLastPaint.elapsed() >= m_nIntervalMs) {
        m_sinceLastPaint.start();
        ++m_nPainted;
        return false;
    }
    // Too soon: hold it and deliver one request when the interval is over.
    ++m_nDeferred;
    if (!m_timer.isActive())
        m_timer.start(static_cast<int>(std::max<qint64>(1, m_nIntervalMs - m_sinceLastPaint.elapsed())));
    return true;
}

void CRepaintLimiter::Deliver()
{
    m_sinceLastPaint.start();
    ++m_nPainted;
    m_bDelivering = true;
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(m_pWindow, &request);
    m_bDelivering = false;
}
