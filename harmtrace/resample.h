#pragma once
// Linear resampler: puts the input x0 (sample i at input_time(i, dt0)) onto
// the grid t(r) = (r - 1) * dt by interpolating between neighbouring samples.
//
// Indices follow the algorithm and are 1-based: x0(i) is x0[i - 1], and grid
// point r goes to t[r - 1], x[r - 1].
//
// A grid point whose time lies after input_time(nx0 - 1, dt0) (the last interval
// takes part in no interpolation), or any point when nx0 < 2, is set to 0.

#include <cstdint>

#include "constants.h"

// Time of grid point r (1-based) of step dt: (r - 1) * dt, one multiplication.
inline double grid_time(std::int64_t r, double dt) {
    return double(ext(r - 1) * dt);
}

// Where the forward-only search over the input stands between grid points.
struct resample_cursor {
    int j = 1;  // 1-based input index at which the next search starts
};

// Grid points first..last (1-based) into t[0..], x[0..], continuing `cur`,
// which must have served points 1..first-1 of the same step before. With t
// null the grid times are not stored.
void resample_points(const double* x0, int nx0, double dt0, double dt, std::int64_t first,
                     std::int64_t last, resample_cursor& cur, double* t, double* x);

// The same for points whose times are given, tr[0 .. n-1], increasing: a grid whose step
// changes (one that follows the pitch). x[i] is the input at tr[i].
void resample_times(const double* x0, int nx0, double dt0, const double* tr, std::int64_t n,
                    resample_cursor& cur, double* x);

// The cursor with which a grid point at time tr can be made without making the points before
// it: a point's value depends on its time alone, and the search from this cursor stops where
// the one from the start would.
resample_cursor cursor_at(int nx0, double dt0, double tr);

// The cursor for grid point r (1-based) of step dt.
inline resample_cursor cursor_for(int nx0, double dt0, double dt, std::int64_t r) {
    return cursor_at(nx0, dt0, grid_time(r, dt));
}

// A whole grid of n points from time 0; returns n, the count of grid points.
int resample(const double* x0, int nx0, double dt0, double dt, int n, double* t, double* x);
