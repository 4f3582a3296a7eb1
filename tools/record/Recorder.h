// One unattended recording run: opens the port, sends the settings and the
// start as the dialog does, records every frame, and ends on a limit, a
// signal or a lost device. Runs on the thread that runs the Qt event loop;
// the serial port hands its bytes to that thread.
#pragma once

#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "measurement/MeasureState.h"
#include "measurement/SampleDecoder.h"
#include "platform/core/MessageBox.h"
#include "platform/core/Wnd.h"
#include "serial/CSerialPort.h"
#include "tools/record/RecordOptions.h"
#include "tools/record/RecordOutput.h"

namespace record
{

// Exit statuses.
constexpr int EXIT_OK = 0;
constexpr int EXIT_INTERNAL = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_DEVICE_LOST = 3;
constexpr int EXIT_OPEN_FAILED = 4;
constexpr int EXIT_OUTPUT_FAILED = 5;

class Recorder : public CWnd, private IFrameSink, private IMessagePresenter
{
public:
    // signalFd: a signalfd for SIGINT, SIGTERM and SIGHUP (blocked by the
    // caller), or -1.
    Recorder(const RecordOptions& options, int signalFd);
    ~Recorder() override;

    // Creates the files, opens the port, runs until the end; the exit status.
    int Run();

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    // IFrameSink
    void ShowGauges(const MeasureState&) override {}
    void AppendRecord(MeasureState& state) override;
    void ShowLabels(const MeasureState&) override {}
    // IMessagePresenter: the serial port's error reports go to stderr.
    int ShowMessage(QWidget* owner, const MessageBoxRequest& request) override;
    std::optional<std::string> GetSaveFileName(QWidget*, const SaveFileRequest&) override { return std::nullopt; }

    bool CreateOutputs();
    bool OpenPort(bool first);
    void StartAcquisition();
    void OnDeviceLost();
    void TryReopen();
    void OnSignal();
    void EndRun(const std::string& reason, int status);
    void CheckTail();
    void FinishRun();

    std::string StatusText(bool average) const;
    void ShowStatus();
    void ClearStatus();
    void Say(const std::string& line);

    RecordOptions m_options;
    int m_nPort = 1;
    std::string m_device; // what the port number stands for while this run lasts
    bool m_bStatusLine = false;
    bool m_bStatusShown = false;

    MeasureState m_state;
    RecordOutput m_output;
    TimestampFile m_timestamps;

    std::chrono::steady_clock::time_point m_start{};
    std::chrono::steady_clock::time_point m_lastStatus{};
    std::uint64_t m_nFrames = 0;      // accepted frames handed to the record
    std::uint64_t m_nStatusFrames = 0; // m_nFrames at the last status
    double m_dStatusRate = 0;
    std::uint64_t m_nRefused = 0;
    std::uint64_t m_nGaps = 0;
    bool m_bWaiting = false; // for the lost device to come back

    bool m_bEnding = false;
    bool m_bTailSeen = false; // a delivery handed over after the end
    std::chrono::steady_clock::time_point m_end{};
    std::string m_endReason;
    int m_nStatus = EXIT_OK;
    bool m_bFinished = false;
    std::function<void()> m_quit; // ends Run's event loop

    QTimer m_pollTimer;
    QTimer m_durationTimer;
    QTimer m_statusTimer;
    QTimer m_reopenTimer;
    QTimer m_tailTimer;
    std::unique_ptr<QSocketNotifier> m_signals;
    int m_signalFd = -1;

    // Last: it is destroyed first, so nothing is delivered to a half-gone owner.
    CSerialPort m_port;
};

} // namespace record
