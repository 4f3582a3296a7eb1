#include "app/trend/TrendDecimation.h"

std::vector<TrendPoint> DecimateColumns(const CTrendStore& store, TrendSeries series, double t0, double t1,
                                        int columns)
{
    std::vector<TrendPoint> points;
    if (columns <= 0 || !(t1 >= t0) || store.Empty())
        return points;
    points.reserve(static_cast<std::size_t>(columns) * 2);
    const double width = (t1 - t0) / columns;
    std::uint64_t a = store.LowerBound(t0);
    const std::uint64_t end = store.UpperBound(t1);
    for (int c = 0; c < columns && a < end; ++c) {
        const std::uint64_t b = c == columns - 1 ? end : std::min(end, store.LowerBoundAfter(t0 + width * (c + 1), a, end));
        if (b > a) {
            const TrendSummary s = store.Extremes(series, a, b);
            const std::uint64_t first = s.minIndex < s.maxIndex ? s.minIndex : s.maxIndex;
            const std::uint64_t second = s.minIndex < s.maxIndex ? s.maxIndex : s.minIndex;
            points.push_back({store.Time(first), store.Value(series, first)});
            if (second != first)
                points.push_back({store.Time(second), store.Value(series, second)});
        }
        a = b;
    }
    return points;
}
