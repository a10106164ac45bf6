#pragma once
// The averaged power spectrum in which harmsum checks which note sounds and harmtrace looks for
// the partials of a stiff string: Hann-windowed frames of a power-of-two length, their squared
// magnitudes averaged (Welch's method). Plain double arithmetic: this spectrum only decides
// where something lies, never a printed level.

#include <complex>
#include <cstddef>
#include <vector>

// What a frame length needs, made once: the Hann window and the transform's twiddles (from
// their index, never by repeated multiplication).
struct welch_plan {
    int len = 0;  // a power of two
    std::vector<double> window;
    std::vector<std::complex<double>> twiddle;  // exp(-2 pi i k / len), k = 0 .. len/2 - 1
};
welch_plan make_welch_plan(int len);

// In-place radix-2 transform of the plan's length, X(k) = sum x(j) exp(-2 pi i j k / n).
void radix2_transform(const welch_plan& plan, std::vector<std::complex<double>>& a);

// The power-of-two frame length nearest above `seconds` of samples at `rate`.
int frame_length(int rate, double seconds);

// Bins 0 .. len/2 of the mean of |X|^2 over Hann-windowed frames of x[0 .. n-1], the frames
// spread evenly over the samples: as many as overlap by half, but at most max_frames, so that a
// long signal leaves gaps between its frames. A signal shorter than one frame is padded with
// zeros; a sample that is not finite counts as 0.
// Typical use: auto p = welch_power(x.data(), n, frame_length(44100, 0.37), 64);
std::vector<double> welch_power(const welch_plan& plan, const double* x, long n, int max_frames);
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
