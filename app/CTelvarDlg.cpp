#include "app/CTelvarDlg.h"

#include <QPainter>
#include <QPixmap>

#include <cstdio>
#include <cstring>

#include "app/AppIcon.h"
#include "app/DialogTemplates.h"
#include "app/resource.h"
#include "app/trend/CTrendWindow.h"
#include "platform/posix/SerialDevice.h"
#include "platform/core/MessageBox.h"
#include "platform/window/RepaintLimiter.h"

namespace {

// The website line: our own address, no real company's.
constexpr const char* WEBSITE_LINE = "网址: www.telvar-instruments.example";

constexpr int ICON_SIZE = 32; // SM_CXICON, SM_CYICON

std::string PortText(const char* format, int nPort)
{
    char text[64];
    std::snprintf(text, sizeof text, format, nPort);
    return text;
}

} // namespace

BEGIN_MESSAGE_MAP(CTelvarDlg, CDialogEx)
ON_WM_PAINT()
ON_MESSAGE(WM_SERIAL_BYTE, &CTelvarDlg::OnReceiveByte)
ON_MESSAGE(WM_SERIAL_BATCH_DONE, &CTelvarDlg::OnReceiveBatchDone)
ON_WM_QUERYDRAGICON()
ON_WM_CTLCOLOR()
ON_BN_CLICKED(IDC_RESPONSE, &CTelvarDlg::OnBnClickedResponse)
ON_BN_CLICKED(IDC_CONTINUOUS, &CTelvarDlg::OnBnClickedContinuous)
ON_WM_DRAWITEM()
ON_BN_CLICKED(IDC_START, &CTelvarDlg::OnBnClickedStart)
ON_WM_TIMER()
ON_BN_CLICKED(IDC_OPEN_PORT, &CTelvarDlg::OnBnClickedOpenPort)
ON_CBN_SELCHANGE(IDC_PORT, &CTelvarDlg::OnCbnSelchangePort)
ON_BN_CLICKED(IDC_ZERO1, &CTelvarDlg::OnBnClickedZero1)
ON_BN_CLICKED(IDC_ZERO2, &CTelvarDlg::OnBnClickedZero2)
ON_BN_CLICKED(IDC_EXIT, &CTelvarDlg::OnBnClickedExit)
ON_CBN_SELCHANGE(IDC_DATA_TYPE1, &CTelvarDlg::OnCbnSelchangeDataType1)
ON_CBN_SELCHANGE(IDC_DATA_TYPE2, &CTelvarDlg::OnCbnSelchangeDataType2)
ON_CBN_SELCHANGE(IDC_BIT_WIDTH1, &CTelvarDlg::OnCbnSelchangeBitWidth1)
ON_CBN_SELCHANGE(IDC_BIT_WIDTH2, &CTelvarDlg::OnCbnSelchangeBitWidth2)
ON_WM_SIZE()
ON_WM_SIZING()
ON_BN_CLICKED(IDC_OTHER_BITS1, &CTelvarDlg::OnBnClickedOtherBits1)
ON_BN_CLICKED(IDC_OTHER_BITS2, &CTelvarDlg::OnBnClickedOtherBits2)
ON_CBN_DROPDOWN(IDC_PORT, &CTelvarDlg::OnCbnDropdownPort)
ON_CBN_DROPDOWN(IDC_DATA_TYPE1, &CTelvarDlg::OnCbnDropdownDataType1)
ON_CBN_DROPDOWN(IDC_DATA_TYPE2, &CTelvarDlg::OnCbnDropdownDataType2)
ON_CBN_DROPDOWN(IDC_BIT_WIDTH1, &CTelvarDlg::OnCbnDropdownBitWidth1)
ON_CBN_DROPDOWN(IDC_BIT_WIDTH2, &CTelvarDlg::OnCbnDropdownBitWidth2)
ON_CBN_DROPDOWN(IDC_CLOCK, &CTelvarDlg::OnCbnDropdownClock)
ON_CBN_DROPDOWN(IDC_FREQUENCY, &CTelvarDlg::OnCbnDropdownFrequency)
ON_MESSAGE(WM_SERIAL_DEVICE_LOST, &CTelvarDlg::OnSerialDeviceLost)
END_MESSAGE_MAP()

CTelvarDlg::CTelvarDlg(CWnd* pParent) : CDialogEx(TelvarDialogTemplate(), pParent)
{
    m_byPollCmd = protocol::POLL_CMD;
    m_byStartCmd = protocol::START_CMD;
    m_byStopCmd = protocol::STOP_CMD;
    m_byOpenCmd = protocol::OPEN_CMD;
    m_hAppIcon = LoadAppIcon(IDI_APP_LOGO);
}

CTelvarDlg::~CTelvarDlg()
{
    // Closed while recording (close box, Escape): the frames that came
    // before belong to the record, while every member is still whole.
    if (m_state.m_bRecording)
        m_serialPort.DeliverPendingInput();
    // The window goes first, while every member is still whole; bytes the
    // serial worker still delivers while its destructor waits are dropped.
    m_bEnding = true;
    delete m_pTrendWnd.data();
    DestroyWindow();
}

void CTelvarDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialogEx::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_METER1, m_meter1);
    DDX_Control(pDX, IDC_METER2, m_meter2);
    DDX_Control(pDX, IDC_START, m_btnStart);
    DDX_Control(pDX, IDC_OPEN_PORT, m_btnOpenPort);
    DDX_Control(pDX, IDC_ZERO1, m_btnZero1);
    DDX_Control(pDX, IDC_ZERO2, m_btnZero2);
    DDX_Control(pDX, IDC_EXIT, m_btnExit);
    DDX_Control(pDX, IDC_PORT, m_cbPort);
    DDX_Control(pDX, IDC_BIT_WIDTH1, m_cbBitWidth1);
    DDX_Control(pDX, IDC_DATA_TYPE1, m_cbDataType1);
    DDX_Control(pDX, IDC_DATA_TYPE2, m_cbDataType2);
    DDX_Control(pDX, IDC_BIT_WIDTH2, m_cbBitWidth2);
    DDX_Control(pDX, IDC_CLOCK, m_cbClock);
    DDX_Control(pDX, IDC_FREQUENCY, m_cbFrequency);
}

BOOL CTelvarDlg::OnInitDialog()
{
    // 1. Base initialisation: the controls are bound.
    CDialogEx::OnInitDialog();

    // 2. Icons.
    SetIcon(m_hAppIcon, TRUE);
    SetIcon(m_hAppIcon, FALSE);

    // 3. The initial client size, the reference of proportional resizing.
    GetClientRect(&m_rcInitClient);
    m_nLastWidth = m_rcInitClient.Width();
    m_nLastHeight = m_rcInitClient.Height();
    m_initialLayout.clear();
    for (CDlgItem* pChild = GetTopWindow(); pChild != nullptr; pChild = pChild->GetNextWindow()) {
        CRect rc;
        pChild->GetWindowRect(&rc);
        ScreenToClient(&rc);
        m_initialLayout.emplace_back(pChild->GetDlgCtrlID(), rc);
    }

    // 4. Measurement flags, zero points, port index and channel 1's data type.
    const MeasureState defaults;
    m_state.m_bNoPrevSample = defaults.m_bNoPrevSample;
    m_state.m_bSyncArmed = false;
    m_state.m_bCollecting = false;
    m_state.m_bRecording = false;
    m_state.m_dZeroAngle1 = 0.0;
    m_state.m_dZeroAngle2 = 0.0;
    m_nPortIndex = 0;
    m_state.m_nDataType1 = 0;

    // 5. Button colour schemes.
    m_btnStart.ApplyScheme(BLUE_BUTTON_SCHEME);
    m_btnStart.update();
    m_btnZero1.ApplyScheme(BLUE_BUTTON_SCHEME);
    m_btnZero1.update();
    m_btnZero2.ApplyScheme(BLUE_BUTTON_SCHEME);
    m_btnZero2.update();
    m_btnOpenPort.ApplyScheme(BLUE_BUTTON_SCHEME);
    m_btnOpenPort.update();
    m_btnExit.ApplyScheme(RED_BUTTON_SCHEME);
    m_btnExit.update();

    // 6. Fonts of the value and label texts and of the model line.
    m_fontValue.CreatePointFont(150, "微软雅黑");
    m_fontModel.CreatePointFont(180, "隶书");

    // 7. Ports.
    for (int i = 0; i < 4; ++i)
        ComboInsertString(m_cbPort, i, PortText("串口%d", i + 1));
    ComboSetCurSel(m_cbPort, 0);
    UpdatePortToolTip();

    // 8. Bit widths.
    static const char* const widths[] = {"13Bit", "25Bit", "26Bit", "32Bit"};
    for (CCustomDrawCombox* combo : {&m_cbBitWidth1, &m_cbBitWidth2}) {
        for (int i = 0; i < 4; ++i)
            ComboInsertString(*combo, i, widths[i]);
        ComboSetCurSel(*combo, 2);
    }
    m_state.m_nBitWidth1 = 26;
    m_state.m_nBitWidth2 = 26;

    // 9. Data types.
    for (CCustomDrawCombox* combo : {&m_cbDataType1, &m_cbDataType2}) {
        ComboInsertString(*combo, 0, "二进制");
        ComboInsertString(*combo, 1, "格雷码");
        ComboSetCurSel(*combo, 0);
    }
    m_state.m_nDataType1 = 0;
    m_state.m_nDataType2 = 0;

    // 10, 11. Sampling clock and continuous frequency.
    for (int i = 0; i < protocol::CLOCK_ITEMS; ++i)
        ComboInsertString(m_cbClock, i, protocol::CLOCK_TEXTS[i]);
    ComboSetCurSel(m_cbClock, 1);
    for (int i = 0; i < protocol::FREQ_ITEMS; ++i)
        ComboInsertString(m_cbFrequency, i, protocol::FREQ_TEXTS[i]);
    ComboSetCurSel(m_cbFrequency, 1);

    // 12. Command tables.
    m_byClockCmd = protocol::ClockCommandTable();
    m_byFreqCmd = protocol::FreqCommandTable();

    // 13, 14.
    SetDlgItemText(IDC_PORT_STATUS, "串口未打开");
    CheckDlgButton(IDC_CONTINUOUS, BST_CHECKED);

    // 15. Nothing to acquire with until a port is open.
    for (int id : {IDC_START, IDC_ZERO1, IDC_ZERO2, IDC_OTHER_BITS1, IDC_OTHER_BITS2, IDC_OTHER_BITS_EDIT1,
                   IDC_OTHER_BITS_EDIT2, IDC_CONTINUOUS, IDC_RESPONSE, IDC_INTERVAL, IDC_BIT_WIDTH1, IDC_BIT_WIDTH2,
                   IDC_DATA_TYPE1, IDC_DATA_TYPE2})
        GetDlgItem(id)->EnableWindow(FALSE);

    // 16. Texts.
    SetDlgItemText(IDC_ZERO_ANGLE2, "0°");
    SetDlgItemText(IDC_ZERO_ANGLE1, "0°");
    SetDlgItemText(IDC_REL_ANGLE1, "0.0000°");
    SetDlgItemText(IDC_REL_ANGLE2, "0.0000°");
    SetDlgItemText(IDC_TOTAL_ANGLE1, "0.0000°");
    SetDlgItemText(IDC_LABEL_ZERO, "当前偏移：");
    SetDlgItemText(IDC_LABEL_REL_ANGLE1, "当前通道1角度：");
    SetDlgItemText(IDC_LABEL_REL_ANGLE2, "当前通道2角度:");
    SetDlgItemText(IDC_LABEL_ZERO, "当前偏移：");
    SetDlgItemText(IDC_LABEL_TOTAL_ANGLE1, "通道1总角度：");
    SetDlgItemText(IDC_LABEL_TOTAL_ANGLE2, "通道2总角度：");
    SetDlgItemText(IDC_LABEL_CODE1, "通道1源码：");
    SetDlgItemText(IDC_LABEL_CODE2, "通道2源码：");
    SetDlgItemText(IDC_TOTAL_ANGLE2, "0.0000°");
    SetDlgItemText(IDC_WEBSITE, WEBSITE_LINE);
    SetDlgItemText(IDC_MODEL, "型号：Telvar");

    // Names for assistive technology where no caption stands beside a control.
    m_cbPort.setAccessibleName(QStringLiteral("串口"));
    m_cbDataType1.setAccessibleName(QStringLiteral("通道1数据类型"));
    m_cbDataType2.setAccessibleName(QStringLiteral("通道2数据类型"));
    m_cbBitWidth1.setAccessibleName(QStringLiteral("通道1数据位宽"));
    m_cbBitWidth2.setAccessibleName(QStringLiteral("通道2数据位宽"));
    GetDlgItem(IDC_OTHER_BITS_EDIT1)->Widget()->setAccessibleName(QStringLiteral("通道1其他位宽(Bit)"));
    GetDlgItem(IDC_OTHER_BITS_EDIT2)->Widget()->setAccessibleName(QStringLiteral("通道2其他位宽(Bit)"));
    m_meter1.setAccessibleName(QStringLiteral("通道1角度表盘"));
    m_meter2.setAccessibleName(QStringLiteral("通道2角度表盘"));

    // 17. Both gauges at 0.
    m_meter1.m_dValue = 0.0;
    m_meter1.update();
    m_meter2.m_dValue = 0.0;
    m_meter2.update();

    // Every frame changes the gauges and labels: at 1 kHz, painting each one
    // would take most of a core for changes no screen can show.
    CRepaintLimiter::Install(GetSafeHwnd());
    SetUpTrendAccess();

    // 18.
    return TRUE;
}

void CTelvarDlg::OnPaint()
{
    if (IsIconic()) {
        // Called inside the window's paint event, so a painter on it is the paint context.
        QPainter painter(GetSafeHwnd());
        WindowProc(WM_ICONERASEBKGND, 0, 0);
        RECT rect;
        GetClientRect(&rect);
        const int x = (rect.right - rect.left - ICON_SIZE + 1) / 2;
        const int y = (rect.bottom - rect.top - ICON_SIZE + 1) / 2;
        painter.drawPixmap(x, y, m_hAppIcon.pixmap(ICON_SIZE, ICON_SIZE));
    } else {
        CDialogEx::OnPaint();
    }
}

const QIcon* CTelvarDlg::OnQueryDragIcon() { return &m_hAppIcon; }

void CTelvarDlg::OnCtlColor(CCtlColor* pDC, CWnd* pWnd, UINT nCtlColor)
{
    CDialogEx::OnCtlColor(pDC, pWnd, nCtlColor);
    const auto* control = dynamic_cast<CDlgItem*>(pWnd);
    if (!control)
        return;
    switch (control->GetDlgCtrlID()) {
    case IDC_REL_ANGLE1:
    case IDC_REL_ANGLE2:
    case IDC_TOTAL_ANGLE2:
    case IDC_TOTAL_ANGLE1:
    case IDC_ZERO_ANGLE1:
    case IDC_ZERO_ANGLE2:
    case IDC_PORT_STATUS:
    case IDC_LABEL_REL_ANGLE1:
    case IDC_LABEL_REL_ANGLE2:
    case IDC_LABEL_TOTAL_ANGLE1:
    case IDC_LABEL_TOTAL_ANGLE2:
    case IDC_LABEL_ZERO:
    case IDC_WEBSITE:
    case IDC_LABEL_CODE1:
    case IDC_CODE1:
    case IDC_LABEL_CODE2:
    case IDC_CODE2:
        pDC->SetBkMode(CCtlColor::TRANSPARENT);
        if (m_fontValue.Data())
            pDC->SelectObject(m_fontValue.Data()->font);
        pDC->SetTextColor(RGB(0, 0, 0));
        break;
    case IDC_MODEL:
        pDC->SetBkMode(CCtlColor::TRANSPARENT);
        if (m_fontModel.Data())
            pDC->SelectObject(m_fontModel.Data()->font);
        pDC->SetTextColor(RGB(0, 0, 0));
        break;
    default: break;
    }
}

void CTelvarDlg::OnDrawItem(int nIDCtl, void* lpDrawItemStruct)
{
    // The owner-drawn buttons paint themselves.
    CDialogEx::OnDrawItem(nIDCtl, lpDrawItemStruct);
}

void CTelvarDlg::DropDownList(int nID)
{
    CDlgItem* combo = GetDlgItem(nID);
    if (!combo)
        return;
    RECT rect;
    combo->GetClientRect(&rect);
    combo->SetWindowPos(nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top + 100,
                        SWP_NOMOVE | SWP_NOZORDER | SWP_SHOWWINDOW);
}

void CTelvarDlg::OnCbnDropdownPort()
{
    // Adapters come and go: say what each number stands for now.
    UpdatePortToolTip();
    DropDownList(IDC_PORT);
}

void CTelvarDlg::UpdatePortToolTip()
{
    m_cbPort.setToolTip(QString::fromStdString(PortToolTipText(DescribeSerialPorts())));
}

std::string PortToolTipText(const std::array<SerialPortEntry, 4>& ports)
{
    std::string tip;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const SerialPortEntry& p = ports[i];
        if (i > 0)
            tip += '\n';
        tip += PortText("串口%d: ", static_cast<int>(i) + 1);
        if (p.device.empty()) {
            tip += "无设备";
            continue;
        }
        tip += p.device;
        if (p.configured)
            tip += PortText("（由 TELVAR_COM%d 指定）", static_cast<int>(i) + 1);
        if (!p.info.driver.empty())
            tip += "，驱动 " + p.info.driver;
        if (!p.info.byId.empty())
            tip += "\n    " + p.info.byId;
        std::string usb;
        for (const std::string* part : {&p.info.manufacturer, &p.info.product})
            if (!part->empty())
                usb += (usb.empty() ? "" : " ") + *part;
        if (!p.info.serial.empty())
            usb += (usb.empty() ? "" : "，") + std::string("序列号 ") + p.info.serial;
        if (!usb.empty())
            tip += "\n    " + usb;
    }
    return tip;
}
void CTelvarDlg::OnCbnDropdownDataType1() { DropDownList(IDC_DATA_TYPE1); }
void CTelvarDlg::OnCbnDropdownDataType2() { DropDownList(IDC_DATA_TYPE2); }
void CTelvarDlg::OnCbnDropdownBitWidth1() { DropDownList(IDC_BIT_WIDTH1); }
void CTelvarDlg::OnCbnDropdownBitWidth2() { DropDownList(IDC_BIT_WIDTH2); }
void CTelvarDlg::OnCbnDropdownClock() { DropDownList(IDC_CLOCK); }
void CTelvarDlg::OnCbnDropdownFrequency() { DropDownList(IDC_FREQUENCY); }

// ---------------------------------------------------------------------------
// Received bytes

LRESULT CTelvarDlg::OnReceiveByte(WPARAM wParam, LPARAM lParam)
{
    if (m_bEnding)
        return 0;
    HandleReceivedByte(m_state, m_nPortIndex, static_cast<BYTE>(wParam), static_cast<UINT>(lParam), *this);
    return 0;
}

void CTelvarDlg::ShowGauges(const MeasureState& state)
{
    m_meter1.m_dValue = state.m_dRelAngle1;
    m_meter1.update();
    m_meter2.m_dValue = state.m_dRelAngle2;
    m_meter2.update();
    if (m_pTrendWnd)
        m_pTrendWnd->AddFrame(state, m_serialPort.IsDelivering() ? m_serialPort.DeliveryReadTime()
                                                                 : std::chrono::steady_clock::now());
}

void CTelvarDlg::AppendRecord(MeasureState& state)
{
    // Told at the first lost line of a run (the count starts again with each
    // record file), without holding up the stream: the frames keep being
    // decoded and shown, and every later line is tried again.
    if (m_fileRecord.Append(state) || m_fileRecord.LostLines() != 1)
        return;
    MessageBoxRequest request;
    request.text = std::string("记录文件写入失败，数据行正在丢失：") + std::strerror(m_fileRecord.FirstError());
    request.caption = AfxGetAppTitle();
    request.type = MB_OK | MB_ICONERROR;
    request.blocking = false;
    MessagePresenter().ShowMessage(GetSafeHwnd(), request);
}

LRESULT CTelvarDlg::OnReceiveBatchDone(WPARAM, LPARAM)
{
    if (m_bLabelsPending && !m_bEnding) {
        m_bLabelsPending = false;
        SetValueLabels(m_state);
    }
    return 0;
}

void CTelvarDlg::ShowLabels(const MeasureState& state)
{
    // Of the frames read together only the last one's texts could ever be
    // seen, so while the port delivers a batch they are set once, at its end.
    if (m_serialPort.IsDelivering()) {
        m_bLabelsPending = true;
        return;
    }
    SetValueLabels(state);
}

void CTelvarDlg::SetValueLabels(const MeasureState& state)
{
    SetDlgItemText(IDC_REL_ANGLE1, state.m_strRelAngle1);
    SetDlgItemText(IDC_REL_ANGLE2, state.m_strRelAngle2);
    SetDlgItemText(IDC_TOTAL_ANGLE2, state.m_strTotalAngle2);
    SetDlgItemText(IDC_TOTAL_ANGLE1, state.m_strTotalAngle1);
    SetDlgItemText(IDC_CODE1, state.m_strCode1);
    SetDlgItemText(IDC_CODE2, state.m_strCode2);
}

// ---------------------------------------------------------------------------
// Port selection, opening and closing, leaving

void CTelvarDlg::OnCbnSelchangePort()
{
    const int nSel = ComboGetCurSel(m_cbPort);
    if (nSel >= 0 && nSel <= 3)
        m_nPortIndex = nSel;
}

void CTelvarDlg::OnBnClickedOpenPort()
{
    const int nPort = m_nPortIndex + 1;
    if (GetDlgItemText(IDC_OPEN_PORT) == "打开串口") {
        ClearSerialOpenFailure();
        if (m_serialPort.OpenPort(this, static_cast<UINT>(nPort))) {
            GetDlgItem(IDC_PORT_STATUS)->Widget()->setToolTip(QString());
            m_serialPort.StartMonitor();
            m_serialPort.m_nWriteLength = static_cast<int>(protocol::OPEN_COMMAND_LENGTH);
            m_serialPort.QueueWrite(m_byOpenCmd.data());
            SetDlgItemText(IDC_OPEN_PORT, "关闭串口");
            GetDlgItem(IDC_PORT)->EnableWindow(FALSE);
            GetDlgItem(IDC_START)->EnableWindow(TRUE);
            SetDlgItemText(IDC_PORT_STATUS, PortText("串口%d已打开", nPort));
            for (int id : {IDC_BIT_WIDTH1, IDC_BIT_WIDTH2, IDC_DATA_TYPE1, IDC_DATA_TYPE2})
                GetDlgItem(id)->EnableWindow(TRUE);
            for (int id : {IDC_OTHER_BITS1, IDC_OTHER_BITS2, IDC_CONTINUOUS, IDC_RESPONSE, IDC_INTERVAL,
                           IDC_OTHER_BITS_EDIT1, IDC_OTHER_BITS_EDIT2})
                GetDlgItem(id)->EnableWindow(TRUE);
            if (IsDlgButtonChecked(IDC_CONTINUOUS))
                GetDlgItem(IDC_INTERVAL)->EnableWindow(FALSE);
            if (IsDlgButtonChecked(IDC_OTHER_BITS1))
                GetDlgItem(IDC_BIT_WIDTH1)->EnableWindow(FALSE);
            else
                GetDlgItem(IDC_OTHER_BITS_EDIT1)->EnableWindow(FALSE);
            if (IsDlgButtonChecked(IDC_OTHER_BITS2))
                GetDlgItem(IDC_BIT_WIDTH2)->EnableWindow(FALSE);
            else
                GetDlgItem(IDC_OTHER_BITS_EDIT2)->EnableWindow(FALSE);
        } else {
            // The message stays as it always was; why it failed goes beside it.
            const SerialOpenFailure& failure = LastSerialOpenFailure();
            std::fprintf(stderr, "%s\n", SerialOpenReasonLogLine(failure, static_cast<unsigned>(nPort)).c_str());
            std::fflush(stderr);
            GetDlgItem(IDC_PORT_STATUS)->Widget()->setToolTip(
                QString::fromStdString(SerialOpenReasonText(failure, static_cast<unsigned>(nPort))));
            AfxMessageBox(PortText("没有发现串口%d或被占用", nPort), MB_OK | MB_ICONERROR);
            GetDlgItem(IDC_START)->EnableWindow(FALSE);
            GetDlgItem(IDC_PORT)->EnableWindow(TRUE);
            SetDlgItemText(IDC_PORT_STATUS, PortText("串口%d打开失败", nPort));
        }
    } else {
        SetEvent(m_serialPort.m_hStopEvent);
        ShowPortClosed();
    }
}

void CTelvarDlg::ShowPortClosed()
{
    GetDlgItem(IDC_PORT_STATUS)->Widget()->setToolTip(QString());
    SetDlgItemText(IDC_OPEN_PORT, "打开串口");
    GetDlgItem(IDC_PORT)->EnableWindow(TRUE);
    GetDlgItem(IDC_START)->EnableWindow(FALSE);
    SetDlgItemText(IDC_PORT_STATUS, PortText("串口%d已关闭", m_nPortIndex + 1));
    for (int id : {IDC_BIT_WIDTH1, IDC_BIT_WIDTH2, IDC_DATA_TYPE1, IDC_DATA_TYPE2})
        GetDlgItem(id)->EnableWindow(FALSE);
    for (int id : {IDC_OTHER_BITS1, IDC_OTHER_BITS2, IDC_CONTINUOUS, IDC_RESPONSE, IDC_INTERVAL, IDC_OTHER_BITS_EDIT1,
                   IDC_OTHER_BITS_EDIT2})
        GetDlgItem(id)->EnableWindow(FALSE);
}

void CTelvarDlg::OnBnClickedExit()
{
    // The frames that came before the click belong to the record.
    if (m_state.m_bRecording)
        m_serialPort.DeliverPendingInput();
    if (m_serialPort.m_hPort)
        SetEvent(m_serialPort.m_hStopEvent);
    if (m_state.m_bRecording)
        m_fileRecord.Close();
    EndDialog(IDCANCEL);
}

LRESULT CTelvarDlg::OnSerialDeviceLost(WPARAM, LPARAM lParam)
{
    // Only the loss of the port shown as open counts; a reopened port is another one.
    if (m_bEnding || static_cast<int>(lParam) != m_nPortIndex + 1 || m_serialPort.m_hPort
        || GetDlgItemText(IDC_OPEN_PORT) == "打开串口")
        return 0;
    if (m_bEndingRun) {
        // The stop already under way ends the run; the port shows closed now
        // and again once the stop has set up the ready state.
        m_bLostWhileEnding = true;
        KillTimer(POLL_TIMER_ID);
        ShowPortClosed();
        return 0;
    }
    if (GetDlgItemText(IDC_START) != "开始" || m_state.m_bRecording) {
        // The run ends as a stop ends it, but there is no box to tell and the
        // record file stays as it is for a later export.
        EndAcquisition(false, false);
    }
    // A start that ended early may have left polling on.
    KillTimer(POLL_TIMER_ID);
    ShowPortClosed();
    return 0;
}
