// The main dialog: its state after start-up, the port handling, frames
// reaching the display and the record file, leaving, and a lost device.
#include "TelvarFixture.h"

#include <QLabel>
#include <QAbstractItemView>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>

#include "measurement/RecordFile.h"

namespace {

constexpr int SETTINGS[] = {IDC_BIT_WIDTH1, IDC_BIT_WIDTH2, IDC_DATA_TYPE1, IDC_DATA_TYPE2, IDC_OTHER_BITS1,
                            IDC_OTHER_BITS2, IDC_CONTINUOUS, IDC_RESPONSE, IDC_INTERVAL, IDC_OTHER_BITS_EDIT1,
                            IDC_OTHER_BITS_EDIT2};

int CountLines(const std::string& s)
{
    int n = 0;
    for (std::size_t p = 0; (p = s.find("\r\n", p)) != std::string::npos; p += 2)
        ++n;
    return n;
}

// The main dialog, noting at each batch notice what the code label shows
// before and after the dialog has handled it.
class BatchWatchingDlg : public CTelvarDlg {
public:
    struct Notice {
        std::string labelBefore;
        std::string decoded;
        std::string labelAfter;
    };
    std::vector<Notice> notices;

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message != WM_SERIAL_BATCH_DONE)
            return CTelvarDlg::WindowProc(message, wParam, lParam);
        Notice n{GetDlgItemText(IDC_CODE1), State().m_strCode1, {}};
        const LRESULT result = CTelvarDlg::WindowProc(message, wParam, lParam);
        n.labelAfter = GetDlgItemText(IDC_CODE1);
        notices.push_back(n);
        return result;
    }
};

} // namespace

using TelvarDlgTest = TelvarFixture;

TEST_F(TelvarDlgTest, StartUpSelectionsTextsAndEnables)
{
    EXPECT_EQ(dlg->GetWindowText(), "Korvane");
    struct Sel {
        int id;
        int index;
        const char* text;
        int count;
    } selections[] = {
        {IDC_PORT, 0, "串口1", 4},     {IDC_BIT_WIDTH1, 2, "26Bit", 4}, {IDC_BIT_WIDTH2, 2, "26Bit", 4},
        {IDC_DATA_TYPE1, 0, "二进制", 2}, {IDC_DATA_TYPE2, 0, "二进制", 2}, {IDC_CLOCK, 1, "0.5 M", 5},
        {IDC_FREQUENCY, 1, "100Hz", 4},
    };
    for (const Sel& s : selections) {
        EXPECT_EQ(ComboGetCurSel(ComboOf(s.id)), s.index) << s.id;
        EXPECT_EQ(Text(s.id), s.text) << s.id;
        EXPECT_EQ(ComboGetCount(ComboOf(s.id)), s.count) << s.id;
    }
    std::string item;
    ComboGetLBText(ComboOf(IDC_CLOCK), 2, item);
    EXPECT_EQ(item, " 2  M");
    ComboGetLBText(ComboOf(IDC_FREQUENCY), 3, item);
    EXPECT_EQ(item, "1  Hz");
    ComboGetLBText(ComboOf(IDC_DATA_TYPE2), 1, item);
    EXPECT_EQ(item, "格雷码");

    for (int id : {IDC_START, IDC_ZERO1, IDC_ZERO2, IDC_CONTINUOUS, IDC_RESPONSE, IDC_INTERVAL, IDC_OTHER_BITS1,
                   IDC_OTHER_BITS2, IDC_OTHER_BITS_EDIT1, IDC_OTHER_BITS_EDIT2, IDC_BIT_WIDTH1, IDC_BIT_WIDTH2,
                   IDC_DATA_TYPE1, IDC_DATA_TYPE2})
        EXPECT_FALSE(Enabled(id)) << id;
    for (int id : {IDC_PORT, IDC_OPEN_PORT, IDC_EXIT, IDC_CLOCK, IDC_FREQUENCY})
        EXPECT_TRUE(Enabled(id)) << id;
    EXPECT_EQ(dlg->IsDlgButtonChecked(IDC_CONTINUOUS), BST_CHECKED);
    EXPECT_EQ(dlg->IsDlgButtonChecked(IDC_RESPONSE), BST_UNCHECKED);

    const std::pair<int, const char*> texts[] = {
        {IDC_ZERO_ANGLE1, "0°"},
        {IDC_ZERO_ANGLE2, "0°"},
        {IDC_REL_ANGLE1, "0.0000°"},
        {IDC_REL_ANGLE2, "0.0000°"},
        {IDC_TOTAL_ANGLE1, "0.0000°"},
        {IDC_TOTAL_ANGLE2, "0.0000°"},
        {IDC_CODE1, ""},
        {IDC_CODE2, ""},
        {IDC_LABEL_ZERO, "当前偏移："},
        {IDC_LABEL_REL_ANGLE1, "当前通道1角度："},
        {IDC_LABEL_REL_ANGLE2, "当前通道2角度:"},
        {IDC_LABEL_TOTAL_ANGLE1, "通道1总角度："},
        {IDC_LABEL_TOTAL_ANGLE2, "通道2总角度："},
        {IDC_LABEL_CODE1, "通道1源码："},
        {IDC_LABEL_CODE2, "通道2源码："},
        {IDC_MODEL, "型号：Telvar"},
        {IDC_PORT_STATUS, "串口未打开"},
        {IDC_OPEN_PORT, "打开串口"},
        {IDC_START, "开始"},
        {IDC_ZERO1, "通道1光栅归零"},
        {IDC_ZERO2, "通道2光栅归零"},
        {IDC_EXIT, "退出"},
        {IDC_LABEL_INTERVAL, "响应模式间隔(ms)"},
        {IDC_GROUP_BIT_WIDTH, "数据位宽"},
    };
    for (const auto& [id, text] : texts)
        EXPECT_EQ(Text(id), text) << id;
    EXPECT_EQ(Text(IDC_WEBSITE).rfind("网址: ", 0), 0u);
    EXPECT_GT(Text(IDC_WEBSITE).size(), std::string("网址: ").size());

    EXPECT_EQ(dlg->Meter1().m_dValue, 0.0);
    EXPECT_EQ(dlg->Meter2().m_dValue, 0.0);
    EXPECT_EQ(W(IDC_METER1), &dlg->Meter1());
    EXPECT_EQ(W(IDC_METER2), &dlg->Meter2());
    EXPECT_EQ(dlg->PortIndex(), 0);
}

TEST_F(TelvarDlgTest, FontsAndColoursOfTheListedTextsOnly)
{
    const int valueFontPx = MulDiv(150, 96, 720);
    for (int id : {IDC_REL_ANGLE1, IDC_REL_ANGLE2, IDC_TOTAL_ANGLE2, IDC_TOTAL_ANGLE1, IDC_ZERO_ANGLE1,
                   IDC_ZERO_ANGLE2, IDC_PORT_STATUS, IDC_LABEL_REL_ANGLE1, IDC_LABEL_REL_ANGLE2, IDC_LABEL_TOTAL_ANGLE1,
                   IDC_LABEL_TOTAL_ANGLE2, IDC_LABEL_ZERO, IDC_WEBSITE, IDC_LABEL_CODE1, IDC_CODE1, IDC_LABEL_CODE2,
                   IDC_CODE2}) {
        const QFont f = W(id)->font();
        EXPECT_EQ(f.family(), QStringLiteral("微软雅黑")) << id;
        EXPECT_EQ(f.pixelSize(), valueFontPx) << id;
        EXPECT_EQ(W(id)->palette().color(QPalette::WindowText), QColor(0, 0, 0)) << id;
        // Their text sits on the dialog's own background colour.
        const QImage shot = W(id)->grab().toImage();
        const QColor behind = dlg->GetSafeHwnd()->palette().color(QPalette::Window);
        EXPECT_EQ(shot.pixelColor(shot.width() - 4, shot.height() / 2), behind) << id;
    }
    const QFont model = W(IDC_MODEL)->font();
    EXPECT_EQ(model.family(), QStringLiteral("隶书"));
    EXPECT_EQ(model.pixelSize(), MulDiv(180, 96, 720));
    // Everything else keeps the dialog's look.
    for (int id : {IDC_GROUP_DATA_TYPE, IDC_CONTINUOUS, IDC_OTHER_BITS1, IDC_INTERVAL, IDC_OTHER_BITS_EDIT1,
                   IDC_LABEL_TYPE_CH1, IDC_LABEL_INTERVAL, IDC_LABEL_CLOCK, IDC_LABEL_BIT1, IDC_PORT}) {
        EXPECT_EQ(W(id)->font().family(), dlg->GetQFont().family()) << id;
        EXPECT_EQ(W(id)->font().pixelSize(), dlg->GetQFont().pixelSize()) << id;
        EXPECT_FALSE(W(id)->palette().isBrushSet(QPalette::Active, QPalette::WindowText)) << id;
    }
}

TEST_F(TelvarDlgTest, TemplateGeometryInPixels)
{
    const DialogBaseUnits base = dlg->BaseUnits();
    ASSERT_GT(base.cx, 0);
    ASSERT_GT(base.cy, 0);
    struct Box {
        int id, x, y, cx, cy;
    } boxes[] = {
        {IDC_METER1, 25, 58, 199, 181}, {IDC_START, 448, 258, 75, 25}, {IDC_REL_ANGLE1, 125, 272, 76, 14},
        {IDC_INTERVAL, 536, 141, 38, 14}, {IDC_GROUP_BIT_WIDTH, 444, 172, 174, 85}, {IDC_LABEL_BIT2, 599, 232, 9, 8},
    };
    for (const Box& b : boxes) {
        const QRect g = W(b.id)->geometry();
        EXPECT_EQ(g, QRect(MulDiv(b.x, base.cx, 4), MulDiv(b.y, base.cy, 8), MulDiv(b.cx, base.cx, 4),
                           MulDiv(b.cy, base.cy, 8)))
            << b.id;
    }
    RECT client;
    dlg->GetClientRect(&client);
    EXPECT_EQ(client.right, MulDiv(640, base.cx, 4));
    EXPECT_EQ(client.bottom, MulDiv(381, base.cy, 8));
    const Qt::WindowFlags flags = dlg->GetSafeHwnd()->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(dlg->GetSafeHwnd()->windowIcon().isNull());
    EXPECT_FALSE(dlg->OnQueryDragIcon()->isNull());
    if (const char* shot = std::getenv("TELVAR_SCREENSHOT"))
        dlg->GetSafeHwnd()->grab().save(QString::fromLocal8Bit(shot));
}

TEST_F(TelvarDlgTest, ButtonSchemes)
{
    auto* start = dynamic_cast<CCustomDrawBtn*>(W(IDC_START));
    auto* exitButton = dynamic_cast<CCustomDrawBtn*>(W(IDC_EXIT));
    ASSERT_TRUE(start && exitButton);
    EXPECT_EQ(start->m_clrNormal, RGB(101, 160, 251));
    EXPECT_EQ(start->m_clrCurrent, RGB(101, 160, 251));
    EXPECT_EQ(exitButton->m_clrNormal, RGB(255, 134, 134));
    for (int id : {IDC_OPEN_PORT, IDC_ZERO1, IDC_ZERO2})
        EXPECT_EQ(dynamic_cast<CCustomDrawBtn*>(W(id))->m_clrNormal, RGB(101, 160, 251)) << id;
}

TEST_F(TelvarDlgTest, EveryDropDownOpensItsList100PixelsBelowTheField)
{
    for (int id : {IDC_PORT, IDC_DATA_TYPE1, IDC_DATA_TYPE2, IDC_BIT_WIDTH1, IDC_BIT_WIDTH2, IDC_CLOCK,
                   IDC_FREQUENCY}) {
        QComboBox& combo = ComboOf(id);
        combo.setEnabled(true);
        const int field = combo.height();
        combo.showPopup();
        EXPECT_EQ(dlg->GetDlgItem(id)->DroppedHeight(), field + 100) << id;
        EXPECT_EQ(combo.view()->parentWidget()->height(), 100) << id;
        EXPECT_EQ(combo.height(), field) << id;
        combo.hidePopup();
    }
}

TEST_F(TelvarDlgTest, ThePortTooltipIsBuiltAgainAtEveryDropDown)
{
    QComboBox& combo = ComboOf(IDC_PORT);
    const std::string first = combo.toolTip().toStdString();
    EXPECT_NE(first.find("串口2: " + Home() + "/no-such-device（由 TELVAR_COM2 指定）"), std::string::npos) << first;
    // An adapter plugged in after start-up shows at the next drop-down.
    PtyBox plugged;
    ::setenv("TELVAR_COM2", plugged.Path().c_str(), 1);
    combo.showPopup();
    combo.hidePopup();
    const std::string second = combo.toolTip().toStdString();
    EXPECT_NE(second.find("串口2: " + plugged.Path() + "（由 TELVAR_COM2 指定）"), std::string::npos) << second;
    EXPECT_NE(second.find("串口1: " + Home() + "/no-such-device"), std::string::npos) << second;
    ::unsetenv("TELVAR_COM3");
    ::unsetenv("TELVAR_COM4");
    combo.showPopup();
    combo.hidePopup();
    const std::string third = combo.toolTip().toStdString();
    // Left to what is found: here no device, or whatever this machine has.
    EXPECT_EQ(third.find("TELVAR_COM3"), std::string::npos) << third;
    EXPECT_NE(third.find("串口3: "), std::string::npos) << third;
}

TEST(PortToolTip, NamesDeviceStableNameAndUsbAdapter)
{
    std::array<SerialPortEntry, 4> ports;
    ports[0].device = "/dev/ttyUSB0";
    ports[0].info = {"/dev/ttyUSB0", "ttyUSB0", "ftdi_sio", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10XK3-if00-port0",
                     "FTDI", "FT232R USB UART", "A10XK3"};
    ports[1].device = "/dev/ttyS1";
    ports[1].info = {"/dev/ttyS1", "ttyS1", "serial", "", "", "", ""};
    ports[2].device = "/tmp/box";
    ports[2].configured = true;
    EXPECT_EQ(PortToolTipText(ports), "串口1: /dev/ttyUSB0，驱动 ftdi_sio\n"
                                      "    /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10XK3-if00-port0\n"
                                      "    FTDI FT232R USB UART，序列号 A10XK3\n"
                                      "串口2: /dev/ttyS1，驱动 serial\n"
                                      "串口3: /tmp/box（由 TELVAR_COM3 指定）\n"
                                      "串口4: 无设备");
}

TEST_F(TelvarDlgTest, FailedOpenOfAnAbsentPort)
{
    Choose(IDC_PORT, 2);
    EXPECT_EQ(dlg->PortIndex(), 2);
    EXPECT_EQ(Text(IDC_PORT_STATUS), "串口未打开"); // a new choice alone changes no status
    Click(IDC_OPEN_PORT);
    ASSERT_EQ(presenter.shown.size(), 1u);
    EXPECT_EQ(presenter.shown[0].text, "没有发现串口3或被占用");
    EXPECT_EQ(presenter.shown[0].type & MB_ICONMASK, MB_ICONERROR);
    EXPECT_EQ(presenter.shown[0].caption, AfxGetAppTitle());
    EXPECT_EQ(Text(IDC_PORT_STATUS), "串口3打开失败");
    EXPECT_EQ(Text(IDC_OPEN_PORT), "打开串口");
    EXPECT_FALSE(Enabled(IDC_START));
    EXPECT_TRUE(Enabled(IDC_PORT));
    for (int id : SETTINGS)
        EXPECT_FALSE(Enabled(id)) << id;
}

TEST_F(TelvarDlgTest, AFailedOpenSaysWhyInTheStatusTooltipAndOnStderr)
{
    PtyBox box;
    // Another program holding the device without a lock.
    const pid_t holder = ::fork();
    if (holder == 0) {
        for (int fd = 3; fd < 1024; ++fd) // none of the test's own, the line's far end among them
            ::close(fd);
        if (::open(box.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK) >= 0)
            ::execlp("sleep", "sleep", "60", static_cast<char*>(nullptr));
        ::_exit(3);
    }
    ASSERT_TRUE(PumpUntil([&] { return ReadFileBytes("/proc/" + std::to_string(holder) + "/comm") == "sleep\n"; }));
    const std::string absent = Home() + "/no-such-device";
    struct Case {
        const char* device;
        std::string tooltip;
        std::string line;
    };
    const Case cases[] = {
        {absent.c_str(), "原因：设备 " + absent + " 不存在", "telvar: port 1: " + absent + ": no such device"},
        {box.Path().c_str(), "原因：" + box.Path() + " 已被其他程序占用（PID " + std::to_string(holder) + "，sleep）",
         "telvar: port 1: " + box.Path() + ": held by another program: PID " + std::to_string(holder) + " (sleep)"},
    };
    for (const Case& c : cases) {
        presenter.shown.clear();
        ::setenv("TELVAR_COM1", c.device, 1);
        ::testing::internal::CaptureStderr();
        Click(IDC_OPEN_PORT);
        const std::string err = ::testing::internal::GetCapturedStderr();
        // The message and status stay as they always were.
        ASSERT_EQ(presenter.shown.size(), 1u) << c.device;
        EXPECT_EQ(presenter.shown[0].text, "没有发现串口1或被占用");
        EXPECT_EQ(Text(IDC_PORT_STATUS), "串口1打开失败");
        EXPECT_EQ(Text(IDC_OPEN_PORT), "打开串口");
        EXPECT_EQ(W(IDC_PORT_STATUS)->toolTip().toStdString(), c.tooltip);
        EXPECT_EQ(err, c.line + "\n");
    }
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    // Free again: it opens, and the reason is gone.
    ::setenv("TELVAR_COM1", box.Path().c_str(), 1);
    Click(IDC_OPEN_PORT);
    EXPECT_EQ(Text(IDC_PORT_STATUS), "串口1已打开");
    EXPECT_TRUE(W(IDC_PORT_STATUS)->toolTip().isEmpty());
}

TEST_F(TelvarDlgTest, OpenSendsTheOpenCommandOnceAndUnlocksTheSettings)
{
    box = std::make_unique<PtyBox>();
    ::setenv("TELVAR_COM1", box->Path().c_str(), 1);
    Click(IDC_OPEN_PORT);
    EXPECT_TRUE(presenter.shown.empty());
    EXPECT_EQ(Text(IDC_PORT_STATUS), "串口1已打开");
    EXPECT_EQ(Text(IDC_OPEN_PORT), "关闭串口");
    EXPECT_FALSE(Enabled(IDC_PORT));
    EXPECT_TRUE(Enabled(IDC_START));
    ASSERT_TRUE(PumpUntil([&] { return box->Received().size() >= 6; }));
    PumpFor(50);
    EXPECT_EQ(box->Received(), (Bytes{0x7F, 0x02, 0x7F, 0x7D, 0x02, 0x7D}));
    const auto w = writes.Snapshot();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].bytes.size(), 6u);

    // Continuous mode, no "other" widths: combos on, edits and the interval off.
    for (int id : {IDC_BIT_WIDTH1, IDC_BIT_WIDTH2, IDC_DATA_TYPE1, IDC_DATA_TYPE2, IDC_OTHER_BITS1, IDC_OTHER_BITS2,
                   IDC_CONTINUOUS, IDC_RESPONSE})
        EXPECT_TRUE(Enabled(id)) << id;
    for (int id : {IDC_INTERVAL, IDC_OTHER_BITS_EDIT1, IDC_OTHER_BITS_EDIT2, IDC_ZERO1, IDC_ZERO2})
        EXPECT_FALSE(Enabled(id)) << id;

    Click(IDC_OPEN_PORT); // close
    EXPECT_EQ(Text(IDC_PORT_STATUS), "串口1已关闭");
    EXPECT_EQ(Text(IDC_OPEN_PORT), "打开串口");
    EXPECT_TRUE(Enabled(IDC_PORT));
    EXPECT_FALSE(Enabled(IDC_START));
    for (int id : SETTINGS)
        EXPECT_FALSE(Enabled(id)) << id;
}

TEST_F(TelvarDlgTest, EnablesAfterOpeningFollowModeAndOtherWidthChecks)
{
    struct Case {
        bool response, other1, other2;
    } cases[] = {{false, false, false}, {true, false, false}, {false, true, false}, {true, true, true}};
    box = std::make_unique<PtyBox>();
    ::setenv("TELVAR_COM1", box->Path().c_str(), 1);
    for (const Case& c : cases) {
        // Closed: the platform still lets the checks be set.
        dlg->CheckRadioButton(IDC_CONTINUOUS, IDC_RESPONSE, c.response ? IDC_RESPONSE : IDC_CONTINUOUS);
        dlg->CheckDlgButton(IDC_OTHER_BITS1, c.other1 ? BST_CHECKED : BST_UNCHECKED);
        dlg->CheckDlgButton(IDC_OTHER_BITS2, c.other2 ? BST_CHECKED : BST_UNCHECKED);
        Click(IDC_OPEN_PORT);
        ASSERT_EQ(Text(IDC_OPEN_PORT), "关闭串口");
        const std::string name = std::to_string(c.response) + std::to_string(c.other1) + std::to_string(c.other2);
        EXPECT_EQ(Enabled(IDC_INTERVAL), c.response) << name;
        EXPECT_EQ(Enabled(IDC_BIT_WIDTH1), !c.other1) << name;
        EXPECT_EQ(Enabled(IDC_OTHER_BITS_EDIT1), c.other1) << name;
        EXPECT_EQ(Enabled(IDC_BIT_WIDTH2), !c.other2) << name;
        EXPECT_EQ(Enabled(IDC_OTHER_BITS_EDIT2), c.other2) << name;
        Click(IDC_OPEN_PORT);
        ASSERT_EQ(Text(IDC_OPEN_PORT), "打开串口");
    }
}

TEST_F(TelvarDlgTest, FramesReachGaugesAndLabels)
{
    OpenPortOnPty();
    Choose(IDC_BIT_WIDTH1, 0); // 13 bits
    const Bytes worked = {0x7E, 0x00, 0x00, 0x10, 0x00, 0x00, 0x80, 0x00, 0x00, 0x7E};
    SendFrames({worked, worked});
    ASSERT_TRUE(PumpUntil([&] { return Text(IDC_CODE1) == "4096"; }));
    EXPECT_EQ(Text(IDC_REL_ANGLE1), "180.0220");
    EXPECT_EQ(Text(IDC_TOTAL_ANGLE1), "180.0220");
    EXPECT_EQ(Text(IDC_REL_ANGLE2), "45.0000");
    EXPECT_EQ(Text(IDC_TOTAL_ANGLE2), "45.0000");
    EXPECT_EQ(Text(IDC_CODE2), "8388608");
    EXPECT_NEAR(dlg->Meter1().m_dValue, 180.0219753, 1e-6);
    EXPECT_NEAR(dlg->Meter2().m_dValue, 45.0000007, 1e-6);
    EXPECT_FALSE(FileExists(RecordPath())); // nothing recorded before a start

    // Gray code on channel 1 takes effect with the next frame.
    Choose(IDC_DATA_TYPE1, 1);
    SendFrames({worked});
    ASSERT_TRUE(PumpUntil([&] { return Text(IDC_CODE1) == "8191"; }));
    EXPECT_EQ(Text(IDC_REL_ANGLE1), "360.0000");
}

TEST_F(TelvarDlgTest, LabelsTakeTheLastFrameOfEachBatchOnceItIsDelivered)
{
    dlg.reset();
    auto watching = std::make_unique<BatchWatchingDlg>();
    BatchWatchingDlg& d = *watching;
    ASSERT_TRUE(d.Create());
    dlg = std::move(watching);
    OpenPortOnPty();
    Choose(IDC_BIT_WIDTH1, 0); // 13 bits

    // Every frame has a code of its own, so every shown text tells its frame.
    std::vector<Bytes> frames;
    for (DWORD code = 4096; code < 4106; ++code)
        frames.push_back(Frame(code, 0));
    SendFrames(frames);
    ASSERT_TRUE(PumpUntil([&] { return Text(IDC_CODE1) == "4105"; }));
    PumpFor(30);
    ASSERT_FALSE(d.notices.empty());
    bool held = false;
    for (const auto& n : d.notices) {
        EXPECT_EQ(n.labelAfter, n.decoded);
        held = held || n.labelBefore != n.decoded;
    }
    EXPECT_TRUE(held) << "the texts of a batch were shown before its end";

    // Bytes handed to the dialog outside a port delivery show at once.
    for (const Bytes& f : {Frame(4200, 0), Frame(4201, 0)})
        for (BYTE b : f)
            dlg->WindowProc(WM_SERIAL_BYTE, b, 1);
    EXPECT_EQ(Text(IDC_CODE1), "4201");
}

TEST_F(TelvarDlgTest, RecordingWritesHeaderAndOneLinePerFrameAndTheNextRunTruncates)
{
    OpenPortOnPty();
    Choose(IDC_BIT_WIDTH1, 0);
    StartAndSettle();
    ASSERT_EQ(Text(IDC_START), "停止");
    const Bytes worked = {0x7E, 0x00, 0x00, 0x10, 0x00, 0x00, 0x80, 0x00, 0x00, 0x7E};
    SendFrames({worked, worked, worked, worked});
    const std::string line = "180.0220\t4096\t180.0220\t45.0000\t8388608\t45.0000\r\n";
    ASSERT_TRUE(PumpUntil([&] { return ReadFileBytes(RecordPath()).size() == 94 + 3 * line.size(); }));
    EXPECT_EQ(ReadFileBytes(RecordPath()), RecordHeaderBytes() + line + line + line);

    presenter.answers = {IDNO};
    Click(IDC_START);
    EXPECT_TRUE(Shown("是否保存历史数据"));
    EXPECT_EQ(ReadFileBytes(RecordPath()), RecordHeaderBytes() + line + line + line);

    // The next start begins the file again.
    StartAndSettle();
    ASSERT_EQ(Text(IDC_START), "停止");
    EXPECT_EQ(ReadFileBytes(RecordPath()), RecordHeaderBytes());
    SendFrames({worked});
    ASSERT_TRUE(PumpUntil([&] { return ReadFileBytes(RecordPath()).size() == 94 + line.size(); }));
}

TEST_F(TelvarDlgTest, FailedRecordWritesAreReportedOnceAndCountedTurnsStayRight)
{
    OpenPortOnPty();
    StartAndSettle();
    ASSERT_EQ(Text(IDC_START), "停止");
    // Channel 1 turns forwards across 360 -> 0 again and again; each line is 33+ bytes.
    const DWORD nearEnd = 0x03FFF000; // 26 bits: about 359.9
    const DWORD nearStart = 0x00001000;
    const std::string header = RecordHeaderBytes();

    // Room for exactly two more lines, then the file is full.
    struct sigaction ignore{}, old{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &old);
    rlimit oldLimit{};
    getrlimit(RLIMIT_FSIZE, &oldLimit);

    SendFrames({Frame(nearEnd, 0), Frame(nearEnd, 0)});
    ASSERT_TRUE(PumpUntil([&] { return CountLines(ReadFileBytes(RecordPath())) == 2; }));
    const std::size_t lineSize = ReadFileBytes(RecordPath()).size() - header.size();
    rlimit limit = oldLimit;
    limit.rlim_cur = header.size() + 2 * lineSize;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);

    // One line fits, then twelve frames cannot be written: three turns forwards.
    std::vector<Bytes> frames = {Frame(nearEnd, 0)};
    for (int i = 0; i < 3; ++i) {
        frames.push_back(Frame(nearStart, 0));
        frames.push_back(Frame(0x01555555, 0)); // 120
        frames.push_back(Frame(0x02AAAAAA, 0)); // 240
        frames.push_back(Frame(nearEnd, 0));
    }
    SendFrames(frames);
    const bool done = PumpUntil([&] { return dlg->RecordFile().LostLines() == 12; });
    setrlimit(RLIMIT_FSIZE, &oldLimit);
    sigaction(SIGXFSZ, &old, nullptr);
    ASSERT_TRUE(done);

    int reports = 0;
    for (const auto& s : presenter.shown) {
        if (s.text.rfind("记录文件写入失败，数据行正在丢失：", 0) == 0) {
            ++reports;
            EXPECT_FALSE(s.blocking);
            EXPECT_EQ(s.type & MB_ICONMASK, MB_ICONERROR);
        }
    }
    EXPECT_EQ(reports, 1);
    // Three forward wraps: +3 turns; the labels followed every frame.
    EXPECT_EQ(dlg->State().m_nTurns1, 3);
    EXPECT_EQ(Text(IDC_CODE1), std::to_string(nearEnd));
    EXPECT_EQ(CountLines(ReadFileBytes(RecordPath())), 1 + 2);

    // At the stop the operator learns how many lines are missing, before the question.
    presenter.answers = {IDOK, IDNO};
    Click(IDC_START);
    std::vector<std::string> texts;
    for (const auto& s : presenter.shown)
        texts.push_back(s.text);
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(texts[texts.size() - 2], "本次记录有12行数据未能写入记录文件。");
    EXPECT_EQ(texts.back(), "是否保存历史数据");
}

TEST_F(TelvarDlgTest, ExitWhileRecordingClosesTheFileWithoutStopOrQuestion)
{
    OpenPortOnPty();
    Click(IDC_START);
    ASSERT_EQ(Text(IDC_START), "停止");
    PumpFor(30);
    writes.Clear();
    const std::size_t shownBefore = presenter.shown.size();
    Click(IDC_EXIT);
    EXPECT_EQ(dlg->ModalResult(), IDCANCEL);
    EXPECT_FALSE(dlg->RecordFile().IsOpen());
    EXPECT_EQ(presenter.shown.size(), shownBefore);
    // The file is free again: nobody holds its lock.
    CFile probe;
    EXPECT_TRUE(probe.Open(RecordPath(), CFile::modeRead | CFile::shareExclusive));
    dlg.reset(); // the worker ends with the dialog
    for (const auto& w : writes.Snapshot())
        EXPECT_NE(w.bytes, (Bytes{0x7E, 0x03, 0x7E}));
    EXPECT_EQ(ReadFileBytes(RecordPath()), RecordHeaderBytes());
}

TEST_F(TelvarDlgTest, LosingTheDeviceWhileAcquiringEndsTheRunAndClosesThePort)
{
    struct Case {
        bool response;
    } cases[] = {{false}, {true}};
    for (const Case& c : cases) {
        OpenPortOnPty();
        dlg->CheckRadioButton(IDC_CONTINUOUS, IDC_RESPONSE, c.response ? IDC_RESPONSE : IDC_CONTINUOUS);
        dlg->SetDlgItemText(IDC_INTERVAL, "1000"); // a poll purges unread input: keep them rare here
        StartAndSettle();
        ASSERT_EQ(Text(IDC_START), "停止");
        SendFrames({Frame(1, 2), Frame(1, 2), Frame(1, 2)});
        // The collector may still be in step from the run before: two or three lines.
        ASSERT_TRUE(PumpUntil([&] { return CountLines(ReadFileBytes(RecordPath())) >= 3; })) << c.response;
        PumpFor(30);
        const std::string recorded = ReadFileBytes(RecordPath());
        writes.Clear();

        box->Hangup();
        ASSERT_TRUE(PumpUntil([&] { return Text(IDC_OPEN_PORT) == "打开串口"; })) << c.response;
        EXPECT_EQ(Text(IDC_PORT_STATUS), "串口1已关闭");
        EXPECT_EQ(Text(IDC_START), "开始");
        EXPECT_FALSE(Enabled(IDC_START));
        EXPECT_TRUE(Enabled(IDC_PORT));
        EXPECT_FALSE(Enabled(IDC_ZERO1));
        for (int id : SETTINGS)
            EXPECT_FALSE(Enabled(id)) << id;
        EXPECT_FALSE(dlg->State().m_bRecording);
        EXPECT_FALSE(dlg->RecordFile().IsOpen());
        EXPECT_FALSE(dlg->HasTimer(POLL_TIMER_ID));
        EXPECT_FALSE(Shown("是否保存历史数据"));
        // Nothing written is lost.
        EXPECT_EQ(ReadFileBytes(RecordPath()), recorded);
        PumpFor(50);
        for (const auto& w : writes.Snapshot())
            EXPECT_NE(w.bytes, (Bytes{0x7E, 0x03, 0x7E}));
        presenter.shown.clear();
        box.reset();
    }
}
