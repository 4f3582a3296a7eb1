// The dialogs look the same on every desktop: under a dark theme every text
// stays readable on the light colours the dialogs were designed with, and a
// group box draws only its frame and caption, never a panel over the
// controls it frames.
#include "TelvarFixture.h"

#include <QApplication>
#include <QImage>
#include <QPalette>

#include <cmath>

#include "app/CSaveDialog.h"

namespace {

// A desktop's dark mode, as a theme hands it to Qt.
QPalette DarkPalette()
{
    QPalette p;
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(g, QPalette::Window, QColor(53, 53, 53));
        p.setColor(g, QPalette::WindowText, QColor(220, 220, 220));
        p.setColor(g, QPalette::Base, QColor(35, 35, 35));
        p.setColor(g, QPalette::Text, QColor(220, 220, 220));
        p.setColor(g, QPalette::Button, QColor(53, 53, 53));
        p.setColor(g, QPalette::ButtonText, QColor(220, 220, 220));
        p.setColor(g, QPalette::Light, QColor(80, 80, 80));
        p.setColor(g, QPalette::Dark, QColor(25, 25, 25));
    }
    return p;
}

double Luminance(const QColor& c)
{
    auto lin = [](double v) {
        v /= 255.0;
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * lin(c.red()) + 0.7152 * lin(c.green()) + 0.0722 * lin(c.blue());
}

double Contrast(const QColor& a, const QColor& b)
{
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

constexpr int BLACK_TEXTS[] = {IDC_REL_ANGLE1, IDC_REL_ANGLE2, IDC_TOTAL_ANGLE1, IDC_TOTAL_ANGLE2, IDC_ZERO_ANGLE1,
                               IDC_ZERO_ANGLE2, IDC_PORT_STATUS, IDC_LABEL_REL_ANGLE1, IDC_LABEL_REL_ANGLE2,
                               IDC_LABEL_TOTAL_ANGLE1, IDC_LABEL_TOTAL_ANGLE2, IDC_LABEL_ZERO, IDC_WEBSITE,
                               IDC_LABEL_CODE1, IDC_CODE1, IDC_LABEL_CODE2, IDC_CODE2, IDC_MODEL};

} // namespace

class DarkThemeTest : public TelvarFixture {
protected:
    void SetUp() override
    {
        TestApp();
        m_saved = QApplication::palette();
        QApplication::setPalette(DarkPalette());
        TelvarFixture::SetUp(); // the dialog is made under the dark theme
    }
    void TearDown() override
    {
        TelvarFixture::TearDown();
        QApplication::setPalette(m_saved);
    }

private:
    QPalette m_saved;
};

TEST_F(DarkThemeTest, EveryTextIsReadableOnTheLightDialogColours)
{
    QWidget* window = dlg->GetSafeHwnd();
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(240, 240, 240));
    for (int id : BLACK_TEXTS) {
        const QPalette p = W(id)->palette();
        EXPECT_EQ(p.color(QPalette::WindowText), QColor(0, 0, 0)) << id;
        EXPECT_GE(Contrast(p.color(QPalette::WindowText), p.color(QPalette::Window)), 7.0) << id;
    }
    // The controls the dialog leaves to the platform's look as well; greyed
    // (disabled) texts are lighter but still readable.
    for (const auto& c : dlg->Controls()) {
        const QPalette p = c->Widget()->palette();
        const int id = c->GetDlgCtrlID();
        EXPECT_GE(Contrast(p.color(QPalette::WindowText), p.color(QPalette::Window)), 4.5) << id;
        EXPECT_GE(Contrast(p.color(QPalette::Text), p.color(QPalette::Base)), 4.5) << id;
        EXPECT_GE(Contrast(p.color(QPalette::ButtonText), p.color(QPalette::Button)), 4.5) << id;
    }
    // What is painted: the background beside a label's text is the light one.
    const QImage shot = window->grab().toImage();
    const QPoint corner = W(IDC_LABEL_ZERO)->geometry().topLeft() + QPoint(1, 1);
    EXPECT_EQ(QColor(shot.pixel(corner)), QColor(240, 240, 240));
    // The combo fields stay white while disabled.
    QWidget* combo = W(IDC_BIT_WIDTH1);
    ASSERT_FALSE(combo->isEnabled());
    const QImage field = combo->grab().toImage();
    EXPECT_EQ(QColor(field.pixel(field.width() / 3, field.height() / 2)), QColor(255, 255, 255));
}

TEST_F(DarkThemeTest, TheExportDialogAndMessageBoxesAreLightToo)
{
    CSaveDialog save;
    bool checked = false;
    CDialogEx::SetModalHook([&](CDialogEx& d) {
        checked = true;
        const QPalette p = d.GetSafeHwnd()->palette();
        EXPECT_EQ(p.color(QPalette::Window), QColor(240, 240, 240));
        EXPECT_EQ(p.color(QPalette::Base), QColor(255, 255, 255));
        EXPECT_EQ(p.color(QPalette::Text), QColor(0, 0, 0));
        d.EndDialog(IDCANCEL);
    });
    save.DoModal();
    EXPECT_TRUE(checked);
}

class GroupBoxLookTest : public TelvarFixture {};

TEST_F(GroupBoxLookTest, CombosInsideAGroupBoxLookExactlyLikeThoseOutside)
{
    const QImage shot = dlg->GetSafeHwnd()->grab().toImage();
    auto at = [&](int id, int x, int y) {
        const QPoint p = W(id)->geometry().topLeft() + QPoint(x, y);
        return QColor(shot.pixel(p));
    };
    // Port 1013 stands outside any group; the data types and widths inside.
    QWidget* outside = W(IDC_PORT);
    const int h = outside->height();
    for (int id : {IDC_DATA_TYPE1, IDC_DATA_TYPE2, IDC_BIT_WIDTH1, IDC_BIT_WIDTH2}) {
        const int w = W(id)->width();
        EXPECT_EQ(at(id, 0, 0), QColor(200, 200, 200)) << id;              // frame
        EXPECT_EQ(at(id, w - 3, 1), QColor(21, 123, 237)) << id;           // arrow button
        EXPECT_EQ(at(id, w - 10, h / 2), QColor(255, 255, 255)) << id;     // arrow
        EXPECT_EQ(at(id, 0, 0), at(IDC_PORT, 0, 0)) << id;
        EXPECT_EQ(at(id, w - 3, 1), at(IDC_PORT, outside->width() - 3, 1)) << id;
    }
    // The dialog's own colour inside a group equals the colour outside it.
    const QRect group = W(IDC_GROUP_MODE)->geometry();
    const QColor background = QColor(shot.pixel(5, 5));
    const QColor inside = QColor(shot.pixel(group.left() + 6, group.bottom() - 6));
    EXPECT_EQ(inside, background);
}
