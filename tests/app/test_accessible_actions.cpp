// What assistive technology does with a control's actions is exactly what a
// mouse click does: the dialog's click handler runs.
#include "TelvarFixture.h"

#include <QAccessible>
#include <QAccessibleActionInterface>

namespace {

QAccessibleActionInterface* ActionsOf(QWidget* w)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
    return iface ? iface->actionInterface() : nullptr;
}

} // namespace

class AccessibleActionTest : public TelvarFixture {
protected:
    void Act(int id, const QString& action)
    {
        QAccessibleActionInterface* actions = ActionsOf(W(id));
        ASSERT_NE(actions, nullptr) << id;
        ASSERT_TRUE(actions->actionNames().contains(action)) << id << " " << actions->actionNames().join(',').toStdString();
        actions->doAction(action);
    }
};

TEST_F(AccessibleActionTest, ToggleOnTheModeRadiosRunsTheirClickHandlers)
{
    OpenPortOnPty();
    ASSERT_FALSE(Enabled(IDC_INTERVAL));
    Act(IDC_RESPONSE, QAccessibleActionInterface::toggleAction());
    EXPECT_EQ(dlg->IsDlgButtonChecked(IDC_RESPONSE), BST_CHECKED);
    EXPECT_EQ(dlg->IsDlgButtonChecked(IDC_CONTINUOUS), BST_UNCHECKED);
    EXPECT_TRUE(Enabled(IDC_INTERVAL));
    Act(IDC_CONTINUOUS, QAccessibleActionInterface::toggleAction());
    EXPECT_EQ(dlg->IsDlgButtonChecked(IDC_CONTINUOUS), BST_CHECKED);
    EXPECT_FALSE(Enabled(IDC_INTERVAL));
}

TEST_F(AccessibleActionTest, ToggleOnTheOtherWidthBoxesSwapsComboAndEdit)
{
    OpenPortOnPty();
    struct Case {
        int check, combo, edit;
    } cases[] = {{IDC_OTHER_BITS1, IDC_BIT_WIDTH1, IDC_OTHER_BITS_EDIT1},
                 {IDC_OTHER_BITS2, IDC_BIT_WIDTH2, IDC_OTHER_BITS_EDIT2}};
    for (const Case& c : cases) {
        ASSERT_TRUE(Enabled(c.combo));
        ASSERT_FALSE(Enabled(c.edit));
        Act(c.check, QAccessibleActionInterface::toggleAction());
        EXPECT_EQ(dlg->IsDlgButtonChecked(c.check), BST_CHECKED) << c.check;
        EXPECT_FALSE(Enabled(c.combo)) << c.check;
        EXPECT_TRUE(Enabled(c.edit)) << c.check;
        Act(c.check, QAccessibleActionInterface::toggleAction());
        EXPECT_EQ(dlg->IsDlgButtonChecked(c.check), BST_UNCHECKED) << c.check;
        EXPECT_TRUE(Enabled(c.combo)) << c.check;
        EXPECT_FALSE(Enabled(c.edit)) << c.check;
    }
}

TEST_F(AccessibleActionTest, PressOnAPushButtonClicksItAndADisabledControlOffersNothing)
{
    // Disabled before a port is open: no action, like a click that does nothing.
    QAccessibleActionInterface* start = ActionsOf(W(IDC_START));
    ASSERT_NE(start, nullptr);
    EXPECT_FALSE(start->actionNames().contains(QAccessibleActionInterface::pressAction()));
    start->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(Text(IDC_START), "开始");
    QAccessibleActionInterface* other = ActionsOf(W(IDC_OTHER_BITS1));
    other->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_EQ(dlg->IsDlgButtonChecked(IDC_OTHER_BITS1), BST_UNCHECKED);

    Act(IDC_OPEN_PORT, QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(PumpUntil([&] { return Text(IDC_OPEN_PORT) == "关闭串口" || !presenter.shown.empty(); }));
    // The port is absent in this fixture: the click's own message, once.
    ASSERT_EQ(presenter.shown.size(), 1u);
    EXPECT_EQ(presenter.shown[0].text, "没有发现串口1或被占用");
}

TEST_F(AccessibleActionTest, ButtonsTellTheirRoleStateAndName)
{
    OpenPortOnPty();
    struct Case {
        int id;
        QAccessible::Role role;
        const char* name;
    } cases[] = {{IDC_CONTINUOUS, QAccessible::RadioButton, "连续模式"},
                 {IDC_OTHER_BITS1, QAccessible::CheckBox, "其他"},
                 {IDC_START, QAccessible::PushButton, "开始"}};
    for (const Case& c : cases) {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(W(c.id));
        ASSERT_NE(iface, nullptr);
        EXPECT_EQ(iface->role(), c.role) << c.id;
        EXPECT_EQ(iface->text(QAccessible::Name).toStdString(), c.name) << c.id;
        EXPECT_EQ(iface->state().checkable, c.role != QAccessible::PushButton) << c.id;
    }
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(W(IDC_CONTINUOUS))->state().checked);
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(W(IDC_RESPONSE))->state().checked);
}
