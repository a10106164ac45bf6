#pragma once
// The windowed harmonic report: the whole input resampled onto a grid of period_points points to
// the period of the fundamental, cut into windows of window_points grid points (eight periods)
// that advance by window_advance (two periods), and for each window one report line per
// harmonic 1 .. harmonics found in its spectrum.
//
// One engine makes every report: the grids differ, the loop over windows does not.
//   plain        one grid of the search's fixed step; harmonic k on bin 8k + 1 when its frequency
//                lies within harmonic_tol of k f0
//   --partials   one grid per partial, each of the fixed step that puts the partial on bin
//                8k + 1
//   --follow     one grid along the followed pitch track (track.h): every window holds eight
//                periods of the note's own pitch, and harmonic k lies on bin 8k + 1
//   both         one grid per partial along the track, at the partial's ratio to the
//                fundamental
//
// Window bins are 1-based: bin i of a window has the frequency (i - 1) / (window_points dt),
// dt the window's step (for a followed grid, its mean step).

#include <cmath>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

#include "fft.h"
#include "output.h"
#include "parallel.h"
#include "report_layout.h"
#include "report_table.h"
#include "resample.h"
#include "track.h"

// Bins 2 .. window_bins of a window are delivered.
constexpr int window_bins = window_points / 2;
// Windows are made a batch at a time: a batch's grid points, then its windows side by side, then
// their lines in order.
constexpr int window_batch = 128;

// A grid that windows are cut from: a fixed step, or a pitch track followed at `scale` times its
// frequency.
struct report_grid {
    double dt = 0;                       // the fixed step; 0 for a grid along `track`
    const pitch_track* track = nullptr;  // the track, for a followed grid
    ext scale = 1;                       // followed: periods of the grid per period of the track
    ext ratio = 1;                       // the grid's points per point of the report's own grid
};

// The time of grid point r (1-based).
inline double point_time(const report_grid& g, std::int64_t r) {
    return g.track ? track_point_time(*g.track, g.scale, r) : grid_time(r, g.dt);
}

// The first point (0-based) of the grid's window that lies nearest in time to the report's
// window w, whose windows advance by `advance` points: round(advance w ratio).
inline std::int64_t window_start(const report_grid& g, std::int64_t w, int advance) {
    return std::int64_t(std::llround(double(advance * w * g.ratio)));
}

// The step of a window of `points` points from point start + 1: the grid's step, or for a
// followed grid the mean step over its periods, (time(start + points + 1) - time(start + 1)) /
// points.
double window_step(const report_grid& g, std::int64_t start, int points);

// Points of `g` from first to last (1-based) into x[0 ..], made from the input alone.
void grid_points(const double* x0, int nx0, double dt0, const report_grid& g, std::int64_t first,
                 std::int64_t last, double* x);

// Runs work(w, g, x, worker) for windows w = 0 .. windows-1 of `points` points, advancing by
// `advance` points of grids[0], on every grid g = 0 .. grid_count-1 (x: the window's points on
// grid g, to be read only; worker: 0 .. pool.size()-1, whose work space the call may use), a
// batch of window_batch windows at a time, side by side; then done(w0, n) for the batch of
// windows w0 .. w0+n-1, in order. Stops after the batch at which done returns false. The points
// are made as a stream, so memory does not grow with the input.
template <class Work, class Done>
void walk_windows(const double* x0, int nx0, double dt0, const report_grid* grids, int grid_count,
                  int points, int advance, std::int64_t windows, worker_pool& pool, Work&& work,
                  Done&& done);

// What a worker needs for one window: its copy of the grid, the transform's second buffer and
// the bins' powers and frequencies (1-based).
struct window_space {
    double x1[window_points];
    double y[window_points];
    double pt[window_bins + 1];
    double frq[window_bins + 1];
};

// Work spaces for each of the pool's workers; every element is written before it is read.
std::vector<std::unique_ptr<window_space>> window_spaces(const worker_pool& pool);

// Number of points of the final grid of fixed step dt: trunc(nx0 * dt0 / dt).
std::int64_t final_grid_points(int nx0, double dt0, double dt);

// The points of a grid whose every point lies within the input's nx0 * dt0 seconds, so that one
// more step still does: final_grid_points for a fixed step.
std::int64_t grid_points_within(const report_grid& g, int nx0, double dt0);

// The bins at which harmonics 1, 2, ... are found among the window's bins 2 .. window_points/2
// with frequencies frq: bins[k] for k = 1 .. the count returned. Harmonic k is the first bin after
// harmonic k - 1's whose frequency lies strictly within harmonic_tol of k f0; the search ends at
// the first harmonic not found. The bins depend on f0 and dt alone, not on the window.
int harmonic_bins(const double* frq, double f0, int bins[harmonics + 1]);

// The times of the report window w (0-based) of a fixed step dt in v[t_first - 1 .. t_last - 1]:
// those of its grid points 1, 4096 and 8192.
void window_times(std::int64_t w, double dt, double v[report_reals]);

// The bin's reals of a report line in field order (report_layout.h), the window's times aside:
// the frequency frq_i and power of bin i, the excess sum S of the bin and its neighbours over
// the floor, and power / S.
void bin_values(const double* pt, int i, double frq_i, double v[report_reals]);

// Both, for window w of step dt.
void line_values(const double* pt, const double* frq, int i, std::int64_t w, double dt,
                 double v[report_reals]);

// The report lines of window w (0-based) from its power spectrum pt and frequencies frq (both
// 1-based; only the bins within floor_reach of each of bins[1 .. found] are read). Writes at
// most `harmonics` lines at out and returns the number of characters.
int harmonic_lines(const double* pt, const double* frq, const int* bins, int found, std::int64_t w,
                   double dt, char* out);

// The plan that computes the bins the lines of harmonics at bins[1 .. found] read.
fft_plan window_plan(const int* bins, int found);

// What is measured on which grid.
struct report_plan {
    // The report's own grid: its windows give the lines' times and their number.
    report_grid times;
    // The grids measured on; window w of grid g starts at window_start(grids[g], w, advance).
    std::vector<report_grid> grids;
    // The harmonics measured on grids[g]: first_k[g] .. first_k[g] + count[g] - 1, harmonic
    // k on bin[k] (1-based), through the transform plans[g].
    std::vector<int> first_k, count;
    std::vector<fft_plan> plans;
    int bin[harmonics + 1] = {};
    // For a grid of fixed step, its bins' frequencies (1-based); empty for a followed grid.
    std::vector<std::vector<double>> frq;
};

// The plain report's plan: one grid of the search's step dt, with the harmonics found near k f0.
report_plan plain_plan(double f0, double dt);

// One grid per partial, partial k lying at freq[k] Hz (1-based). Without a track each grid has
// the fixed step that puts freq[k] on bin 8k + 1, and the report's own windows are those of the
// step dt. With one, the grids follow it at freq[k] / (k freq[1]) times its frequency, and
// the report's windows are the track's.
report_plan partial_plan(const double* freq, double dt, const pitch_track* track);

// One grid along the track, harmonic k on bin 8k + 1.
report_plan followed_plan(const pitch_track& track);

// Writes the report of `plan` for the input x0[0 .. nx0-1], sampled with step dt0, into out,
// with the pool's threads. Stops early when out fails.
// Typical use: write_report(x0, nx0, dt0, plain_plan(s.f0, s.dt), out, pool);
void write_report(const double* x0, int nx0, double dt0, const report_plan& plan, output& out,
                  worker_pool& pool);

// The same report into `table` rather than as text: the values each line gives, as its fields
// show them (report_line.h, as_reported), window by window. False, with the table empty, when
// the report would hold more than max_report_windows windows.
// Typical use: collect_report(x0, nx0, dt0, plan, pool, table);
bool collect_report(const double* x0, int nx0, double dt0, const report_plan& plan,
                    worker_pool& pool, report_table& table);

// The plain report. Typical use: harmonic_report(x0, nx0, dt0, s.f0, s.dt, out, pool);
void harmonic_report(const double* x0, int nx0, double dt0, double f0, double dt, output& out,
                     worker_pool& pool);

// ---- the walk over windows

namespace detail {
using window_fn = void (*)(void* f, std::int64_t w, int g, const double* x, int worker);
using batch_fn = bool (*)(void* f, std::int64_t w0, int n);
void walk_windows(const double* x0, int nx0, double dt0, const report_grid* grids, int grid_count,
                  int points, int advance, std::int64_t windows, worker_pool& pool, window_fn work,
                  void* work_f, batch_fn done, void* done_f);
}  // namespace detail

template <class Work, class Done>
void walk_windows(const double* x0, int nx0, double dt0, const report_grid* grids, int grid_count,
                  int points, int advance, std::int64_t windows, worker_pool& pool, Work&& work,
                  Done&& done) {
    detail::walk_windows(
        x0, nx0, dt0, grids, grid_count, points, advance, windows, pool,
        [](void* f, std::int64_t w, int g, const double* x, int worker) {
            (*static_cast<std::remove_reference_t<Work>*>(f))(w, g, x, worker);
        },
        &work,
        [](void* f, std::int64_t w0, int n) {
            return (*static_cast<std::remove_reference_t<Done>*>(f))(w0, n);
        },
        &done);
}
