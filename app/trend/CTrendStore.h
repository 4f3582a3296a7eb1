// The trend window's data: the last frames with the time each was read, in a
// ring of fixed capacity, with a summary per block of frames so that a span of
// any length is summarised in about the same time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

enum TrendSeries : int {
    TREND_REL1 = 0,   // channel 1 relative angle
    TREND_REL2 = 1,   // channel 2 relative angle
    TREND_TOTAL1 = 2, // channel 1 total angle
    TREND_TOTAL2 = 3, // channel 2 total angle
    TREND_SERIES_COUNT = 4
};

// Count, extremes (with the index where each first occurs), mean and the sum
// of squared deviations of a run of values; merged without losing precision.
struct TrendSummary {
    std::uint64_t n = 0;
    double min = 0.0;
    double max = 0.0;
    std::uint64_t minIndex = 0;
    std::uint64_t maxIndex = 0;
    double mean = 0.0;
    double m2 = 0.0;

    void Add(double x, std::uint64_t index);
    // other covers indices after this one's.
    void Merge(const TrendSummary& other);
    double Variance() const { return n > 0 ? m2 / static_cast<double>(n) : 0.0; }
};

class CTrendStore {
public:
    static constexpr std::size_t BLOCK = 64;
    // Ten minutes at 1 kHz.
    static constexpr std::size_t DEFAULT_CAPACITY = 600000;

    // capacity is rounded up to a whole number of blocks.
    explicit CTrendStore(std::size_t capacity = DEFAULT_CAPACITY);
    CTrendStore(const CTrendStore&) = delete;
    CTrendStore& operator=(const CTrendStore&) = delete;

    void Clear();
    // t in seconds; a time earlier than the last one is taken as the last one,
    // so that times never decrease.
    void Append(double t, double rel1, double rel2, double total1, double total2);

    // Frames are numbered from 0 since the last Clear; [Begin, End) are held.
    std::uint64_t Begin() const { return m_end > m_capacity ? m_end - m_capacity : 0; }
    std::uint64_t End() const { return m_end; }
    bool Empty() const { return m_end == 0; }
    std::size_t Capacity() const { return m_capacity; }
    // Bytes reserved for frames and summaries (touched as they fill).
    std::size_t ReservedBytes() const;

    double Time(std::uint64_t i) const { return m_time[i % m_capacity]; }
    double Value(TrendSeries s, std::uint64_t i) const { return m_value[s][i % m_capacity]; }

    // First held index whose time is >= t (End when none).
    std::uint64_t LowerBound(double t) const;
    // First held index whose time is > t (End when none).
    std::uint64_t UpperBound(double t) const;
    // First index in [from, to) whose time is >= t (to when none), found
    // from `from` onwards: quick when the answer lies close after it.
    std::uint64_t LowerBoundAfter(double t, std::uint64_t from, std::uint64_t to) const;

    // Summary of the held frames in [a, b).
    TrendSummary Summarize(TrendSeries s, std::uint64_t a, std::uint64_t b) const;
    // Only the count and the extremes (with their indices) of [a, b): cheaper.
    TrendSummary Extremes(TrendSeries s, std::uint64_t a, std::uint64_t b) const;

private:
    // First index in [lo, hi) whose time is >= t (hi when none).
    std::uint64_t Bisect(double t, std::uint64_t lo, std::uint64_t hi) const;

    std::size_t m_capacity;
    std::size_t m_blocks;
    std::uint64_t m_end = 0;
    // Allocated once and left uninitialised: pages are touched only as frames arrive.
    std::unique_ptr<double[]> m_time;
    std::unique_ptr<double[]> m_value[TREND_SERIES_COUNT];
    std::unique_ptr<TrendSummary[]> m_summary[TREND_SERIES_COUNT];
};
