#pragma once
// One trial of the fundamental search at frequency ftry: resample the input with step
// dt = (1 / period_points) / ftry, so that one period spans period_points grid points and ftry
// falls on one bin of the transform, and score the trial by that bin's power.
//
// Only that bin is computed: the grid points the transform reads and the butterflies that feed
// the bin, by a plan made once per transform size. The values are those of the full spectrum
// (reference.h computes that) to the last bit.

#include "constants.h"
#include "fft.h"

// Work space of one trial: the grid and the second buffer of the pruned transform.
struct trial_work {
    double x[coarse_nfft];
    double y[coarse_nfft];
};

// The bin that matched the trial frequency, if one did.
struct trial_score {
    bool found = false;
    double frq = 0;  // the bin's frequency, which the search records rather than ftry
    double pt = 0;   // its power, the trial's score
};

// The grid step of a trial at ftry: (1 / period_points) / ftry.
inline double trial_step(double ftry) {
    return double(step_per_hertz / ftry);
}

// The bin (1-based) on which a trial's frequency falls in an nfft-point transform: nfft /
// period_points periods fit in the transform. Its neighbours lie ftry / (nfft / period_points)
// Hz away, far beyond either tolerance, so no other bin can match.
constexpr int scored_bin(int nfft) {
    return nfft / period_points + 1;
}

// The plan that computes only the scored bin of an nfft-point transform (coarse_nfft or
// refine_nfft).
const fft_plan& trial_plan(int nfft);

// The trial at ftry with step dt over n grid points (coarse_points or refine_points): the scored
// bin when its frequency lies strictly within tol of ftry.
// Typical use: trial_score s = run_trial(x0, nx0, dt0, f, dt, refine_points, refine_tol, tw);
trial_score run_trial(const double* x0, int nx0, double dt0, double ftry, double dt, int n,
                      double tol, trial_work& tw);
