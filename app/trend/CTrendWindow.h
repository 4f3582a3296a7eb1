// The trend window: both channels over time, beside the main dialog, with the
// statistics of the span shown and the line's quality since the run began.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>

#include "app/trend/CTrendStore.h"
#include "app/trend/TrendStatistics.h"

struct MeasureState;
class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QLineSeries;
class QPushButton;
class QTableWidget;
class QValueAxis;

class CTrendWindow : public QWidget {
    Q_OBJECT
public:
    enum Span { SPAN_10S = 0, SPAN_1MIN = 1, SPAN_10MIN = 2, SPAN_RUN = 3 };

    // state: the dialog's decoding state, read for the line counters.
    CTrendWindow(const MeasureState& state, QWidget* parent);
    ~CTrendWindow() override;

    // Every accepted frame, with the time its bytes were read.
    void AddFrame(const MeasureState& state, std::chrono::steady_clock::time_point readTime);

    void SetSpan(Span span);
    void SetTotalAngle(bool total);
    void SetPaused(bool paused);
    bool IsPaused() const { return m_bPaused; }

    // Write the plots as PNG, or the frames of the span shown as UTF-8 CSV.
    bool SavePng(const std::string& path);
    bool SaveCsv(const std::string& path);

    // Read by tests and benchmarks.
    const CTrendStore& Store() const { return m_store; }
    TrendStatistics Statistics(int channel) const { return m_stats[channel]; }
    std::uint64_t LineAccepted() const;
    std::uint64_t LineRefused() const;
    std::uint64_t LineResyncs() const;
    unsigned long Pictures() const { return m_nPictures; }
    // The time range shown, in seconds since the first frame of the run.
    double ViewStart() const { return m_tViewStart; }
    double ViewEnd() const { return m_tViewEnd; }
    QChartView* ChartView(int channel) const { return m_view[channel]; }
    // The value axis of a plot: its lowest and highest value.
    std::pair<double, double> ValueAxisRange(int channel) const;
    // Redraws now if anything changed, and updates the numbers (the timer
    // does it at most 30 times a second, the numbers 4 times).
    void Refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void OnSavePng();
    void OnSaveCsv();
    void NewRun(const MeasureState& state, bool inFrame);
    void ComputeView();
    void Tick();
    void DrawPlots();
    void UpdateStatistics();
    void UpdateLineStats();
    void AlignPlots();
    void FitTable();
    void ShowCursor(int channel, const QPoint& pos);
    TrendSeries SeriesOf(int channel) const;
    void Fail(const char* text);

    const MeasureState& m_state;
    CTrendStore m_store;

    bool m_bHaveOrigin = false;
    std::chrono::steady_clock::time_point m_origin{};
    std::uint64_t m_nRun = 0; // the run the data belongs to
    bool m_bSinceOpening = true; // the run had begun before the window saw it
    std::uint64_t m_nBaseAccepted = 0;
    std::uint64_t m_nBaseRefused = 0;
    std::uint64_t m_nBaseResyncs = 0;

    Span m_span = SPAN_1MIN;
    bool m_bTotal = false;
    bool m_bPaused = false;
    bool m_bDirty = true;
    double m_tViewStart = 0.0;
    double m_tViewEnd = 0.0;
    double m_tFrozenEnd = 0.0;
    TrendStatistics m_stats[2];
    unsigned long m_nPictures = 0;
    QElapsedTimer m_sinceDraw;
    QElapsedTimer m_sinceText;
    bool m_bStatsDirty = true;
    double m_dColumnSeconds = 0.0; // time one pixel column of the plots stands for
    QTimer m_timer;

    QComboBox* m_cbQuantity = nullptr;
    QComboBox* m_cbSpan = nullptr;
    QPushButton* m_btnPause = nullptr;
    QWidget* m_plots = nullptr;
    QChart* m_chart[2] = {nullptr, nullptr};
    QChartView* m_view[2] = {nullptr, nullptr};
    QLineSeries* m_series[2] = {nullptr, nullptr};
    QValueAxis* m_axisX[2] = {nullptr, nullptr};
    QValueAxis* m_axisY[2] = {nullptr, nullptr};
    int m_nExtraLeft[2] = {0, 0};
    QLabel* m_cursor = nullptr;
    QTableWidget* m_table = nullptr;
    QLabel* m_line = nullptr;
    QString m_lastLineText;
};
