// The main dialog's repaints are gathered to display rate: a control changed
// a thousand times a second is painted at most once per interval, and its last
// state is always painted.
#include <gtest/gtest.h>

#include <QEvent>
#include <QLabel>
#include <QWidget>

#include "QtApp.h"
#include "platform/window/RepaintLimiter.h"

namespace
{

class PaintCount : public QObject
{
public:
    int paints = 0;
    std::string lastPaintedText;
    QLabel* label = nullptr;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
            lastPaintedText = label->text().toStdString();
        }
        return false;
    }
};

struct Window {
    QWidget top;
    QLabel* label;
    PaintCount count;
    Window()
    {
        top.resize(200, 100);
        label = new QLabel("start", &top);
        label->setGeometry(10, 10, 150, 30);
        count.label = label;
        label->installEventFilter(&count);
        top.show();
        PumpFor(50);
    }
};

} // namespace

TEST(RepaintLimiter, ChangesEveryMillisecondArePaintedAtMostOncePerInterval)
{
    TestApp();
    Window w;
    CRepaintLimiter* limiter = CRepaintLimiter::Install(&w.top, 20);
    ASSERT_NE(limiter, nullptr);
    const int before = w.count.paints;

    QElapsedTimer t;
    t.start();
    int changes = 0;
    while (t.elapsed() < 400) {
        w.label->setText(QString::number(++changes));
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    const std::string last = std::to_string(changes);
    ASSERT_TRUE(PumpUntil([&] { return w.count.lastPaintedText == last; }, 1000));

    const int paints = w.count.paints - before;
    EXPECT_GT(changes, 100); // the loop really changed it far more often than it may paint
    EXPECT_GE(paints, 5);    // the display kept up while changes went on
    EXPECT_LE(paints, 400 / 20 + 3);
    EXPECT_GT(limiter->Deferred(), 0u);
}

TEST(RepaintLimiter, AChangeAfterAQuietSpellIsPaintedAtOnce)
{
    TestApp();
    Window w;
    CRepaintLimiter::Install(&w.top, 1000);
    PumpFor(20);
    w.label->setText("first");
    ASSERT_TRUE(PumpUntil([&] { return w.count.lastPaintedText == "first"; }, 500));
    // Within the interval: held back, then painted when it is over.
    w.label->setText("second");
    PumpFor(100);
    EXPECT_EQ(w.count.lastPaintedText, "first");
    ASSERT_TRUE(PumpUntil([&] { return w.count.lastPaintedText == "second"; }, 2000));
}

TEST(RepaintLimiter, NoWindowInstallsNothing)
{
    EXPECT_EQ(CRepaintLimiter::Install(nullptr), nullptr);
}
