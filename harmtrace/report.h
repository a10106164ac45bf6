#pragma once
// The windowed harmonic report: the whole input resampled at the found fundamental, cut into
// windows of window_points grid points (eight periods) that advance by window_advance (two
// periods), and for each window one report line per harmonic 1 .. harmonics found in its
// spectrum.
//
// Window bins are 1-based: bin i of a window has the frequency (i - 1) / (window_points dt).

#include <cstdint>
#include <memory>
#include <vector>

#include "fft.h"
#include "output.h"
#include "parallel.h"
#include "report_layout.h"

// Bins 2 .. window_bins of a window are delivered.
constexpr int window_bins = window_points / 2;
// The report is made a batch of windows at a time: a batch's grid points, then its windows side
// by side, then their lines in order.
constexpr int window_batch = 128;

// What a worker needs for one window: its copy of the grid, the transform's second buffer and
// the bins' powers (1-based).
struct window_space {
    double x1[window_points];
    double y[window_points];
    double pt[window_bins + 1];
};

// Work spaces for each of the pool's workers; every element is written before it is read.
std::vector<std::unique_ptr<window_space>> window_spaces(const worker_pool& pool);

// Number of points of the final grid: trunc(nx0 * dt0 / dt).
std::int64_t final_grid_points(int nx0, double dt0, double dt);

// The bins at which harmonics 1, 2, ... are found among the window's bins 2 .. window_points/2
// with frequencies frq: bins[k] for k = 1 .. the count returned. Harmonic k is the first bin after
// harmonic k - 1's whose frequency lies strictly within harmonic_tol of k f0; the search ends at
// the first harmonic not found. The bins depend on f0 and dt alone, not on the window.
int harmonic_bins(const double* frq, double f0, int bins[harmonics + 1]);

// The reals of the report line of the harmonic at bin i of window w (0-based), in field order
// (report_layout.h): the times of the window's grid points 1, 4096 and 8192, the bin's frequency
// and power, the excess sum S of the bin and its neighbours over the floor, and power / S.
void line_values(const double* pt, const double* frq, int i, std::int64_t w, double dt,
                 double v[report_reals]);

// The report lines of window w (0-based) from its power spectrum pt and frequencies frq (both
// 1-based; only the bins within floor_reach of each of bins[1 .. found] are read). Writes at
// most `harmonics` lines at out and returns the number of characters.
int harmonic_lines(const double* pt, const double* frq, const int* bins, int found, std::int64_t w,
                   double dt, char* out);

// The plan that computes the bins the lines of harmonics at bins[1 .. found] read.
fft_plan window_plan(const int* bins, int found);

// Writes the report for the input x0[0 .. nx0-1], sampled with step dt0, into out, with the
// pool's threads. The final grid is made as a stream, a batch of windows at a time, so a grid
// of any length takes the same memory. Stops early when out fails.
// Typical use: harmonic_report(x0, nx0, dt0, s.f0, s.dt, out, pool);
void harmonic_report(const double* x0, int nx0, double dt0, double f0, double dt, output& out,
                     worker_pool& pool);
