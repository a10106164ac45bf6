#pragma once
// The transforms' common ground, and the pruned transform the program runs.
//
// A transform takes the first nfft points of a real signal, nfft the largest power of two not
// above its point count n, through a radix-2 self-sorting (Stockham) real-input transform with a
// quarter-wave sine table. Transform convention: X(k) = sum x(j) (cos + i sin)(2 pi (j - 1) k /
// nfft), unnormalised, positive exponent. Intermediate and final transforms are held in
// half-complex layout, for a length 2H:
//
//     | 0 .. H-1       | H      | H+1 .. 2H-1    |
//     | Re Y(0..H-1)   | Y(H)   | Im Y(1..H-1)   |
//
// Bins are 1-based as in the algorithm: bin i is transform index i - 1. The full transform, which
// computes every bin, is the reference's (reference/full_transform.h); it and the pruned one below
// compute every value through the same functions, so they give the same doubles.

#include <vector>

#include "constants.h"

struct spectrum_sizes {
    int m, nfft, nf, nq;
};

// m = trunc(ln(n + 0.5) / ln2_single), nfft = 2^m, nf = nfft / 2, nq = nfft / 4.
spectrum_sizes spectrum_size(int n);

// Fills s[1 .. nfft/4 - 1] with sin(2 pi i / nfft) for a transform of length nfft.
void sine_table(int nfft, double* s);

// The sum and the difference that open every transform of a stage: Y(0) = A(0) + B(0) and
// Y(L) = A(0) - B(0).
inline double join_sum(double a, double b) {
    return double(ext(a) + b);
}
inline double join_difference(double a, double b) {
    return double(ext(a) - b);
}

// The butterfly of position k (0 < k < h) in a stage that joins the half-complex transforms A
// and B of length L = 2h into Y of length 2L: Y(k) and Y(L - k) from A(k) and the rotated B(k).
// lo receives Y's first half (real parts and Y(L)'s position), hi its second half; G = nf / L
// steps through the sine table s of an nfft = 4 nq point transform.
inline void butterfly(const double* s, int nq, int G, int k, int h, const double* A,
                      const double* B, double* lo, double* hi) {
    const int L = 2 * h;
    const ext cs = s[nq - G * k], sn = s[G * k];  // cos and sin of pi k / L
    const double ar = A[k], ai = A[h + k], br = B[k], bi = B[h + k];
    const double u = double(cs * br - sn * bi);
    const double v = double(sn * br + cs * bi);
    lo[k] = double(ext(ar) + u);
    lo[L - k] = double(ext(ar) - u);
    hi[k] = double(ext(ai) + v);
    hi[L - k] = double(ext(v) - ai);
}

// The bin value formulas. Power of a bin from its transform value: the sum of the squares,
// doubled, times dt, over nfft - 1.
inline double bin_power(double re, double im, int nfft, double dt) {
    return double(((2 * (ext(re) * re + ext(im) * im)) * dt) / ext(nfft - 1));
}
inline double bin_frequency(int i, int nfft, double dt) {
    return double(((1 / ext(dt)) * (i - 1)) / nfft);
}

// The pruned transform: the butterflies that feed a range of bins, and no others. Which
// positions a bin needs depends only on nfft and the bins, so a plan is made once, with the
// sizes and the sine table, and used for every signal.
struct fft_plan {
    int m = 0, nfft = 0, nf = 0, nq = 0;
    int k0 = 0, k1 = 0;   // transform indices delivered: bins k0 + 1 .. k1 + 1
    bool stage0[2] = {};  // positions 0 and 1 of the length-2 transforms
    // Per stage p >= 1: whether the butterflies of k = 0 and k = h are needed,
    // and which of k = 1 .. h-1.
    std::vector<char> first, middle;
    std::vector<std::vector<int>> butterflies;
    std::vector<double> s;  // the sine table for nfft
};

// The plan of an nfft-point transform (nfft a power of two) that delivers indices k0 .. k1.
// Typical use: static const fft_plan plan = make_fft_plan(8192, 5, 83);
fft_plan make_fft_plan(int nfft, int k0, int k1);

// Transforms x[0 .. nfft-1], with x and y (nfft doubles each) as work space.
// Returns whichever of the two holds the result in half-complex layout; it is
// valid at positions k and nf + k for k in plan.k0 .. plan.k1.
const double* fft_pruned(const fft_plan& plan, double* x, double* y);

// Bin i (1-based) of a pruned result.
inline double pruned_bin_power(const double* r, const fft_plan& plan, int i, double dt) {
    return bin_power(r[i - 1], r[plan.nf + i - 1], plan.nfft, dt);
}
