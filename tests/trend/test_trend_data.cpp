// The trend window's data side: the bounded store, the per-column decimation
// and the statistics, each against a direct computation over the same frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "app/trend/CTrendStore.h"
#include "app/trend/TrendDecimation.h"
#include "app/trend/TrendStatistics.h"

namespace {

struct Frame {
    double t;
    double v[TREND_SERIES_COUNT];
};

// A 1 kHz-like stream with jitter, batches read at one time, noise, spikes
// and totals far from zero (many turns).
std::vector<Frame> MakeFrames(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 0.01);
    std::vector<Frame> frames;
    double t = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        if (rng() % 8 != 0) // frames of one batch share their read time
            t += 0.001 * (0.5 + (rng() % 1000) / 1000.0);
        const double base = std::fmod(i * 0.37, 360.0);
        double rel1 = base + noise(rng);
        if (rng() % 997 == 0)
            rel1 = (rng() % 2) ? 359.9 : 0.1; // a spike
        const double rel2 = std::fmod(360.0 - i * 0.011, 360.0) + noise(rng);
        frames.push_back({t, {rel1, rel2, 1.0e6 + i * 0.37 + noise(rng), -5.0e5 - i * 0.011 + noise(rng)}});
    }
    return frames;
}

void Fill(CTrendStore& store, const std::vector<Frame>& frames)
{
    for (const Frame& f : frames)
        store.Append(f.t, f.v[0], f.v[1], f.v[2], f.v[3]);
}

TEST(TrendStore, KeepsTheLastCapacityFramesInOrder)
{
    CTrendStore store(1000); // rounded up to whole blocks
    ASSERT_EQ(store.Capacity() % CTrendStore::BLOCK, 0u);
    ASSERT_GE(store.Capacity(), 1000u);
    const auto frames = MakeFrames(store.Capacity() * 3 + 17, 1);
    Fill(store, frames);
    EXPECT_EQ(store.End(), frames.size());
    EXPECT_EQ(store.Begin(), frames.size() - store.Capacity());
    for (std::uint64_t i = store.Begin(); i < store.End(); ++i) {
        ASSERT_EQ(store.Time(i), frames[i].t);
        for (int s = 0; s < TREND_SERIES_COUNT; ++s)
            ASSERT_EQ(store.Value(static_cast<TrendSeries>(s), i), frames[i].v[s]);
    }
    store.Clear();
    EXPECT_TRUE(store.Empty());
    EXPECT_EQ(store.Begin(), 0u);
}

TEST(TrendStore, TimesNeverDecrease)
{
    CTrendStore store(64);
    store.Append(5.0, 1, 2, 3, 4);
    store.Append(4.0, 1, 2, 3, 4); // a clock step back
    store.Append(6.0, 1, 2, 3, 4);
    EXPECT_EQ(store.Time(1), 5.0);
    EXPECT_EQ(store.LowerBound(5.0), 0u);
    EXPECT_EQ(store.UpperBound(5.0), 2u);
    EXPECT_EQ(store.LowerBound(100.0), 3u);
}

// The column search starts from the column before: it must find what the
// search over the whole store finds, on a wrapped ring with shared times.
TEST(TrendStore, LowerBoundAfterAgreesWithLowerBound)
{
    CTrendStore store(640);
    const auto frames = MakeFrames(2000, 5);
    Fill(store, frames);
    ASSERT_GT(store.Begin(), 0u);
    std::mt19937 rng(9);
    const double first = store.Time(store.Begin());
    const double last = store.Time(store.End() - 1);
    for (int k = 0; k < 5000; ++k) {
        const double t = first - 0.01 + (last - first + 0.02) * (rng() % 100000) / 100000.0;
        // Exactly a stored time now and then, where batches share one.
        const double at = k % 3 == 0 ? store.Time(store.Begin() + rng() % store.Capacity()) : t;
        const std::uint64_t from = rng() % (store.End() + 10);
        const std::uint64_t to = std::min<std::uint64_t>(store.End(), from + rng() % 800);
        const std::uint64_t expected =
            std::min(to, std::max({from, store.Begin(), store.LowerBound(at)}));
        ASSERT_EQ(store.LowerBoundAfter(at, from, to), expected) << "t " << at << " from " << from << " to " << to;
    }
}

TEST(TrendStore, TenMinutesAtOneKilohertzIsTheDefaultBound)
{
    CTrendStore store;
    EXPECT_EQ(store.Capacity(), 600000u);
    // Five doubles per frame (24 MB) plus a summary per block of 64 (2.1 MB).
    EXPECT_LT(store.ReservedBytes(), 27u * 1000 * 1000);
}

// Every range of the store, including ranges over the wrap, summarises as a
// direct pass over its frames does; so do its extremes alone.
TEST(TrendStore, SummaryEqualsDirectComputation)
{
    CTrendStore store(640);
    const auto frames = MakeFrames(640 * 2 + 300, 2);
    Fill(store, frames);
    std::mt19937 rng(3);
    for (int k = 0; k < 400; ++k) {
        std::uint64_t a = store.Begin() + rng() % store.Capacity();
        std::uint64_t b = store.Begin() + rng() % (store.Capacity() + 1);
        if (a > b)
            std::swap(a, b);
        for (int s = 0; s < TREND_SERIES_COUNT; ++s) {
            const TrendSummary sum = store.Summarize(static_cast<TrendSeries>(s), a, b);
            ASSERT_EQ(sum.n, b - a);
            if (a == b)
                continue;
            double mn = frames[a].v[s], mx = mn, mean = 0;
            std::uint64_t mnAt = a, mxAt = a;
            for (std::uint64_t i = a; i < b; ++i) {
                const double x = frames[i].v[s];
                if (x < mn) { mn = x; mnAt = i; }
                if (x > mx) { mx = x; mxAt = i; }
                mean += x;
            }
            mean /= static_cast<double>(b - a);
            double m2 = 0;
            for (std::uint64_t i = a; i < b; ++i)
                m2 += (frames[i].v[s] - mean) * (frames[i].v[s] - mean);
            ASSERT_EQ(sum.min, mn);
            ASSERT_EQ(sum.max, mx);
            ASSERT_EQ(sum.minIndex, mnAt);
            ASSERT_EQ(sum.maxIndex, mxAt);
            ASSERT_NEAR(sum.mean, mean, 1e-9 * std::max(1.0, std::fabs(mean)));
            ASSERT_NEAR(sum.m2, m2, 1e-7 * std::max(1.0, m2));
            const TrendSummary ext = store.Extremes(static_cast<TrendSeries>(s), a, b);
            ASSERT_EQ(ext.n, b - a);
            ASSERT_EQ(ext.min, mn);
            ASSERT_EQ(ext.max, mx);
            ASSERT_EQ(ext.minIndex, mnAt);
            ASSERT_EQ(ext.maxIndex, mxAt);
        }
    }
}

struct Column {
    bool any = false;
    double min = 0, max = 0;
};

// Brute force: the extremes of every column, a frame belonging to column
// floor((t - t0) / width), the last column closed at t1.
std::vector<Column> DirectColumns(const std::vector<Frame>& frames, std::uint64_t from, int s, double t0, double t1,
                                  int columns)
{
    std::vector<Column> cols(static_cast<std::size_t>(columns));
    const double width = (t1 - t0) / columns;
    for (std::uint64_t i = from; i < frames.size(); ++i) {
        const double t = frames[i].t;
        if (t < t0 || t > t1)
            continue;
        int c = 0;
        while (c + 1 < columns && t >= t0 + width * (c + 1))
            ++c;
        Column& col = cols[static_cast<std::size_t>(c)];
        const double x = frames[i].v[s];
        if (!col.any) {
            col = {true, x, x};
        } else {
            col.min = std::min(col.min, x);
            col.max = std::max(col.max, x);
        }
    }
    return cols;
}

TEST(TrendDecimation, KeepsEveryColumnsMinimumAndMaximum)
{
    CTrendStore store(20000);
    const auto frames = MakeFrames(50000, 4); // wrapped: only the last 20000 are held
    Fill(store, frames);
    const double newest = frames.back().t;
    struct View {
        double t0, t1;
        int columns;
    };
    for (const View& v : {View{newest - 10.0, newest, 800}, View{newest - 3.0, newest, 1600},
                          View{frames[store.Begin()].t, newest, 1000}, View{newest - 0.05, newest, 700},
                          View{newest - 100.0, newest, 37}}) {
        for (int s = 0; s < TREND_SERIES_COUNT; ++s) {
            const auto points = DecimateColumns(store, static_cast<TrendSeries>(s), v.t0, v.t1, v.columns);
            const auto direct = DirectColumns(frames, store.Begin(), s, v.t0, v.t1, v.columns);
            ASSERT_LE(points.size(), 2u * static_cast<std::size_t>(v.columns));
            for (std::size_t i = 1; i < points.size(); ++i)
                ASSERT_LE(points[i - 1].t, points[i].t);
            // Sort the points into their columns and compare the extremes.
            std::vector<Column> got(static_cast<std::size_t>(v.columns));
            const double width = (v.t1 - v.t0) / v.columns;
            for (const TrendPoint& p : points) {
                ASSERT_GE(p.t, v.t0);
                ASSERT_LE(p.t, v.t1);
                int c = 0;
                while (c + 1 < v.columns && p.t >= v.t0 + width * (c + 1))
                    ++c;
                Column& col = got[static_cast<std::size_t>(c)];
                if (!col.any)
                    col = {true, p.value, p.value};
                col.min = std::min(col.min, p.value);
                col.max = std::max(col.max, p.value);
            }
            std::size_t nonEmpty = 0;
            for (int c = 0; c < v.columns; ++c) {
                const Column& d = direct[static_cast<std::size_t>(c)];
                const Column& g = got[static_cast<std::size_t>(c)];
                ASSERT_EQ(g.any, d.any) << "column " << c;
                if (!d.any)
                    continue;
                ++nonEmpty;
                ASSERT_EQ(g.min, d.min) << "column " << c;
                ASSERT_EQ(g.max, d.max) << "column " << c;
            }
            ASSERT_GT(nonEmpty, 0u);
        }
    }
}

TEST(TrendDecimation, EmptyAndDegenerateViews)
{
    CTrendStore store(64);
    EXPECT_TRUE(DecimateColumns(store, TREND_REL1, 0, 10, 100).empty());
    store.Append(1.0, 5, 6, 7, 8);
    EXPECT_TRUE(DecimateColumns(store, TREND_REL1, 0, 10, 0).empty());
    EXPECT_TRUE(DecimateColumns(store, TREND_REL1, 2, 10, 100).empty());
    const auto one = DecimateColumns(store, TREND_REL2, 0, 10, 100);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].t, 1.0);
    EXPECT_EQ(one[0].value, 6.0);
}

TEST(TrendStatistics, EqualADirectComputationOverTheSpan)
{
    CTrendStore store(600000);
    const auto frames = MakeFrames(200000, 5);
    Fill(store, frames);
    const double newest = frames.back().t;
    for (double span : {0.5, 10.0, 60.0, 1.0e9}) {
        const double t0 = newest - span;
        for (int s = 0; s < TREND_SERIES_COUNT; ++s) {
            const TrendStatistics st = SpanStatistics(store, static_cast<TrendSeries>(s), t0, newest);
            std::vector<const Frame*> in;
            for (const Frame& f : frames)
                if (f.t >= t0 && f.t <= newest)
                    in.push_back(&f);
            ASSERT_EQ(st.frames, in.size());
            double mn = in[0]->v[s], mx = mn, sum = 0;
            for (const Frame* f : in) {
                mn = std::min(mn, f->v[s]);
                mx = std::max(mx, f->v[s]);
                sum += f->v[s];
            }
            const double mean = sum / static_cast<double>(in.size());
            double ss = 0;
            for (const Frame* f : in)
                ss += (f->v[s] - mean) * (f->v[s] - mean);
            const double sd = std::sqrt(ss / static_cast<double>(in.size()));
            const double fps = static_cast<double>(in.size() - 1) / (in.back()->t - in.front()->t);
            EXPECT_EQ(st.min, mn);
            EXPECT_EQ(st.max, mx);
            EXPECT_EQ(st.peakToPeak, mx - mn);
            EXPECT_NEAR(st.mean, mean, 1e-9 * std::max(1.0, std::fabs(mean)));
            EXPECT_NEAR(st.stdDev, sd, 1e-9 * std::max(1.0, sd));
            EXPECT_NEAR(st.framesPerSecond, fps, 1e-9 * fps);
        }
    }
}

// Noise of a resting shaft far from zero: the spread survives the large mean.
TEST(TrendStatistics, SmallSpreadFarFromZero)
{
    CTrendStore store(4096);
    for (int i = 0; i < 4000; ++i)
        store.Append(i * 0.001, 0, 0, 3.6e6 + ((i % 2) ? 1e-5 : -1e-5), 0);
    const TrendStatistics st = SpanStatistics(store, TREND_TOTAL1, 0.0, 10.0);
    EXPECT_NEAR(st.stdDev, 1e-5, 1e-9);
    EXPECT_NEAR(st.mean, 3.6e6, 1e-9);
    EXPECT_NEAR(st.peakToPeak, 2e-5, 1e-9);
    EXPECT_NEAR(st.framesPerSecond, 1000.0, 1e-6);
}

TEST(TrendStatistics, EmptyAndSingleFrame)
{
    CTrendStore store(64);
    EXPECT_EQ(SpanStatistics(store, TREND_REL1, 0, 10).frames, 0u);
    store.Append(2.0, 42, 0, 0, 0);
    const TrendStatistics st = SpanStatistics(store, TREND_REL1, 0, 10);
    EXPECT_EQ(st.frames, 1u);
    EXPECT_EQ(st.min, 42.0);
    EXPECT_EQ(st.stdDev, 0.0);
    EXPECT_EQ(st.framesPerSecond, 0.0);
}

} // namespace
