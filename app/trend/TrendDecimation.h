// Minimum/maximum decimation: at most two points per pixel column, so that a
// long span draws as fast as a short one and no spike is lost.
#pragma once

#include <vector>

#include "app/trend/CTrendStore.h"

struct TrendPoint {
    double t;
    double value;
};

// Splits [t0, t1] into `columns` equal columns (the last one includes t1) and
// gives, for each column holding frames, its minimum and its maximum at the
// times they occur, in time order (one point when they are the same frame).
std::vector<TrendPoint> DecimateColumns(const CTrendStore& store, TrendSeries series, double t0, double t1,
                                        int columns);
