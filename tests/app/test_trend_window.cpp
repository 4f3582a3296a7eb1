// The trend window as the operator reaches it from the main dialog: the
// context menu, Ctrl+T, one window only; the frames it takes from the
// dialog's decoding, the line counters, pause, and the saved files.
#include "TelvarFixture.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAction>
#include <QApplication>
#include <QChartView>
#include <QContextMenuEvent>
#include <QImage>
#include <QLineSeries>
#include <QMenu>
#include <QTimer>

#include <chrono>
#include <cmath>

#include "app/trend/CTrendWindow.h"

namespace {

class TrendWindowTest : public TelvarFixture {
protected:
    QWidget* Dialog() const { return dlg->GetSafeHwnd(); }

    int TrendWindows() const { return static_cast<int>(Dialog()->findChildren<CTrendWindow*>().size()); }

    // Asks for the context menu of a widget as the mouse or the menu key
    // does, and picks `item` in it; returns the texts the menu offered.
    QStringList ChooseFromContextMenu(QWidget* target, const QString& item)
    {
        QStringList offered;
        QTimer::singleShot(50, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu)
                return;
            QAction* chosen = nullptr;
            for (QAction* a : menu->actions()) {
                offered << a->text();
                if (a->text() == item)
                    chosen = a;
            }
            menu->close();
            if (chosen)
                chosen->trigger();
        });
        QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(5, 5), target->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(target, &event);
        PumpFor(100);
        return offered;
    }

    // Frames from the box while a run goes on; one more at the front brings
    // the collector into step.
    void RunWithFrames(const std::vector<Bytes>& frames)
    {
        OpenPortOnPty();
        StartAndSettle();
        SendFrames(frames);
    }
};

TEST_F(TrendWindowTest, ContextMenuOfEitherGaugeAndTheBackgroundOpensIt)
{
    for (QWidget* target : {static_cast<QWidget*>(&dlg->Meter1()), static_cast<QWidget*>(&dlg->Meter2()), Dialog()}) {
        delete dlg->TrendWindow();
        ASSERT_EQ(dlg->TrendWindow(), nullptr);
        const QStringList offered = ChooseFromContextMenu(target, QStringLiteral("趋势图…"));
        EXPECT_EQ(offered, QStringList{QStringLiteral("趋势图…")});
        ASSERT_NE(dlg->TrendWindow(), nullptr);
        EXPECT_TRUE(dlg->TrendWindow()->isVisible());
        EXPECT_EQ(dlg->TrendWindow()->windowTitle(), QStringLiteral("趋势图"));
    }
    // A button has no menu of its own: the menu key there reaches the dialog's.
    delete dlg->TrendWindow();
    EXPECT_EQ(ChooseFromContextMenu(W(IDC_EXIT), QStringLiteral("趋势图…")), QStringList{QStringLiteral("趋势图…")});
    EXPECT_NE(dlg->TrendWindow(), nullptr);
}

TEST_F(TrendWindowTest, ShortcutOpensItAndAskingAgainRaisesTheSameWindow)
{
    Dialog()->show();
    Dialog()->activateWindow();
    QApplication::setActiveWindow(Dialog());
    ASSERT_TRUE(PumpUntil([&] { return QApplication::activeWindow() == Dialog(); }));
    QTest::keyClick(W(IDC_EXIT), Qt::Key_T, Qt::ControlModifier);
    PumpFor(50);
    CTrendWindow* first = dlg->TrendWindow();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_FALSE(first->isModal());
    EXPECT_TRUE(first->isWindow());

    // Closed, then asked for again by the shortcut and by the menu: still one.
    first->close();
    EXPECT_FALSE(first->isVisible());
    Dialog()->activateWindow();
    QApplication::setActiveWindow(Dialog());
    QTest::keyClick(Dialog(), Qt::Key_T, Qt::ControlModifier);
    PumpFor(50);
    EXPECT_EQ(dlg->TrendWindow(), first);
    EXPECT_TRUE(first->isVisible());
    ChooseFromContextMenu(&dlg->Meter1(), QStringLiteral("趋势图…"));
    dlg->OpenTrendWindow();
    EXPECT_EQ(dlg->TrendWindow(), first);
    EXPECT_EQ(TrendWindows(), 1);
}

TEST_F(TrendWindowTest, MenuAndShortcutAreOfferedToAssistiveTechnology)
{
    for (QWidget* w : {Dialog(), static_cast<QWidget*>(&dlg->Meter1()), static_cast<QWidget*>(&dlg->Meter2())}) {
        ASSERT_EQ(w->contextMenuPolicy(), Qt::ActionsContextMenu);
        ASSERT_EQ(w->actions().size(), 1);
        EXPECT_EQ(w->actions()[0]->text(), QStringLiteral("趋势图…"));
        EXPECT_EQ(w->actions()[0]->shortcut(), QKeySequence(QStringLiteral("Ctrl+T")));
    }
    // A screen reader reaches the item as an action of the gauges and the
    // dialog, with its shortcut, and running it opens the window.
    const QString action = QStringLiteral("趋势图…");
    for (QWidget* w : {static_cast<QWidget*>(&dlg->Meter1()), static_cast<QWidget*>(&dlg->Meter2()), Dialog()}) {
        delete dlg->TrendWindow();
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
        ASSERT_NE(iface, nullptr);
        QAccessibleActionInterface* actions = iface->actionInterface();
        ASSERT_NE(actions, nullptr);
        ASSERT_TRUE(actions->actionNames().contains(action)) << actions->actionNames().join(',').toStdString();
        EXPECT_EQ(actions->keyBindingsForAction(action), QStringList{QKeySequence(Qt::CTRL | Qt::Key_T).toString(QKeySequence::NativeText)});
        actions->doAction(action);
        ASSERT_NE(dlg->TrendWindow(), nullptr);
        EXPECT_TRUE(dlg->TrendWindow()->isVisible());
    }
    // The dialog keeps its role; the gauges stay what they were.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(Dialog())->role(), QAccessible::Dialog);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&dlg->Meter1())->role(), QAccessible::Client);
}

TEST_F(TrendWindowTest, TakesEveryAcceptedFrameWithTheDecodedAngles)
{
    dlg->OpenTrendWindow();
    CTrendWindow& trend = *dlg->TrendWindow();
    std::vector<Bytes> frames;
    for (DWORD i = 0; i <= 200; ++i)
        frames.push_back(Frame(i * 100000, 0x03FFFFFF - i * 50000));
    RunWithFrames(frames);
    ASSERT_TRUE(PumpUntil([&] { return trend.Store().End() >= 200; }));
    PumpFor(50);
    const CTrendStore& store = trend.Store();
    ASSERT_EQ(store.End(), 200u); // the first frame only synchronises
    for (std::uint64_t i = 0; i < store.End(); ++i) {
        const DWORD n = static_cast<DWORD>(i + 1);
        ASSERT_NEAR(store.Value(TREND_REL1, i), (n * 100000) / 67108863.0 * 360.0, 1e-9);
        ASSERT_NEAR(store.Value(TREND_REL2, i), (0x03FFFFFF - n * 50000) / 67108863.0 * 360.0, 1e-9);
        ASSERT_EQ(store.Value(TREND_TOTAL1, i), store.Value(TREND_REL1, i));
        if (i > 0) {
            ASSERT_GE(store.Time(i), store.Time(i - 1));
        }
    }
    // The last frame is the one the dialog shows.
    EXPECT_EQ(store.Value(TREND_REL1, store.End() - 1), dlg->State().m_dRelAngle1);
    EXPECT_EQ(trend.LineAccepted(), 200u);
    EXPECT_EQ(trend.LineRefused(), 0u);

    trend.Refresh();
    const TrendStatistics st = trend.Statistics(0);
    EXPECT_EQ(st.frames, 200u);
    EXPECT_NEAR(st.min, 1 * 100000 / 67108863.0 * 360.0, 1e-9);
    EXPECT_NEAR(st.max, 200 * 100000 / 67108863.0 * 360.0, 1e-9);
    StopAndSettle();
}

TEST_F(TrendWindowTest, LineFaultsAreCountedSinceTheRunBegan)
{
    dlg->OpenTrendWindow();
    CTrendWindow& trend = *dlg->TrendWindow();
    const Bytes good = Frame(0x01020304, 0x00102030);
    Bytes noisy = good;
    noisy.insert(noisy.begin() + 4, 0x55);
    RunWithFrames({good, good, noisy, good, good, good, good, good});
    ASSERT_TRUE(PumpUntil([&] { return trend.LineAccepted() >= 4; }));
    PumpFor(50);
    // The first frame synchronises, which is no resynchronisation; the
    // noise byte costs two refusals, two resynchronisations and the frames
    // around it.
    EXPECT_EQ(trend.LineAccepted(), 4u);
    EXPECT_EQ(trend.LineRefused(), 2u);
    EXPECT_EQ(trend.LineResyncs(), 2u);
    EXPECT_EQ(trend.Store().End(), 4u);
    StopAndSettle();

    // A new run starts the counts and the data again.
    StartAndSettle();
    SendFrames({good, good, good});
    ASSERT_TRUE(PumpUntil([&] { return trend.Store().End() == 3; }));
    EXPECT_EQ(trend.LineAccepted(), 3u);
    EXPECT_EQ(trend.LineRefused(), 0u);
    EXPECT_EQ(trend.LineResyncs(), 0u);
    StopAndSettle();
}

TEST_F(TrendWindowTest, PauseFreezesTheViewWhileFramesKeepArriving)
{
    dlg->OpenTrendWindow();
    CTrendWindow& trend = *dlg->TrendWindow();
    trend.SetSpan(CTrendWindow::SPAN_10S);
    OpenPortOnPty();
    StartAndSettle();
    SendFrames({Frame(1, 1), Frame(2, 2), Frame(3, 3)});
    ASSERT_TRUE(PumpUntil([&] { return trend.Store().End() == 2; }));
    trend.Refresh();
    trend.SetPaused(true);
    const double frozenEnd = trend.ViewEnd();
    const std::uint64_t frozenFrames = trend.Statistics(0).frames;
    PumpFor(30);
    SendFrames({Frame(4, 4), Frame(5, 5)});
    ASSERT_TRUE(PumpUntil([&] { return trend.Store().End() == 4; }));
    PumpFor(100);
    trend.Refresh();
    EXPECT_EQ(trend.ViewEnd(), frozenEnd);
    EXPECT_EQ(trend.Statistics(0).frames, frozenFrames);
    trend.SetPaused(false);
    EXPECT_EQ(trend.Statistics(0).frames, 4u);
    StopAndSettle();
}

// The value axis spans the data shown and keeps still while the data stays
// inside it, so that it is not laid out anew with every picture.
TEST_F(TrendWindowTest, TheValueAxisFitsTheDataAndKeepsStillWhileItStaysInside)
{
    MeasureState state;
    CTrendWindow trend(state, nullptr);
    trend.SetSpan(CTrendWindow::SPAN_10S);
    trend.show();
    PumpFor(50);
    const auto origin = std::chrono::steady_clock::now();
    int fed = 0;
    auto feed = [&](int count, auto value) {
        for (int n = 0; n < count; ++n, ++fed) {
            ++state.m_nAcceptedFrames;
            state.m_dRelAngle1 = value(fed);
            state.m_dRelAngle2 = 200.0;
            trend.AddFrame(state, origin + std::chrono::milliseconds(fed));
        }
        trend.Refresh();
    };
    // Channel 1 between 100 and 200 for the whole 10 s span.
    feed(10000, [](int i) { return 100.0 + (i % 101); });
    const auto range = trend.ValueAxisRange(0);
    EXPECT_LE(range.first, 100.0);
    EXPECT_GE(range.second, 200.0);
    EXPECT_LE(range.second - range.first, 150.0);
    // Slightly narrower data, until the view holds only that: the axis
    // stays as it was while the view moves on.
    for (int k = 0; k < 5; ++k) {
        feed(2500, [](int i) { return 100.2 + (i % 100) * (99.6 / 99); });
        EXPECT_EQ(trend.ValueAxisRange(0), range) << k;
    }
    // A value beyond it: the axis takes it in.
    feed(1, [](int) { return 260.0; });
    EXPECT_GE(trend.ValueAxisRange(0).second, 260.0);
    // A flat channel still has a range around its value.
    const auto flat = trend.ValueAxisRange(1);
    EXPECT_LT(flat.first, 200.0);
    EXPECT_GT(flat.second, 200.0);
}

TEST_F(TrendWindowTest, PlotsAndDataAreSavedAndReadBack)
{
    dlg->OpenTrendWindow();
    CTrendWindow& trend = *dlg->TrendWindow();
    std::vector<Bytes> frames;
    for (DWORD i = 0; i < 50; ++i)
        frames.push_back(Frame(i * 1000000, i * 2000000));
    RunWithFrames(frames);
    ASSERT_TRUE(PumpUntil([&] { return trend.Store().End() == 49; }));
    StopAndSettle();
    trend.SetTotalAngle(true);

    const std::string png = Home() + "/趋势.png";
    const std::string csv = Home() + "/趋势.csv";
    presenter.saves = {png, csv};
    for (QPushButton* b : trend.findChildren<QPushButton*>())
        if (b->accessibleName() == QStringLiteral("保存图像…") || b->accessibleName() == QStringLiteral("保存数据…"))
            b->click();
    ASSERT_EQ(presenter.saveRequests.size(), 2u);
    EXPECT_EQ(presenter.saveRequests[0].filter, "PNG 图像 (*.png)|*.png|");
    EXPECT_EQ(presenter.saveRequests[1].filter, "CSV 文件 (*.csv)|*.csv|");
    EXPECT_FALSE(Shown("保存图像失败！"));
    EXPECT_FALSE(Shown("保存数据失败！"));

    QImage image(QString::fromStdString(png));
    ASSERT_FALSE(image.isNull());
    EXPECT_GE(image.width(), 200);
    EXPECT_GE(image.height(), 200);

    const std::string text = ReadFileBytes(csv);
    ASSERT_GE(text.size(), 3u);
    EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
    std::istringstream in(text.substr(3));
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "时间(s),通道1总角度(°),通道2总角度(°)");
    std::uint64_t i = 0;
    while (std::getline(in, line)) {
        double t = 0, a = 0, b = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%lf,%lf,%lf", &t, &a, &b), 3) << line;
        ASSERT_LT(i, trend.Store().End());
        EXPECT_NEAR(t, trend.Store().Time(i), 1e-6);
        EXPECT_NEAR(a, trend.Store().Value(TREND_TOTAL1, i), 1e-4);
        EXPECT_NEAR(b, trend.Store().Value(TREND_TOTAL2, i), 1e-4);
        ++i;
    }
    EXPECT_EQ(i, 49u);
}

TEST_F(TrendWindowTest, AFailedSaveIsReported)
{
    dlg->OpenTrendWindow();
    CTrendWindow& trend = *dlg->TrendWindow();
    presenter.saves = {Home() + "/no-such-folder/a.png", Home() + "/no-such-folder/a.csv"};
    for (QPushButton* b : trend.findChildren<QPushButton*>())
        if (b->accessibleName() == QStringLiteral("保存图像…") || b->accessibleName() == QStringLiteral("保存数据…"))
            b->click();
    EXPECT_TRUE(Shown("保存图像失败！"));
    EXPECT_TRUE(Shown("保存数据失败！"));
}

// Closed, the window takes nothing from the dialog, which works as before.
TEST_F(TrendWindowTest, NeverOpenedMeansNoWindowAndNoStore)
{
    OpenPortOnPty();
    StartAndSettle();
    SendFrames({Frame(1, 1), Frame(2, 2)});
    ASSERT_TRUE(PumpUntil([&] { return Text(IDC_CODE1) == "2"; }));
    EXPECT_EQ(dlg->TrendWindow(), nullptr);
    EXPECT_EQ(TrendWindows(), 0);
    StopAndSettle();
}

} // namespace
