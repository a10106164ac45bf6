#pragma once
// The pitch track that harmtrace --follow resamples along: the time at which the fundamental
// reaches phase p, counted in periods from time 0. A grid of period_points points to the period
// of this track holds every period of the note in period_points points, however the pitch
// moves, so harmonic k falls on its bin in every window.
//
// The track is given at knots knot_periods periods apart and joined by cubic (Catmull-Rom)
// pieces, so that the frequency changes smoothly; past the last knot it goes on at the
// frequency of the last piece.

#include <cstdint>
#include <vector>

#include "constants.h"

// Periods between two knots: the advance of the frames that measure the pitch.
constexpr int knot_periods = 2;

struct pitch_track {
    std::vector<double> t;  // t[i]: the time at phase i knot_periods; t[0] = 0; increasing
    // The cubic of piece i (phase i h .. (i + 1) h, h = knot_periods) in u = phase / h - i:
    // c0 + c1 u + c2 u^2 + c3 u^3, four coefficients a piece.
    std::vector<double> c;
};

// The track of a steady pitch: phase p at p * period_points * dt (the grid of a fixed step dt),
// with knots up to `until` seconds and one further.
pitch_track steady_track(double dt, double until);

// Joins the knot times t (at least two, increasing) into the track's pieces.
pitch_track join_knots(std::vector<double> t);

// The time at which the track reaches `phase` periods (phase >= 0).
double track_time(const pitch_track& p, ext phase);

// The phase (periods) the track has reached at `time` seconds (time >= 0).
double track_phase(const pitch_track& p, double time);

// The time of grid point r (1-based) of a grid of period_points points to each period of
// `scale` times the track's frequency: phase (r - 1) / (period_points scale).
inline double track_point_time(const pitch_track& p, ext scale, std::int64_t r) {
    return track_time(p, ext(r - 1) / (period_points * scale));
}

// The times of grid points first .. first + n - 1 of that grid into t[0 .. n-1]: the same values,
// made faster.
void track_point_times(const pitch_track& p, ext scale, std::int64_t first, int n, double* t);
