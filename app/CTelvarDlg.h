// The main dialog: every control of the tool, the two gauges, the serial port,
// the measurement state, the device commands and the record file.
#pragma once

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include <QIcon>
#include <QPointer>

#include "app/trend/CTrendWindow.h"
#include "controls/CCustomDrawBtn.h"
#include "controls/CCustomDrawCombox.h"
#include "gauge/CRoundMeter.h"
#include "measurement/MeasureState.h"
#include "measurement/Protocol.h"
#include "measurement/RecordFile.h"
#include "measurement/SampleDecoder.h"
#include "platform/window/DialogEx.h"
#include "platform/draw/GdiObjects.h"
#include "platform/posix/SerialPortList.h"
#include "serial/CSerialPort.h"

// The window timer that polls the box in response mode.
constexpr UINT_PTR POLL_TIMER_ID = 1;

// The port tooltip's text: per number the device, its stable name and, for
// USB adapters, maker, product and serial number.
std::string PortToolTipText(const std::array<SerialPortEntry, 4>& ports);

class CTelvarDlg : public CDialogEx, private IFrameSink {
public:
    explicit CTelvarDlg(CWnd* pParent = nullptr);
    ~CTelvarDlg() override;

    // Read by tests and the benchmark; the handlers own them.
    const MeasureState& State() const { return m_state; }
    const CRecordFile& RecordFile() const { return m_fileRecord; }
    CRoundMeter& Meter1() { return m_meter1; }
    CRoundMeter& Meter2() { return m_meter2; }
    int PortIndex() const { return m_nPortIndex; }
    const CFont& ValueFont() const { return m_fontValue; }
    const CFont& ModelFont() const { return m_fontModel; }
    const CFont& EditFont() const { return m_fontEdit; }
    int LastWidth() const { return m_nLastWidth; }
    int LastHeight() const { return m_nLastHeight; }
    const CRect& InitClient() const { return m_rcInitClient; }

    // Shows the trend window beside the dialog, making it on first use; it
    // then takes every accepted frame. Asked again, it is raised.
    void OpenTrendWindow();
    CTrendWindow* TrendWindow() const { return m_pTrendWnd.data(); }

    // Message handlers; the message map routes to them.
    void OnPaint();
    LRESULT OnReceiveByte(WPARAM wParam, LPARAM lParam);
    LRESULT OnReceiveBatchDone(WPARAM wParam, LPARAM lParam);
    const QIcon* OnQueryDragIcon();
    void OnCtlColor(CCtlColor* pDC, CWnd* pWnd, UINT nCtlColor);
    void OnBnClickedResponse();
    void OnBnClickedContinuous();
    void OnDrawItem(int nIDCtl, void* lpDrawItemStruct);
    void OnBnClickedStart();
    void OnTimer(UINT_PTR nIDEvent);
    void OnBnClickedOpenPort();
    void OnCbnSelchangePort();
    void OnBnClickedZero1();
    void OnBnClickedZero2();
    void OnBnClickedExit();
    void OnCbnSelchangeDataType1();
    void OnCbnSelchangeDataType2();
    void OnCbnSelchangeBitWidth1();
    void OnCbnSelchangeBitWidth2();
    void OnSize(UINT nType, int cx, int cy);
    void OnSizing(UINT fwSide, RECT* pRect);
    void OnBnClickedOtherBits1();
    void OnBnClickedOtherBits2();
    void OnCbnDropdownPort();
    void OnCbnDropdownDataType1();
    void OnCbnDropdownDataType2();
    void OnCbnDropdownBitWidth1();
    void OnCbnDropdownBitWidth2();
    void OnCbnDropdownClock();
    void OnCbnDropdownFrequency();
    // The serial port lost its device: the port has closed by itself.
    LRESULT OnSerialDeviceLost(WPARAM wParam, LPARAM lParam);

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    DECLARE_MESSAGE_MAP()

private:
    // IFrameSink: what the decoder shows of each accepted frame.
    void ShowGauges(const MeasureState& state) override;
    void AppendRecord(MeasureState& state) override;
    void ShowLabels(const MeasureState& state) override;

    void SetValueLabels(const MeasureState& state);
    void ResizeChildren();
    void DropDownList(int nID);
    // The port combo's tooltip: the device behind each number at this moment.
    void UpdatePortToolTip();
    void SendCommand(const BYTE* pBytes, int nLength);
    // Ends a run: the file closed, polling ended, optionally the stop command
    // and the save question, then the controls as in the ready state.
    void EndAcquisition(bool bSendStop, bool bAskSave);
    void EnableSettingsAfterStop();
    void ShowPortClosed();
    void ReportLostRecordLines();
    void ZeroChannel(int nChannel);
    // The context menu item and the shortcut that open the trend window.
    void SetUpTrendAccess();

    CRoundMeter m_meter1;
    CRoundMeter m_meter2;
    CSerialPort m_serialPort;
    CCustomDrawBtn m_btnStart;
    CCustomDrawBtn m_btnZero1;
    CCustomDrawBtn m_btnZero2;
    CCustomDrawBtn m_btnExit;
    CCustomDrawBtn m_btnOpenPort;
    CCustomDrawCombox m_cbPort;
    CCustomDrawCombox m_cbBitWidth1;
    CCustomDrawCombox m_cbBitWidth2;
    CCustomDrawCombox m_cbClock;
    CCustomDrawCombox m_cbFrequency;
    CCustomDrawCombox m_cbDataType1;
    CCustomDrawCombox m_cbDataType2;
    MeasureState m_state;
    CRect m_rcInitClient;
    // Every control's rectangle at initialisation, in z-order: the layout that
    // each resize scales from, so that sizes never wear it down.
    std::vector<std::pair<int, CRect>> m_initialLayout;
    std::int32_t m_nLastWidth = 0;
    std::int32_t m_nLastHeight = 0;
    protocol::Command m_byPollCmd{};
    CRecordFile m_fileRecord;
    protocol::Command m_byStartCmd{};
    protocol::Command m_byStopCmd{};
    std::array<BYTE, protocol::CLOCK_ITEMS * protocol::COMMAND_LENGTH> m_byClockCmd{};
    std::array<BYTE, protocol::FREQ_ITEMS * protocol::COMMAND_LENGTH> m_byFreqCmd{};
    CFont m_fontValue;
    CFont m_fontModel;
    CFont m_fontEdit;
    std::array<BYTE, protocol::OPEN_COMMAND_LENGTH> m_byOpenCmd{};
    std::int32_t m_nPortIndex = 0;
    QIcon m_hAppIcon;

    // Set while the object goes: bytes still delivered then are dropped.
    bool m_bEnding = false;
    // A frame of the batch being delivered has texts not shown yet.
    bool m_bLabelsPending = false;
    // A run is ending: its questions may be open, and a device lost meanwhile
    // must not end it a second time.
    bool m_bEndingRun = false;
    bool m_bLostWhileEnding = false;
    // Made on first use; a child window of the dialog.
    QPointer<CTrendWindow> m_pTrendWnd;
};
