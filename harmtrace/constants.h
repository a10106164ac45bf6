#pragma once
// Numbers that fix harmtrace's results to the last bit, and the sizes of its grids.
//
// Every formula is evaluated in long double (the x87 80-bit format on x86-64, 64-bit
// significand) and rounded to double where its result is stored. That is what makes the printed
// digits reproducible; plain double arithmetic changes the powers of weak harmonics in their
// printed digits and can flip ties between trials.

#include <bit>
#include <limits>
#include <numbers>

#include "report_scale.h"

using ext = long double;
static_assert(std::numeric_limits<ext>::digits == 64,
              "harmtrace needs long double with a 64-bit significand (x87 extended)");

// Sampling step of the input at `rate` samples per second: 1 / rate rounded to single precision
// and widened to double (rates up to 2^24 convert to float exactly). At 44100 Hz it is
// 2.2675736545352265e-05, not the double nearest to 1/44100.
constexpr double sampling_step(int rate) {
    return double(1.0f / float(rate));
}
constexpr int default_rate = 44100;
constexpr double default_dt0 = sampling_step(default_rate);

// Matching tolerances in Hz: 1e-5, 1e-6 and 0.1 rounded to single precision.
constexpr double coarse_tol = double(1e-5f);
constexpr double refine_tol = double(1e-6f);
constexpr double harmonic_tol = double(0.1f);
// ln 2 rounded to single precision, the divisor of the transform size's logarithm.
constexpr ext ln2_single = float(std::numbers::ln2);
constexpr double pi = std::numbers::pi;

// A trial at frequency f resamples with step (1 / period_points) / f: one period of f spans
// period_points grid points (report_scale.h), so f falls on bin nfft / period_points + 1 of an
// nfft-point transform.
constexpr ext step_per_hertz = 1.0L / period_points;

// The coarse scan: coarse_steps quarter tones from coarse_first Hz, 24 to the octave.
constexpr int coarse_steps = 145;
constexpr int last_step = coarse_steps - 1;
constexpr double coarse_first = 27.5;
constexpr int steps_per_octave = 24;
// A hint (-f) may name a note beyond the scan, any of lowest_pitch .. highest_pitch
// (report_scale.h): the steps tried are then those of the same quarter-tone grid within a
// semitone of it, lowest_step .. highest_step at the most. Without a hint, or with one within the
// scan, the search is what it always was.
constexpr double lowest_hint = lowest_pitch, highest_hint = highest_pitch;
constexpr int lowest_step = -4, highest_step = 178;
// A coarse step passes the pick when it scores more than 1 / pick_share of the best score.
constexpr int pick_share = 5;
// The refinement: refine_levels levels of the offsets -refine_reach .. refine_reach.
constexpr int refine_levels = 5;
constexpr int refine_reach = 15;
constexpr int refine_trials = 2 * refine_reach + 1;

// Grid points of one coarse and one refinement trial; their transforms take the largest power
// of two not above that (so a coarse trial's last 17232 points are never read).
constexpr int coarse_points = 82768;
constexpr int refine_points = 32768;
constexpr int coarse_nfft = std::bit_floor(unsigned(coarse_points));
constexpr int refine_nfft = std::bit_floor(unsigned(refine_points));
static_assert(coarse_nfft == 65536 && refine_nfft == 32768);
// The report's windows, harmonics and input cap: report_scale.h.
// The floor under a harmonic's bin i is the mean power of bins i +- 2 and i +- 3.
constexpr int floor_reach = 3;
// Largest transform the program takes.
constexpr int max_nfft = coarse_nfft;
