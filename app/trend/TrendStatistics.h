// Statistics of one series over a span of time.
#pragma once

#include <cstdint>

#include "app/trend/CTrendStore.h"

struct TrendStatistics {
    std::uint64_t frames = 0;
    double framesPerSecond = 0.0; // between the first and the last frame of the span
    double min = 0.0;
    double max = 0.0;
    double mean = 0.0;
    double stdDev = 0.0; // population standard deviation
    double peakToPeak = 0.0;
};

// Over the frames whose time lies in [t0, t1].
TrendStatistics SpanStatistics(const CTrendStore& store, TrendSeries series, double t0, double t1);
