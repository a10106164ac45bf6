#pragma once
// How fast one harmonic dies away: a straight line fitted to its level (dB) over the windows in
// which it stands clear of its floor, never over those in which it has sunk into the noise.
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
//   level      the level of the span's first window, when the run holds at least 4 clear
//              windows (one window length: noise stands clear by chance only briefly)
//   rate       the least-squares slope over the span's clear windows, when it holds at least
//              16 of them (four window lengths); T60 = 60 / -rate when the level falls
//
// Typical use: decay_fit d = fit_decay(t.data(), level.data(), ratio.data(), n);

struct decay_fit {
    int windows = 0;  // clear windows in the span; 0 when the harmonic is never clear for long
    int first = -1;   // the span's first and last window (indices into the arrays)
    int last = -1;
    double start_db = 0;  // level of the span's first window
    double top_db = 0;    // the highest level of the run
    bool has_rate = false;
    double rate = 0;        // dB per second
    double rate_error = 0;  // its standard error, as if the windows were independent
};

constexpr double clear_low = 0.7, clear_high = 1.2;
constexpr int max_gap = 2;
constexpr double attack_db = 1;
constexpr double floor_margin = 20;  // dB: a fit stops this far above the level's lowest,
constexpr double deep_fall = 30;     // when the level falls at least this far
constexpr int min_level_windows = 4;
constexpr int min_fit_windows = 16;

inline bool stands_clear(double ratio) {
    return ratio >= clear_low && ratio <= clear_high;
}

// t: the windows' start times (s), level: the harmonic's level (dB, -inf for no power), ratio:
// power / S, each n long.
decay_fit fit_decay(const double* t, const double* level, const double* ratio, int n);

// Seconds to fall 60 dB at `rate` dB/s: infinite unless the level falls.
double t60(double rate);
