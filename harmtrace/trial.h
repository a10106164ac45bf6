#pragma once
// One trial of the fundamental search at frequency ftry: resample the input with step
// dt = (1 / period_points) / ftry, so that one period spans period_points grid points and ftry
// falls on one bin of the transform, and score the trial by that bin's power.
//
// Only that bin is computed: the grid points the transform reads and the butterflies that feed
// the bin, by a plan made once for each kind of trial. The values are those of the full spectrum
// (reference/reference.h computes that) to the last bit.

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
static_assert(scored_bin(coarse_nfft) == 65 && scored_bin(refine_nfft) == 33);

// What sets the coarse and the refinement trials apart: the grid points resampled (coarse_points
// or refine_points), the matching tolerance, and the plan that computes only the scored bin of
// the transform of those points. Each is made once.
struct trial_kind {
    int points;
    double tol;
    fft_plan plan;  // delivers the scored bin alone: plan.k0 = plan.k1 = scored_bin - 1
};
const trial_kind& coarse_trial();
const trial_kind& refine_trial();

// The trial of `kind` at ftry with step dt: the scored bin when its frequency lies strictly
// within the kind's tolerance of ftry.
// Typical use: trial_score s = run_trial(x0, nx0, dt0, f, dt, refine_trial(), tw);
trial_score run_trial(const double* x0, int nx0, double dt0, double ftry, double dt,
                      const trial_kind& kind, trial_work& tw);
