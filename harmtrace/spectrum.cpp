#include "spectrum.h"

#include <cassert>
#include <cmath>

spectrum_sizes spectrum_size(int n) {
    spectrum_sizes z;
    // n = 0 gives ln 0.5 / ln 2, truncated to 0; negative n is never passed.
    z.m = n < 1 ? 0 : int(ext(std::log(double(ext(n) + 0.5L))) / ln2_single);
    z.nfft = 1 << z.m;
    z.nf = z.nfft / 2;
    z.nq = z.nfft / 4;
    return z;
}

void sine_table(int nfft, spectrum_work& w) {
    const int nq = nfft / 4;
    for (int i = 1; i <= nq - 1; ++i) w.s[i] = std::sin(double((ext(i + i) * pi) / nfft));
}

void fft(double* x, int nfft, int nf, int nq, int m, spectrum_work& w) {
    (void)nfft;
    double* ftr = w.ftr;
    double* fti = w.fti;
    const double* s = w.s;
    // Stage 0: nf transforms of length 2, of the samples j and j + nf.
    for (int j = 0; j < nf; ++j) {
        ftr[j] = double(ext(x[j]) + x[j + nf]);
        fti[j] = double(ext(x[j]) - x[j + nf]);
    }
    for (int j = 0; j < nf; ++j) {
        x[2 * j] = ftr[j];
        x[2 * j + 1] = fti[j];
    }
    // Stage p joins transform A (first half of x) and B (second half) of
    // length L into Y of length 2L: Y(k) = A(k) + e^(i pi k / L) B(k).
    for (int p = 1; p <= m - 1; ++p) {
        const int L = 1 << p, h = L / 2, G = nfft >> (p + 1);
        for (int a = 0; a < G * L; a += L) {
            const double* A = x + a;
            const double* B = x + nf + a;
            ftr[a] = double(ext(A[0]) + B[0]);
            fti[a] = double(ext(A[0]) - B[0]);
            ftr[a + h] = A[h];
            fti[a + h] = B[h];
            for (int k = 1; k <= h - 1; ++k) {
                const ext cs = s[nq - G * k], sn = s[G * k];
                const double ar = A[k], ai = A[h + k], br = B[k], bi = B[h + k];
                const double u = double(cs * br - sn * bi);
                const double v = double(sn * br + cs * bi);
                ftr[a + k] = double(ext(ar) + u);
                ftr[a + L - k] = double(ext(ar) - u);
                fti[a + k] = double(ext(ai) + v);
                fti[a + L - k] = double(ext(v) - ai);
            }
        }
        for (int a = 0; a < G * L; a += L) {
            for (int k = 0; k < L; ++k) x[2 * a + k] = ftr[a + k];
            for (int k = 0; k < L; ++k) x[2 * a + L + k] = fti[a + k];
        }
    }
}

int spectrum(int n, double dt, double* x, double* pt, double* frq, spectrum_work& w) {
    const spectrum_sizes z = spectrum_size(n);
    assert(z.nfft <= max_nfft);
    sine_table(z.nfft, w);
    if (z.nf >= 1) fft(x, z.nfft, z.nf, z.nq, z.m, w);
    if (z.nf >= 1) w.fti[0] = 0;  // X(nf) is dropped; it survives only in x(nf + 1)
    for (int i = 2; i <= z.nf; ++i) {
        pt[i] = bin_power(w, i, z.nfft, dt);
        frq[i] = bin_frequency(i, z.nfft, dt);
    }
    return z.nf;
}
