// The data path of the whole tool against the simulated box, in this process
// and offscreen:
//
//  1. Response mode at poll intervals of 1, 2, 5 and 20 ms for
//     BENCH_RESPONSE_SECONDS (5) each: replies the box sent against lines
//     recorded, and the tool's CPU; the simulator answers each poll at once.
//  2. The stop tail: BENCH_STOP_RUNS (10) runs of the 1 kHz stream that end
//     by themselves after 500 frames; 停止 is clicked 2 ms after the last
//     frame reached the port, before the tool had a chance to take it in.
//     Frames missing from the record are lost at the stop.
//
// Prints figures; asserts nothing.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BenchProcess.h"
#include "RecordCheck.h"
#include "app/CTelvarDlg.h"
#include "app/resource.h"
#include "platform/draw/Fonts.h"
#include "platform/core/MessageBox.h"

using namespace bench;

namespace
{

void RunFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

std::size_t SentFrames(const std::string& path)
{
    const std::string log = ReadWholeFile(path);
    std::size_t n = 0;
    for (char c : log)
        n += c == '\n';
    return n;
}

class Harness
{
public:
    explicit Harness(const std::string& home) : m_home(home)
    {
        ::setenv("HOME", home.c_str(), 1);
        for (int n = 2; n <= 4; ++n)
            ::setenv(("TELVAR_COM" + std::to_string(n)).c_str(), (home + "/no-such-device").c_str(), 1);
        SetMessagePresenter(&m_presenter);
        m_dlg = std::make_unique<CTelvarDlg>();
        m_dlg->Create();
    }
    ~Harness()
    {
        m_dlg.reset();
        SetMessagePresenter(nullptr);
    }

    std::string RecordPath() const { return m_home + "/Telvar-Record.dat"; }
    void Click(int id) { qobject_cast<QAbstractButton*>(m_dlg->GetDlgItem(id)->Widget())->click(); }
    std::string Text(int id) const { return m_dlg->GetDlgItemText(id); }
    CTelvarDlg& Dlg() { return *m_dlg; }

    bool Open(const std::string& device)
    {
        ::setenv("TELVAR_COM1", device.c_str(), 1);
        Click(IDC_OPEN_PORT);
        RunFor(100);
        return Text(IDC_OPEN_PORT) == "关闭串口";
    }

    ChannelSetup Setup() const
    {
        const MeasureState& s = m_dlg->State();
        return {s.m_nDataType1, s.m_nBitWidth1, s.m_nDataType2, s.m_nBitWidth2};
    }

    void PrintMessages()
    {
        for (const auto& m : m_presenter.shown)
            if (m.text != "是否保存历史数据")
                std::printf("  message box: %s\n", m.text.c_str());
        m_presenter.shown.clear();
    }

private:
    std::string m_home;
    ScriptedPresenter m_presenter;
    std::unique_ptr<CTelvarDlg> m_dlg;
};

struct ResponseFigures {
    double cpuPercent = 0;
};

ResponseFigures Response(const TempDir& dir, int interval, int seconds)
{
    ResponseFigures f;
    const std::string sentLog = dir.Path() + "/response-" + std::to_string(interval) + ".log";
    BoxSim box({"--speed1", "720", "--speed2", "-90", "--sent-log", sentLog});
    Harness h(dir.Path());
    if (!h.Open(box.DevicePath())) {
        std::printf("  %4d ms: could not open\n", interval);
        return f;
    }
    h.Click(IDC_RESPONSE);
    h.Dlg().SetDlgItemText(IDC_INTERVAL, std::to_string(interval));
    h.Click(IDC_START);
    const rusage cpu0 = Usage(RUSAGE_SELF);
    const Clock::time_point t0 = Clock::now();
    RunFor(seconds * 1000);
    const rusage cpu1 = Usage(RUSAGE_SELF);
    const double wall = Seconds(Clock::now() - t0);
    h.Click(IDC_START); // 停止; the scripted answer is No
    RunFor(100);
    h.Click(IDC_OPEN_PORT);
    RunFor(100);
    box.Stop();

    const RecordCheck r = CheckRecord(sentLog, h.RecordPath(), h.Setup());
    // Replies from the first recorded one to the last; the reply to a poll
    // that went out as 停止 was clicked comes after it and is not counted.
    const std::size_t replies = r.spanned;
    const std::size_t lost = r.MissingBetween();
    f.cpuPercent = 100.0 * (CpuSeconds(cpu1) - CpuSeconds(cpu0)) / wall;
    std::printf("  %4d ms: %zu replies sent; of the %zu from the first recorded to the last, %zu recorded (%.3f%%), %zu "
                "lost (%.3f%%); %zu lines not sent in that order, %zu replies after the last line; tool CPU %.2f%% "
                "of one core\n",
                interval, r.framesSent, replies, r.recordedLines - r.notInOrder,
                replies ? 100.0 * static_cast<double>(r.recordedLines - r.notInOrder) / static_cast<double>(replies)
                        : 0.0,
                lost, replies ? 100.0 * static_cast<double>(lost) / static_cast<double>(replies) : 0.0, r.notInOrder,
                r.after, f.cpuPercent);
    h.PrintMessages();
    return f;
}

void StopTail(const TempDir& dir, int runs)
{
    constexpr int FRAMES = 500;
    std::printf("2. The stop tail: %d runs of %d frames at 1 kHz, 停止 2 ms after the last frame\n", runs, FRAMES);
    std::size_t totalLost = 0;
    std::size_t worst = 0;
    for (int run = 0; run < runs; ++run) {
        const std::string sentLog = dir.Path() + "/tail-" + std::to_string(run) + ".log";
        BoxSim box({"--rate", "1000", "--frames", std::to_string(FRAMES), "--speed1", "3600", "--speed2", "-500",
                    "--sent-log", sentLog});
        Harness h(dir.Path());
        if (!h.Open(box.DevicePath())) {
            std::printf("  run %d: could not open\n", run + 1);
            continue;
        }
        h.Click(IDC_START);
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (SentFrames(sentLog) >= FRAMES)
                loop.quit();
        });
        poll.start(1);
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        poll.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        h.Click(IDC_START); // 停止
        h.Click(IDC_OPEN_PORT);
        RunFor(50);
        box.Stop();
        const RecordCheck r = CheckRecord(sentLog, h.RecordPath(), h.Setup());
        const std::size_t lost = r.MissingAfterStart();
        totalLost += lost;
        worst = std::max(worst, lost);
        std::printf("  run %2d: %zu frames sent, %zu recorded, %zu lost (%zu of them at the end), %zu wrong lines\n",
                    run + 1, r.framesSent, r.recordedLines, lost, r.after, r.mismatches);
        h.PrintMessages();
    }
    std::printf("  frames lost at 停止 over %d runs: %zu (at most %zu in one run)\n", runs, totalLost, worst);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    InstallFontSubstitutions();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    const int seconds = static_cast<int>(EnvLong("BENCH_RESPONSE_SECONDS", 5));
    const int runs = static_cast<int>(EnvLong("BENCH_STOP_RUNS", 10));
    TempDir dir;
    std::printf("1. Response mode, %d s per interval, recording on (goal: >= 99.9%% recorded, <= 0.1%% lost)\n",
                seconds);
    double cpu1 = 0;
    double cpu20 = 0;
    for (int interval : {1, 2, 5, 20}) {
        const ResponseFigures f = Response(dir, interval, seconds);
        if (interval == 1)
            cpu1 = f.cpuPercent;
        if (interval == 20)
            cpu20 = f.cpuPercent;
    }
    if (cpu20 > 0)
        std::printf("  tool CPU at 1 ms / at 20 ms: %.1f x (goal <= 3 x)\n", cpu1 / cpu20);
    StopTail(dir, runs);
    return 0;
}
