#include "tools/record/Recorder.h"

#include <QEventLoop>

#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "measurement/Protocol.h"
#include "measurement/StartSequence.h"
#include "platform/posix/SerialDevice.h"
#include "platform/core/UiHandOver.h"
#include "tools/record/StableDevice.h"

namespace record
{
namespace
{

using Clock = std::chrono::steady_clock;

// How long the end waits for the stop command to leave before it gives up.
constexpr std::chrono::seconds kStopWriteLimit{5};
// In response mode: how long the end waits for bytes already received to be
// handed over (the worker gathers input for a few milliseconds).
constexpr std::chrono::milliseconds kTailLimit{200};
// Status refreshes: at most four a second.
constexpr int kStatusMs = 250;
constexpr int kReopenMs = 250;
// A QTimer takes an int of milliseconds; long runs are timed in steps.
constexpr long long kLongestTimerMs = 3600LL * 1000;

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

std::string Elapsed(double seconds)
{
    const long long s = static_cast<long long>(seconds);
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", s / 3600, (s / 60) % 60, s % 60);
    return text;
}

const char* SignalName(int sig)
{
    switch (sig) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "?";
    }
}

} // namespace

Recorder::Recorder(const RecordOptions& options, int signalFd) : m_options(options), m_signalFd(signalFd)
{
    m_state.m_nDataType1 = options.dataType1;
    m_state.m_nDataType2 = options.dataType2;
    m_state.m_nBitWidth1 = options.bitWidth1;
    m_state.m_nBitWidth2 = options.bitWidth2;
    m_bStatusLine = !options.quiet && ::isatty(STDERR_FILENO);

    // The dialog's poll timer is a precise window timer; so is this one.
    m_pollTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_pollTimer, &QTimer::timeout, [this] {
        // Behind whatever is still going out, never doubled.
        m_port.QueuePoll(protocol::POLL_CMD.data(), static_cast<int>(protocol::COMMAND_LENGTH));
    });
    m_durationTimer.setTimerType(Qt::PreciseTimer);
    m_durationTimer.setSingleShot(true);
    QObject::connect(&m_durationTimer, &QTimer::timeout, [this] {
        const double left = m_options.durationSeconds - Seconds(Clock::now() - m_start);
        if (left <= 0) {
            EndRun("时长已到", EXIT_OK);
            return;
        }
        m_durationTimer.start(static_cast<int>(std::min<double>(std::ceil(left * 1000), kLongestTimerMs)));
    });
    QObject::connect(&m_statusTimer, &QTimer::timeout, [this] { ShowStatus(); });
    QObject::connect(&m_reopenTimer, &QTimer::timeout, [this] { TryReopen(); });
    m_tailTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_tailTimer, &QTimer::timeout, [this] { CheckTail(); });
    if (m_signalFd >= 0) {
        m_signals = std::make_unique<QSocketNotifier>(m_signalFd, QSocketNotifier::Read);
        QObject::connect(m_signals.get(), &QSocketNotifier::activated, [this] { OnSignal(); });
    }
}

Recorder::~Recorder()
{
    SetMessagePresenter(nullptr);
}

int Recorder::Run()
{
    SetMessagePresenter(this);
    if (!CreateOutputs())
        return EXIT_OUTPUT_FAILED;
    if (!OpenPort(true)) {
        // Nothing was recorded: leave no empty files behind.
        m_output.Discard();
        m_timestamps.Discard();
        return EXIT_OPEN_FAILED;
    }
    m_start = Clock::now();
    m_lastStatus = m_start;
    StartAcquisition();
    if (m_options.durationSeconds > 0)
        m_durationTimer.start(
            static_cast<int>(std::min<double>(std::ceil(m_options.durationSeconds * 1000), kLongestTimerMs)));
    if (m_bStatusLine) {
        m_statusTimer.start(kStatusMs);
        ShowStatus();
    }
    QEventLoop loop;
    m_quit = [&loop] { loop.quit(); };
    if (!m_bFinished)
        loop.exec();
    m_quit = nullptr;
    return m_nStatus;
}

bool Recorder::CreateOutputs()
{
    std::string path = m_options.output;
    if (path.empty())
        path = DefaultOutputName(static_cast<std::int64_t>(std::time(nullptr)), m_options.format);
    if (!m_output.Create(path, m_options.format, m_options.force)) {
        const int err = errno;
        Say("telvar-record: 创建文件失败: " + path + ": "
            + (err == EEXIST ? std::string("文件已存在 (用 --force 覆盖)") : std::string(std::strerror(err))));
        return false;
    }
    if (!m_options.timestamps.empty() && !m_timestamps.Create(m_options.timestamps, m_options.force)) {
        const int err = errno;
        Say("telvar-record: 创建文件失败: " + m_options.timestamps + ": "
            + (err == EEXIST ? std::string("文件已存在 (用 --force 覆盖)") : std::string(std::strerror(err))));
        m_output.Discard();
        return false;
    }
    return true;
}

bool Recorder::OpenPort(bool first)
{
    if (first) {
        std::string path = m_options.device;
        m_nPort = path.empty() ? m_options.port : 1;
        if (path.empty())
            path = SerialPortDevice(static_cast<UINT>(m_nPort));
        if (path.empty()) {
            Say("telvar-record: 没有发现串口" + std::to_string(m_nPort) + "或被占用: " + OpenFailureReason(ENOENT));
            return false;
        }
        // The port number stands for this device for the whole run, also when
        // it comes back under another name beside its stable one.
        m_device = StableDevicePath(path);
        ::setenv(("TELVAR_COM" + std::to_string(m_nPort)).c_str(), m_device.c_str(), 1);
    }
    errno = 0;
    if (!m_port.OpenPort(this, static_cast<UINT>(m_nPort))) {
        const int err = errno ? errno : ENOENT;
        if (first)
            Say("telvar-record: 没有发现串口" + std::to_string(m_nPort) + "或被占用: " + m_device + ": "
                + OpenFailureReason(err));
        return false;
    }
    m_port.StartMonitor();
    m_port.m_nWriteLength = static_cast<int>(protocol::OPEN_COMMAND_LENGTH);
    m_port.QueueWrite(protocol::OPEN_CMD.data());
    return true;
}

void Recorder::StartAcquisition()
{
    const StartCommands commands = MakeStartCommands(m_options.bitWidth1, m_options.bitWidth2, m_options.clockIndex,
                                                     m_options.rateIndex, m_options.continuous);
    SendStartSequence(commands, [this](const BYTE* bytes, int length) {
        m_port.m_nWriteLength = length;
        m_port.QueueWrite(bytes);
    });
    m_state.m_bRecording = true;
    if (!m_options.continuous)
        m_pollTimer.start(m_options.intervalMs);
}

LRESULT Recorder::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SERIAL_BYTE: {
        const bool completes = static_cast<int>(lParam) == m_nPort && m_state.m_bCollecting
                               && m_state.m_arrFrame.GetSize() == protocol::FRAME_LENGTH - 1;
        const bool accepted = HandleReceivedByte(m_state, m_nPort - 1, static_cast<BYTE>(wParam),
                                                 static_cast<UINT>(lParam), *this);
        if (completes && !accepted)
            ++m_nRefused;
        return 0;
    }
    case WM_SERIAL_BATCH_DONE:
        if (m_bEnding && !m_bTailSeen && UiHandOver::HandedOverAt().steady > m_end)
            m_bTailSeen = true;
        return 0;
    case WM_SERIAL_DEVICE_LOST:
        if (static_cast<int>(lParam) == m_nPort)
            OnDeviceLost();
        return 0;
    default:
        return CWnd::WindowProc(message, wParam, lParam);
    }
}

void Recorder::AppendRecord(MeasureState& state)
{
    const UiHandOver::Stamp stamp = UiHandOver::HandedOverAt();
    ++m_nFrames;
    if (m_output.Append(state, stamp.utc, Seconds(stamp.steady - m_start)))
        m_timestamps.Line(m_output.FileLine(), stamp.utc, stamp.steady);
    else if (m_output.LinesLost() == 1)
        Say(std::string("telvar-record: 记录文件写入失败，数据行正在丢失: ") + std::strerror(m_output.FirstError()));
    if (m_options.frames > 0 && m_nFrames >= m_options.frames) {
        m_state.m_bRecording = false;
        EndRun("已记录" + std::to_string(m_nFrames) + "帧", EXIT_OK);
    }
}

int Recorder::ShowMessage(QWidget*, const MessageBoxRequest& request)
{
    Say("telvar-record: " + m_device + ": " + request.text);
    return (request.type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
}

void Recorder::OnDeviceLost()
{
    if (m_bEnding) {
        CheckTail();
        return;
    }
    ++m_nGaps;
    m_timestamps.Event("device-lost");
    if (!m_options.reconnect) {
        EndRun("设备丢失", EXIT_DEVICE_LOST);
        return;
    }
    // A frame begun on the lost line cannot be finished by the device that
    // comes back, and its turns cannot be compared across the gap.
    m_state.m_arrFrame.RemoveAll();
    m_state.m_arrChannel1.RemoveAll();
    m_state.m_arrChannel2.RemoveAll();
    m_state.m_bCollecting = false;
    m_state.m_bSyncArmed = false;
    m_state.m_bNoPrevSample = true;
    m_pollTimer.stop();
    m_bWaiting = true;
    Say("telvar-record: 设备丢失，等待 " + m_device + " 重新连接");
    m_reopenTimer.start(kReopenMs);
}

void Recorder::TryReopen()
{
    if (m_bEnding || !m_bWaiting)
        return;
    if (!OpenPort(false))
        return;
    m_reopenTimer.stop();
    m_bWaiting = false;
    m_timestamps.Event("reconnected");
    Say("telvar-record: " + m_device + " 已重新连接，继续记录");
    StartAcquisition();
}

void Recorder::OnSignal()
{
    signalfd_siginfo info{};
    while (::read(m_signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        EndRun(std::string("收到") + SignalName(static_cast<int>(info.ssi_signo)), EXIT_OK);
}

void Recorder::EndRun(const std::string& reason, int status)
{
    if (m_bEnding)
        return;
    m_bEnding = true;
    m_end = Clock::now();
    m_endReason = reason;
    m_nStatus = status;
    m_pollTimer.stop();
    m_durationTimer.stop();
    m_reopenTimer.stop();
    const bool alive = m_port.m_hPort.load() != nullptr && m_port.m_bAlive.load();
    if (!alive) {
        FinishRun();
        return;
    }
    // As 停止 does: the stop command in continuous mode, no more polls. The
    // frames that came before it keep being recorded until it has left.
    if (m_options.continuous) {
        m_port.m_nWriteLength = static_cast<int>(protocol::COMMAND_LENGTH);
        m_port.QueueWrite(protocol::STOP_CMD.data());
    }
    m_tailTimer.start(1);
}

void Recorder::CheckTail()
{
    if (m_bFinished)
        return;
    const bool alive = m_port.m_hPort.load() != nullptr && m_port.m_bAlive.load();
    const auto waited = Clock::now() - m_end;
    bool done;
    if (!alive)
        done = true;
    else if (m_options.continuous)
        done = m_port.PendingWrites() == 0 || waited > kStopWriteLimit;
    else
        done = m_bTailSeen || waited > kTailLimit;
    if (!done)
        return;
    m_tailTimer.stop();
    FinishRun();
}

void Recorder::FinishRun()
{
    if (m_bFinished)
        return;
    m_bFinished = true;
    // Every frame that reached the port before now goes into the record,
    // also what the worker is still gathering for its next hand-over.
    if (m_port.m_hPort.load() != nullptr && m_port.m_bAlive.load())
        m_port.DeliverPendingInput();
    m_state.m_bRecording = false;
    m_port.RequestStop();
    m_statusTimer.stop();
    const bool flushed = m_output.Finish();
    const bool timesFlushed = m_timestamps.Finish();
    ClearStatus();

    std::fprintf(stderr, "telvar-record: 结束: %s\n", m_endReason.c_str());
    std::fprintf(stderr, "%s\n", StatusText(true).c_str());
    std::fprintf(stderr, "记录文件: %s (%llu 行)\n", m_output.Path().c_str(),
                 static_cast<unsigned long long>(m_output.LinesWritten()));
    if (m_output.LinesLost() > 0)
        std::fprintf(stderr, "有 %llu 行未能写入记录文件: %s\n",
                     static_cast<unsigned long long>(m_output.LinesLost()), std::strerror(m_output.FirstError()));
    if (m_timestamps.LinesLost() > 0)
        std::fprintf(stderr, "有 %llu 行未能写入时间戳文件\n",
                     static_cast<unsigned long long>(m_timestamps.LinesLost()));
    if (!flushed || !timesFlushed)
        std::fprintf(stderr, "文件未能写到磁盘上: %s\n", std::strerror(errno));
    if (m_nStatus == EXIT_OK && (m_output.LinesLost() > 0 || m_timestamps.LinesLost() > 0 || !flushed || !timesFlushed))
        m_nStatus = EXIT_OUTPUT_FAILED;
    if (m_quit)
        m_quit();
}

std::string Recorder::StatusText(bool average) const
{
    const double elapsed = Seconds((m_bEnding ? m_end : Clock::now()) - m_start);
    const double rate = average ? (elapsed > 0 ? static_cast<double>(m_nFrames) / elapsed : 0.0) : m_dStatusRate;
    char text[512];
    std::snprintf(text, sizeof text,
                  "已运行 %s  帧 %llu  %.1f 帧/秒  错帧 %llu  丢行 %llu  通道1 %s° %d圈  通道2 %s° %d圈",
                  Elapsed(elapsed).c_str(), static_cast<unsigned long long>(m_nFrames), rate,
                  static_cast<unsigned long long>(m_nRefused), static_cast<unsigned long long>(m_output.LinesLost()),
                  m_state.m_strRelAngle1.empty() ? "-" : m_state.m_strRelAngle1.c_str(), m_state.m_nTurns1,
                  m_state.m_strRelAngle2.empty() ? "-" : m_state.m_strRelAngle2.c_str(), m_state.m_nTurns2);
    std::string s = text;
    if (m_bWaiting)
        s += "  等待设备重新连接: " + m_device;
    return s;
}

void Recorder::ShowStatus()
{
    const auto now = Clock::now();
    const double dt = Seconds(now - m_lastStatus);
    if (dt > 0)
        m_dStatusRate = static_cast<double>(m_nFrames - m_nStatusFrames) / dt;
    m_lastStatus = now;
    m_nStatusFrames = m_nFrames;
    std::fprintf(stderr, "\r%s\033[K", StatusText(false).c_str());
    std::fflush(stderr);
    m_bStatusShown = true;
}

void Recorder::ClearStatus()
{
    if (!m_bStatusShown)
        return;
    std::fputs("\r\033[K", stderr);
    m_bStatusShown = false;
}

void Recorder::Say(const std::string& line)
{
    ClearStatus();
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

} // namespace record
