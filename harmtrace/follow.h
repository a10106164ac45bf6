#pragma once
// Following the pitch (harmtrace --follow). The search finds one fundamental in the first 64
// periods of the note; real notes bend in the attack, carry vibrato and drift. So after the
// search the note is resampled along a pitch track (track.h), starting from the search's fixed
// step, and the track is mended follow_passes times from what the note itself says:
//
// 1. Frames of frame_periods periods of a grid along the track, advancing by knot_periods,
//    each Hann-windowed: harmonic k lies on bin frame_periods k + 1 while the track is right.
//    The phase of that bin is the harmonic's phase at the frame's middle, which is a knot. (The
//    frames need only harmonics 1 .. 10: a high note's grid is coarser, and cheaper.)
// 2. Where the note runs ahead of the track, or lags, harmonic k's phase turns by 2 pi k times
//    the fundamental's lead psi (in periods). Each harmonic gives, from one frame to the next,
//    the step of the lead (its step of phase over 2 pi k); its own steady step against the
//    harmonics below it (a stiff string's partials run ahead of the fundamental) is taken out,
//    so that the lowest harmonic that counts sets the pitch. A frame's step is the mean of the
//    harmonics' steps, weighted by k^2 times their power over the floor between the harmonics,
//    over those that agree with the weighted median within an eighth of a cycle of their own;
//    none when those hold less than half the weight (harmonics that beat or slip, as in an
//    ensemble). A harmonic counts in a frame where it stands follow_clearance over the floor;
//    frames without a step hold the frequency of their neighbours. psi is the steps' sum.
// 3. The track is bent by psi: its knot at phase p moves to p + psi(p) - psi(0). The frames'
//    Hann windows average the pitch over four periods, so one pass follows a fast vibrato only
//    partly; the next passes measure what is left.
//
// Every window of the report then holds eight periods of the note's own pitch, and harmonic k
// lies on bin 8k + 1 however the pitch moves within the window.

#include <vector>

#include "parallel.h"
#include "track.h"

constexpr int frame_periods = 4;
constexpr int follow_passes = 3;
// The first pass, from the search's steady pitch, reads harmonics 1 .. 3 only: a harmonic k
// whose pitch lies c cents off the track turns by k c / 600 of a cycle from frame to frame,
// which must stay under half a cycle to be read. The later passes read all ten.
constexpr int first_pass_harmonics = 3;
// The frames' grid holds period_points / 2^d points to the period, d = 0 .. coarsest_frames:
// the coarsest whose rate stays over the input's Nyquist frequency by 12 harmonics, so that
// nothing the input holds folds onto the harmonics or the floor between them.
constexpr int coarsest_frames = 4;
constexpr int folding_margin = 12;
// A harmonic counts in a frame when its power stands this far over the floor (10 dB) and
// within follow_range of the frame's strongest harmonic (60 dB).
constexpr double follow_clearance = 10;
constexpr double follow_range = 1e-6;

// The track of the note x0[0 .. nx0-1], sampled with step dt0, whose fundamental the search put
// at the grid step dt.
// Typical use: pitch_track t = follow_pitch(x0, nx0, dt0, s.dt, pool);
pitch_track follow_pitch(const double* x0, int nx0, double dt0, double dt, worker_pool& pool);

// One pass: the lead psi of the note over `track` at each frame's middle (knot j + 1 for frame
// j), in periods, from harmonics 1 .. highest; empty when no harmonic counts anywhere.
std::vector<double> measure_lead(const double* x0, int nx0, double dt0, const pitch_track& track,
                                 int highest, worker_pool& pool);

// The track bent by the lead psi measured at knots 1 .. psi.size(), up to `until` seconds.
pitch_track bend_track(const pitch_track& track, const std::vector<double>& psi, double until);
