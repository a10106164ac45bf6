#pragma once
// One-sided power spectrum of the first nfft points of a real signal, nfft
// the largest power of two not above n, through a radix-2 self-sorting
// (Stockham) real-input transform with a quarter-wave sine table.
//
// Transform convention: X(k) = sum x(j) (cos + i sin)(2 pi (j - 1) k / nfft),
// unnormalised, positive exponent. Intermediate and final transforms are held
// in half-complex layout, for a length 2H:
//
//     | 0 .. H-1       | H      | H+1 .. 2H-1    |
//     | Re Y(0..H-1)   | Y(H)   | Im Y(1..H-1)   |
//
// Bins are 1-based as in the algorithm: bin i is transform index i - 1, and
// pt[i], frq[i] hold bin i (pt[0], pt[1], frq[0], frq[1] are never written).

#include <vector>

#include "constants.h"

// Work space of the transform, sized for the largest transform taken.
struct spectrum_work {
    double s[max_nfft / 4];  // s[i] = sin(2 pi i / nfft), i = 1 .. nq - 1
    double ftr[max_nfft / 2];
    double fti[max_nfft / 2];
};

struct spectrum_sizes {
    int m, nfft, nf, nq;
};

// m = trunc(ln(n + 0.5) / ln2_single), nfft = 2^m, nf = nfft / 2, nq = nfft / 4.
spectrum_sizes spectrum_size(int n);

// Fills s[1 .. nfft/4 - 1] for a transform of length nfft.
void sine_table(int nfft, double* s);

// Transforms x[0 .. nfft-1] (nfft = 2 nf = 4 nq = 2^m) in place into half-complex layout; ftr
// and fti receive the two halves (fti[0] = X(nf)). Needs w.s filled for nfft.
void fft(double* x, int nf, int nq, int m, spectrum_work& w);

// Bins 2 .. nf of the first nfft of the n points x (0 <= n, nfft <= max_nfft):
// pt[i] = 2 dt |X(i-1)|^2 / (nfft - 1), frq[i] = (i - 1) / (nfft dt).
// x[0 .. nfft-1] is overwritten with the transform. Returns nf.
int spectrum(int n, double dt, double* x, double* pt, double* frq, spectrum_work& w);

// The bin value formulas alone. Power of a bin from its transform value:
// the sum of the squares, doubled, times dt, over nfft - 1.
inline double bin_power(double re, double im, int nfft, double dt) {
    return double(((2 * (ext(re) * re + ext(im) * im)) * dt) / ext(nfft - 1));
}
inline double bin_frequency(int i, int nfft, double dt) {
    return double(((1 / ext(dt)) * (i - 1)) / nfft);
}

// The pruned transform: the butterflies that feed a range of bins, and no
// others. Every value it computes is computed by the same formula from the
// same operands as in fft(), so the bins it delivers are the same doubles.
// Which positions a bin needs depends only on nfft and the bins, so a plan is
// made once and used for every signal.
struct fft_plan {
    int m = 0, nfft = 0, nf = 0, nq = 0;
    int k0 = 0, k1 = 0;   // transform indices delivered: bins k0 + 1 .. k1 + 1
    bool stage0[2] = {};  // positions 0 and 1 of the length-2 transforms
    // Per stage p >= 1: whether the butterflies of k = 0 and k = h are needed,
    // and which of k = 1 .. h-1.
    std::vector<char> first, middle;
    std::vector<std::vector<int>> butterflies;
    std::vector<double> s;  // the sine table for nfft, filled once
};

fft_plan make_fft_plan(int nfft, int k0, int k1);

// Transforms x[0 .. nfft-1], with x and y (nfft doubles each) as work space.
// Returns whichever of the two holds the result in half-complex layout; it is
// valid at positions k and nf + k for k in plan.k0 .. plan.k1.
const double* fft_pruned(const fft_plan& plan, double* x, double* y);

// Bin i (1-based) of a pruned result.
inline double pruned_bin_power(const double* r, const fft_plan& plan, int i, double dt) {
    return bin_power(r[i - 1], r[plan.nf + i - 1], plan.nfft, dt);
}
