#pragma once
// The averaged power spectrum in which harmsum checks which note sounds and harmtrace looks for
// the partials of a stiff string: Hann-windowed frames of a power-of-two length, their squared
// magnitudes averaged (Welch's method). Plain double arithmetic: this spectrum only decides
// where something lies, never a printed level.

#include <complex>
#include <cstddef>
#include <vector>

// In-place radix-2 transform of a power-of-two length, X(k) = sum x(j) exp(-2 pi i j k / n).
void transform(std::vector<std::complex<double>>& a);

// The power-of-two frame length nearest above `seconds` of samples at `rate`.
int frame_length(int rate, double seconds);

// Bins 0 .. len/2 of the mean of |X|^2 over Hann-windowed frames of x[0 .. n-1], the frames
// spread evenly over the samples (overlapping by at least half, at most max_frames of them).
// A signal shorter than one frame is padded with zeros.
// Typical use: auto p = welch_power(x.data(), n, frame_length(44100, 0.37), 64);
std::vector<double> welch_power(const double* x, long n, int len, int max_frames);

// Reading peaks off such a spectrum, p[i] the power of bin i, df Hz apart.

// The strongest local maximum whose bin lies within [lo, hi] Hz (and within 1 .. size - 2):
// its bin, or 0 when there is none.
std::size_t strongest_peak(const std::vector<double>& p, double df, double lo, double hi);

// The frequency of the peak at bin i: the vertex of the parabola through the log powers of bin
// i and its two neighbours, at most half a bin away.
double peak_frequency(const std::vector<double>& p, std::size_t i, double df);

// The median power of bins a .. b-1 (a < b).
double median_power(const std::vector<double>& p, std::size_t a, std::size_t b);
