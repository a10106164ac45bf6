#pragma once
// How fast one harmonic dies away: a straight line fitted to its level (dB) over the windows in
// which it stands clear of its floor, never over those in which it has sunk into the noise.
// envelope.h builds the note's stages from these pieces.
//
// harmtrace gives each window the ratio of the harmonic's power to S, the excess of its bin
// and the two neighbours over the local floor. Noise of power N under a harmonic of power P
// makes the ratio about 1 + N / P, and in the noise it wanders off at random; a harmonic slightly
// off its bin, or dying fast, leaks into the neighbours and takes it a little under 1. So:
//
//   clear      a window whose ratio lies within [0.7, 1.2]: the noise is at least some 7 dB
//              under the harmonic, and bends its level by at most 0.8 dB
//   run        clear windows in a row, bridging at most two windows that are not (a beat, a
//              click); the longest run is the harmonic's
//   span       that run from its first window whose level comes within 1 dB of the run's
//              highest, so that a rising attack is left out; when the level falls 30 dB or
//              more, up to where its median over five windows first comes within 20 dB of its
//              lowest: the leakage of stronger harmonics keeps its phase to the harmonic from
//              window to window and bends the level up near the floor while the ratio still
//              reads 1
//   line       the least-squares line of the level over the centres of the span's clear
//              windows, when it holds at least 16 of them (four window lengths): its slope is
//              the rate, T60 = 60 / -rate when the level falls
//   interval   the rate's 95 % interval (below)
//
// A harmonic whose run holds at least 4 clear windows (one window length: noise stands clear by
// chance only briefly) but too few for a line gets only its level, that of the span's first
// window.
//
// The interval. Successive windows overlap by three quarters, and the level's ripple (beats with
// the leakage of other harmonics, the noise's slow swings) lasts longer than a window, so the
// residuals of the line are correlated and the textbook standard error of the slope is too
// narrow. It is widened by the residuals' own autocorrelation: n windows count as
// n_eff = n / (1 + 2 sum rho_l), the sum over the lags l = 1, 2, ... up to the first whose
// correlation rho_l is not positive (at most n / 4), and the half-width is Student's t at 97.5 %
// with n_eff - p degrees of freedom (at least 1; p = 2 for a line) times that widened error.
// The method's own error on tones with known rates (the leakage of neighbours, the window's
// length on a fast decay) is added in quadrature: method_floor_share of the rate,
// method_floor_db dB/s, and method_floor_level dB over the span's length.
//
// Typical use: decay_fit d = fit_decay(centre.data(), level.data(), ratio.data(), n);

#include <cmath>
#include <vector>

#include "line_fit.h"

constexpr double clear_low = 0.7, clear_high = 1.2;
constexpr int max_gap = 2;
constexpr double attack_db = 1;
constexpr double floor_margin = 20;  // dB: a fit stops this far above the level's lowest,
constexpr double deep_fall = 30;     // when the level falls at least this far
constexpr int min_level_windows = 4;
constexpr int min_fit_windows = 16;
// The method's own error on tones with known rates (16-bit, 24-bit and float, 55 to 880 Hz, in
// noise): 3 % of the rate, 0.05 dB/s, and a level bent by 0.2 dB (the leakage of neighbours)
// across the span fitted.
constexpr double method_floor_share = 0.03, method_floor_db = 0.05, method_floor_level = 0.2;

inline bool stands_clear(double ratio) {
    return ratio >= clear_low && ratio <= clear_high;
}
// A window that counts: clear, with a level.
bool usable(double level, double ratio);

// The longest run of usable windows, gaps of up to max_gap bridged: its first and last window
// and how many usable windows it holds (0, and first = last = -1, when there are none).
struct clear_run {
    int first = -1, last = -1, count = 0;
};
clear_run longest_run(const double* level, const double* ratio, int n);

// The span's last window from `first` on, within the run ending at `last`: where the level,
// smoothed by a median of five usable windows, first comes within floor_margin of its lowest,
// when it falls deep_fall or more; else `last`.
int floor_end(const double* level, const double* ratio, int first, int last);

// A line through the windows `use` keeps, with its rate's interval.
struct rate_line {
    line_fit line;          // level (dB) over the windows' centres (s)
    double rate_error = 0;  // the slope's standard error, widened for the residuals' correlation
    double ci95 = 0;        // the half-width of the rate's 95 % interval, dB per second
};
// t: the windows' centres (s); the windows kept are those of first .. last that `use` keeps.
template <class Use>
rate_line fit_rate(const double* t, const double* level, int first, int last, Use use);

// The half-width of a rate's 95 % interval from its standard error `se` over n windows worth
// n_eff, with p parameters fitted, over a span of `span` s (the interval above).
double interval95(double rate, double se, double n, double n_eff, int p, double span);

// How many independent values the residuals r (in window order) are worth (see above).
double effective_count(const std::vector<double>& r);

struct decay_fit {
    int windows = 0;  // clear windows in the span; 0 when the harmonic is never clear for long
    int first = -1;   // the span's first and last window (indices into the arrays)
    int last = -1;
    double first_db = 0;  // level of the span's first window
    double top_db = 0;    // the highest level of the run
    bool has_rate = false;
    line_fit line;          // level (dB) over the windows' centres (s), when has_rate
    double rate = 0;        // dB per second: the line's slope
    double rate_error = 0;  // its standard error, widened for the residuals' correlation
    double ci95 = 0;        // the half-width of the rate's 95 % interval, dB per second
};

// t: the windows' centres (s), level: the harmonic's level (dB, -inf for no power), ratio:
// power / S, each n long.
decay_fit fit_decay(const double* t, const double* level, const double* ratio, int n);

// Seconds to fall 60 dB at `rate` dB/s: infinite unless the level falls.
double t60(double rate);

// Student's t at 97.5 % with `df` degrees of freedom (at least 1; fractions interpolated).
double student_t975(double df);

template <class Use>
rate_line fit_rate(const double* t, const double* level, int first, int last, Use use) {
    rate_line r;
    auto used = [&](int w) { return w >= first && w <= last && use(w); };
    r.line = fit_line(t, level, last + 1, used);
    if (r.line.n < 3 || !(r.line.sxx > 0)) return r;
    std::vector<double> e;
    for (int w = first; w <= last; ++w)
        if (used(w)) e.push_back(level[w] - r.line.at(t[w]));
    const double n = double(e.size()), n_eff = effective_count(e);
    double rss = 0;
    for (double v : e) rss += v * v;
    const double se = std::sqrt(rss / (n - 2) / r.line.sxx);
    r.rate_error = se * std::sqrt(n / n_eff);
    r.ci95 = interval95(r.line.slope, se, n, n_eff, 2, t[last] - t[first]);
    return r;
}
