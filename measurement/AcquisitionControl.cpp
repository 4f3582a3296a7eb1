// The main dialog's acquisition handlers: start and stop, work modes, polling,
// channel settings and zero points. Built into the application, not into the
// measurement library, since they work on the dialog's controls.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "app/CSaveDialog.h"
#include "app/CTelvarDlg.h"
#include "app/resource.h"
#include "measurement/NumberParse.h"
#include "measurement/StartSequence.h"
#include "platform/core/MessageBox.h"

namespace {

constexpr int BIT_WIDTHS[] = {13, 25, 26, 32};

std::string ZeroText(double angle)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.4f °", angle);
    return text;
}

} // namespace

void CTelvarDlg::SendCommand(const BYTE* pBytes, int nLength)
{
    m_serialPort.m_nWriteLength = nLength;
    m_serialPort.QueueWrite(pBytes);
}

void CTelvarDlg::OnBnClickedStart()
{
    if (GetDlgItemText(IDC_START) != "开始") {
        EndAcquisition(true, true);
        return;
    }

    // 1, 2. "Other" bit widths; a width stored for channel 1 stays when channel 2 fails.
    if (IsDlgButtonChecked(IDC_OTHER_BITS1)) {
        m_state.m_strOtherBits1 = GetDlgItemText(IDC_OTHER_BITS_EDIT1);
        const std::int64_t n = ParseAtoi(m_state.m_strOtherBits1);
        if (n < protocol::MIN_BIT_WIDTH || n > protocol::MAX_BIT_WIDTH) {
            AfxMessageBox("传感器位宽限制10-32Bit,通道1设置超限", MB_OK | MB_ICONERROR);
            return;
        }
        m_state.m_nBitWidth1 = static_cast<std::int32_t>(n);
    }
    if (IsDlgButtonChecked(IDC_OTHER_BITS2)) {
        m_state.m_strOtherBits2 = GetDlgItemText(IDC_OTHER_BITS_EDIT2);
        const std::int64_t n = ParseAtoi(m_state.m_strOtherBits2);
        if (n < protocol::MIN_BIT_WIDTH || n > protocol::MAX_BIT_WIDTH) {
            AfxMessageBox("传感器位宽限制10-32Bit,通道2设置超限", MB_OK | MB_ICONERROR);
            return;
        }
        m_state.m_nBitWidth2 = static_cast<std::int32_t>(n);
    }

    // 3, 4. Widths and clock; in continuous mode frequency, then start. A
    // combo box without a selection sends nothing for its setting.
    StartCommands commands;
    commands.width1 = protocol::WidthCommand(1, m_state.m_nBitWidth1);
    commands.width2 = protocol::WidthCommand(2, m_state.m_nBitWidth2);
    const int nClock = ComboGetCurSel(m_cbClock);
    if (nClock >= 0 && nClock < protocol::CLOCK_ITEMS)
        commands.clock = &m_byClockCmd[nClock * protocol::COMMAND_LENGTH];
    const int nFreq = ComboGetCurSel(m_cbFrequency);
    if (nFreq >= 0 && nFreq < protocol::FREQ_ITEMS)
        commands.frequency = &m_byFreqCmd[nFreq * protocol::COMMAND_LENGTH];
    commands.start = m_byStartCmd.data();
    commands.continuous = IsDlgButtonChecked(IDC_CONTINUOUS) != 0;
    SendStartSequence(commands, [this](const BYTE* pBytes, int nLength) { SendCommand(pBytes, nLength); });

    // 5. Response mode: the poll timer.
    if (IsDlgButtonChecked(IDC_RESPONSE)) {
        const std::int64_t n = ParseAtoi(GetDlgItemText(IDC_INTERVAL));
        if (n < 1 || n > 2000) {
            AfxMessageBox("定时间隔为1-2000ms", MB_OK | MB_ICONERROR);
            return;
        }
        SetTimer(POLL_TIMER_ID, static_cast<UINT>(n));
    }

    // 6. The record file.
    if (!m_fileRecord.Create(RECORD_FILE_PATH())) {
        AfxMessageBox("创建文件失败.", MB_OK);
        return;
    }

    // 7, 8.
    m_state.m_bRecording = true;
    ++m_state.m_nRuns;
    SetDlgItemText(IDC_START, "停止");
    for (int id : {IDC_INTERVAL, IDC_CONTINUOUS, IDC_RESPONSE, IDC_OPEN_PORT})
        GetDlgItem(id)->EnableWindow(FALSE);
    GetDlgItem(IDC_ZERO1)->EnableWindow(TRUE);
    GetDlgItem(IDC_ZERO2)->EnableWindow(TRUE);
    for (int id : {IDC_BIT_WIDTH1, IDC_BIT_WIDTH2, IDC_DATA_TYPE1, IDC_DATA_TYPE2, IDC_CLOCK, IDC_FREQUENCY,
                   IDC_OTHER_BITS1, IDC_OTHER_BITS2, IDC_OTHER_BITS_EDIT1, IDC_OTHER_BITS_EDIT2})
        GetDlgItem(id)->EnableWindow(FALSE);
}

void CTelvarDlg::EndAcquisition(bool bSendStop, bool bAskSave)
{
    // A run ends once, even when the device goes while its questions are open.
    if (m_bEndingRun)
        return;
    m_bEndingRun = true;
    m_bLostWhileEnding = false;
    // 1. Every frame that reached the port before now goes into the record
    // (the serial worker may still hold some), then the file is complete and
    // closed before anyone may copy it.
    if (m_state.m_bRecording)
        m_serialPort.DeliverPendingInput();
    m_state.m_bRecording = false;
    // On the disk before the question, so that neither the export nor a power
    // cut finds the last lines missing.
    const bool bFlushed = m_fileRecord.Close();
    const int nFlushError = errno;
    // 2, 3.
    if (bSendStop && IsDlgButtonChecked(IDC_CONTINUOUS))
        SendCommand(m_byStopCmd.data(), protocol::COMMAND_LENGTH);
    if (IsDlgButtonChecked(IDC_RESPONSE))
        KillTimer(POLL_TIMER_ID);
    ReportLostRecordLines();
    if (!bFlushed)
        AfxMessageBox(std::string("记录文件未能写入磁盘：") + std::strerror(nFlushError), MB_OK | MB_ICONERROR);
    // 4.
    if (bAskSave && AfxMessageBox("是否保存历史数据", MB_YESNO) == IDYES) {
        CSaveDialog dlg;
        dlg.DoModal();
    }
    // 5, 6.
    EnableSettingsAfterStop();
    m_bEndingRun = false;
    if (m_bLostWhileEnding) {
        // The port closed meanwhile: end as after any loss of the device.
        m_bLostWhileEnding = false;
        KillTimer(POLL_TIMER_ID);
        ShowPortClosed();
    }
}

void CTelvarDlg::ReportLostRecordLines()
{
    const std::uint64_t lost = m_fileRecord.LostLines();
    if (lost == 0)
        return;
    char text[160];
    std::snprintf(text, sizeof text, "本次记录有%llu行数据未能写入记录文件。", static_cast<unsigned long long>(lost));
    AfxMessageBox(text, MB_OK | MB_ICONWARNING);
}

void CTelvarDlg::EnableSettingsAfterStop()
{
    for (int id : {IDC_INTERVAL, IDC_CONTINUOUS, IDC_RESPONSE, IDC_OPEN_PORT})
        GetDlgItem(id)->EnableWindow(TRUE);
    SetDlgItemText(IDC_START, "开始");
    GetDlgItem(IDC_ZERO1)->EnableWindow(FALSE);
    GetDlgItem(IDC_ZERO2)->EnableWindow(FALSE);
    for (int id : {IDC_BIT_WIDTH1, IDC_BIT_WIDTH2, IDC_DATA_TYPE1, IDC_DATA_TYPE2, IDC_CLOCK, IDC_FREQUENCY,
                   IDC_OTHER_BITS1, IDC_OTHER_BITS2})
        GetDlgItem(id)->EnableWindow(TRUE);
    if (IsDlgButtonChecked(IDC_OTHER_BITS1)) {
        GetDlgItem(IDC_BIT_WIDTH1)->EnableWindow(FALSE);
        GetDlgItem(IDC_OTHER_BITS_EDIT1)->EnableWindow(TRUE);
    }
    if (IsDlgButtonChecked(IDC_OTHER_BITS2)) {
        GetDlgItem(IDC_BIT_WIDTH2)->EnableWindow(FALSE);
        GetDlgItem(IDC_OTHER_BITS_EDIT2)->EnableWindow(TRUE);
    }
    if (IsDlgButtonChecked(IDC_CONTINUOUS))
        GetDlgItem(IDC_INTERVAL)->EnableWindow(FALSE);
}

void CTelvarDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent == POLL_TIMER_ID) {
        // Queued behind whatever is still going out, never cutting it short;
        // a poll not yet sent is not doubled.
        m_serialPort.QueuePoll(m_byPollCmd.data(), static_cast<int>(protocol::COMMAND_LENGTH));
    }
    CDialogEx::OnTimer(nIDEvent);
}

void CTelvarDlg::OnBnClickedContinuous() { GetDlgItem(IDC_INTERVAL)->EnableWindow(FALSE); }

void CTelvarDlg::OnBnClickedResponse() { GetDlgItem(IDC_INTERVAL)->EnableWindow(TRUE); }

void CTelvarDlg::OnCbnSelchangeDataType1()
{
    const int nSel = ComboGetCurSel(m_cbDataType1);
    if (nSel == 0 || nSel == 1)
        m_state.m_nDataType1 = nSel;
}

void CTelvarDlg::OnCbnSelchangeDataType2()
{
    const int nSel = ComboGetCurSel(m_cbDataType2);
    if (nSel == 0 || nSel == 1)
        m_state.m_nDataType2 = nSel;
}

void CTelvarDlg::OnCbnSelchangeBitWidth1()
{
    const int nSel = ComboGetCurSel(m_cbBitWidth1);
    if (nSel >= 0 && nSel <= 3)
        m_state.m_nBitWidth1 = BIT_WIDTHS[nSel];
}

void CTelvarDlg::OnCbnSelchangeBitWidth2()
{
    const int nSel = ComboGetCurSel(m_cbBitWidth2);
    if (nSel >= 0 && nSel <= 3)
        m_state.m_nBitWidth2 = BIT_WIDTHS[nSel];
}

void CTelvarDlg::OnBnClickedOtherBits1()
{
    const bool checked = IsDlgButtonChecked(IDC_OTHER_BITS1) == BST_CHECKED;
    GetDlgItem(IDC_BIT_WIDTH1)->EnableWindow(!checked);
    GetDlgItem(IDC_OTHER_BITS_EDIT1)->EnableWindow(checked);
}

void CTelvarDlg::OnBnClickedOtherBits2()
{
    const bool checked = IsDlgButtonChecked(IDC_OTHER_BITS2) == BST_CHECKED;
    GetDlgItem(IDC_BIT_WIDTH2)->EnableWindow(!checked);
    GetDlgItem(IDC_OTHER_BITS_EDIT2)->EnableWindow(checked);
}

void CTelvarDlg::ZeroChannel(int nChannel)
{
    const int nButton = nChannel == 1 ? IDC_ZERO1 : IDC_ZERO2;
    const int nLabel = nChannel == 1 ? IDC_ZERO_ANGLE1 : IDC_ZERO_ANGLE2;
    const char* setCaption = nChannel == 1 ? "通道1光栅归零" : "通道2光栅归零";
    const char* cancelCaption = nChannel == 1 ? "取消通道1归零" : "取消通道2归零";
    double& zero = nChannel == 1 ? m_state.m_dZeroAngle1 : m_state.m_dZeroAngle2;
    std::int32_t& turns = nChannel == 1 ? m_state.m_nTurns1 : m_state.m_nTurns2;
    double& total = nChannel == 1 ? m_state.m_dTotalAngle1 : m_state.m_dTotalAngle2;

    if (GetDlgItemText(nButton) == setCaption) {
        zero = nChannel == 1 ? m_state.m_dAngle1 : m_state.m_dAngle2;
        turns = 0;
        total = 0.0;
        (nChannel == 1 ? m_state.m_dPrevAngle1 : m_state.m_dPrevAngle2) = 0.0;
        m_state.m_bNoPrevSample = true;
        SetDlgItemText(nButton, cancelCaption);
        SetDlgItemText(nLabel, ZeroText(zero));
    } else {
        zero = 0.0;
        SetDlgItemText(nButton, setCaption);
        SetDlgItemText(nLabel, ZeroText(0.0));
        turns = 0;
        total = 0.0;
    }
}

void CTelvarDlg::OnBnClickedZero1() { ZeroChannel(1); }

void CTelvarDlg::OnBnClickedZero2() { ZeroChannel(2); }
