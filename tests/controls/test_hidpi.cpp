// At 200 % scale the owner-drawn surfaces are painted at device resolution:
// the code computes in logical pixels as always, but every device pixel is
// drawn, so edges are as fine as the text's instead of doubled 1x pixels.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPixmap>

#include <string>

#include "controls/CCustomDrawBtn.h"
#include "controls/CCustomDrawCombox.h"
#include "gauge/CRoundMeter.h"
#include "platform/draw/Fonts.h"
#include "tests/app/OffscreenScreen.h"

namespace {

class HighDpiEnv : public testing::Environment {
public:
    void SetUp() override
    {
        static int argc = 3;
        static char name[] = "telvar-test";
        static char option[] = "-platform";
        static std::string platform = OffscreenPlatformArg(2400, 1600, 2.0);
        static char* argv[] = {name, option, platform.data(), nullptr};
        m_app = new QApplication(argc, argv);
        InstallFontSubstitutions();
    }
    void TearDown() override
    {
        delete m_app;
        m_app = nullptr;
    }

private:
    QApplication* m_app = nullptr;
};

[[maybe_unused]] testing::Environment* const g_env = testing::AddGlobalTestEnvironment(new HighDpiEnv);

// Pixel-doubled 1x drawing has every aligned 2 x 2 block in one colour.
int MixedBlocks(const QImage& image, const QRect& area)
{
    int mixed = 0;
    for (int y = area.top(); y + 1 <= area.bottom(); y += 2)
        for (int x = area.left(); x + 1 <= area.right(); x += 2) {
            const QRgb a = image.pixel(x, y);
            if (image.pixel(x + 1, y) != a || image.pixel(x, y + 1) != a || image.pixel(x + 1, y + 1) != a)
                ++mixed;
        }
    return mixed;
}

QImage Shot(QWidget& w)
{
    w.show();
    const QPixmap pixmap = w.grab();
    EXPECT_EQ(pixmap.devicePixelRatio(), 2.0);
    EXPECT_EQ(pixmap.size(), w.size() * 2);
    return pixmap.toImage();
}

} // namespace

TEST(HighDpiTest, TheComboFieldAndArrowArePaintedAtDeviceResolution)
{
    CCustomDrawCombox combo;
    combo.resize(120, 21);
    const QImage img = Shot(combo);
    // Colours where the logical drawing puts them.
    EXPECT_EQ(QColor(img.pixel(0, 0)), QColor(200, 200, 200));
    EXPECT_EQ(QColor(img.pixel(2 * (120 - 3), 4)), QColor(21, 123, 237));
    EXPECT_EQ(QColor(img.pixel(2 * (120 - 10), 2 * 10)), QColor(255, 255, 255));
    // The arrow's slanted edges step by device pixels.
    const QRect arrow(2 * (120 - 20), 0, 40, 42);
    EXPECT_GT(MixedBlocks(img, arrow), 0);
}

TEST(HighDpiTest, TheRoundedButtonBodyIsPaintedAtDeviceResolution)
{
    CCustomDrawBtn button;
    button.setText(QStringLiteral("开始"));
    button.resize(120, 40);
    button.PreSubclassWindow();
    button.ApplyScheme(BLUE_BUTTON_SCHEME);
    const QImage img = Shot(button);
    // The body colour in the middle of a flank; the corners curve finely.
    EXPECT_EQ(QColor(img.pixel(2 * 6, 2 * 20)), QColor(101, 160, 251));
    EXPECT_GT(MixedBlocks(img, QRect(0, 0, 24, 24)), 0);
    EXPECT_GT(MixedBlocks(img, QRect(2 * 120 - 24, 2 * 40 - 24, 24, 24)), 0);
}

TEST(HighDpiTest, TheGaugeDialAndNeedleArePaintedAtDeviceResolution)
{
    CRoundMeter meter;
    meter.resize(200, 180);
    meter.m_dValue = 37.0;
    const QImage img = Shot(meter);
    // Every part: dial rim, ticks, labels and needle.
    EXPECT_GT(MixedBlocks(img, img.rect()), 200);
    // The cached dial holds device pixels, its logical size unchanged.
    ASSERT_NE(meter.m_bmpBackground.Image(), nullptr);
    EXPECT_EQ(meter.m_bmpBackground.Image()->size(), QSize(400, 360));
    EXPECT_EQ(meter.m_bmpBackground.Image()->deviceIndependentSize().toSize(), QSize(200, 180));
    EXPECT_EQ(meter.m_dDiameter, 180 - 5.0);
}
