#pragma once
// The fundamental search: a coarse scan over coarse_steps quarter tones from 27.5 Hz to 1760 Hz,
// a pick, and refine_levels refinement levels of refine_trials trials each (trial.h).
//
// A hint (a frequency the user knows the note to have) narrows the coarse scan to the steps
// within a semitone of it, which for a hint beyond the scan lie beyond it too (constants.h);
// everything after the scan is the same.
//
// The search keeps two tables indexed by trial: the frequency of the bin that matched (cfrq) and
// its power (cpt). Coarse step k is entry k (0 .. last_step), refinement offset j is entry j
// (-refine_reach .. refine_reach); a level overwrites entries that earlier trials wrote.

#include "constants.h"
#include "parallel.h"

struct search_result {
    double f0 = 0;  // the bin frequency recorded at the last level's best offset
    double dt = 0;  // step of the search's last trial (last level, offset +refine_reach)
};

// Frequency of coarse step k: 27.5 * 2^(k / 24).
double coarse_frequency(int k);

// Frequency of offset j at refinement level lev, from `base`: 2^((j / 10^lev) / 24) * base.
double refine_frequency(int j, int lev, double base);

// The coarse steps first..last (lowest_step .. highest_step) whose frequency lies within a factor
// 2^(1/12) of `hint` (bounds included); all steps of the scan, 0 .. last_step, when hint is 0 or
// no step is that close.
void hinted_steps(double hint, int& first, int& last);

// The pick: the lowest step of first..last-1 scoring strictly more than ptmax / pick_share,
// moved to the step above when that one scores strictly higher; `last` when none passes.
int pick_step(const double* cpt, double ptmax, int first = 0, int last = last_step);

// The highest offset j in -refine_reach..refine_reach with cpt[j] >= ptmax (cpt indexed by j), or
// kbest unchanged when none reaches it.
int select_offset(const double* cpt, double ptmax, int kbest);

// The coarse scan of steps first..last over x0[0 .. nx0-1] sampled with step dt0: the trial of
// step k leaves its bin's frequency in cfrq[k] and its score in cpt[k] (both unchanged when no
// bin matched). Returns the largest score, ptmax.
double coarse_scan(const double* x0, int nx0, double dt0, int first, int last, worker_pool& pool,
                   double* cfrq, double* cpt);

// Runs the whole search over the input x0[0 .. nx0-1] sampled with step dt0, the coarse scan
// narrowed to the steps near `hint` (Hz; 0 for none), with the pool's threads side by side.
// Typical use: search_result s = fundamental_search(x0, nx0, sampling_step(48000), 0, pool);
search_result fundamental_search(const double* x0, int nx0, double dt0, double hint,
                                 worker_pool& pool);
