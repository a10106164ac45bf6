#pragma once
// The fundamental search: a coarse scan over 145 quarter-tone steps from
// 27.5 Hz to 1760 Hz, a pick, and five refinement levels of 31 trials.
//
// A trial at frequency ftry resamples the input with dt = (1/1024) / ftry,
// so one period spans 1024 grid points and one bin of the spectrum lies at
// ftry itself; that bin's power is the trial's score.

struct search_result {
    double f0 = 0;            // the fundamental: the bin frequency of level 5's best offset
    double dt = 0;            // grid step of the last trial (level 5, offset +15)
    int pick = 0;             // coarse step chosen, 0 .. 144
    int kbest[5] = {};        // best offset after each refinement level
    double coarse[145] = {};  // coarse scores, for inspection
};

// Lowest step 0..143 scoring strictly above ptmax / 5, or the step above it
// when that one scores strictly higher; 144 when none passes.
int pick_step(const double* cpt, double ptmax);

// The highest offset j in -15..15 with cpt[j] >= ptmax (cpt indexed by j),
// or kbest unchanged when none reaches it.
int select_offset(const double* cpt, double ptmax, int kbest);

// Runs the whole search over the input x0[0 .. nx0-1]. `fast` computes only
// the bins a trial's score needs, and `threads` (1 or 2) runs independent
// trials side by side; the result is the same to the last bit.
search_result fundamental_search(const double* x0, int nx0, bool fast = true, int threads = 1);
