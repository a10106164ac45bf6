#pragma once
// The full transform: the one-sided power spectrum of the first nfft points of a real signal,
// every bin of it, as the straightforward computation takes it (fft.h tells the transform's
// convention and layout). pt[i], frq[i] hold bin i (pt[0], pt[1], frq[0], frq[1] are never
// written).

#include <vector>

#include "fft.h"

// Work space of the transform, sized for the largest transform taken: the two halves of each
// stage's result.
struct spectrum_work {
    double ftr[max_nfft / 2];
    double fti[max_nfft / 2];
};

// A transform made once for every signal of its size: the sizes and the sine table.
struct spectrum_plan {
    spectrum_sizes z;
    std::vector<double> s;  // s[i] = sin(2 pi i / nfft), i = 1 .. nq - 1
};

// The plan of the transform of the first nfft of n points.
// Typical use: const spectrum_plan plan = make_spectrum_plan(8192);
spectrum_plan make_spectrum_plan(int n);

// Transforms x[0 .. nfft-1] in place into half-complex layout; w.ftr and w.fti receive the two
// halves (fti[0] = X(nf)). `stages` stops it after that many of its m stages (stage 0 the
// length-2 transforms), to look at a partial result; -1 runs them all.
void fft(const spectrum_plan& plan, double* x, spectrum_work& w, int stages = -1);

// Bins 2 .. nf of the first nfft of the n points x (0 <= n, nfft <= max_nfft):
// pt[i] = 2 dt |X(i-1)|^2 / (nfft - 1), frq[i] = (i - 1) / (nfft dt).
// x[0 .. nfft-1] is overwritten with the transform. Returns nf.
int spectrum(int n, double dt, double* x, double* pt, double* frq, spectrum_work& w);
