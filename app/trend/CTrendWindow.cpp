#include "app/trend/CTrendWindow.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QEvent>
#include <QGraphicsLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>
#include <QStyle>
#include <QTableWidget>
#include <QToolTip>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/trend/TrendDecimation.h"
#include "measurement/MeasureState.h"
#include "platform/core/MessageBox.h"

namespace {

constexpr double SPAN_SECONDS[] = {10.0, 60.0, 600.0, 0.0};
// 34 ms: never more than 30 pictures a second.
constexpr int REFRESH_MS = 34;
// The statistics and line counts, four times a second.
constexpr int TEXT_MS = 250;
// On long spans a picture once the time axis has moved this many pixel columns.
constexpr double COLUMNS_PER_PICTURE = 3.0;

const char* const STAT_HEADERS[] = {"帧数", "帧/秒", "最小值", "最大值", "平均值", "标准差", "峰峰值"};

// The dialog's light colours, whatever the desktop's theme.
QPalette LightPalette()
{
    QPalette p = QApplication::style()->standardPalette();
    const QColor face(240, 240, 240);
    p.setColor(QPalette::Window, face);
    p.setColor(QPalette::Button, face);
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::AlternateBase, QColor(245, 245, 245));
    p.setColor(QPalette::WindowText, Qt::black);
    p.setColor(QPalette::ButtonText, Qt::black);
    p.setColor(QPalette::Text, Qt::black);
    p.setColor(QPalette::ToolTipBase, QColor(255, 255, 225));
    p.setColor(QPalette::ToolTipText, Qt::black);
    return p;
}

// A tick step of 1, 2 or 5 times a power of ten giving about five ticks.
double NiceStep(double range)
{
    if (!(range > 0))
        return 1.0;
    const double raw = range / 5.0;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / power;
    return (f < 1.5 ? 1.0 : f < 3.5 ? 2.0 : f < 7.5 ? 5.0 : 10.0) * power;
}

// Enough decimals to show the step, no more.
int StepDecimals(double step)
{
    return std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 6);
}

QString Fixed(double v, int decimals = 4) { return QString::number(v, 'f', decimals); }

} // namespace

CTrendWindow::CTrendWindow(const MeasureState& state, QWidget* parent)
    : QWidget(parent, Qt::Window), m_state(state)
{
    setWindowTitle(QStringLiteral("趋势图"));
    setAccessibleName(QStringLiteral("趋势图"));
    if (parent)
        setWindowIcon(parent->windowIcon());
    setPalette(LightPalette());
    setAutoFillBackground(true);

    m_nRun = state.m_nRuns;
    m_nBaseAccepted = state.m_nAcceptedFrames;
    m_nBaseRefused = state.m_nRefusedFrames;
    m_nBaseResyncs = state.m_nResyncs;

    auto* top = new QHBoxLayout;
    auto* quantityLabel = new QLabel(QStringLiteral("显示(&D)："), this);
    m_cbQuantity = new QComboBox(this);
    m_cbQuantity->addItem(QStringLiteral("相对角度"));
    m_cbQuantity->addItem(QStringLiteral("总角度"));
    m_cbQuantity->setAccessibleName(QStringLiteral("显示"));
    quantityLabel->setBuddy(m_cbQuantity);
    auto* spanLabel = new QLabel(QStringLiteral("时间跨度(&S)："), this);
    m_cbSpan = new QComboBox(this);
    for (const char* text : {"10 秒", "1 分钟", "10 分钟", "整个运行"})
        m_cbSpan->addItem(QString::fromUtf8(text));
    m_cbSpan->setCurrentIndex(m_span);
    m_cbSpan->setAccessibleName(QStringLiteral("时间跨度"));
    spanLabel->setBuddy(m_cbSpan);
    m_btnPause = new QPushButton(QStringLiteral("暂停(&P)"), this);
    m_btnPause->setAccessibleName(QStringLiteral("暂停"));
    auto* btnPng = new QPushButton(QStringLiteral("保存图像(&I)…"), this);
    btnPng->setAccessibleName(QStringLiteral("保存图像…"));
    auto* btnCsv = new QPushButton(QStringLiteral("保存数据(&C)…"), this);
    btnCsv->setAccessibleName(QStringLiteral("保存数据…"));
    top->addWidget(quantityLabel);
    top->addWidget(m_cbQuantity);
    top->addSpacing(12);
    top->addWidget(spanLabel);
    top->addWidget(m_cbSpan);
    top->addSpacing(12);
    top->addWidget(m_btnPause);
    top->addStretch(1);
    top->addWidget(btnPng);
    top->addWidget(btnCsv);

    m_plots = new QWidget(this);
    m_plots->setAutoFillBackground(true);
    auto* plotsLayout = new QVBoxLayout(m_plots);
    plotsLayout->setContentsMargins(0, 0, 0, 0);
    plotsLayout->setSpacing(0);
    for (int ch = 0; ch < 2; ++ch) {
        auto* chart = new QChart;
        chart->setTheme(QChart::ChartThemeLight);
        chart->setAnimationOptions(QChart::NoAnimation);
        chart->legend()->hide();
        chart->setTitle(QStringLiteral("通道%1").arg(ch + 1));
        chart->setMargins(QMargins(4, 0, 12, 0));
        auto* series = new QLineSeries;
        QPen pen(ch == 0 ? QColor(21, 101, 192) : QColor(198, 40, 40));
        pen.setWidthF(1.0);
        pen.setCosmetic(true);
        series->setPen(pen);
        chart->addSeries(series);
        auto* x = new QValueAxis;
        x->setTitleText(QStringLiteral("时间 (s)"));
        x->setLabelFormat(QStringLiteral("%.1f"));
        auto* y = new QValueAxis;
        y->setTitleText(QStringLiteral("角度 (°)"));
        y->setTickType(QValueAxis::TicksDynamic);
        x->setTickType(QValueAxis::TicksDynamic);
        x->setTickAnchor(0.0);
        x->setTickInterval(SPAN_SECONDS[m_span] / 4);
        chart->addAxis(x, Qt::AlignBottom);
        chart->addAxis(y, Qt::AlignLeft);
        series->attachAxis(x);
        series->attachAxis(y);
        x->setRange(0, SPAN_SECONDS[m_span]);
        y->setRange(0, 360);
        auto* view = new QChartView(chart, m_plots);
        // The whole chart changes with each picture anyway.
        view->setViewportUpdateMode(QGraphicsView::FullViewportUpdate);
        view->setAccessibleName(QStringLiteral("通道%1趋势图").arg(ch + 1));
        view->setMinimumHeight(160);
        view->setMouseTracking(true);
        view->viewport()->setMouseTracking(true);
        view->viewport()->installEventFilter(this);
        plotsLayout->addWidget(view);
        connect(chart, &QChart::plotAreaChanged, this, [this] { AlignPlots(); });
        m_chart[ch] = chart;
        m_view[ch] = view;
        m_series[ch] = series;
        m_axisX[ch] = x;
        m_axisY[ch] = y;
    }

    m_cursor = new QLabel(QStringLiteral("将鼠标移到图上可读出时间和角度"), this);
    // Named by their texts, which a screen reader reads out; described by what they are.
    m_cursor->setAccessibleDescription(QStringLiteral("光标读数"));

    m_table = new QTableWidget(2, 7, this);
    m_table->setAccessibleName(QStringLiteral("统计"));
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    QStringList headers;
    for (const char* h : STAT_HEADERS)
        headers << QString::fromUtf8(h);
    m_table->setHorizontalHeaderLabels(headers);
    m_table->setVerticalHeaderLabels({QStringLiteral("通道1"), QStringLiteral("通道2")});
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 7; ++c) {
            auto* item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_table->setItem(r, c, item);
        }
    m_table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_table->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    FitTable();

    m_line = new QLabel(this);
    m_line->setAccessibleDescription(QStringLiteral("线路统计"));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_plots, 1);
    layout->addWidget(m_cursor);
    layout->addWidget(m_table);
    layout->addWidget(m_line);

    connect(m_cbQuantity, &QComboBox::activated, this, [this](int i) { SetTotalAngle(i == 1); });
    connect(m_cbSpan, &QComboBox::activated, this, [this](int i) { SetSpan(static_cast<Span>(i)); });
    connect(m_btnPause, &QPushButton::clicked, this, [this] { SetPaused(!m_bPaused); });
    connect(btnPng, &QPushButton::clicked, this, [this] { OnSavePng(); });
    connect(btnCsv, &QPushButton::clicked, this, [this] { OnSaveCsv(); });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);

    resize(900, 720);
    UpdateLineStats();
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { Tick(); });
    m_timer.start(REFRESH_MS);
    m_sinceDraw.start();
    m_sinceText.start();
}

CTrendWindow::~CTrendWindow() = default;

void CTrendWindow::NewRun(const MeasureState& s, bool inFrame)
{
    m_nRun = s.m_nRuns;
    m_store.Clear();
    m_bDirty = true;
    m_bSinceOpening = false;
    // Inside a frame, that frame is already counted and belongs to the run.
    m_nBaseAccepted = s.m_nAcceptedFrames - (inFrame ? 1 : 0);
    m_nBaseRefused = s.m_nRefusedFrames;
    m_nBaseResyncs = s.m_nResyncs;
    m_bHaveOrigin = false;
}

void CTrendWindow::AddFrame(const MeasureState& s, std::chrono::steady_clock::time_point readTime)
{
    if (s.m_nRuns != m_nRun)
        NewRun(s, true);
    if (!m_bHaveOrigin) {
        m_bHaveOrigin = true;
        m_origin = readTime;
    }
    const double t = std::chrono::duration<double>(readTime - m_origin).count();
    m_store.Append(t, s.m_dRelAngle1, s.m_dRelAngle2, s.m_dTotalAngle1, s.m_dTotalAngle2);
    if (!m_bPaused)
        m_bDirty = true;
}

std::pair<double, double> CTrendWindow::ValueAxisRange(int channel) const
{
    return {m_axisY[channel]->min(), m_axisY[channel]->max()};
}

std::uint64_t CTrendWindow::LineAccepted() const { return m_state.m_nAcceptedFrames - m_nBaseAccepted; }
std::uint64_t CTrendWindow::LineRefused() const { return m_state.m_nRefusedFrames - m_nBaseRefused; }
std::uint64_t CTrendWindow::LineResyncs() const { return m_state.m_nResyncs - m_nBaseResyncs; }

void CTrendWindow::SetSpan(Span span)
{
    m_span = span;
    m_cbSpan->setCurrentIndex(span);
    m_bDirty = true;
    Refresh();
}

void CTrendWindow::SetTotalAngle(bool total)
{
    m_bTotal = total;
    m_cbQuantity->setCurrentIndex(total ? 1 : 0);
    m_bDirty = true;
    Refresh();
}

void CTrendWindow::SetPaused(bool paused)
{
    if (paused && !m_bPaused)
        m_tFrozenEnd = m_store.Empty() ? 0.0 : m_store.Time(m_store.End() - 1);
    m_bPaused = paused;
    m_btnPause->setText(paused ? QStringLiteral("继续(&P)") : QStringLiteral("暂停(&P)"));
    m_btnPause->setAccessibleName(paused ? QStringLiteral("继续") : QStringLiteral("暂停"));
    m_bDirty = true;
    Refresh();
}

TrendSeries CTrendWindow::SeriesOf(int channel) const
{
    if (m_bTotal)
        return channel == 0 ? TREND_TOTAL1 : TREND_TOTAL2;
    return channel == 0 ? TREND_REL1 : TREND_REL2;
}

void CTrendWindow::ComputeView()
{
    const double newest = m_store.Empty() ? 0.0 : m_store.Time(m_store.End() - 1);
    m_tViewEnd = m_bPaused ? m_tFrozenEnd : newest;
    if (m_span == SPAN_RUN) {
        m_tViewStart = m_store.Empty() ? 0.0 : m_store.Time(m_store.Begin());
        if (m_tViewEnd - m_tViewStart < 1.0)
            m_tViewEnd = m_tViewStart + 1.0;
    } else {
        const double span = SPAN_SECONDS[m_span];
        m_tViewStart = m_tViewEnd - span;
        // Before a whole span has gone by the data starts at the left edge.
        if (m_tViewStart < 0.0) {
            m_tViewStart = 0.0;
            m_tViewEnd = span;
        }
    }
}

void CTrendWindow::Tick()
{
    // A run begun with no frame yet: its counts start now.
    if (m_state.m_nRuns != m_nRun)
        NewRun(m_state, false);
    if (!isVisible())
        return;
    // A new picture when something changed, at most 30 a second, and no
    // more often than the time axis moves by three pixel columns (to the
    // nearest tick): on a long span the pictures between would show next to
    // nothing new, and each costs as much as the decoding of a hundred frames.
    const qint64 elapsed = m_sinceDraw.elapsed();
    if (m_bDirty && elapsed >= REFRESH_MS - 1
        && elapsed + REFRESH_MS / 2 >= std::llround(COLUMNS_PER_PICTURE * m_dColumnSeconds * 1000))
        DrawPlots();
    // Numbers changing 30 times a second cannot be read.
    if (m_sinceText.elapsed() >= TEXT_MS) {
        UpdateStatistics();
        UpdateLineStats();
    }
}

void CTrendWindow::Refresh()
{
    if (m_state.m_nRuns != m_nRun)
        NewRun(m_state, false);
    if (m_bDirty && isVisible())
        DrawPlots();
    UpdateStatistics();
    UpdateLineStats();
}

void CTrendWindow::DrawPlots()
{
    m_bDirty = false;
    m_sinceDraw.restart();
    ComputeView();
    const double dpr = devicePixelRatioF();
    for (int ch = 0; ch < 2; ++ch) {
        const TrendSeries series = SeriesOf(ch);
        const int columns = std::max(1, static_cast<int>(m_chart[ch]->plotArea().width() * dpr));
        m_dColumnSeconds = (m_tViewEnd - m_tViewStart) / columns;
        const std::vector<TrendPoint> points = DecimateColumns(m_store, series, m_tViewStart, m_tViewEnd, columns);
        QList<QPointF> list;
        list.reserve(static_cast<qsizetype>(points.size()));
        // The value axis spans the data shown: the extremes of every column.
        double lo = 0.0;
        double hi = 0.0;
        for (const TrendPoint& p : points) {
            if (list.isEmpty()) {
                lo = hi = p.value;
            } else {
                lo = std::min(lo, p.value);
                hi = std::max(hi, p.value);
            }
            list.append(QPointF(p.t, p.value));
        }
        // Qt Charts works out a series' whole outline again on every change
        // of its points and of each axis range: with the series empty while
        // the axes move, that happens once a picture instead of three times.
        m_series[ch]->clear();
        const double xStep = NiceStep((m_tViewEnd - m_tViewStart) * 5.0 / 8.0);
        m_axisX[ch]->setTickInterval(xStep);
        m_axisX[ch]->setLabelFormat(QStringLiteral("%.%1f").arg(StepDecimals(xStep)));
        m_axisX[ch]->setRange(m_tViewStart, m_tViewEnd);

        if (points.empty()) {
            lo = m_bTotal ? -360.0 : 0.0;
            hi = 360.0;
        } else {
            const double pad = hi > lo ? (hi - lo) * 0.05 : std::max(1e-4, std::fabs(hi) * 1e-6);
            lo -= pad;
            hi += pad;
        }
        const double step = NiceStep(hi - lo);
        // Ends on whole fifths of a tick step: the axis stays still while the
        // data keeps inside it, rather than being laid out anew each picture.
        const double grain = step / 5.0;
        lo = std::floor(lo / grain) * grain;
        hi = std::ceil(hi / grain) * grain;
        m_axisY[ch]->setLabelFormat(QStringLiteral("%.%1f").arg(StepDecimals(step)));
        m_axisY[ch]->setTickAnchor(std::floor(lo / step) * step);
        m_axisY[ch]->setTickInterval(step);
        m_axisY[ch]->setRange(lo, hi);
        m_series[ch]->replace(list);
        // Lay the chart out now, so that the changes make one repaint.
        if (QGraphicsLayout* layout = m_chart[ch]->layout())
            layout->activate();
    }
    m_bStatsDirty = true;
    ++m_nPictures;
}

void CTrendWindow::UpdateStatistics()
{
    if (!m_bStatsDirty)
        return;
    m_bStatsDirty = false;
    for (int ch = 0; ch < 2; ++ch) {
        const TrendStatistics st = SpanStatistics(m_store, SeriesOf(ch), m_tViewStart, m_tViewEnd);
        m_stats[ch] = st;
        const QString cells[7] = {
            QString::number(st.frames), Fixed(st.framesPerSecond, 1),
            st.frames ? Fixed(st.min) : QString(), st.frames ? Fixed(st.max) : QString(),
            st.frames ? Fixed(st.mean) : QString(), st.frames ? Fixed(st.stdDev) : QString(),
            st.frames ? Fixed(st.peakToPeak) : QString()};
        for (int c = 0; c < 7; ++c)
            if (m_table->item(ch, c)->text() != cells[c])
                m_table->item(ch, c)->setText(cells[c]);
    }
}

void CTrendWindow::UpdateLineStats()
{
    m_sinceText.restart();
    const QString text =
        QStringLiteral("线路（%1）：已接收帧 %2    收集器拒收帧 %3    重新同步 %4")
            .arg(m_bSinceOpening ? QStringLiteral("自打开本窗口起") : QStringLiteral("本次运行"))
            .arg(LineAccepted())
            .arg(LineRefused())
            .arg(LineResyncs());
    if (text != m_lastLineText) {
        m_lastLineText = text;
        m_line->setText(text);
    }
}

void CTrendWindow::AlignPlots()
{
    // Both plots share one time axis: their plot areas start at the same x.
    double natural[2];
    for (int ch = 0; ch < 2; ++ch)
        natural[ch] = m_chart[ch]->plotArea().left() - m_nExtraLeft[ch];
    const double target = std::max(natural[0], natural[1]);
    for (int ch = 0; ch < 2; ++ch) {
        const int extra = static_cast<int>(std::lround(target - natural[ch]));
        if (extra != m_nExtraLeft[ch]) {
            m_nExtraLeft[ch] = extra;
            QMargins m = m_chart[ch]->margins();
            m.setLeft(4 + extra);
            m_chart[ch]->setMargins(m);
        }
    }
}

void CTrendWindow::FitTable()
{
    // Exactly the two rows: no scrolling, no empty band.
    m_table->resizeRowsToContents();
    m_table->setFixedHeight(m_table->horizontalHeader()->sizeHint().height() + m_table->verticalHeader()->length()
                            + 2 * m_table->frameWidth());
}

void CTrendWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    FitTable();
    m_bDirty = true;
}

void CTrendWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_bDirty = true;
}

bool CTrendWindow::eventFilter(QObject* watched, QEvent* event)
{
    for (int ch = 0; ch < 2; ++ch) {
        if (watched != m_view[ch]->viewport())
            continue;
        if (event->type() == QEvent::MouseMove)
            ShowCursor(ch, static_cast<QMouseEvent*>(event)->position().toPoint());
        else if (event->type() == QEvent::Leave)
            QToolTip::hideText();
    }
    return QWidget::eventFilter(watched, event);
}

void CTrendWindow::ShowCursor(int ch, const QPoint& pos)
{
    const QPointF inChart = m_chart[ch]->mapFromScene(m_view[ch]->mapToScene(pos));
    if (!m_chart[ch]->plotArea().contains(inChart) || m_store.Empty()) {
        QToolTip::hideText();
        return;
    }
    const double t = m_chart[ch]->mapToValue(inChart, m_series[ch]).x();
    // The frame nearest in time, among those shown.
    const std::uint64_t first = m_store.LowerBound(m_tViewStart);
    const std::uint64_t end = m_store.UpperBound(m_tViewEnd);
    if (first >= end)
        return;
    std::uint64_t i = std::clamp(m_store.LowerBound(t), first, end - 1);
    if (i > first && std::fabs(m_store.Time(i - 1) - t) <= std::fabs(m_store.Time(i) - t))
        --i;
    const QString text = QStringLiteral("通道%1  时间 %2 s  %3 %4°")
                             .arg(ch + 1)
                             .arg(Fixed(m_store.Time(i), 3))
                             .arg(m_bTotal ? QStringLiteral("总角度") : QStringLiteral("相对角度"))
                             .arg(Fixed(m_store.Value(SeriesOf(ch), i)));
    m_cursor->setText(text);
    QToolTip::showText(m_view[ch]->viewport()->mapToGlobal(pos), text, m_view[ch]->viewport());
}

bool CTrendWindow::SavePng(const std::string& path)
{
    m_bDirty = true;
    Refresh();
    const QPixmap picture = m_plots->grab();
    return !picture.isNull() && picture.save(QString::fromStdString(path), "PNG");
}

bool CTrendWindow::SaveCsv(const std::string& path)
{
    ComputeView();
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QString quantity = m_bTotal ? QStringLiteral("总角度") : QStringLiteral("相对角度");
    // The byte order mark lets spreadsheet programs read the Chinese header as UTF-8.
    QByteArray out("\xEF\xBB\xBF");
    out += QStringLiteral("时间(s),通道1%1(°),通道2%1(°)\n").arg(quantity).toUtf8();
    const std::uint64_t a = m_store.LowerBound(m_tViewStart);
    const std::uint64_t b = m_store.UpperBound(m_tViewEnd);
    char line[96];
    for (std::uint64_t i = a; i < b; ++i) {
        const int n = std::snprintf(line, sizeof line, "%.6f,%.4f,%.4f\n", m_store.Time(i),
                                    m_store.Value(SeriesOf(0), i), m_store.Value(SeriesOf(1), i));
        out.append(line, n);
        if (out.size() > (1 << 20)) {
            if (file.write(out) != out.size())
                return false;
            out.clear();
        }
    }
    if (file.write(out) != out.size())
        return false;
    return file.commit();
}

void CTrendWindow::Fail(const char* text)
{
    MessageBoxA(this, text, AfxGetAppTitle(), MB_OK | MB_ICONERROR);
}

void CTrendWindow::OnSavePng()
{
    SaveFileRequest request;
    request.filter = "PNG 图像 (*.png)|*.png|";
    const auto path = MessagePresenter().GetSaveFileName(this, request);
    if (path && !SavePng(*path))
        Fail("保存图像失败！");
}

void CTrendWindow::OnSaveCsv()
{
    SaveFileRequest request;
    request.filter = "CSV 文件 (*.csv)|*.csv|";
    const auto path = MessagePresenter().GetSaveFileName(this, request);
    if (path && !SaveCsv(*path))
        Fail("保存数据失败！");
}
