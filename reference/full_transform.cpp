#include "full_transform.h"

#include <algorithm>
#include <cassert>

spectrum_plan make_spectrum_plan(int n) {
    spectrum_plan plan{spectrum_size(n), {}};
    plan.s.assign(std::size_t(std::max(plan.z.nq, 1)), 0.0);
    sine_table(plan.z.nfft, plan.s.data());
    return plan;
}

void fft(const spectrum_plan& plan, double* x, spectrum_work& w, int stages) {
    const int nf = plan.z.nf, nq = plan.z.nq;
    const int m = stages < 0 ? plan.z.m : std::min(stages, plan.z.m);
    if (nf < 1 || m < 1) return;
    double* ftr = w.ftr;
    double* fti = w.fti;
    // Stage 0: nf transforms of length 2, of the samples j and j + nf.
    for (int j = 0; j < nf; ++j) {
        ftr[j] = join_sum(x[j], x[j + nf]);
        fti[j] = join_difference(x[j], x[j + nf]);
    }
    for (int j = 0; j < nf; ++j) {
        x[2 * j] = ftr[j];
        x[2 * j + 1] = fti[j];
    }
    // Stage p joins transform A (first half of x) and B (second half) of length L into Y of
    // length 2L: Y(k) = A(k) + e^(i pi k / L) B(k). Y's two halves go to ftr and fti, and the
    // copy pass puts them back into x side by side.
    for (int p = 1; p <= m - 1; ++p) {
        const int L = 1 << p, h = L / 2, G = nf >> p;
        for (int a = 0; a < G * L; a += L) {
            const double* A = x + a;
            const double* B = x + nf + a;
            ftr[a] = join_sum(A[0], B[0]);
            fti[a] = join_difference(A[0], B[0]);
            ftr[a + h] = A[h];
            fti[a + h] = B[h];
            for (int k = 1; k <= h - 1; ++k)
                butterfly(plan.s.data(), nq, G, k, h, A, B, ftr + a, fti + a);
        }
        for (int a = 0; a < G * L; a += L) {
            for (int k = 0; k < L; ++k) x[2 * a + k] = ftr[a + k];
            for (int k = 0; k < L; ++k) x[2 * a + L + k] = fti[a + k];
        }
    }
}

int spectrum(int n, double dt, double* x, double* pt, double* frq, spectrum_work& w) {
    const spectrum_plan plan = make_spectrum_plan(n);
    const spectrum_sizes z = plan.z;
    assert(z.nfft <= max_nfft);
    fft(plan, x, w);
    if (z.nf >= 1) w.fti[0] = 0;  // X(nf) is dropped; it survives only in x(nf + 1)
    for (int i = 2; i <= z.nf; ++i) {
        pt[i] = bin_power(w.ftr[i - 1], w.fti[i - 1], z.nfft, dt);
        frq[i] = bin_frequency(i, z.nfft, dt);
    }
    return z.nf;
}
