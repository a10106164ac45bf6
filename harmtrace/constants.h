#pragma once
// Numbers that fix harmtrace's results to the last bit.
//
// Every formula is evaluated in long double (the x87 80-bit format on x86-64,
// 64-bit significand) and rounded to double where its result is stored. That
// is what makes the printed digits reproducible; plain double arithmetic
// changes powers at noise level and can flip ties between trials.

#include <limits>

using ext = long double;
static_assert(std::numeric_limits<ext>::digits == 64,
              "harmtrace needs long double with a 64-bit significand (x87 extended)");

// Sampling step of the input at the default rate of 44100 Hz: 1/44100 as a
// single-precision number. Other rates get theirs from sampling_step.
constexpr int default_rate = 44100;
constexpr double default_dt0 = 2.2675736545352265e-05;

// Sampling step of the input at `rate` samples per second: the quotient
// 1.0f / rate rounded to single precision and widened to double, as the
// default step is made (rates up to 2^24 convert to float exactly).
inline double sampling_step(int rate) {
    return double(1.0f / float(rate));
}
// Tolerances: 1e-5, 1e-6 and 0.1 as single-precision numbers.
constexpr double coarse_tol = 9.999999747378752e-06;
constexpr double refine_tol = 9.999999974752427e-07;
constexpr double harmonic_tol = 0.10000000149011612;
// ln 2 as a single-precision number.
constexpr ext ln2_single = 0.693147182464599609375L;
constexpr double pi = 3.141592653589793;

// Most input samples read; the rest of the input is left unread.
constexpr int max_samples = 2097152;
// Grid points of one coarse and one refinement trial, and of one window.
constexpr int coarse_points = 82768;
constexpr int refine_points = 32768;
constexpr int window_points = 8192;
constexpr int window_advance = 2048;
// Largest transform the program takes (the first 65536 of a coarse grid).
constexpr int max_nfft = 65536;
