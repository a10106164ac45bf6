#pragma once
// harmtrace's report as a table: one row per window, one column per harmonic. harmtrace fills it
// in memory for harmplot, harmsum reads it back from the report's text; either way it holds the
// values as the report line gives them (to the digits of their fields).

#include <cmath>
#include <limits>
#include <vector>

#include "report_layout.h"
#include "report_scale.h"

struct report_table {
    double freq[harmonics] = {};  // Hz, harmonic k + 1 where the report first gives it; 0 if never
    // Each window's times, s: of its first and its last grid point.
    std::vector<double> t, t_last;
    // [w * harmonics + k]: frequency, power and power / S of harmonic k + 1 in window w; NaN
    // where the window's block ends before it.
    std::vector<double> frequency, power, ratio;
    int windows() const { return int(t.size()); }
    std::size_t at(int w, int k) const { return std::size_t(w) * harmonics + std::size_t(k); }
    double centre(int w) const { return (t[std::size_t(w)] + t_last[std::size_t(w)]) / 2; }
};

// harmtrace writes one window per window_advance grid points of at most max_samples inputs:
// about 10000 for a 1 kHz note, a million only for a fundamental far above any it finds. A
// report beyond this is not a note's.
constexpr int max_report_windows = 1 << 20;

// Opens a window with the times of the line v (the reals of a report line in field order).
inline void add_window(report_table& r, const double v[report_reals]) {
    constexpr double none = std::numeric_limits<double>::quiet_NaN();
    r.t.push_back(v[t_first - 1]);
    r.t_last.push_back(v[t_last - 1]);
    r.frequency.resize(r.frequency.size() + harmonics, none);
    r.power.resize(r.power.size() + harmonics, none);
    r.ratio.resize(r.ratio.size() + harmonics, none);
}

// Harmonic k's line v in the last window opened.
inline void add_harmonic(report_table& r, int k, const double v[report_reals]) {
    const std::size_t at = r.at(r.windows() - 1, k - 1);
    r.frequency[at] = v[frequency - 1];
    r.power[at] = v[power - 1];
    r.ratio[at] = v[ratio - 1];
    if (r.freq[k - 1] == 0) r.freq[k - 1] = v[frequency - 1];
}
