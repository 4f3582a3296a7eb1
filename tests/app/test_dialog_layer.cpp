// The window layer: dialogs from templates, binding, message maps, keys,
// timers, combo boxes and dialog units.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "QtApp.h"
#include "platform/window/DialogEx.h"
#include "platform/core/MessageBox.h"

namespace {

constexpr int ID_LABEL = 100;
constexpr int ID_VALUE = 101;
constexpr int ID_BUTTON = 102;
constexpr int ID_MEMBER = 103;
constexpr int ID_EDIT = 104;
constexpr int ID_NUMBER = 105;
constexpr int ID_COMBO = 106;
constexpr int ID_RADIO1 = 107;
constexpr int ID_RADIO2 = 108;
constexpr int ID_CHECK = 109;
constexpr int ID_GROUP = 110;
constexpr UINT WM_TEST = WM_USER + 7;

DialogTemplate TestTemplate(DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME)
{
    const DWORD child = WS_CHILD | WS_VISIBLE;
    return DialogTemplate{
        1,
        "测试",
        300,
        200,
        "MS Shell Dlg",
        9,
        style,
        0,
        {
            {ID_LABEL, ControlKind::Static, "间隔(ms)", 10, 10, 60, 10, child | SS_LEFT},
            {ID_VALUE, ControlKind::Static, "Static", 80, 10, 60, 14, child | SS_LEFT, WS_EX_STATICEDGE, ID_LABEL},
            {ID_BUTTON, ControlKind::PushButton, "按钮", 10, 30, 50, 14, child | WS_TABSTOP},
            {ID_MEMBER, ControlKind::PushButton, "成员", 70, 30, 50, 14, child | WS_TABSTOP | WS_DISABLED},
            {ID_EDIT, ControlKind::Edit, "", 10, 50, 40, 14, child | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 0,
             ID_LABEL},
            {ID_NUMBER, ControlKind::Edit, "", 60, 50, 40, 14, child | WS_BORDER | WS_TABSTOP | ES_NUMBER},
            {ID_COMBO, ControlKind::ComboBox, "", 10, 70, 60, 52,
             child | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_SORT},
            {ID_RADIO1, ControlKind::RadioButton, "甲", 10, 130, 40, 12, child | BS_AUTORADIOBUTTON | WS_TABSTOP},
            {ID_RADIO2, ControlKind::RadioButton, "乙", 60, 130, 40, 12, child | BS_AUTORADIOBUTTON},
            {ID_CHECK, ControlKind::CheckBox, "其他", 110, 130, 40, 12, child | BS_AUTOCHECKBOX | WS_TABSTOP},
            {ID_GROUP, ControlKind::GroupBox, "组", 5, 120, 200, 30, child | BS_GROUPBOX},
        },
    };
}

class MemberButton : public QPushButton {
public:
    int subclassed = 0;
    QString textAtSubclass;
    void PreSubclassWindow()
    {
        ++subclassed;
        textAtSubclass = text();
    }
};

class TestDialog : public CDialogEx {
public:
    explicit TestDialog(const DialogTemplate& t = TestTemplate()) : CDialogEx(t) {}

    MemberButton m_member;
    std::vector<std::string> log;
    std::vector<UINT_PTR> timers;
    std::vector<std::pair<WPARAM, LPARAM>> messages;
    std::function<void()> onButton;
    int comboDropHeightAdd = 100;

    void OnButton()
    {
        log.push_back("button");
        if (onButton)
            onButton();
    }
    void OnMember() { log.push_back("member"); }
    void OnComboChange() { log.push_back("selchange"); }
    void OnComboDrop()
    {
        log.push_back("dropdown");
        RECT r;
        GetDlgItem(ID_COMBO)->GetClientRect(&r);
        GetDlgItem(ID_COMBO)->SetWindowPos(nullptr, 0, 0, r.right - r.left, r.bottom - r.top + comboDropHeightAdd,
                                           SWP_NOMOVE | SWP_NOZORDER | SWP_SHOWWINDOW);
    }
    void OnRadio() { log.push_back("radio"); }
    void OnTimer(UINT_PTR id) { timers.push_back(id); }
    LRESULT OnTestMessage(WPARAM w, LPARAM l)
    {
        messages.emplace_back(w, l);
        return 0;
    }
    void OnCtlColor(CCtlColor* dc, CWnd* control, UINT)
    {
        if (static_cast<CDlgItem*>(control)->GetDlgCtrlID() == ID_VALUE) {
            dc->SetBkMode(CCtlColor::TRANSPARENT);
            dc->SelectObject(MakePointFont("微软雅黑", 150));
            dc->SetTextColor(RGB(255, 0, 0));
        }
    }
    void OnOK() override
    {
        log.push_back("ok");
        CDialogEx::OnOK();
    }

protected:
    void DoDataExchange(CDataExchange* pDX) override
    {
        CDialogEx::DoDataExchange(pDX);
        DDX_Control(pDX, ID_MEMBER, m_member);
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestDialog, CDialogEx)
ON_BN_CLICKED(ID_BUTTON, &TestDialog::OnButton)
ON_BN_CLICKED(ID_MEMBER, &TestDialog::OnMember)
ON_CBN_SELCHANGE(ID_COMBO, &TestDialog::OnComboChange)
ON_CBN_DROPDOWN(ID_COMBO, &TestDialog::OnComboDrop)
ON_BN_CLICKED(ID_RADIO2, &TestDialog::OnRadio)
ON_WM_TIMER()
ON_MESSAGE(WM_TEST, &TestDialog::OnTestMessage)
ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

class DialogLayer : public ::testing::Test {
protected:
    void SetUp() override { TestApp(); }
};

QComboBox& Combo(TestDialog& d) { return *qobject_cast<QComboBox*>(d.GetDlgItem(ID_COMBO)->Widget()); }

} // namespace

TEST(MulDivTest, RoundsHalvesAwayFromZero)
{
    struct Case {
        int a, b, c, expected;
    } cases[] = {
        {10, 7, 4, 18},  // 17.5 -> 18
        {9, 7, 4, 16},   // 15.75 -> 16
        {11, 7, 4, 19},  // 19.25 -> 19
        {-10, 7, 4, -18},
        {640, 7, 4, 1120},
        {381, 15, 8, 714}, // 714.375
        {5, 3, 0, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.expected) << c.a << "*" << c.b << "/" << c.c;
}

TEST_F(DialogLayer, LaysOutControlsInDialogUnitsOfItsFont)
{
    TestDialog d;
    ASSERT_TRUE(d.Create());
    const QFont font = d.GetQFont();
    EXPECT_EQ(font.pixelSize(), MulDiv(9, ScreenLogPixelsY(), 72));
    const QFontMetrics fm(font);
    const int baseX = (fm.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 26 + 1) / 2;
    const int baseY = fm.height();
    EXPECT_EQ(d.BaseUnits().cx, baseX);
    EXPECT_EQ(d.BaseUnits().cy, baseY);

    RECT client;
    d.GetClientRect(&client);
    EXPECT_EQ(client.right, MulDiv(300, baseX, 4));
    EXPECT_EQ(client.bottom, MulDiv(200, baseY, 8));

    const QRect edit = d.GetDlgItem(ID_EDIT)->Widget()->geometry();
    EXPECT_EQ(edit.x(), MulDiv(10, baseX, 4));
    EXPECT_EQ(edit.y(), MulDiv(50, baseY, 8));
    EXPECT_EQ(edit.width(), MulDiv(40, baseX, 4));
    EXPECT_EQ(edit.height(), MulDiv(14, baseY, 8));

    // A combo box's template height includes its list: the field keeps its own height.
    CDlgItem* combo = d.GetDlgItem(ID_COMBO);
    EXPECT_EQ(combo->DroppedHeight(), MulDiv(52, baseY, 8));
    EXPECT_LT(combo->Widget()->height(), combo->DroppedHeight());
    EXPECT_EQ(combo->Widget()->width(), MulDiv(60, baseX, 4));
}

TEST_F(DialogLayer, ControlsByIdentifierWithTheirKindsAndTexts)
{
    TestDialog d;
    ASSERT_TRUE(d.Create());
    EXPECT_NE(qobject_cast<QLabel*>(d.GetDlgItem(ID_LABEL)->Widget()), nullptr);
    EXPECT_NE(qobject_cast<QRadioButton*>(d.GetDlgItem(ID_RADIO1)->Widget()), nullptr);
    EXPECT_NE(qobject_cast<QCheckBox*>(d.GetDlgItem(ID_CHECK)->Widget()), nullptr);
    EXPECT_TRUE(qobject_cast<QComboBox*>(d.GetDlgItem(ID_COMBO)->Widget())->isEditable());
    EXPECT_EQ(d.GetDlgItem(ID_EDIT)->Widget()->property("ctrlId").toInt(), ID_EDIT);
    EXPECT_EQ(d.GetDlgItem(9999), nullptr);
    EXPECT_EQ(qobject_cast<QLabel*>(d.GetDlgItem(ID_VALUE)->Widget())->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(qobject_cast<QLabel*>(d.GetDlgItem(ID_LABEL)->Widget())->frameShape(), QFrame::NoFrame);

    d.SetDlgItemText(ID_VALUE, "12.5000°");
    EXPECT_EQ(d.GetDlgItemText(ID_VALUE), "12.5000°");
    d.SetDlgItemText(ID_EDIT, "25ms");
    EXPECT_EQ(d.GetDlgItemText(ID_EDIT), "25ms");
    EXPECT_EQ(d.GetWindowText(), "测试");

    // Enabling through GetDlgItem, and the template's disabled style.
    EXPECT_FALSE(d.GetDlgItem(ID_MEMBER)->IsWindowEnabled());
    d.GetDlgItem(ID_EDIT)->EnableWindow(FALSE);
    EXPECT_FALSE(d.GetDlgItem(ID_EDIT)->IsWindowEnabled());
    d.GetDlgItem(ID_EDIT)->EnableWindow(TRUE);
    EXPECT_TRUE(d.GetDlgItem(ID_EDIT)->IsWindowEnabled());

    // Z-order walk in template order.
    std::vector<int> ids;
    for (CDlgItem* c = d.GetTopWindow(); c; c = c->GetNextWindow())
        ids.push_back(c->GetDlgCtrlID());
    EXPECT_EQ(ids, (std::vector<int>{ID_LABEL, ID_VALUE, ID_BUTTON, ID_MEMBER, ID_EDIT, ID_NUMBER, ID_COMBO,
                                     ID_RADIO1, ID_RADIO2, ID_CHECK, ID_GROUP}));
}

TEST_F(DialogLayer, BoundMemberTakesThePlaceOfItsControl)
{
    TestDialog d;
    ASSERT_TRUE(d.Create());
    QWidget* window = d.GetSafeHwnd();
    CDlgItem* item = d.GetDlgItem(ID_MEMBER);
    ASSERT_EQ(item->Widget(), &d.m_member);
    EXPECT_EQ(d.m_member.parentWidget(), window);
    EXPECT_EQ(d.m_member.subclassed, 1);
    EXPECT_EQ(d.m_member.textAtSubclass, QStringLiteral("成员"));
    EXPECT_FALSE(d.m_member.isEnabled());
    EXPECT_EQ(d.m_member.property("ctrlId").toInt(), ID_MEMBER);
    const RECT r = DialogUnitsToPixels(d.BaseUnits(), 70, 30, 50, 14);
    EXPECT_EQ(d.m_member.geometry(), QRect(r.left, r.top, r.right - r.left, r.bottom - r.top));

    // Same stacking place: between the button before it and the edit after it.
    const QObjectList& children = window->children();
    const auto pos = [&](QWidget* w) { return children.indexOf(w); };
    EXPECT_LT(pos(d.GetDlgItem(ID_BUTTON)->Widget()), pos(&d.m_member));
    EXPECT_LT(pos(&d.m_member), pos(d.GetDlgItem(ID_EDIT)->Widget()));
    // Tab order too.
    EXPECT_EQ(d.GetDlgItem(ID_BUTTON)->Widget()->nextInFocusChain(), &d.m_member);

    d.m_member.setEnabled(true);
    d.m_member.click();
    EXPECT_EQ(d.log, (std::vector<std::string>{"member"}));

    // The window goes, the member stays usable.
    d.DestroyWindow();
    EXPECT_EQ(d.m_member.parentWidget(), nullptr);
    EXPECT_EQ(d.GetDlgItem(ID_MEMBER), nullptr);
    d.SetDlgItemText(ID_VALUE, "ignored");
}

TEST_F(DialogLayer, MessageMapRoutesNotificationsAndMessages)
{
    TestDialog d;
    ASSERT_TRUE(d.Create());
    qobject_cast<QPushButton*>(d.GetDlgItem(ID_BUTTON)->Widget())->click();
    d.WindowProc(WM_TEST, 0x7E, 3);
    d.WindowProc(WM_USER + 8, 1, 1); // not mapped: default handling
    qobject_cast<QRadioButton*>(d.GetDlgItem(ID_RADIO2)->Widget())->click();
    EXPECT_EQ(d.log, (std::vector<std::string>{"button", "radio"}));
    ASSERT_EQ(d.messages.size(), 1u);
    EXPECT_EQ(d.messages[0], (std::pair<WPARAM, LPARAM>{0x7E, 3}));
    EXPECT_EQ(d.IsDlgButtonChecked(ID_RADIO2), BST_CHECKED);
    EXPECT_EQ(d.IsDlgButtonChecked(ID_RADIO1), BST_UNCHECKED);
}

TEST_F(DialogLayer, CheckOperations)
{
    TestDialog d;
    ASSERT_TRUE(d.Create());
    d.CheckRadioButton(ID_RADIO1, ID_RADIO2, ID_RADIO1);
    EXPECT_EQ(d.IsDlgButtonChecked(ID_RADIO1), BST_CHECKED);
    EXPECT_EQ(d.IsDlgButtonChecked(ID_RADIO2), BST_UNCHECKED);
    d.CheckRadioButton(ID_RADIO1, ID_RADIO2, ID_RADIO2);
    EXPECT_EQ(d.IsDlgButtonChecked(ID_RADIO1), BST_UNCHECKED);
    EXPECT_EQ(d.IsDlgButtonChecked(ID_RADIO2), BST_CHECKED);
    EXPECT_EQ(d.IsDlgButtonChecked(ID_CHECK), BST_UNCHECKED);
    qobject_cast<QCheckBox*>(d.GetDlgItem(ID_CHECK)->Widget())->click(); // automatic check box
    EXPECT_EQ(d.IsDlgButtonChecked(ID_CHECK), BST_CHECKED);
    d.CheckDlgButton(ID_CHECK, BST_UNCHECKED);
    EXPECT_EQ(d.IsDlgButtonChecked(ID_CHECK), BST_UNCHECKED);
    EXPECT_EQ(d.IsDlgButtonChecked(ID_BUTTON), BST_UNCHECKED);
}

TEST_F(DialogLayer, ComboOperationsAndSelectionNotifications)
{
    TestDialog d;
    ASSERT_TRUE(d.Create());
    QComboBox& combo = Combo(d);
    EXPECT_EQ(ComboGetCurSel(combo), CB_ERR);
    ComboInsertString(combo, 0, "串口1");
    EXPECT_EQ(ComboGetCurSel(combo), CB_ERR); // inserting selects nothing
    ComboInsertString(combo, 1, "串口3");
    ComboInsertString(combo, 1, "串口2");
    EXPECT_EQ(ComboGetCount(combo), 3);
    std::string text;
    ComboGetLBText(combo, 1, text);
    EXPECT_EQ(text, "串口2");
    EXPECT_EQ(ComboGetLBText(combo, 5, text), CB_ERR);
    ComboSetCurSel(combo, 2);
    EXPECT_EQ(ComboGetCurSel(combo), 2);
    EXPECT_EQ(d.GetDlgItemText(ID_COMBO), "串口3");
    EXPECT_TRUE(d.log.empty()); // programmatic selection is silent

    combo.setFocus();
    QTest::keyClick(&combo, Qt::Key_Up);
    EXPECT_EQ(ComboGetCurSel(combo), 1);
    EXPECT_EQ(d.log, (std::vector<std::string>{"selchange"}));
}

TEST_F(DialogLayer, DropDownNotifiesAndOpensTheListToTheRequestedHeight)
{
    TestDialog d;
    ASSERT_TRUE(d.Create());
    QComboBox& combo = Combo(d);
    for (int i = 0; i < 8; ++i)
        ComboInsertString(combo, i, "项" + std::to_string(i));
    const int field = combo.height();
    const int width = combo.width();
    combo.showPopup();
    EXPECT_EQ(d.log, (std::vector<std::string>{"dropdown"}));
    EXPECT_EQ(d.GetDlgItem(ID_COMBO)->DroppedHeight(), field + 100);
    // The field keeps its size; the opened list extends 100 pixels below it.
    EXPECT_EQ(combo.height(), field);
    EXPECT_EQ(combo.width(), width);
    EXPECT_EQ(combo.view()->parentWidget()->height(), 100);
    combo.hidePopup();
}

TEST_F(DialogLayer, NumbersOnlyEditTakesDigitsOnly)
{
    TestDialog d;
    ASSERT_TRUE(d.Create());
    auto* number = qobject_cast<QLineEdit*>(d.GetDlgItem(ID_NUMBER)->Widget());
    auto* edit = qobject_cast<QLineEdit*>(d.GetDlgItem(ID_EDIT)->Widget());
    QTest::keyClicks(number, "1a2 -3");
    QTest::keyClicks(edit, " 25ms");
    EXPECT_EQ(number->text(), QStringLiteral("123"));
    EXPECT_EQ(edit->text(), QStringLiteral(" 25ms"));
}

TEST_F(DialogLayer, TimersByIdentifier)
{
    TestDialog d;
    ASSERT_TRUE(d.Create());
    d.SetTimer(1, 500);
    d.SetTimer(1, 10); // replaces the first
    d.SetTimer(7, 15);
    EXPECT_EQ(d.TimerInterval(1), 10);
    ASSERT_TRUE(PumpUntil([&] {
        return std::count(d.timers.begin(), d.timers.end(), 1u) >= 3 && std::count(d.timers.begin(), d.timers.end(), 7u) >= 1;
    }));
    EXPECT_TRUE(d.KillTimer(1));
    EXPECT_FALSE(d.KillTimer(1));
    EXPECT_FALSE(d.HasTimer(1));
    d.timers.clear();
    PumpFor(60);
    EXPECT_EQ(std::count(d.timers.begin(), d.timers.end(), 1u), 0);
    EXPECT_GE(std::count(d.timers.begin(), d.timers.end(), 7u), 1);
}

TEST_F(DialogLayer, EscapeAndCloseBoxCancelEnterAccepts)
{
    struct Case {
        const char* name;
        std::function<void(TestDialog&)> act;
        int expected;
    } cases[] = {
        {"escape", [](TestDialog& d) { QTest::keyClick(d.GetSafeHwnd(), Qt::Key_Escape); }, IDCANCEL},
        {"close box", [](TestDialog& d) { d.GetSafeHwnd()->close(); }, IDCANCEL},
        {"enter in an edit",
         [](TestDialog& d) {
             QWidget* edit = d.GetDlgItem(ID_EDIT)->Widget();
             edit->setFocus();
             QTest::keyClick(edit, Qt::Key_Return);
         },
         IDOK},
    };
    for (const Case& c : cases) {
        TestDialog d;
        CDialogEx::SetModalHook([&](CDialogEx&) { c.act(d); });
        EXPECT_EQ(d.DoModal(), c.expected) << c.name;
        EXPECT_EQ(d.GetSafeHwnd(), nullptr) << c.name;
        EXPECT_EQ(std::count(d.log.begin(), d.log.end(), "ok"), c.expected == IDOK ? 1 : 0) << c.name;
    }
    CDialogEx::SetModalHook(nullptr);
}

TEST_F(DialogLayer, EnterOnAFocusedButtonClicksIt)
{
    TestDialog d;
    d.onButton = [&] { d.EndDialog(42); };
    CDialogEx::SetModalHook([&](CDialogEx&) {
        QWidget* button = d.GetDlgItem(ID_BUTTON)->Widget();
        button->setFocus();
        QTest::keyClick(button, Qt::Key_Return);
    });
    EXPECT_EQ(d.DoModal(), 42);
    CDialogEx::SetModalHook(nullptr);
    EXPECT_EQ(d.log, (std::vector<std::string>{"button"}));
}

TEST_F(DialogLayer, NoCloseBoxWithoutSystemMenu)
{
    TestDialog d(TestTemplate(WS_POPUP | WS_CAPTION | DS_MODALFRAME));
    ASSERT_TRUE(d.Create());
    EXPECT_FALSE(d.GetSafeHwnd()->windowFlags() & Qt::WindowCloseButtonHint);
    d.GetSafeHwnd()->close();
    EXPECT_TRUE(d.GetSafeHwnd()->isVisible());
    QTest::keyClick(d.GetSafeHwnd(), Qt::Key_Escape);
    EXPECT_EQ(d.ModalResult(), IDCANCEL);
    EXPECT_FALSE(d.GetSafeHwnd()->isVisible());
}

TEST_F(DialogLayer, ControlColoursOnlyWhereTheMapSaysSo)
{
    TestDialog d;
    ASSERT_TRUE(d.Create());
    QWidget* value = d.GetDlgItem(ID_VALUE)->Widget();
    QWidget* label = d.GetDlgItem(ID_LABEL)->Widget();
    EXPECT_EQ(value->font().family(), QStringLiteral("微软雅黑"));
    EXPECT_EQ(value->font().pixelSize(), MulDiv(150, ScreenLogPixelsY(), 720));
    EXPECT_EQ(value->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_EQ(label->font(), d.GetQFont());
    EXPECT_NE(label->palette().color(QPalette::WindowText), QColor(255, 0, 0));
}

TEST_F(DialogLayer, AccessibleNamesOfEditsComeFromTheirCaptions)
{
    TestDialog d;
    ASSERT_TRUE(d.Create());
    QWidget* edit = d.GetDlgItem(ID_EDIT)->Widget();
    EXPECT_EQ(edit->accessibleName(), QStringLiteral("间隔(ms)"));
    d.SetDlgItemText(ID_LABEL, "周期");
    EXPECT_EQ(edit->accessibleName(), QStringLiteral("周期"));
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(d.GetDlgItem(ID_BUTTON)->Widget());
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::Button);
    EXPECT_EQ(iface->text(QAccessible::Name), QStringLiteral("按钮"));
    d.GetDlgItem(ID_BUTTON)->EnableWindow(FALSE);
    EXPECT_TRUE(iface->state().disabled);
}

TEST_F(DialogLayer, FontObjectsPerControl)
{
    TestDialog d;
    ASSERT_TRUE(d.Create());
    CDlgItem* edit = d.GetDlgItem(ID_EDIT);
    // Until it is given one, a control uses the dialog's font.
    ASSERT_EQ(edit->GetFont(), d.GetFont());
    LOGFONT lf;
    ASSERT_GT(edit->GetFont()->GetLogFont(&lf), 0);
    EXPECT_EQ(lf.lfHeight, -MulDiv(9, ScreenLogPixelsY(), 72));
    EXPECT_STREQ(lf.lfFaceName, "MS Shell Dlg");

    lf.lfHeight = 16;
    lf.lfWidth = 5;
    CFont derived;
    ASSERT_TRUE(derived.CreateFontIndirect(&lf));
    edit->SetFont(&derived);
    EXPECT_EQ(edit->GetFont(), &derived);
    EXPECT_EQ(edit->Widget()->font(), derived.Data()->font);
    EXPECT_EQ(d.GetDlgItem(ID_NUMBER)->GetFont(), d.GetFont()); // the others keep theirs
}
