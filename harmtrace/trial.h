#pragma once
// One trial of the fundamental search: resample the input with step dt,
// take the spectrum of the grid and find the bins whose frequency lies
// within tol of ftry.

#include "constants.h"
#include "fft.h"

struct trial_work {
    double t[coarse_points];
    double x[coarse_points];
    double y[max_nfft];           // second buffer of the pruned transform
    double pt[max_nfft / 2 + 1];  // 1-based bins
    double frq[max_nfft / 2 + 1];
    spectrum_work w;
};

// The matching bins in ascending order (in practice exactly one).
struct trial_match {
    int count = 0;
    double frq[4];
    double pt[4];
};

// Every bin of the full spectrum of an n-point grid, as the algorithm states it.
trial_match run_trial_reference(const double* x0, int nx0, double dt0, double ftry, double dt,
                                int n, double tol, trial_work& tw);

// The same doubles, computing only the grid points of the transform and the
// butterflies that feed the bins near ftry.
trial_match run_trial_fast(const double* x0, int nx0, double dt0, double ftry, double dt, int n,
                           double tol, trial_work& tw);
