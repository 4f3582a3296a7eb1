// On a screen smaller than the dialog's template the first size fits the
// screen's work area, scaled down from the template layout by the resize
// rule, and the minimum size never exceeds the work area.
#include "TelvarFixture.h"

#include <QScreen>

namespace {

// A screen of 800 x 600 pixels, well below the dialog's template size.
class SmallScreenEnv : public testing::Environment {
public:
    void SetUp() override
    {
        static int argc = 3;
        static char name[] = "telvar-test";
        static char option[] = "-platform";
        static std::string platform = RunsOffscreen() ? OffscreenPlatformArg(800, 600) : std::string();
        static char* argv[] = {name, option, platform.data(), nullptr};
        if (platform.empty())
            argc = 1;
        m_app = new QApplication(argc, argv);
    }
    void TearDown() override
    {
        delete m_app;
        m_app = nullptr;
    }

private:
    QApplication* m_app = nullptr;
};

[[maybe_unused]] testing::Environment* const g_env = testing::AddGlobalTestEnvironment(new SmallScreenEnv);

} // namespace

class SmallScreenTest : public TelvarFixture {};

TEST_F(SmallScreenTest, TheFirstSizeFitsTheWorkAreaAndTheLayoutIsScaledFromTheTemplate)
{
    QWidget* window = dlg->GetSafeHwnd();
    const QRect work = window->screen()->availableGeometry();
    const RECT templ = DialogUnitsToPixels(dlg->BaseUnits(), 0, 0, dlg->Template().cx, dlg->Template().cy);
    ASSERT_GT(templ.right, work.width()) << "the template must not fit this screen";

    // The whole frame lies inside the work area.
    EXPECT_TRUE(work.contains(window->frameGeometry()))
        << window->frameGeometry().width() << "x" << window->frameGeometry().height();
    EXPECT_LE(window->minimumWidth(), window->width());
    EXPECT_LE(window->minimumHeight(), window->height());
    EXPECT_LE(window->minimumWidth(), work.width());
    EXPECT_LE(window->minimumHeight(), work.height());

    // The initial layout is the template's; the controls are scaled from it.
    EXPECT_EQ(dlg->InitClient().Width(), templ.right);
    EXPECT_EQ(dlg->InitClient().Height(), templ.bottom);
    EXPECT_EQ(dlg->LastWidth(), window->width());
    EXPECT_EQ(dlg->LastHeight(), window->height());
    const float rx = static_cast<float>(window->width()) / static_cast<float>(templ.right);
    const float ry = static_cast<float>(window->height()) / static_cast<float>(templ.bottom);
    for (const DialogItemTemplate& item : dlg->Template().items) {
        if (item.kind == ControlKind::ComboBox)
            continue; // the field keeps the height its font gives it
        const RECT t = DialogUnitsToPixels(dlg->BaseUnits(), item.x, item.y, item.cx, item.cy);
        CRect now;
        dlg->GetDlgItem(item.id)->GetWindowRect(&now);
        dlg->ScreenToClient(&now);
        EXPECT_EQ(now.left, static_cast<int>(static_cast<float>(t.left) * rx)) << item.id;
        EXPECT_EQ(now.top, static_cast<int>(static_cast<float>(t.top) * ry)) << item.id;
        EXPECT_EQ(now.right, static_cast<int>(static_cast<float>(t.right) * rx)) << item.id;
        EXPECT_EQ(now.bottom, static_cast<int>(static_cast<float>(t.bottom) * ry)) << item.id;
    }
    // The gauges draw at their scaled size.
    dlg->Meter1().grab();
    EXPECT_EQ(dlg->Meter1().m_dDiameter, std::min(dlg->Meter1().width(), dlg->Meter1().height()) - 5.0);
}
