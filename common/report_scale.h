#pragma once
// What a report line means physically, shared by harmtrace, which makes the report, and harmsum,
// which reads it: the grid a window is cut from, the harmonics looked for, the most input read,
// and the full-scale level that makes a power a level in dBFS.
//
// A window of the report is window_points grid points, period_points to a period of the
// fundamental (so harmonic k falls on bin window_points / period_points * k + 1), and the next
// window starts window_advance points later.

#include <cmath>
#include <numbers>

constexpr int period_points = 1024;
constexpr int window_points = 8192;
constexpr int window_advance = 2048;
// Harmonics 1 .. harmonics are looked for in a window.
constexpr int harmonics = 10;
// The notes an instrument plays, which harmplot analyses: from a semitone under A0 (an A0 tuned
// flat) to a semitone over C8, in Hz. harmtrace's scan looks from 27.5 to 1760 Hz; a hint (-f)
// reaches the rest.
constexpr double lowest_pitch = 26, highest_pitch = 4435;
// Most input samples read; the rest of the input is left unread.
constexpr int max_samples = 2097152;

// The level in dBFS of power p of harmonic (or partial) k at f Hz, in a recording at `rate`
// whose full-scale sine has amplitude `full_scale`. 0 dB is a full-scale sine on the bin: its
// power is A^2 nfft^2 dt / (2 (nfft - 1)), nfft = window_points, dt = k / (period_points f)
// the grid step that puts f on harmonic k's bin; the straight line between input samples takes
// sinc^4(f / rate) of it away, which the level puts back.
inline double level_dbfs(double p, int k, double f, int rate, double full_scale) {
    const double dt = k / (period_points * f);
    const double full =
        full_scale * full_scale * window_points * window_points * dt / (2.0 * (window_points - 1));
    const double x = std::numbers::pi * f / rate;
    const double sinc = x > 0 ? std::sin(x) / x : 1;
    return 10 * std::log10(p / full) - 40 * std::log10(sinc);
}
