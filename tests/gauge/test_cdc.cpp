// The drawing context: box and line conventions, pens, brushes, fonts, text
// placement, window origin, transfers and the call record.
#include <gtest/gtest.h>

#include <QFontInfo>

#include "Canvas.h"
#include "platform/draw/DrawRecorder.h"

namespace
{

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);

TEST(CDC, RectangleOutlineLiesInsideItsBox)
{
    Canvas c(12, 12);
    CBrush red(kRed);
    CBrush* old = c.dc.SelectObject(&red);
    c.dc.Rectangle(2, 3, 8, 9);
    c.dc.SelectObject(old);
    EXPECT_EQ(c.Ink(), QRect(QPoint(2, 3), QPoint(7, 8)));
    EXPECT_EQ(c.At(2, 3), kBlack);
    EXPECT_EQ(c.At(7, 8), kBlack);
    EXPECT_EQ(c.At(3, 4), kRed);
    EXPECT_EQ(c.At(6, 7), kRed);
}

TEST(CDC, NullPenRectangleFillsOnePixelLess)
{
    Canvas c(12, 12);
    CBrush red(kRed);
    c.dc.SelectObject(&red);
    c.dc.SelectStockObject(NULL_PEN);
    c.dc.Rectangle(2, 3, 8, 9);
    EXPECT_EQ(c.Ink(), QRect(QPoint(2, 3), QPoint(6, 7)));
    EXPECT_EQ(c.At(2, 3), kRed);
}

TEST(CDC, EllipseStaysInsideItsBoxAndTouchesEachSide)
{
    Canvas c(30, 30);
    CBrush red(kRed);
    c.dc.SelectObject(&red);
    c.dc.Ellipse(3, 5, 24, 20);
    EXPECT_EQ(c.Ink(), QRect(QPoint(3, 5), QPoint(23, 19)));
    EXPECT_EQ(c.At(13, 12), kRed);
    EXPECT_EQ(c.At(3, 5), kWhite); // corner of the box is outside the ellipse
}

TEST(CDC, LineLeavesOutItsLastPixel)
{
    Canvas c(12, 12);
    for (int width : {0, 1}) {
        CPen pen(PS_SOLID, width, kBlack);
        CPen* old = c.dc.SelectObject(&pen);
        c.dc.MoveTo(1, 1 + width * 5);
        c.dc.LineTo(7, 1 + width * 5);
        c.dc.SelectObject(old);
        EXPECT_EQ(c.At(1, 1 + width * 5), kBlack) << width;
        EXPECT_EQ(c.At(6, 1 + width * 5), kBlack) << width;
        EXPECT_EQ(c.At(7, 1 + width * 5), kWhite) << width;
        EXPECT_EQ(c.At(4, 2 + width * 5), kWhite) << "one pixel wide, width " << width;
    }
    EXPECT_EQ(c.dc.GetCurrentPosition(), (POINT{7, 6}));
}

TEST(CDC, WidePenIsWiderThanOnePixel)
{
    Canvas c(20, 20);
    CPen pen(PS_SOLID, 2, kBlack);
    c.dc.SelectObject(&pen);
    c.dc.MoveTo(10, 2);
    c.dc.LineTo(10, 15);
    int dark = 0;
    for (int x = 7; x <= 13; ++x)
        dark += c.At(x, 8) == kBlack;
    EXPECT_EQ(dark, 2);
}

TEST(CDC, DottedPenLeavesGapsTransparentOrInBackgroundColour)
{
    for (int mode : {TRANSPARENT, OPAQUE}) {
        Canvas c(40, 5);
        CPen pen(PS_DOT, 0, kBlue);
        c.dc.SelectObject(&pen);
        c.dc.SetBkMode(mode);
        c.dc.SetBkColor(kRed);
        c.dc.MoveTo(0, 2);
        c.dc.LineTo(36, 2);
        int on = 0, gap = 0, other = 0;
        for (int x = 0; x < 36; ++x) {
            const COLORREF px = c.At(x, 2);
            if (px == kBlue)
                ++on;
            else if (px == (mode == OPAQUE ? kRed : kWhite))
                ++gap;
            else
                ++other;
        }
        EXPECT_GT(on, 10) << mode;
        EXPECT_GT(gap, 10) << mode;
        EXPECT_EQ(other, 0) << mode;
        EXPECT_EQ(c.At(0, 2), kBlue);
    }
}

TEST(CDC, HollowBrushKeepsTheInside)
{
    Canvas c(12, 12, kRed);
    c.dc.SelectStockObject(NULL_BRUSH);
    c.dc.Rectangle(1, 1, 10, 10);
    EXPECT_EQ(c.At(1, 1), kBlack);
    EXPECT_EQ(c.At(5, 5), kRed);
}

TEST(CDC, SelectObjectReturnsThePreviousObject)
{
    Canvas c(4, 4);
    CPen p1(PS_SOLID, 1, kRed), p2(PS_SOLID, 1, kBlue);
    CPen* stock = c.dc.SelectObject(&p1);
    EXPECT_EQ(stock, StockPen(BLACK_PEN));
    EXPECT_EQ(c.dc.SelectObject(&p2), &p1);
    EXPECT_EQ(c.dc.SelectObject(stock), &p2);
    CBrush b(kRed);
    EXPECT_EQ(c.dc.SelectObject(&b), StockBrush(WHITE_BRUSH));
    EXPECT_EQ(static_cast<CGdiObject*>(c.dc.SelectStockObject(NULL_BRUSH)), &b);
    CBitmap other;
    other.CreateCompatibleBitmap(&c.dc, 2, 2);
    EXPECT_EQ(c.dc.SelectObject(&other), &c.bmp);
    EXPECT_EQ(c.dc.SelectObject(&c.bmp), &other);
    // An uncreated object is refused and changes nothing.
    CPen none;
    EXPECT_EQ(c.dc.SelectObject(&none), nullptr);
    EXPECT_EQ(c.dc.GetCurrentPen(), stock);
}

TEST(CDC, StateSettersReturnThePreviousValue)
{
    Canvas c(4, 4);
    EXPECT_EQ(c.dc.SetBkMode(TRANSPARENT), OPAQUE);
    EXPECT_EQ(c.dc.SetBkMode(OPAQUE), TRANSPARENT);
    EXPECT_EQ(c.dc.SetTextColor(kRed), kBlack);
    EXPECT_EQ(c.dc.SetBkColor(kBlue), kWhite);
    EXPECT_EQ(c.dc.SetPolyFillMode(WINDING), ALTERNATE);
    EXPECT_EQ(c.dc.SetWindowOrg(3, 4), (POINT{0, 0}));
    EXPECT_EQ(c.dc.SetWindowOrg(0, 0), (POINT{3, 4}));
}

TEST(CDC, FontHeightPositiveIsCellNegativeIsCharacter)
{
    Canvas c(4, 4);
    struct Case {
        const char* face;
        int height;
    } cases[] = {{"宋体", 15}, {"宋体", 10}, {"隶书", 33}, {"Arail", 15}, {"Arial", 22}};
    for (const Case& k : cases) {
        CFont cell, character;
        cell.CreateFont(k.height, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, k.face);
        character.CreateFont(-k.height, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, k.face);
        CFont* old = c.dc.SelectObject(&cell);
        const CSize a = c.dc.GetTextExtent("Ag角");
        c.dc.SelectObject(&character);
        const CSize b = c.dc.GetTextExtent("Ag角");
        c.dc.SelectObject(old);
        EXPECT_EQ(a.cy, k.height) << k.face;
        EXPECT_GT(b.cy, k.height) << k.face; // the cell adds the internal leading
        EXPECT_GE(b.cx, a.cx) << k.face;
    }
}

TEST(CDC, PointFontIsACharacterHeightAtScreenResolution)
{
    CFont f;
    ASSERT_TRUE(f.CreatePointFont(90, "MS Shell Dlg"));
    LOGFONT lf;
    ASSERT_GT(f.GetLogFont(&lf), 0);
    EXPECT_EQ(lf.lfHeight, -12);
    EXPECT_STREQ(lf.lfFaceName, "MS Shell Dlg");
}

TEST(CDC, WeightAndWidthReachTheFont)
{
    Canvas c(4, 4);
    CFont normal, bold, narrow;
    normal.CreateFont(20, 0, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, 0, 0, "DejaVu Sans");
    bold.CreateFont(20, 0, 0, 0, FW_BOLD, 0, 0, 0, 0, 0, 0, 0, 0, "DejaVu Sans");
    narrow.CreateFont(20, 4, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, 0, 0, "DejaVu Sans");
    c.dc.SelectObject(&normal);
    const int wn = c.dc.GetTextExtent("abcdefgh").cx;
    c.dc.SelectObject(&bold);
    const int wb = c.dc.GetTextExtent("abcdefgh").cx;
    c.dc.SelectObject(&narrow);
    const int wz = c.dc.GetTextExtent("abcdefgh").cx;
    c.dc.SelectStockObject(SYSTEM_FONT);
    EXPECT_GT(wb, wn);
    EXPECT_LT(wz, wn);
}

TEST(CDC, TextOutPutsTheCellTopLeftAtThePoint)
{
    Canvas c(100, 40);
    CFont f;
    f.CreateFont(20, 0, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, 0, 0, "DejaVu Sans");
    c.dc.SelectObject(&f);
    c.dc.SetBkMode(TRANSPARENT);
    c.dc.TextOut(10, 8, "Hx");
    const QRect ink = c.Ink();
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_GE(ink.left(), 10);
    EXPECT_LE(ink.left(), 13);
    EXPECT_GE(ink.top(), 8);
    EXPECT_LE(ink.bottom(), 8 + 20);
    c.dc.SelectStockObject(SYSTEM_FONT);
}

TEST(CDC, OpaqueTextFillsItsCellWithTheBackgroundColour)
{
    Canvas c(100, 40);
    CFont f;
    f.CreateFont(20, 0, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, 0, 0, "DejaVu Sans");
    c.dc.SelectObject(&f);
    c.dc.SetBkColor(kRed);
    c.dc.SetTextColor(kBlue);
    const CSize ext = c.dc.GetTextExtent("Hx");
    c.dc.TextOut(10, 8, "Hx");
    EXPECT_EQ(c.Ink(), QRect(10, 8, ext.cx, ext.cy));
    EXPECT_EQ(c.At(10, 8), kRed);
    c.dc.SelectStockObject(SYSTEM_FONT);
}

TEST(CDC, DrawTextCentresOneLineAndClipsToTheRectangle)
{
    Canvas c(120, 60);
    CFont f;
    f.CreateFont(20, 0, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, 0, 0, "DejaVu Sans");
    c.dc.SelectObject(&f);
    c.dc.SetBkMode(TRANSPARENT);
    RECT r{20, 10, 100, 50};
    c.dc.DrawText("HH", &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    const QRect ink = c.Ink();
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_NEAR(ink.center().x(), 60, 2);
    EXPECT_NEAR(ink.center().y(), 30, 3);

    Canvas d(120, 60);
    d.dc.SelectObject(&f);
    d.dc.SetBkMode(TRANSPARENT);
    RECT band{40, 20, 70, 30};
    d.dc.DrawText("WWWWWWWWWWWW", &band, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    const QRect clipped = d.Ink();
    ASSERT_FALSE(clipped.isEmpty());
    EXPECT_TRUE(QRect(QPoint(40, 20), QPoint(69, 29)).contains(clipped)) << clipped.x() << "," << clipped.y();
    EXPECT_EQ(clipped.left(), 40);
    EXPECT_EQ(clipped.right(), 69);

    Canvas e(120, 60);
    e.dc.SelectObject(&f);
    e.dc.SetBkMode(TRANSPARENT);
    e.dc.DrawText("WWWWWWWWWWWW", &band, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOCLIP);
    EXPECT_LT(e.Ink().left(), 40);
    EXPECT_GT(e.Ink().right(), 69);
    c.dc.SelectStockObject(SYSTEM_FONT);
    d.dc.SelectStockObject(SYSTEM_FONT);
    e.dc.SelectStockObject(SYSTEM_FONT);
}

TEST(CDC, DrawTextWithoutSingleLineStartsAtTheTopAndBreaksAtLineBreaks)
{
    Canvas c(120, 80);
    CFont f;
    f.CreateFont(20, 0, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, 0, 0, "DejaVu Sans");
    c.dc.SelectObject(&f);
    c.dc.SetBkMode(TRANSPARENT);
    RECT r{0, 10, 120, 80};
    // DT_BOTTOM and DT_VCENTER do nothing without DT_SINGLELINE.
    EXPECT_EQ(c.dc.DrawText("H\nH", &r, DT_CENTER | DT_BOTTOM | DT_VCENTER), 40);
    const QRect ink = c.Ink();
    EXPECT_GE(ink.top(), 10);
    EXPECT_LE(ink.top(), 16);
    EXPECT_GT(ink.bottom(), 30); // a second line
    EXPECT_LE(ink.bottom(), 50);
    RECT calc{5, 5, 5, 5};
    c.dc.DrawText("H\nHHH", &calc, DT_CALCRECT);
    EXPECT_EQ(calc.bottom, 45);
    EXPECT_EQ(calc.right - calc.left, c.dc.GetTextExtent("HHH").cx);
    c.dc.SelectStockObject(SYSTEM_FONT);
}

TEST(CDC, DrawTextRightAlignsAndStripsMnemonicMarkers)
{
    Canvas c(120, 40);
    CFont f;
    f.CreateFont(20, 0, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, 0, 0, "DejaVu Sans");
    c.dc.SelectObject(&f);
    c.dc.SetBkMode(OPAQUE);
    c.dc.SetBkColor(kRed);
    RECT r{0, 0, 100, 40};
    c.dc.DrawText("&Ok", &r, DT_RIGHT | DT_SINGLELINE | DT_BOTTOM);
    const int w = c.dc.GetTextExtent("Ok").cx;
    EXPECT_EQ(c.Ink(), QRect(100 - w, 20, w, 20));
    c.dc.SelectStockObject(SYSTEM_FONT);
}

TEST(CDC, WindowOriginShiftsEveryPrimitive)
{
    Canvas c(20, 20);
    c.dc.SetWindowOrg(100, 200);
    CRect r(102, 203, 106, 208);
    c.dc.FillSolidRect(&r, kRed);
    c.dc.MoveTo(110, 210);
    c.dc.LineTo(115, 210);
    EXPECT_EQ(c.Ink(), QRect(QPoint(2, 3), QPoint(14, 10)));
    EXPECT_EQ(c.At(2, 3), kRed);
    EXPECT_EQ(c.At(5, 7), kRed);
    EXPECT_EQ(c.At(6, 7), kWhite);
    EXPECT_EQ(c.At(10, 10), kBlack);
    EXPECT_EQ(c.dc.GetPixel(110, 210), kBlack);
}

TEST(CDC, BitBltCopiesABlockBetweenContexts)
{
    Canvas src(10, 10, kBlue);
    CRect r(2, 2, 4, 4);
    src.dc.FillSolidRect(&r, kRed);
    Canvas dst(10, 10);
    EXPECT_TRUE(dst.dc.BitBlt(5, 5, 3, 3, &src.dc, 1, 1, SRCCOPY));
    EXPECT_EQ(dst.Ink(), QRect(5, 5, 3, 3));
    EXPECT_EQ(dst.At(5, 5), kBlue);
    EXPECT_EQ(dst.At(6, 6), kRed);
    EXPECT_EQ(dst.At(7, 7), kRed);
    // Source origin counts too.
    src.dc.SetWindowOrg(-1, -1);
    dst.dc.BitBlt(0, 0, 2, 2, &src.dc, 2, 2, SRCCOPY);
    EXPECT_EQ(dst.At(0, 0), kRed);
    EXPECT_EQ(dst.At(1, 1), kBlue);
}

TEST(CDC, PolygonAndRegionFillModes)
{
    // A pentagram: its centre is outside under the alternate rule, inside under winding.
    const POINT star[] = {{20, 2}, {31, 36}, {2, 14}, {38, 14}, {9, 36}};
    for (int mode : {ALTERNATE, WINDING}) {
        Canvas c(40, 40);
        CRgn rgn;
        rgn.CreatePolygonRgn(star, 5, mode);
        CBrush red(kRed);
        c.dc.FillRgn(&rgn, &red);
        EXPECT_EQ(c.At(20, 20), mode == WINDING ? kRed : kWhite) << mode;
        EXPECT_EQ(c.At(20, 8), kRed) << mode;

        Canvas d(40, 40);
        d.dc.SetPolyFillMode(mode);
        d.dc.SelectObject(&red);
        d.dc.Polygon(star, 5);
        EXPECT_EQ(d.At(20, 20), mode == WINDING ? kRed : kWhite) << mode;
        EXPECT_EQ(d.At(20, 2), kBlack) << mode;
        d.dc.SelectStockObject(WHITE_BRUSH);
    }
}

TEST(CDC, RoundRectRoundsItsCornersSymmetrically)
{
    Canvas c(40, 30);
    CBrush red(kRed);
    c.dc.SelectObject(&red);
    c.dc.RoundRect(0, 0, 40, 30, 20, 20);
    EXPECT_EQ(c.Ink(), QRect(0, 0, 40, 30));
    for (QPoint corner : {QPoint(0, 0), QPoint(39, 0), QPoint(0, 29), QPoint(39, 29), QPoint(2, 2)})
        EXPECT_EQ(c.At(corner.x(), corner.y()), kWhite) << corner.x() << "," << corner.y();
    EXPECT_EQ(c.At(20, 0), kBlack);
    EXPECT_EQ(c.At(0, 15), kBlack);
    EXPECT_EQ(c.At(20, 15), kRed);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            ASSERT_EQ(c.At(x, y), c.At(39 - x, y)) << x << "," << y;
            ASSERT_EQ(c.At(x, y), c.At(x, 29 - y)) << x << "," << y;
        }

    Canvas sq(40, 30);
    sq.dc.SelectObject(&red);
    sq.dc.RoundRect(0, 0, 40, 30, 0, 0);
    EXPECT_EQ(sq.At(0, 0), kBlack);
    EXPECT_EQ(sq.At(39, 29), kBlack);
    EXPECT_EQ(sq.At(1, 1), kRed);
    c.dc.SelectStockObject(WHITE_BRUSH);
    sq.dc.SelectStockObject(WHITE_BRUSH);
}

TEST(CDC, RecorderKeepsEachCallWithItsArgumentsAndState)
{
    Canvas c(20, 20);
    DrawRecorder rec;
    CPen pen(PS_SOLID, 2, kBlue);
    CBrush brush(kRed);
    c.dc.SelectObject(&pen);
    c.dc.SelectObject(&brush);
    c.dc.Ellipse(1, 2, 15, 16);
    c.dc.SetBkMode(TRANSPARENT);
    RECT r{0, 0, 20, 20};
    c.dc.DrawText("ab", &r, DT_CENTER);
    ASSERT_EQ(rec.calls.size(), 2u);
    const DrawCall& e = rec.calls[0];
    EXPECT_EQ(e.op, "Ellipse");
    EXPECT_EQ(e.dc, &c.dc);
    EXPECT_EQ(e.args, (std::vector<int>{1, 2, 15, 16}));
    EXPECT_EQ(e.penWidth, 2);
    EXPECT_EQ(e.penColor, kBlue);
    EXPECT_EQ(e.brushColor, kRed);
    const DrawCall& t = rec.calls[1];
    EXPECT_EQ(t.op, "DrawText");
    EXPECT_EQ(t.args, (std::vector<int>{0, 0, 20, 20, static_cast<int>(DT_CENTER)}));
    EXPECT_EQ(t.text, "ab");
    EXPECT_EQ(t.bkMode, TRANSPARENT);
    c.dc.SelectStockObject(BLACK_PEN);
    c.dc.SelectStockObject(WHITE_BRUSH);
}

TEST(CDC, ContextWithoutPixelsDrawsNothingAndSaysSo)
{
    CDC none;
    EXPECT_EQ(none.GetSafeHdc(), nullptr);
    EXPECT_FALSE(none.Ellipse(0, 0, 4, 4));
    CDC mem;
    ASSERT_TRUE(mem.CreateCompatibleDC(nullptr));
    EXPECT_NE(mem.GetSafeHdc(), nullptr);
    CBitmap empty;
    ASSERT_TRUE(empty.CreateCompatibleBitmap(&mem, 0, 5));
    CBitmap* prev = mem.SelectObject(&empty);
    EXPECT_FALSE(mem.Rectangle(0, 0, 3, 3));
    mem.SelectObject(prev);
    EXPECT_TRUE(mem.DeleteDC());
    EXPECT_EQ(mem.GetSafeHdc(), nullptr);
}

} // namespace

TEST(CDC, BackBuffersReuseTheMemoryOfTheOneBeforeAndNewBitmapsStartBlack)
{
    CDC screen;
    ASSERT_TRUE(screen.CreateCompatibleDC(nullptr));
    const void* first = nullptr;
    {
        CBitmap back;
        ASSERT_TRUE(back.CreateCompatibleBitmapUncleared(&screen, 40, 30));
        first = back.GetSafeHandle();
        back.Image()->fill(0xFF123456u);
        back.DeleteObject();
    }
    // The next back buffer of that size takes the same memory, as it was left.
    CBitmap again;
    ASSERT_TRUE(again.CreateCompatibleBitmapUncleared(&screen, 40, 30));
    EXPECT_EQ(again.GetSafeHandle(), first);
    EXPECT_EQ(again.Image()->size(), QSize(40, 30));
    // A bitmap that is to start black never gets a used one; another size is new.
    CBitmap cleared;
    ASSERT_TRUE(cleared.CreateCompatibleBitmap(&screen, 40, 30));
    EXPECT_NE(cleared.GetSafeHandle(), first);
    EXPECT_EQ(cleared.Image()->pixel(5, 5), 0xFF000000u);
    // Memory still in use elsewhere is never handed out again.
    CDC mem;
    ASSERT_TRUE(mem.CreateCompatibleDC(&screen));
    CBitmap* previous = mem.SelectObject(&again);
    again.DeleteObject();
    CBitmap other;
    ASSERT_TRUE(other.CreateCompatibleBitmapUncleared(&screen, 40, 30));
    EXPECT_NE(other.GetSafeHandle(), first);
    mem.SelectObject(previous);
}
