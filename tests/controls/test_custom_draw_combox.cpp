// The owner-drawn combo box: the closed box's field, frame, arrow button and
// triangle; the same painting when disabled; the arrow opens the list; the
// platform's edit field, list and accessibility stay.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAccessible>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QTest>

#include "controls/CCustomDrawCombox.h"
#include "platform/draw/CDC.h"
#include "platform/draw/DrawRecorder.h"

namespace
{

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kFrame = RGB(200, 200, 200);
constexpr COLORREF kButton = RGB(21, 123, 237);

COLORREF At(const QImage& img, int x, int y)
{
    return FromQRgb(img.pixel(x, y));
}

// The combo box's own painting, without its edit field.
QImage OwnPainting(QWidget& w)
{
    QImage img(w.size(), QImage::Format_RGB32);
    img.fill(Qt::magenta);
    w.render(&img, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    return img;
}

TEST(Combox, FieldFrameArrowButtonAndTriangle)
{
    for (int H : {20, 21}) {
        CCustomDrawCombox c;
        c.resize(100, H);
        c.PreSubclassWindow();
        DrawRecorder rec;
        const QImage img = OwnPainting(c);
        const int W = 100;
        // Field and its frame
        EXPECT_EQ(At(img, 0, 0), kFrame) << H;
        EXPECT_EQ(At(img, 0, H - 1), kFrame) << H;
        EXPECT_EQ(At(img, 40, 0), kFrame) << H;
        EXPECT_EQ(At(img, 40, H - 1), kFrame) << H;
        EXPECT_EQ(At(img, 1, 1), kWhite) << H;
        EXPECT_EQ(At(img, W - 22, H - 2), kWhite) << H;
        // Arrow button: x from W - 20 to W, framed in grey
        EXPECT_EQ(At(img, W - 21, H / 2), kWhite) << H;
        EXPECT_EQ(At(img, W - 20, H / 2), kFrame) << H;
        EXPECT_EQ(At(img, W - 1, H / 2), kFrame) << H;
        EXPECT_EQ(At(img, W - 19, 1), kButton) << H;
        EXPECT_EQ(At(img, W - 2, H - 2), kButton) << H;
        // Triangle corners (W - 14, 8), (W - 6, 8), (W - 10, 13) for both heights
        EXPECT_EQ(At(img, W - 14, 8), kWhite) << H;
        EXPECT_EQ(At(img, W - 7, 8), kWhite) << H;
        EXPECT_EQ(At(img, W - 15, 8), kButton) << H;
        EXPECT_EQ(At(img, W - 6, 8), kButton) << H;
        EXPECT_EQ(At(img, W - 10, 7), kButton) << H;
        EXPECT_EQ(At(img, W - 10, 10), kWhite) << H;
        EXPECT_EQ(At(img, W - 10, 13), kButton) << H;
        const auto rgns = rec.Of("FillRgn");
        ASSERT_EQ(rgns.size(), 1u);
        EXPECT_EQ(rgns[0].args, (std::vector<int>{W - 14, 8, W - 6, 8, W - 10, 13})) << H;
        EXPECT_EQ(rgns[0].fillColor, kWhite);
        const auto rects = rec.Of("Rectangle");
        ASSERT_EQ(rects.size(), 2u);
        EXPECT_EQ(rects[0].args, (std::vector<int>{0, 0, W, H}));
        EXPECT_EQ(rects[1].args, (std::vector<int>{W - 20, 0, W, H}));
        // Composed off screen, copied once.
        const auto blits = rec.Of("BitBlt");
        ASSERT_EQ(blits.size(), 1u);
        EXPECT_EQ(blits[0].args, (std::vector<int>{0, 0, W, H, 0, 0, static_cast<int>(SRCCOPY)}));
    }
}

TEST(Combox, DisabledIsPaintedExactlyLikeEnabled)
{
    CCustomDrawCombox c;
    c.resize(120, 20);
    c.addItem("串口1");
    c.addItem("串口2");
    c.setCurrentIndex(0);
    const QImage enabled = OwnPainting(c);
    const QImage enabledAll = c.grab().toImage();
    c.setEnabled(false);
    EXPECT_EQ(OwnPainting(c), enabled);
    // With the edit field: the field stays white, the arrow button blue.
    const QImage disabledAll = c.grab().toImage();
    EXPECT_EQ(At(disabledAll, 110, 4), kButton);
    EXPECT_EQ(At(disabledAll, 90, 17), kWhite);
    EXPECT_EQ(At(disabledAll, 90, 17), At(enabledAll, 90, 17));
}

TEST(Combox, EditFieldSitsInTheWhiteFieldLeftOfTheArrow)
{
    CCustomDrawCombox c;
    c.resize(120, 22);
    c.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&c));
    ASSERT_NE(c.lineEdit(), nullptr);
    const QRect edit = c.lineEdit()->geometry();
    EXPECT_TRUE(QRect(1, 1, 120 - 20 - 2, 20).contains(edit)) << edit.x() << "," << edit.width();
    EXPECT_GT(edit.width(), 80);
}

TEST(Combox, ClickOnTheDrawnArrowOpensTheList)
{
    for (int x : {100, 110, 119}) {
        CCustomDrawCombox c;
        c.resize(120, 20);
        c.addItem("13");
        c.addItem("25");
        c.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&c));
        QTest::mouseClick(&c, Qt::LeftButton, {}, QPoint(x, 10));
        QElapsedTimer t;
        t.start();
        while (!c.view()->isVisible() && t.elapsed() < 1000)
            QTest::qWait(5);
        EXPECT_TRUE(c.view()->isVisible()) << x;
        c.hidePopup();
    }
    // Left of the arrow a press on the box itself does not open it.
    CCustomDrawCombox c;
    c.resize(120, 20);
    c.addItem("13");
    c.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&c));
    QTest::mouseClick(&c, Qt::LeftButton, {}, QPoint(98, 10));
    QTest::qWait(50);
    EXPECT_FALSE(c.view()->isVisible());
}

TEST(Combox, StaysAnEditableComboToAssistiveTechnology)
{
    CCustomDrawCombox c;
    EXPECT_TRUE(c.isEditable());
    c.addItem("二进制");
    c.addItem("格雷码");
    c.setCurrentIndex(1);
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&c);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::ComboBox);
    EXPECT_EQ(iface->text(QAccessible::Value), QString::fromUtf8("格雷码"));
    EXPECT_EQ(c.currentText(), QString::fromUtf8("格雷码"));
    // Typed text does not become a list entry.
    c.lineEdit()->setText("32");
    QTest::keyClick(c.lineEdit(), Qt::Key_Return);
    EXPECT_EQ(c.count(), 2);
    EXPECT_EQ(c.currentText(), QString("32"));
}

} // namespace
