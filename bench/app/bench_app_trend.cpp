// The trend window's cost, in this process and offscreen like bench_app_e2e:
//
//  1. The real 1 kHz stream from telvar-boxsim into the real dialog, in
//     stretches of BENCH_SECONDS (10) each, side by side in one run: the
//     window never opened, then open on the 1-minute span (after the span has
//     filled), closed again, and open again. Tool CPU of each stretch, the
//     plots' repaints per second and the window's pictures per second.
//  2. Memory after 10 minutes at 1 kHz: a window fed 600,000 frames (and
//     more, so that the store wraps) as fast as it takes them, then drawn on
//     the 10-minute span; resident memory before and after, and the time one
//     picture of each span takes.
//
// Prints figures; asserts nothing.
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
    for (long i = 0; i < total; ++i) {
        ++state.m_nAcceptedFrames;
        state.m_dRelAngle1 = std::fmod(i * 0.0072, 360.0);
        state.m_dRelAngle2 = std::fmod(360.0 + std::fmod(-i * 0.0009, 360.0), 360.0);
        state.m_dTotalAngle1 = i * 0.0072;
        state.m_dTotalAngle2 = -i * 0.0009;
        trend->AddFrame(state, origin + std::chrono::microseconds(i * 1000));
    }
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
    const int seconds = static_cast<int>(EnvLong("BENCH_SECONDS", 10));
    TempDir dir;
    if (EnvLong("BENCH_TREND_MEMORY_ONLY", 0) == 0)
        Realtime(dir.Path(), seconds);
    Memory();
    const rusage self = Usage(RUSAGE_SELF);
    std::printf("Peak memory of this process (tool and harness, both parts): %ld KiB\n", self.ru_maxrss);
    return 0;
}
