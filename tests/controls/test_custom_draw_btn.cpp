// The owner-drawn button: body, caption, focus outline, disabled look, hover
// tracking by pointer polling, accessibility.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QElapsedTimer>
#include <QImage>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include "controls/CCustomDrawBtn.h"
#include "platform/draw/CDC.h"
#include "platform/draw/DrawRecorder.h"

namespace
{

constexpr COLORREF kWhite = RGB(255, 255, 255);

COLORREF At(const QImage& img, int x, int y)
{
    return FromQRgb(img.pixel(x, y));
}

// A button whose drawing can be asked for a state (focus) and whose timer
// calls are counted.
class TestBtn : public CCustomDrawBtn
{
public:
    using CCustomDrawBtn::CCustomDrawBtn;
    UINT forcedState = 0;
    int timerStarts = 0;
    int timerKills = 0;
    void DrawItem(LPDRAWITEMSTRUCT dis) override
    {
        dis->itemState |= forcedState;
        CCustomDrawBtn::DrawItem(dis);
    }
    std::uintptr_t SetTimer(std::uintptr_t id, UINT ms) override
    {
        ++timerStarts;
        EXPECT_EQ(id, static_cast<std::uintptr_t>(HOVER_TIMER_ID));
        EXPECT_EQ(ms, 10u);
        return CCustomDrawBtn::SetTimer(id, ms);
    }
    BOOL KillTimer(std::uintptr_t id) override
    {
        ++timerKills;
        EXPECT_EQ(id, static_cast<std::uintptr_t>(HOVER_TIMER_ID));
        return CCustomDrawBtn::KillTimer(id);
    }
    void Move(QPoint at)
    {
        QMouseEvent ev(QEvent::MouseMove, QPointF(at), QPointF(mapToGlobal(at)), Qt::NoButton, Qt::NoButton,
                       Qt::NoModifier);
        QCoreApplication::sendEvent(this, &ev);
    }
};

struct Btn : ::testing::Test {
    TestBtn b;
    QPoint pointer{-1000, -1000};
    void SetUp() override
    {
        CCustomDrawBtn::SetCursorPosSource([this] { return pointer; });
        b.resize(120, 40);
        b.PreSubclassWindow();
    }
    void TearDown() override { CCustomDrawBtn::SetCursorPosSource({}); }
    QImage Draw() { return b.grab().toImage(); }
    QPoint Inside() const { return b.mapToGlobal(QPoint(60, 20)); }
    QPoint Outside() const { return b.mapToGlobal(QPoint(120, 20)); } // right edge is outside
    // Waits up to `ms` for the condition, with the event loop running.
    template <class F> bool WaitFor(F cond, int ms = 500)
    {
        QElapsedTimer t;
        t.start();
        while (!cond() && t.elapsed() < ms)
            QTest::qWait(2);
        return cond();
    }
};

TEST_F(Btn, ConstructionValues)
{
    CCustomDrawBtn fresh;
    EXPECT_EQ(fresh.m_rcClient, (RECT{0, 0, 0, 0}));
    EXPECT_EQ(fresh.m_clrNormal, RGB(51, 126, 251));
    EXPECT_EQ(fresh.m_clrHover, RGB(17, 94, 188));
    EXPECT_EQ(fresh.m_clrText, RGB(255, 255, 255));
    EXPECT_EQ(fresh.m_clrBorder, RGB(51, 126, 251));
    EXPECT_EQ(fresh.m_clrCurrent, RGB(51, 126, 251));
    EXPECT_EQ(fresh.m_nFontHeight, 14);
    EXPECT_EQ(fresh.m_nRoundSize, 0);
    EXPECT_EQ(fresh.m_bHover, FALSE);
    EXPECT_TRUE(fresh.m_strText.empty());
}

TEST_F(Btn, SchemeBodyColoursNormalAndHover)
{
    struct Case {
        const ButtonScheme& scheme;
        COLORREF normal, hover, border;
    } const cases[] = {
        {BLUE_BUTTON_SCHEME, RGB(101, 160, 251), RGB(17, 94, 188), RGB(51, 126, 251)},
        {RED_BUTTON_SCHEME, RGB(255, 134, 134), RGB(255, 93, 93), RGB(255, 93, 93)},
    };
    b.setText("开始");
    for (const Case& c : cases) {
        b.ApplyScheme(c.scheme);
        EXPECT_EQ(b.m_nFontHeight, 15);
        EXPECT_EQ(b.m_nRoundSize, 20);
        EXPECT_EQ(b.m_clrCurrent, c.normal);
        QImage img = Draw();
        EXPECT_EQ(At(img, 8, 20), c.normal);
        EXPECT_EQ(At(img, 60, 0), c.border);
        EXPECT_EQ(At(img, 0, 20), c.border);
        EXPECT_EQ(At(img, 119, 20), c.border);
        pointer = Inside();
        b.Move(QPoint(60, 20));
        img = Draw();
        EXPECT_EQ(At(img, 8, 20), c.hover);
        EXPECT_EQ(At(img, 60, 39), c.border);
        pointer = Outside();
        ASSERT_TRUE(WaitFor([&] { return !b.m_bHover; }));
    }
}

TEST_F(Btn, DisabledLookWhateverTheHoverState)
{
    b.ApplyScheme(RED_BUTTON_SCHEME);
    b.setText("退出");
    b.setEnabled(false);
    for (bool hover : {false, true}) {
        b.m_clrCurrent = hover ? b.m_clrHover : b.m_clrNormal;
        b.m_bHover = hover;
        DrawRecorder rec;
        const QImage img = Draw();
        EXPECT_EQ(At(img, 8, 20), RGB(245, 245, 245)) << hover;
        EXPECT_EQ(At(img, 60, 0), RGB(153, 153, 153)) << hover;
        const auto texts = rec.Of("DrawText");
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(texts[0].textColor, RGB(153, 153, 153));
    }
    b.m_bHover = FALSE;
}

TEST_F(Btn, FocusOutlineIsDottedInTheHoverColourFourPixelsIn)
{
    b.ApplyScheme(BLUE_BUTTON_SCHEME);
    b.m_nRoundSize = 0;
    b.forcedState = ODS_FOCUS;
    const QImage img = Draw();
    const COLORREF hover = b.m_clrHover, body = b.m_clrNormal;
    int on = 0, off = 0;
    for (int x = 4; x <= 115; ++x) {
        const COLORREF c = At(img, x, 4);
        on += c == hover;
        off += c == body;
        EXPECT_TRUE(c == hover || c == body) << x;
        EXPECT_NE(At(img, x, 3), hover) << x;
        if (x > 4 && x < 115) {
            EXPECT_NE(At(img, x, 5), hover) << x;
        }
    }
    EXPECT_GT(on, 20);
    EXPECT_GT(off, 20);
    int sides = 0;
    for (int y = 4; y <= 35; ++y)
        sides += (At(img, 4, y) == hover) + (At(img, 115, y) == hover);
    EXPECT_GT(sides, 10);
    int bottom = 0;
    for (int x = 4; x <= 115; ++x)
        bottom += At(img, x, 35) == hover;
    EXPECT_GT(bottom, 20);
    for (int y = 0; y < 40; ++y)
        EXPECT_NE(At(img, 3, y), hover) << y;

    b.forcedState = 0;
    const QImage plain = Draw();
    for (int x = 4; x <= 115; ++x)
        ASSERT_EQ(At(plain, x, 4), body) << x;
}

TEST_F(Btn, RealKeyboardFocusShowsTheOutline)
{
    QWidget window;
    window.resize(200, 100);
    b.setParent(&window);
    b.move(10, 10);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    b.setFocus();
    ASSERT_TRUE(WaitFor([&] { return b.hasFocus(); }));
    const QImage img = Draw();
    int on = 0;
    for (int x = 4; x <= 115; ++x)
        on += At(img, x, 4) == b.m_clrHover;
    EXPECT_GT(on, 20);
    b.setParent(nullptr);
}

TEST_F(Btn, SquareAndRoundedCorners)
{
    b.ApplyScheme(BLUE_BUTTON_SCHEME);
    b.m_nRoundSize = 0;
    QImage img = Draw();
    for (QPoint p : {QPoint(0, 0), QPoint(119, 0), QPoint(0, 39), QPoint(119, 39)})
        EXPECT_EQ(At(img, p.x(), p.y()), b.m_clrBorder) << p.x() << "," << p.y();
    EXPECT_EQ(At(img, 1, 1), b.m_clrNormal);

    b.m_nRoundSize = 20;
    b.update();
    img = Draw();
    for (QPoint p : {QPoint(0, 0), QPoint(119, 0), QPoint(0, 39), QPoint(119, 39), QPoint(2, 2)}) {
        const COLORREF c = At(img, p.x(), p.y());
        EXPECT_NE(c, b.m_clrBorder) << p.x() << "," << p.y();
        EXPECT_NE(c, b.m_clrNormal) << p.x() << "," << p.y();
    }
    EXPECT_EQ(At(img, 60, 0), b.m_clrBorder);
    EXPECT_EQ(At(img, 0, 20), b.m_clrBorder);
    EXPECT_EQ(At(img, 4, 4), b.m_clrNormal);
}

TEST_F(Btn, CaptionTopByTheTruncatingFormula)
{
    b.ApplyScheme(BLUE_BUTTON_SCHEME); // caption cell height 15
    b.setText("打开串口");
    struct Case {
        int height, top;
    } const cases[] = {{40, 12}, {10, -2}, {15, 0}, {16, 0}, {17, 1}};
    for (const Case& c : cases) {
        b.resize(120, c.height);
        DrawRecorder rec;
        Draw();
        const auto texts = rec.Of("DrawText");
        ASSERT_EQ(texts.size(), 1u) << c.height;
        EXPECT_EQ(texts[0].args, (std::vector<int>{0, c.top, 120, c.height, 0x000B})) << c.height;
        EXPECT_EQ(texts[0].text, "打开串口");
        EXPECT_EQ(texts[0].fontFace, "宋体");
        EXPECT_EQ(texts[0].fontHeight, 15);
        EXPECT_EQ(texts[0].fontWeight, 700);
        EXPECT_EQ(texts[0].fontCharSet, DEFAULT_CHARSET);
        EXPECT_EQ(texts[0].bkMode, TRANSPARENT);
        const auto bodies = rec.Of("RoundRect");
        ASSERT_EQ(bodies.size(), 1u);
        EXPECT_EQ(bodies[0].args, (std::vector<int>{0, 0, 120, c.height, 20, 20}));
        EXPECT_EQ(bodies[0].penWidth, 1);
    }
    EXPECT_EQ(b.m_strText, "打开串口");
    EXPECT_EQ(b.m_rcClient, (RECT{0, 0, 120, 17}));
}

TEST_F(Btn, CaptionIsCentredAndDrawnInTheTextColour)
{
    b.ApplyScheme(BLUE_BUTTON_SCHEME);
    b.setText("打开串口");
    const QImage img = Draw();
    QRect ink;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 120; ++x)
            if (At(img, x, y) == kWhite)
                ink |= QRect(x, y, 1, 1);
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_NEAR(ink.center().x(), 60, 3);
    EXPECT_GE(ink.top(), 12);
    EXPECT_LE(ink.bottom(), 12 + 15);
}

TEST_F(Btn, EmptyCaptionDrawsOnlyTheBody)
{
    b.ApplyScheme(BLUE_BUTTON_SCHEME);
    b.m_nRoundSize = 0;
    b.setText("");
    const QImage img = Draw();
    for (int y = 1; y < 39; ++y)
        for (int x = 1; x < 119; ++x)
            ASSERT_EQ(At(img, x, y), b.m_clrNormal) << x << "," << y;
}

TEST_F(Btn, WideCaptionStaysCentredAndIsCutAtBothSides)
{
    b.ApplyScheme(BLUE_BUTTON_SCHEME);
    b.m_nRoundSize = 0;
    b.resize(40, 30);
    b.setText("宽宽宽宽宽宽宽宽");
    DrawRecorder rec;
    const QImage img = Draw();
    auto inked = [&](int x) {
        int n = 0;
        for (int y = 1; y < 29; ++y)
            n += At(img, x, y) != b.m_clrNormal;
        return n;
    };
    EXPECT_GT(inked(1) + inked(2) + inked(3), 0);
    EXPECT_GT(inked(36) + inked(37) + inked(38), 0);
    ASSERT_EQ(rec.Of("DrawText").size(), 1u);
    EXPECT_EQ(rec.Of("DrawText")[0].args[0], 0);
    EXPECT_EQ(rec.Of("DrawText")[0].args[2], 40);
}

TEST_F(Btn, CaptionChangeShowsAtTheNextDrawing)
{
    b.ApplyScheme(BLUE_BUTTON_SCHEME);
    b.setText("开始");
    const QImage before = Draw();
    b.setText("停止采集");
    DrawRecorder rec;
    const QImage after = Draw();
    ASSERT_EQ(rec.Of("DrawText").size(), 1u);
    EXPECT_EQ(rec.Of("DrawText")[0].text, "停止采集");
    EXPECT_EQ(b.m_strText, "停止采集");
    EXPECT_NE(before, after);
}

TEST_F(Btn, PressingDoesNotChangeTheLookAndClicksStillNotify)
{
    b.ApplyScheme(BLUE_BUTTON_SCHEME);
    b.setText("开始");
    b.setFocusPolicy(Qt::NoFocus);
    QSignalSpy clicked(&b, &QPushButton::clicked);
    const QImage up = Draw();
    QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(60, 20));
    ASSERT_TRUE(b.isDown());
    const QImage down = Draw();
    EXPECT_EQ(up, down);
    QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(60, 20));
    EXPECT_EQ(clicked.count(), 1);
}

TEST_F(Btn, HoverEntersAtOnceWithOneTimerAndLeavesAtTheNextTick)
{
    b.ApplyScheme(BLUE_BUTTON_SCHEME);
    pointer = Inside();
    b.Move(QPoint(60, 20));
    EXPECT_EQ(b.m_bHover, TRUE);
    EXPECT_EQ(b.m_clrCurrent, b.m_clrHover);
    EXPECT_EQ(At(Draw(), 8, 20), b.m_clrHover);
    b.Move(QPoint(61, 21));
    b.Move(QPoint(10, 5));
    EXPECT_EQ(b.timerStarts, 1);
    // Ticks with the pointer inside change nothing, the left and top edges included.
    pointer = b.mapToGlobal(QPoint(0, 0));
    QTest::qWait(40);
    EXPECT_EQ(b.m_bHover, TRUE);
    EXPECT_EQ(b.timerKills, 0);
    pointer = b.mapToGlobal(QPoint(60, 40)); // bottom edge is outside
    ASSERT_TRUE(WaitFor([&] { return !b.m_bHover; }));
    EXPECT_EQ(b.m_clrCurrent, b.m_clrNormal);
    EXPECT_EQ(b.timerKills, 1);
    EXPECT_EQ(At(Draw(), 8, 20), b.m_clrNormal);
    // The timer is gone: no further ticks.
    QTest::qWait(30);
    EXPECT_EQ(b.timerKills, 1);
    // Entering again starts a new timer.
    pointer = Inside();
    b.Move(QPoint(60, 20));
    EXPECT_EQ(b.timerStarts, 2);
    pointer = Outside();
    ASSERT_TRUE(WaitFor([&] { return !b.m_bHover; }));
}

TEST_F(Btn, HoverRevertsWhileTheMouseButtonIsHeld)
{
    b.ApplyScheme(BLUE_BUTTON_SCHEME);
    pointer = Inside();
    b.Move(QPoint(60, 20));
    QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(60, 20));
    ASSERT_TRUE(b.isDown());
    pointer = b.mapToGlobal(QPoint(300, 300)); // dragged off
    ASSERT_TRUE(WaitFor([&] { return !b.m_bHover; }));
    EXPECT_EQ(b.m_clrCurrent, b.m_clrNormal);
    QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(300, 300));
}

TEST_F(Btn, BeforeTakeOverItIsAnOrdinaryButton)
{
    TestBtn plain;
    plain.resize(120, 40);
    plain.setText("开始");
    DrawRecorder rec;
    plain.grab();
    EXPECT_TRUE(rec.calls.empty());
}

TEST_F(Btn, AssistiveTechnologySeesAPushButtonNamedByItsCaption)
{
    b.setText("打开串口");
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&b);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::Button);
    EXPECT_EQ(iface->text(QAccessible::Name), QString::fromUtf8("打开串口"));
    ASSERT_NE(iface->actionInterface(), nullptr);
    EXPECT_TRUE(iface->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
    b.setText("关闭串口");
    EXPECT_EQ(iface->text(QAccessible::Name), QString::fromUtf8("关闭串口"));
}

} // namespace
