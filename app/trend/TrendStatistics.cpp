#include "app/trend/TrendStatistics.h"

#include <cmath>

TrendStatistics SpanStatistics(const CTrendStore& store, TrendSeries series, double t0, double t1)
{
    TrendStatistics st;
    const std::uint64_t a = store.LowerBound(t0);
    const std::uint64_t b = store.UpperBound(t1);
    if (b <= a)
        return st;
    const TrendSummary s = store.Summarize(series, a, b);
    st.frames = s.n;
    const double duration = store.Time(b - 1) - store.Time(a);
    st.framesPerSecond = s.n > 1 && duration > 0 ? static_cast<double>(s.n - 1) / duration : 0.0;
    st.min = s.min;
    st.max = s.max;
    st.mean = s.mean;
    st.stdDev = std::sqrt(s.Variance());
    st.peakToPeak = s.max - s.min;
    return st;
}
