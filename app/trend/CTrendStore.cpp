#include "app/trend/CTrendStore.h"

#include <algorithm>

void TrendSummary::Add(double x, std::uint64_t index)
{
    if (n == 0) {
        n = 1;
        min = max = mean = x;
        minIndex = maxIndex = index;
        m2 = 0.0;
        return;
    }
    ++n;
    if (x < min) {
        min = x;
        minIndex = index;
    }
    if (x > max) {
        max = x;
        maxIndex = index;
    }
    const double d = x - mean;
    mean += d / static_cast<double>(n);
    m2 += d * (x - mean);
}

void TrendSummary::Merge(const TrendSummary& o)
{
    if (o.n == 0)
        return;
    if (n == 0) {
        *this = o;
        return;
    }
    if (o.min < min) {
        min = o.min;
        minIndex = o.minIndex;
    }
    if (o.max > max) {
        max = o.max;
        maxIndex = o.maxIndex;
    }
    const double na = static_cast<double>(n);
    const double nb = static_cast<double>(o.n);
    const double total = na + nb;
    const double d = o.mean - mean;
    mean += d * nb / total;
    m2 += o.m2 + d * d * na * nb / total;
    n += o.n;
}

CTrendStore::CTrendStore(std::size_t capacity)
    : m_capacity(std::max<std::size_t>(BLOCK, (capacity + BLOCK - 1) / BLOCK * BLOCK)),
      m_blocks(m_capacity / BLOCK)
{
    // new[] without () leaves the memory untouched until it is written.
    m_time.reset(new double[m_capacity]);
    for (int s = 0; s < TREND_SERIES_COUNT; ++s) {
        m_value[s].reset(new double[m_capacity]);
        m_summary[s].reset(new TrendSummary[m_blocks]);
    }
}

std::size_t CTrendStore::ReservedBytes() const
{
    return m_capacity * sizeof(double) * (1 + TREND_SERIES_COUNT)
           + m_blocks * sizeof(TrendSummary) * TREND_SERIES_COUNT;
}

void CTrendStore::Clear()
{
    m_end = 0;
}

void CTrendStore::Append(double t, double rel1, double rel2, double total1, double total2)
{
    if (m_end > 0)
        t = std::max(t, Time(m_end - 1));
    const std::uint64_t i = m_end;
    const std::size_t slot = static_cast<std::size_t>(i % m_capacity);
    const std::size_t block = static_cast<std::size_t>((i / BLOCK) % m_blocks);
    const double values[TREND_SERIES_COUNT] = {rel1, rel2, total1, total2};
    m_time[slot] = t;
    for (int s = 0; s < TREND_SERIES_COUNT; ++s) {
        m_value[s][slot] = values[s];
        if (i % BLOCK == 0)
            m_summary[s][block] = TrendSummary{};
        m_summary[s][block].Add(values[s], i);
    }
    ++m_end;
}

std::uint64_t CTrendStore::Bisect(double t, std::uint64_t lo, std::uint64_t hi) const
{
    while (lo < hi) {
        const std::uint64_t mid = lo + (hi - lo) / 2;
        if (Time(mid) < t)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

std::uint64_t CTrendStore::LowerBound(double t) const
{
    return Bisect(t, Begin(), m_end);
}

std::uint64_t CTrendStore::UpperBound(double t) const
{
    std::uint64_t lo = Begin();
    std::uint64_t hi = m_end;
    while (lo < hi) {
        const std::uint64_t mid = lo + (hi - lo) / 2;
        if (Time(mid) <= t)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

std::uint64_t CTrendStore::LowerBoundAfter(double t, std::uint64_t from, std::uint64_t to) const
{
    std::uint64_t lo = std::max(from, Begin());
    to = std::min(to, m_end);
    if (lo >= to)
        return to;
    // Steps doubling from `from` until one passes t, then halving back.
    std::uint64_t hi = lo;
    std::uint64_t step = 1;
    while (hi < to && Time(hi) < t) {
        lo = hi + 1;
        hi = std::min(to, lo + step);
        step *= 2;
    }
    return Bisect(t, lo, hi);
}

TrendSummary CTrendStore::Summarize(TrendSeries s, std::uint64_t a, std::uint64_t b) const
{
    a = std::max(a, Begin());
    b = std::min(b, m_end);
    TrendSummary sum;
    // Whole blocks inside [a, b) are held entirely and their summary slots
    // are not reused yet; the frames around them are added one by one.
    const std::uint64_t firstWhole = std::min(b, (a + BLOCK - 1) / BLOCK * BLOCK);
    std::uint64_t i = a;
    for (; i < firstWhole; ++i)
        sum.Add(Value(s, i), i);
    for (; i + BLOCK <= b; i += BLOCK)
        sum.Merge(m_summary[s][static_cast<std::size_t>((i / BLOCK) % m_blocks)]);
    for (; i < b; ++i)
        sum.Add(Value(s, i), i);
    return sum;
}

TrendSummary CTrendStore::Extremes(TrendSeries s, std::uint64_t a, std::uint64_t b) const
{
    a = std::max(a, Begin());
    b = std::min(b, m_end);
    TrendSummary sum;
    if (a >= b)
        return sum;
    sum.n = b - a;
    sum.min = sum.max = Value(s, a);
    sum.minIndex = sum.maxIndex = a;
    auto scan = [&](std::uint64_t from, std::uint64_t to) {
        for (std::uint64_t i = from; i < to; ++i) {
            const double x = Value(s, i);
            if (x < sum.min) {
                sum.min = x;
                sum.minIndex = i;
            }
            if (x > sum.max) {
                sum.max = x;
                sum.maxIndex = i;
            }
        }
    };
    // As Summarize: whole blocks by their summaries, the rest frame by frame.
    const std::uint64_t firstWhole = std::min(b, (a + BLOCK - 1) / BLOCK * BLOCK);
    scan(a, firstWhole);
    std::uint64_t i = std::max(a, firstWhole);
    for (; i + BLOCK <= b; i += BLOCK) {
        const TrendSummary& block = m_summary[s][static_cast<std::size_t>((i / BLOCK) % m_blocks)];
        if (block.min < sum.min) {
            sum.min = block.min;
            sum.minIndex = block.minIndex;
        }
        if (block.max > sum.max) {
            sum.max = block.max;
            sum.maxIndex = block.maxIndex;
        }
    }
    scan(i, b);
    return sum;
}
