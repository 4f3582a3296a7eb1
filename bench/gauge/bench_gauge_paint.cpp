// One repaint of a gauge with its cached background at the dialog's gauge size
// (199 x 181 dialog units, about 300 x 272 pixels with the 9-point dialog
// font): copy of the cache, needle, cap, transfer to the window.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>
#include <QImage>

#include "gauge/CRoundMeter.h"
#include "platform/draw/Fonts.h"

namespace
{

constexpr int kWidth = 300;
constexpr int kHeight = 272;

// Through QWidget::render into an image, as a paint of the widget.
void BM_GaugePaint_Render(benchmark::State& state)
{
    CRoundMeter meter;
    meter.resize(kWidth, kHeight);
    QImage target(kWidth, kHeight, QImage::Format_RGB32);
    meter.m_dValue = 0.0;
    meter.render(&target); // draws and caches the background
    double value = 0.0;
    for (auto _ : state) {
        value += 7.3;
        if (value >= 360.0)
            value -= 360.0;
        meter.m_dValue = value;
        meter.render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
    state.SetLabel("us per paint");
}
BENCHMARK(BM_GaugePaint_Render)->Unit(benchmark::kMicrosecond);

// Counts the paints, so the figure is known to be of real ones.
struct CountingMeter : CRoundMeter {
    long paints = 0;
    void paintEvent(QPaintEvent* e) override
    {
        ++paints;
        CRoundMeter::paintEvent(e);
    }
};

// A shown widget repainted synchronously into its backing store and flushed.
void BM_GaugePaint_Repaint(benchmark::State& state)
{
    CountingMeter meter;
    meter.resize(kWidth, kHeight);
    meter.m_dValue = 0.0;
    meter.show();
    for (int i = 0; i < 50 && meter.paints == 0; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    meter.repaint();
    const long before = meter.paints;
    double value = 0.0;
    for (auto _ : state) {
        value += 7.3;
        if (value >= 360.0)
            value -= 360.0;
        meter.m_dValue = value;
        meter.repaint();
    }
    if (meter.paints - before < static_cast<long>(state.iterations()))
        state.SkipWithError("the widget was not repainted");
    state.SetLabel("us per paint");
}
BENCHMARK(BM_GaugePaint_Repaint)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InstallFontSubstitutions();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
