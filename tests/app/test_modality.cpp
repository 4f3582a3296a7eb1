// The export dialog and the message boxes as an operator meets them: modal to
// the whole application from the moment they show, owned by the window they
// speak for, the export dialog with a fixed title-only frame; and a run that
// ends once when the device goes while its stop question is open.
#include "TelvarFixture.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <map>

#include "app/CSaveDialog.h"

namespace {

// What the operator sees of every control: its text and whether it takes input.
std::map<int, std::pair<std::string, bool>> Snapshot(const CDialogEx& dlg)
{
    std::map<int, std::pair<std::string, bool>> state;
    for (const auto& c : dlg.Controls())
        state[c->GetDlgCtrlID()] = {c->GetWindowText(), c->IsWindowEnabled() == TRUE};
    return state;
}

// Clicks the centre of a control through the window system, as a mouse does:
// a window blocked by a modal one never receives it.
void SystemClick(CDialogEx& dlg, int id)
{
    QWidget* target = dlg.GetDlgItem(id)->Widget();
    QWindow* window = dlg.GetSafeHwnd()->windowHandle();
    ASSERT_NE(window, nullptr);
    const QPoint at = target->mapTo(dlg.GetSafeHwnd(), target->rect().center());
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, at);
}

} // namespace

class ModalityTest : public TelvarFixture {
protected:
    int Asked(const std::string& text) const
    {
        int n = 0;
        for (const auto& s : presenter.shown)
            n += s.text == text ? 1 : 0;
        return n;
    }
};

TEST_F(ModalityTest, TheExportDialogIsModalOwnedAndBlocksTheMainWindowFromTheStart)
{
    OpenPortOnPty();
    StartAndSettle();
    ASSERT_EQ(Text(IDC_START), "停止");

    bool checked = false;
    CDialogEx::SetModalHook([&](CDialogEx& save) {
        checked = true;
        QWidget* window = save.GetSafeHwnd();
        QWidget* main = dlg->GetSafeHwnd();
        EXPECT_EQ(QApplication::activeModalWidget(), window);
        EXPECT_EQ(window->windowModality(), Qt::ApplicationModal);
        EXPECT_EQ(window->parentWidget(), main);
        // Centred over its owner.
        EXPECT_LE((window->geometry().center() - main->geometry().center()).manhattanLength(), 2);
        // A second click on 停止 and Escape never reach the main window.
        SystemClick(*dlg, IDC_START);
        QTest::keyClick(main->windowHandle(), Qt::Key_Escape);
        PumpFor(50);
        EXPECT_TRUE(main->isVisible());
        save.EndDialog(IDCANCEL);
    });
    presenter.answers = {IDYES};
    Click(IDC_START);
    ASSERT_TRUE(checked);
    EXPECT_EQ(Asked("是否保存历史数据"), 1);
    int stops = 0;
    for (const auto& w : writes.Snapshot())
        stops += w.bytes == Bytes{0x7E, 0x03, 0x7E} ? 1 : 0;
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(Text(IDC_START), "开始");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(ModalityTest, TheExportDialogHasAFixedTitleOnlyFrameAndEscapeStillCloses)
{
    CSaveDialog save;
    bool checked = false;
    CDialogEx::SetModalHook([&](CDialogEx& d) {
        checked = true;
        QWidget* window = d.GetSafeHwnd();
        const Qt::WindowFlags flags = window->windowFlags();
        EXPECT_TRUE(flags & Qt::WindowTitleHint);
        EXPECT_FALSE(flags & Qt::WindowCloseButtonHint);
        EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
        EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
        EXPECT_FALSE(flags & Qt::WindowSystemMenuHint);
        // A fixed size: no window manager can maximise or drag it larger.
        EXPECT_EQ(window->minimumSize(), window->size());
        EXPECT_EQ(window->maximumSize(), window->size());
        QTest::keyClick(window, Qt::Key_Escape);
    });
    EXPECT_EQ(save.DoModal(), IDCANCEL);
    EXPECT_TRUE(checked);
    // The main window keeps a frame that may grow.
    EXPECT_LT(dlg->GetSafeHwnd()->minimumWidth(), dlg->GetSafeHwnd()->maximumWidth());
}

TEST_F(ModalityTest, MessageBoxesAreApplicationModalAndOwnedByTheDialog)
{
    // The Qt presenter itself, as the tool runs it.
    SetMessagePresenter(nullptr);
    struct Seen {
        bool modal = false;
        QWidget* parent = nullptr;
    };
    auto inspectAndClose = [](Seen& seen) {
        QTimer::singleShot(0, [&seen] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            seen.modal = box->windowModality() == Qt::ApplicationModal;
            seen.parent = box->parentWidget();
            box->buttons().front()->click();
        });
    };
    Seen blocking;
    inspectAndClose(blocking);
    AfxMessageBox("路径不能为空");
    EXPECT_TRUE(blocking.modal);
    EXPECT_EQ(blocking.parent, dlg->GetSafeHwnd());

    // A box that does not hold up its caller is modal all the same.
    MessageBoxRequest request{"记录文件写入失败", "Telvar", MB_OK | MB_ICONERROR, false};
    MessagePresenter().ShowMessage(dlg->GetSafeHwnd(), request);
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->parentWidget(), dlg->GetSafeHwnd());
    box->buttons().front()->click();
    PumpFor(20);
    SetMessagePresenter(&presenter);
}

// Answers the stop question only after the device has gone meanwhile.
class LosingPresenter : public ScriptedPresenter {
public:
    std::function<void()> whileAsking;
    int ShowMessage(QWidget* owner, const MessageBoxRequest& request) override
    {
        if (request.text == "是否保存历史数据" && whileAsking)
            std::exchange(whileAsking, nullptr)();
        return ScriptedPresenter::ShowMessage(owner, request);
    }
};

TEST_F(ModalityTest, LosingTheDeviceWhileTheStopQuestionIsOpenEndsTheRunOnce)
{
    LosingPresenter losing;
    SetMessagePresenter(&losing);

    // The state after an ordinary loss of the device during a run.
    OpenPortOnPty();
    StartAndSettle();
    box->Hangup();
    ASSERT_TRUE(PumpUntil([&] { return Text(IDC_OPEN_PORT) == "打开串口"; }));
    const auto ordinary = Snapshot(*dlg);
    box.reset();

    // Again, but the device goes while 是否保存历史数据 is asked.
    OpenPortOnPty();
    StartAndSettle();
    losing.shown.clear();
    losing.whileAsking = [&] {
        box->Hangup();
        PumpUntil([&] { return Text(IDC_PORT_STATUS) == "串口1已关闭"; });
        PumpFor(50);
    };
    losing.answers = {IDNO};
    Click(IDC_START);
    int asked = 0;
    for (const auto& s : losing.shown)
        asked += s.text == "是否保存历史数据" ? 1 : 0;
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(dlg->State().m_bRecording);
    EXPECT_FALSE(dlg->HasTimer(POLL_TIMER_ID));
    const auto after = Snapshot(*dlg);
    for (const auto& [id, seen] : ordinary) {
        EXPECT_EQ(after.at(id).first, seen.first) << id;
        EXPECT_EQ(after.at(id).second, seen.second) << id;
    }
    SetMessagePresenter(&presenter);
}
