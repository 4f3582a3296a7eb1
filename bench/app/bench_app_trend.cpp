// The trend window's cost:
//
//  0. Side by side in one run: two real telvar processes (offscreen), each
//     on its own telvar-boxsim at 1 kHz, started alike with --port 1 --open
//     --start, one of them also with --trend (the window on its 1-minute
//     span). After BENCH_TREND_FILL_SECONDS (65) the span is full; then the
//     CPU of both over BENCH_TREND_STRETCHES (3) stretches of BENCH_SECONDS
//     (20 here), and the memory of both. Both see the same machine at the
//     same time, so the ratio holds under load as well.
//  1. In this process, the real dialog on the real 1 kHz stream, in
//     stretches of BENCH_SECONDS (10) one after the other: the window never
//     opened, open on the 1-minute span (after the span has filled), closed
//     again, open again, paused, the 10 s span. Tool CPU of each stretch,
//     the plots' repaints and the window's pictures per second.
//  2. Memory after 10 minutes at 1 kHz: a window fed 600,000 frames (and
//     more, so that the store wraps) as fast as it takes them, then drawn on
//     each span; resident memory before and after, and the time one picture
//     takes, also with the 1-minute span moving on as on the screen.
//
// BENCH_TREND_PARTS chooses the parts (default "012"). Prints figures;
// asserts nothing.
#include <QAbstractButton>
#include <QApplication>
#include <QChartView>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>
#include <memory>
#include <string>
#include <vector>

#include "BenchProcess.h"
#include "app/CTelvarDlg.h"
#include "app/resource.h"
#include "app/trend/CTrendWindow.h"
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

long ResidentKiB()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

class PaintCounter : public QObject
{
public:
    unsigned long paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

const std::vector<std::string> kEncoders = {"--gray1", "--speed1", "7200", "--speed2", "-900"};

struct Stretch {
    double cpu = 0;      // % of one core
    double paints = 0;   // plot repaints per second (channel 1)
    double pictures = 0; // window refreshes per second
    double frames = 0;   // accepted frames per second
};

Stretch Measure(CTelvarDlg& dlg, int seconds)
{
    PaintCounter paints;
    CTrendWindow* trend = dlg.TrendWindow();
    QWidget* plot = trend && trend->isVisible() ? trend->ChartView(0)->viewport() : nullptr;
    if (plot)
        plot->installEventFilter(&paints);
    const unsigned long pictures0 = trend ? trend->Pictures() : 0;
    const std::uint64_t frames0 = dlg.State().m_nAcceptedFrames;
    const rusage u0 = Usage(RUSAGE_SELF);
    const Clock::time_point t0 = Clock::now();
    RunFor(seconds * 1000);
    const double wall = Seconds(Clock::now() - t0);
    const rusage u1 = Usage(RUSAGE_SELF);
    if (plot)
        plot->removeEventFilter(&paints);
    Stretch s;
    s.cpu = 100.0 * (CpuSeconds(u1) - CpuSeconds(u0)) / wall;
    s.paints = static_cast<double>(paints.paints) / wall;
    s.pictures = static_cast<double>((trend ? trend->Pictures() : 0) - pictures0) / wall;
    s.frames = static_cast<double>(dlg.State().m_nAcceptedFrames - frames0) / wall;
    return s;
}

void Print(const char* name, const Stretch& s)
{
    std::printf("  %-34s CPU %5.2f%% of one core, %4.0f frames/s, plot repaints %4.1f/s, pictures %4.1f/s\n", name,
                s.cpu, s.frames, s.paints, s.pictures);
}

long StatusKiB(pid_t pid, const char* field)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + key.size());
    return 0;
}

void SideBySide(const std::string& dir, int fillSeconds, int stretches, int seconds)
{
    std::printf("0. Two real tools side by side at 1 kHz, --port 1 --open --start, one also with --trend "
                "(1-minute span); %d s to fill the span, then %d stretches of %d s\n",
                fillSeconds, stretches, seconds);
    struct Tool {
        std::unique_ptr<BoxSim> box;
        std::unique_ptr<Child> telvar;
        std::string home;
    };
    Tool tools[2];
    for (int k = 0; k < 2; ++k) {
        Tool& t = tools[k];
        t.home = dir + (k == 0 ? "/closed" : "/open");
        ::mkdir(t.home.c_str(), 0700);
        t.box = std::make_unique<BoxSim>(std::vector<std::string>{"--rate", "1000", "--speed1", "7200", "--speed2", "-900"});
        std::vector<std::string> env = {"HOME=" + t.home, "QT_QPA_PLATFORM=offscreen",
                                        "TELVAR_COM1=" + t.box->DevicePath()};
        for (int n = 2; n <= 4; ++n)
            env.push_back("TELVAR_COM" + std::to_string(n) + "=" + t.home + "/no-such-device");
        std::vector<std::string> argv = {TELVAR_EXE_PATH, "--port", "1", "--open", "--start"};
        if (k == 1)
            argv.push_back("--trend");
        t.telvar = std::make_unique<Child>(argv, "/dev/null", env);
    }
    std::this_thread::sleep_for(std::chrono::seconds(fillSeconds));
    double sum[2] = {0, 0};
    double wallSum = 0;
    for (int s = 0; s < stretches; ++s) {
        double cpu0[2];
        for (int k = 0; k < 2; ++k)
            cpu0[k] = ProcessCpu(tools[k].telvar->Pid());
        const long long size0[2] = {FileSize(tools[0].home + "/Telvar-Record.dat"),
                                    FileSize(tools[1].home + "/Telvar-Record.dat")};
        const Clock::time_point t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const double wall = Seconds(Clock::now() - t0);
        double cpu[2];
        for (int k = 0; k < 2; ++k) {
            cpu[k] = ProcessCpu(tools[k].telvar->Pid()) - cpu0[k];
            sum[k] += cpu[k];
        }
        wallSum += wall;
        const long long grown[2] = {FileSize(tools[0].home + "/Telvar-Record.dat") - size0[0],
                                    FileSize(tools[1].home + "/Telvar-Record.dat") - size0[1]};
        std::printf("  stretch %d: window closed %5.2f%%, open %5.2f%% of one core: %.2f x (record grew %lld / %lld "
                    "bytes)\n",
                    s + 1, 100.0 * cpu[0] / wall, 100.0 * cpu[1] / wall, cpu[0] > 0 ? cpu[1] / cpu[0] : 0.0, grown[0],
                    grown[1]);
    }
    if (wallSum > 0 && sum[0] > 0)
        std::printf("  all stretches: closed %.2f%%, open %.2f%%: open / closed %.2f x (goal <= 2 x)\n",
                    100.0 * sum[0] / wallSum, 100.0 * sum[1] / wallSum, sum[1] / sum[0]);
    for (int k = 0; k < 2; ++k)
        std::printf("  memory, window %s: %ld KiB resident, peak %ld KiB, after %d s\n", k == 0 ? "closed" : "open",
                    StatusKiB(tools[k].telvar->Pid(), "VmRSS"), StatusKiB(tools[k].telvar->Pid(), "VmHWM"),
                    fillSeconds + stretches * seconds);
    for (Tool& t : tools) {
        t.telvar->Stop();
        t.box->Stop();
    }
}

void Realtime(const std::string& home, int seconds)
{
    std::printf("1. The 1 kHz stream, continuous mode, recording on; stretches of %d s\n", seconds);
    ::setenv("HOME", home.c_str(), 1);
    for (int n = 2; n <= 4; ++n)
        ::setenv(("TELVAR_COM" + std::to_string(n)).c_str(), (home + "/no-such-device").c_str(), 1);
    ScriptedPresenter presenter;
    SetMessagePresenter(&presenter);
    auto dlg = std::make_unique<CTelvarDlg>();
    dlg->Create();
    BoxSim box(std::vector<std::string>{"--rate", "1000", "--gray1", "--speed1", "7200", "--speed2", "-900"});
    ::setenv("TELVAR_COM1", box.DevicePath().c_str(), 1);
    auto click = [&](int id) { qobject_cast<QAbstractButton*>(dlg->GetDlgItem(id)->Widget())->click(); };
    auto choose = [&](int id, int index) {
        auto* c = qobject_cast<QComboBox*>(dlg->GetDlgItem(id)->Widget());
        c->setCurrentIndex(index);
        emit c->activated(index);
    };
    click(IDC_OPEN_PORT);
    RunFor(100);
    choose(IDC_DATA_TYPE1, 1);
    choose(IDC_BIT_WIDTH1, 1);
    choose(IDC_FREQUENCY, 0); // 1 kHz
    click(IDC_START);
    RunFor(500);

    const Stretch closed1 = Measure(*dlg, seconds);
    dlg->OpenTrendWindow();
    CTrendWindow& trend = *dlg->TrendWindow();
    trend.SetSpan(CTrendWindow::SPAN_1MIN);
    const Stretch filling = Measure(*dlg, 60 - seconds > 0 ? 60 - seconds : 1);
    const Stretch open1 = Measure(*dlg, seconds);
    trend.close();
    const Stretch closed2 = Measure(*dlg, seconds);
    dlg->OpenTrendWindow();
    const Stretch open2 = Measure(*dlg, seconds);
    trend.SetPaused(true);
    const Stretch paused = Measure(*dlg, seconds);
    trend.SetPaused(false);
    trend.SetSpan(CTrendWindow::SPAN_10S);
    const Stretch short10 = Measure(*dlg, seconds);
    trend.SetSpan(CTrendWindow::SPAN_1MIN);

    Print("window never opened", closed1);
    Print("window open, 1-min span filling", filling);
    Print("window open, 1-min span full", open1);
    Print("window closed again", closed2);
    Print("window open again", open2);
    Print("window open, paused", paused);
    Print("window open, 10 s span", short10);
    const double closed = (closed1.cpu + closed2.cpu) / 2;
    const double open = (open1.cpu + open2.cpu) / 2;
    std::printf("  open / closed CPU:                 %.2f x (%.2f%% / %.2f%%; goal <= 2 x)\n",
                closed > 0 ? open / closed : 0.0, open, closed);
    std::printf("  frames in the window's store:      %llu; line: %llu accepted, %llu refused, %llu resyncs\n",
                static_cast<unsigned long long>(trend.Store().End()),
                static_cast<unsigned long long>(trend.LineAccepted()),
                static_cast<unsigned long long>(trend.LineRefused()),
                static_cast<unsigned long long>(trend.LineResyncs()));

    std::printf("  resident memory now:               %ld KiB (tool at 1 kHz, window open, %llu frames held)\n",
                ResidentKiB(), static_cast<unsigned long long>(trend.Store().End() - trend.Store().Begin()));

    if (qobject_cast<QAbstractButton*>(dlg->GetDlgItem(IDC_START)->Widget())->text() == QStringLiteral("停止"))
        click(IDC_START);
    click(IDC_OPEN_PORT);
    RunFor(100);
    box.Stop();
    dlg.reset();
    SetMessagePresenter(nullptr);
}

void Memory()
{
    std::printf("2. Ten minutes at 1 kHz, fed as fast as the window takes them\n");
    MeasureState state;
    const long before = ResidentKiB();
    auto trend = std::make_unique<CTrendWindow>(state, nullptr);
    trend->show();
    RunFor(200);
    const long shown = ResidentKiB();
    const auto origin = std::chrono::steady_clock::now();
    const long total = 660000; // more than the store holds, so that it wraps
    QElapsedTimer feed;
    feed.start();
    long fed = 0;
    auto feedFrames = [&](long count) {
        for (long n = 0; n < count; ++n, ++fed) {
            ++state.m_nAcceptedFrames;
            state.m_dRelAngle1 = std::fmod(fed * 0.0072, 360.0);
            state.m_dRelAngle2 = std::fmod(360.0 + std::fmod(-fed * 0.0009, 360.0), 360.0);
            state.m_dTotalAngle1 = fed * 0.0072;
            state.m_dTotalAngle2 = -fed * 0.0009;
            trend->AddFrame(state, origin + std::chrono::microseconds(fed * 1000));
        }
    };
    feedFrames(total);
    const double feedSeconds = feed.nsecsElapsed() / 1e9;
    for (CTrendWindow::Span span :
         {CTrendWindow::SPAN_10S, CTrendWindow::SPAN_1MIN, CTrendWindow::SPAN_10MIN, CTrendWindow::SPAN_RUN}) {
        const int pictures = 20;
        qint64 update = 0;
        qint64 paint = 0;
        for (int k = 0; k < pictures; ++k) {
            QElapsedTimer t;
            t.start();
            trend->SetSpan(span); // the view recomputed: decimation, axes, statistics
            update += t.nsecsElapsed();
            t.restart();
            trend->ChartView(0)->viewport()->repaint();
            trend->ChartView(1)->viewport()->repaint();
            paint += t.nsecsElapsed();
        }
        static const char* const names[] = {"10 s", "1 min", "10 min", "whole run"};
        std::printf("  one picture, %-9s span:         %.2f ms to update both plots and the statistics, %.2f ms "
                    "to paint both\n",
                    names[span], update / 1e6 / pictures, paint / 1e6 / pictures);
    }
    {
        // As on the screen: the 1-minute span moving on, a picture after each
        // 170 ms of frames (the pace on that span), both plots painted.
        trend->SetSpan(CTrendWindow::SPAN_1MIN);
        const int pictures = static_cast<int>(EnvLong("BENCH_TREND_LIVE_PICTURES", 60));
        qint64 spent = 0;
        for (int k = 0; k < pictures; ++k) {
            feedFrames(170);
            QElapsedTimer t;
            t.start();
            trend->Refresh();
            trend->ChartView(0)->viewport()->repaint();
            trend->ChartView(1)->viewport()->repaint();
            spent += t.nsecsElapsed();
        }
        std::printf("  one picture, 1 min span moving on:  %.2f ms to update, lay out and paint both plots with the "
                    "statistics\n",
                    spent / 1e6 / pictures);
    }
    RunFor(200);
    const long after = ResidentKiB();
    std::printf("  frames fed:                        %ld in %.2f s (%.2f us each); held: %llu (the last %.0f s)\n",
                total, feedSeconds, feedSeconds / total * 1e6,
                static_cast<unsigned long long>(trend->Store().End() - trend->Store().Begin()),
                trend->Store().Time(trend->Store().End() - 1) - trend->Store().Time(trend->Store().Begin()));
    std::printf("  store reserved:                    %.1f MB (frames and block summaries)\n",
                trend->Store().ReservedBytes() / 1e6);
    std::printf("  resident memory:                   %ld KiB before the window, %ld KiB shown and empty, %ld KiB "
                "full (+%ld KiB)\n",
                before, shown, after, after - before);
    trend.reset();
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    InstallFontSubstitutions();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const char* parts = std::getenv("BENCH_TREND_PARTS");
    const std::string run = parts && *parts ? parts : "012";
    TempDir dir;
    if (run.find('0') != std::string::npos)
        SideBySide(dir.Path(), static_cast<int>(EnvLong("BENCH_TREND_FILL_SECONDS", 65)),
                   static_cast<int>(EnvLong("BENCH_TREND_STRETCHES", 3)), static_cast<int>(EnvLong("BENCH_SECONDS", 20)));
    if (run.find('1') != std::string::npos)
        Realtime(dir.Path(), static_cast<int>(EnvLong("BENCH_SECONDS", 10)));
    if (run.find('2') != std::string::npos)
        Memory();
    const rusage self = Usage(RUSAGE_SELF);
    std::printf("Peak memory of this process (tool and harness, both parts): %ld KiB\n", self.ru_maxrss);
    return 0;
}
