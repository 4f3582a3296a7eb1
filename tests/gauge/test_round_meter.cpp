// The round meter, checked through the primitives it issues and key pixels of
// its picture. The figures are those of a 300 x 272 client (centre (150, 136),
// diameter 267).
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <cstring>
#include <set>

#include "gauge/CRoundMeter.h"
#include "platform/draw/DrawRecorder.h"

namespace
{

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kBack = RGB(33, 177, 138);
constexpr COLORREF kDial = RGB(182, 182, 182);
constexpr COLORREF kOrange = RGB(255, 128, 64);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kWhite = RGB(255, 255, 255);

using Args = std::vector<int>;

QImage Paint(CRoundMeter& m)
{
    return m.grab().toImage();
}

COLORREF At(const QImage& img, int x, int y)
{
    return FromQRgb(img.pixel(x, y));
}

struct Gauge : ::testing::Test {
    CRoundMeter m;
    void SetUp() override { m.resize(300, 272); }
};

TEST_F(Gauge, BackgroundCirclesAndHubOfTheWorkedExample)
{
    m.m_dValue = 0.0;
    DrawRecorder rec;
    Paint(m);
    EXPECT_EQ(m.m_ptCenter, (POINT{150, 136}));
    EXPECT_EQ(m.m_dDiameter, 267.0);

    const auto frame = rec.Of("Rectangle", &m.m_dcBackground);
    ASSERT_EQ(frame.size(), 1u);
    EXPECT_EQ(frame[0].args, (Args{0, 0, 300, 272}));
    EXPECT_EQ(frame[0].brushColor, kBack);
    EXPECT_EQ(frame[0].penColor, kBlack);
    const auto fill = rec.Of("FillRect", &m.m_dcBackground);
    ASSERT_EQ(fill.size(), 1u);
    EXPECT_EQ(fill[0].args, (Args{0, 0, 300, 272}));
    EXPECT_EQ(fill[0].fillColor, kBack);

    struct Circle {
        Args box;
        int penWidth; // 0: the context's default pen
        COLORREF brush;
    } const expected[] = {
        {{16, 2, 283, 269}, 2, kDial},     // outer
        {{21, 7, 278, 264}, 1, kDial},     // second
        {{33, 19, 266, 252}, 2, kDial},    // third
        {{132, 118, 167, 153}, 0, kBlack}, // hub
        {{137, 123, 162, 148}, 0, kBack},  // hub centre
    };
    const auto ellipses = rec.Of("Ellipse", &m.m_dcBackground);
    ASSERT_EQ(ellipses.size(), std::size(expected));
    for (std::size_t i = 0; i < ellipses.size(); ++i) {
        EXPECT_EQ(ellipses[i].args, expected[i].box) << i;
        EXPECT_EQ(ellipses[i].penWidth, expected[i].penWidth) << i;
        EXPECT_EQ(ellipses[i].penColor, kBlack) << i;
        EXPECT_EQ(ellipses[i].brushColor, expected[i].brush) << i;
    }
}

TEST_F(Gauge, MajorTicksAndLabelsOfTheWorkedExample)
{
    m.m_dValue = 0.0;
    DrawRecorder rec;
    Paint(m);
    const auto moves = rec.Of("MoveTo", &m.m_dcBackground);
    const auto lines = rec.Of("LineTo", &m.m_dcBackground);
    ASSERT_EQ(moves.size(), 4u + 44u); // four major ticks, then 11 minor strokes per division
    ASSERT_EQ(lines.size(), moves.size());
    const Args ticks[4][2] = {{{150, 252}, {150, 235}},  // bottom
                              {{33, 135}, {50, 135}},    // left: 3.1415929 makes cos(90) slightly negative
                              {{150, 19}, {150, 36}},    // top
                              {{266, 136}, {249, 136}}}; // right
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(moves[i].args, ticks[i][0]) << i;
        EXPECT_EQ(lines[i].args, ticks[i][1]) << i;
        EXPECT_EQ(lines[i].penWidth, 2) << i;
    }

    const auto texts = rec.Of("TextOut", &m.m_dcBackground);
    ASSERT_EQ(texts.size(), 8u);
    struct Label {
        const char* text;
        Args shadow, blue;
    } const labels[] = {{"0.00", {147, 236}, {146, 235}},
                        {"90.00", {47, 136}, {46, 135}},
                        {"180.00", {147, 37}, {146, 36}},
                        {"270.00", {230, 140}, {229, 139}}};
    for (int i = 0; i < 4; ++i) {
        const DrawCall& w = texts[2 * i];
        const DrawCall& b = texts[2 * i + 1];
        EXPECT_EQ(w.text, labels[i].text);
        EXPECT_EQ(b.text, labels[i].text);
        EXPECT_EQ(w.args, labels[i].shadow) << labels[i].text;
        EXPECT_EQ(b.args, labels[i].blue) << labels[i].text;
        EXPECT_EQ(w.textColor, kWhite);
        EXPECT_EQ(b.textColor, kBlue);
        EXPECT_EQ(b.bkMode, TRANSPARENT);
        EXPECT_EQ(b.fontFace, "Arail");
        EXPECT_EQ(b.fontHeight, 15);
        EXPECT_EQ(b.fontWeight, 20);
        EXPECT_EQ(b.fontCharSet, ANSI_CHARSET);
    }
}

TEST_F(Gauge, MinorStrokesEveryNineDegreesWithAThinPen)
{
    m.m_dValue = 0.0;
    DrawRecorder rec;
    Paint(m);
    const auto moves = rec.Of("MoveTo", &m.m_dcBackground);
    const auto lines = rec.Of("LineTo", &m.m_dcBackground);
    ASSERT_EQ(moves.size(), 48u);
    // The first stroke of each division lies on its major tick, shorter.
    EXPECT_EQ(moves[4].args, (Args{150, 252}));
    EXPECT_EQ(lines[4].args, (Args{150, 239}));
    EXPECT_EQ(moves[4 + 11].args, (Args{33, 135}));
    EXPECT_EQ(lines[4 + 11].args, (Args{46, 135}));
    // Forty distinct directions in all, one every 9 degrees, each at the tick radius.
    std::set<int> directions;
    for (std::size_t i = 4; i < moves.size(); ++i) {
        EXPECT_EQ(lines[i].penWidth, 1);
        const double dx = moves[i].args[0] - 150.0, dy = moves[i].args[1] - 136.0;
        EXPECT_NEAR(std::hypot(dx, dy), 116.8, 1.5) << i;
        // Angle clockwise on the screen from straight down.
        const double deg = std::atan2(-dx, dy) * 180 / 3.14159265358979;
        const int nine = static_cast<int>(std::lround(deg / 9));
        EXPECT_NEAR(deg, nine * 9, 1.0) << i;
        directions.insert(((nine % 40) + 40) % 40);
    }
    EXPECT_EQ(directions.size(), 40u);
    // 9 degrees clockwise from the bottom.
    EXPECT_EQ(moves[5].args, (Args{131, 251}));
}

TEST_F(Gauge, TitleFontAndRectangles)
{
    m.m_dValue = 0.0;
    DrawRecorder rec;
    Paint(m);
    const auto texts = rec.Of("DrawText", &m.m_dcBackground);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].args, (Args{112, 151, 191, 204, 0x25}));
    EXPECT_EQ(texts[0].textColor, kWhite);
    EXPECT_EQ(texts[1].args, (Args{110, 149, 189, 202, 0x25}));
    EXPECT_EQ(texts[1].textColor, kBlue);
    for (const DrawCall& t : texts) {
        EXPECT_EQ(t.text, "角度");
        EXPECT_EQ(t.fontHeight, 33);
        EXPECT_EQ(t.fontFace, "隶书");
        EXPECT_EQ(t.fontCharSet, DEFAULT_CHARSET);
        EXPECT_EQ(t.bkMode, TRANSPARENT);
    }
}

TEST_F(Gauge, NeedleAndCapAtZeroAndNinety)
{
    struct Case {
        double value;
        Args polygon;
    } const cases[] = {
        {0.0, {150, 146, 156, 158, 150, 225, 143, 158, 150, 146}},
        {90.0, {139, 135, 127, 142, 60, 135, 127, 129, 139, 135}},
    };
    for (const Case& c : cases) {
        m.m_dValue = c.value;
        DrawRecorder rec;
        Paint(m);
        const auto polys = rec.Of("Polygon");
        ASSERT_EQ(polys.size(), 1u);
        EXPECT_EQ(polys[0].args, c.polygon) << c.value;
        EXPECT_EQ(polys[0].polyFillMode, WINDING);
        EXPECT_EQ(polys[0].brushColor, kBlack);
        EXPECT_NE(polys[0].dc, &m.m_dcBackground);
        // The cap follows the needle on the same off-screen context.
        std::vector<DrawCall> caps;
        for (const DrawCall& e : rec.Of("Ellipse"))
            if (e.dc == polys[0].dc)
                caps.push_back(e);
        ASSERT_EQ(caps.size(), 2u);
        EXPECT_EQ(caps[0].args, (Args{133, 119, 166, 152}));
        EXPECT_EQ(caps[0].brushColor, kBlack);
        EXPECT_EQ(caps[0].penWidth, 1);
        EXPECT_EQ(caps[1].args, (Args{137, 123, 162, 148}));
        EXPECT_EQ(caps[1].brushColor, kOrange);
        EXPECT_EQ(caps[1].penWidth, 0);
    }
}

TEST_F(Gauge, PictureAtTellingPoints)
{
    m.m_dValue = 0.0;
    const QImage img = Paint(m);
    EXPECT_EQ(At(img, 0, 0), kBlack);      // frame
    EXPECT_EQ(At(img, 299, 271), kBlack);  // frame, right and bottom edge inside the box
    EXPECT_EQ(At(img, 5, 136), kBack);     // control background
    EXPECT_EQ(At(img, 150, 12), kDial);    // between the second and the third circle
    EXPECT_EQ(At(img, 100, 100), kDial);   // dial face
    EXPECT_EQ(At(img, 150, 136), kOrange); // cap
    EXPECT_EQ(At(img, 150, 200), kBlack);  // towards the tip
    EXPECT_EQ(At(img, 143, 200), kDial);   // beside it
    EXPECT_EQ(At(img, 150, 60), kDial);    // no needle upwards

    m.m_dValue = 90.0;
    m.update();
    const QImage left = Paint(m);
    EXPECT_EQ(At(left, 70, 135), kBlack); // the needle points left
    EXPECT_EQ(At(left, 150, 220), kDial);
}

TEST_F(Gauge, ValuesOutsideTheScaleAreClampedAndWrittenBack)
{
    auto needle = [&](double v) {
        m.m_dValue = v;
        DrawRecorder rec;
        Paint(m);
        const auto polys = rec.Of("Polygon");
        return polys.empty() ? Args{} : polys[0].args;
    };
    const Args atZero = needle(0.0);
    EXPECT_EQ(needle(-50.0), atZero);
    EXPECT_EQ(m.m_dValue, 0.0);

    const Args atMax = needle(1000.0);
    EXPECT_EQ(m.m_dValue, 360.0);
    // 360 looks like 0: straight down, within a pixel's rounding.
    ASSERT_EQ(atMax.size(), atZero.size());
    for (std::size_t i = 0; i < atZero.size(); ++i)
        EXPECT_NEAR(atMax[i], atZero[i], 1) << i;
    EXPECT_EQ(needle(360.0), atMax);
}

TEST(GaugeInput, NotANumberShowsTheStartOfTheScaleAndDivisionCountsBelowOneDrawNoTicks)
{
    CRoundMeter m;
    m.resize(300, 272);
    m.m_dValue = std::nan("");
    DrawRecorder rec;
    m.grab();
    EXPECT_EQ(m.m_dValue, 0.0);
    ASSERT_EQ(rec.Of("Polygon").size(), 1u);
    EXPECT_EQ(rec.Of("Polygon")[0].args, (Args{150, 146, 156, 158, 150, 225, 143, 158, 150, 146}));

    CRoundMeter bare;
    bare.resize(300, 272);
    bare.m_dMajorDivisions = 0.5;
    bare.m_dMinorDivisions = std::nan("");
    DrawRecorder rec2;
    bare.grab();
    EXPECT_TRUE(rec2.Of("LineTo", &bare.m_dcBackground).empty());
    EXPECT_EQ(rec2.Of("Ellipse", &bare.m_dcBackground).size(), 5u);
}

TEST(GaugeInitial, PaintedBeforeAnyAssignmentShowsTheEndOfTheScale)
{
    CRoundMeter m;
    EXPECT_EQ(m.m_dValue, 600.0);
    EXPECT_STREQ(m.m_szTitle, "角度");
    m.resize(300, 272);
    DrawRecorder rec;
    m.grab();
    EXPECT_EQ(m.m_dValue, 360.0);
    const auto polys = rec.Of("Polygon");
    ASSERT_EQ(polys.size(), 1u);
    EXPECT_NEAR(polys[0].args[4], 150, 1); // tip straight down
    EXPECT_EQ(polys[0].args[5], 225);
}

TEST(GaugeShape, NonSquareClientTakesTheSmallerSide)
{
    CRoundMeter m;
    m.resize(400, 200);
    m.m_dValue = 0.0;
    DrawRecorder rec;
    m.grab();
    EXPECT_EQ(m.m_ptCenter, (POINT{200, 100}));
    EXPECT_EQ(m.m_dDiameter, 195.0);
    const auto ellipses = rec.Of("Ellipse", &m.m_dcBackground);
    ASSERT_FALSE(ellipses.empty());
    EXPECT_EQ(ellipses[0].args, (Args{102, 2, 297, 197})); // round and centred
}

TEST(GaugeShape, SizeChangeShowsAfterResetBackgroundOnly)
{
    CRoundMeter m;
    m.resize(300, 272);
    m.m_dValue = 0.0;
    m.grab();
    m.resize(200, 150);
    {
        DrawRecorder rec;
        m.grab();
        EXPECT_TRUE(rec.Of("Ellipse", &m.m_dcBackground).empty()); // cache kept
        EXPECT_EQ(m.m_dDiameter, 267.0);
        const auto polys = rec.Of("Polygon");
        ASSERT_EQ(polys.size(), 1u);
        EXPECT_EQ(polys[0].args[0], 150); // old centre
    }
    m.ResetBackground();
    EXPECT_EQ(m.m_pPrevBitmap, nullptr);
    EXPECT_EQ(m.m_dcBackground.GetSafeHdc(), nullptr);
    EXPECT_EQ(m.m_bmpBackground.GetSafeHandle(), nullptr);
    {
        DrawRecorder rec;
        const QImage img = m.grab().toImage();
        EXPECT_EQ(m.m_ptCenter, (POINT{100, 75}));
        EXPECT_EQ(m.m_dDiameter, 145.0);
        const auto ellipses = rec.Of("Ellipse", &m.m_dcBackground);
        ASSERT_FALSE(ellipses.empty());
        EXPECT_EQ(ellipses[0].args, (Args{27, 2, 172, 147}));
        EXPECT_EQ(At(img, 100, 75), kOrange);
        EXPECT_EQ(At(img, 199, 149), kBlack); // new frame
    }
}

TEST(GaugeShape, RepaintCopiesTheCacheAndDrawsOnlyTheNeedle)
{
    CRoundMeter m;
    m.resize(300, 272);
    m.m_dValue = 45.0;
    m.grab();
    DrawRecorder rec;
    m.grab();
    EXPECT_TRUE(rec.Of("Ellipse", &m.m_dcBackground).empty());
    EXPECT_TRUE(rec.Of("TextOut").empty());
    const auto blits = rec.Of("BitBlt");
    ASSERT_EQ(blits.size(), 2u); // cache to off-screen, off-screen to window
    EXPECT_EQ(blits[0].args, (Args{0, 0, 300, 272, 0, 0, static_cast<int>(SRCCOPY)}));
    EXPECT_EQ(blits[1].args, (Args{0, 0, 300, 272, 0, 0, static_cast<int>(SRCCOPY)}));
    EXPECT_EQ(blits[0].dc, rec.Of("Polygon")[0].dc);
}

TEST(GaugeShape, LongTitleIsClippedToItsBand)
{
    CRoundMeter m;
    m.resize(300, 272);
    m.m_dValue = 90.0; // keep the needle away from the lower half
    std::strcpy(m.m_szTitle, "角度角度角度角度角度角度");
    DrawRecorder rec;
    const QImage img = m.grab().toImage();
    const auto texts = rec.Of("DrawText", &m.m_dcBackground);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1].text, m.m_szTitle);
    // Left and right of the band, below the labels, only dial and ticks remain.
    for (int y = 160; y <= 204; ++y)
        for (int x : {60, 80, 100, 108, 193, 200, 220, 240}) {
            const COLORREF c = At(img, x, y);
            ASSERT_TRUE(c == kDial || c == kBlack) << x << "," << y;
        }
    // Inside the band the text is there.
    int ink = 0;
    for (int y = 149; y < 202; ++y)
        for (int x = 110; x < 189; ++x)
            ink += At(img, x, y) != kDial;
    EXPECT_GT(ink, 200);
}

TEST(GaugeShape, TakesNoPointerInput)
{
    CRoundMeter m;
    EXPECT_TRUE(m.testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_TRUE(m.testAttribute(Qt::WA_OpaquePaintEvent));
    EXPECT_EQ(m.focusPolicy(), Qt::NoFocus);
}

} // namespace
