// Caps how often a top-level window repaints. Controls keep their state at
// once (texts, gauge values, invalidated regions); only the painting of what
// was invalidated is gathered up, so a window fed at 1 kHz paints at a steady
// rate instead of once per sample. The last change is always painted, at most
// one interval late.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWidget;

class CRepaintLimiter : public QObject
{
public:
    // 30 Hz: smooth to the eye, every picture shown for two refreshes of a
    // 60 Hz screen, and half the painting of 60 Hz when frames pour in.
    static constexpr int kDefaultIntervalMs = 33;

    // Owned by the window; returns the limiter so tests can read its counts.
    static CRepaintLimiter* Install(QWidget* topLevel, int intervalMs = kDefaultIntervalMs);

    // Repaints let through, and update requests held back for later.
    unsigned long Painted() const { return m_nPainted; }
    unsigned long Deferred() const { return m_nDeferred; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CRepaintLimiter(QWidget* topLevel, int intervalMs);
    void Deliver();

    QWidget* m_pWindow;
    int m_nIntervalMs;
    QElapsedTimer m_sinceLastPaint;
    QTimer m_timer;
    bool m_bDelivering = false;
    unsigned long m_nPainted = 0;
    unsigned long m_nDeferred = 0;
};
