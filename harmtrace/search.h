#pragma once
// The fundamental search: a coarse scan over 145 quarter-tone steps from
// 27.5 Hz to 1760 Hz, a pick, and five refinement levels of 31 trials.
//
// A trial at frequency ftry resamples the input with dt = (1/1024) / ftry,
// so one period spans 1024 grid points and one bin of the spectrum lies at
// ftry itself; that bin's power is the trial's score.
//
// A hint (a frequency the user knows the note to have) narrows the coarse scan
// to the steps within a semitone of it; everything after the scan is the same.

struct search_result {
    double f0 = 0;            // the fundamental: the bin frequency of level 5's best offset
    double dt = 0;            // grid step of the last trial (level 5, offset +15)
    int pick = 0;             // coarse step chosen, 0 .. 144
    int kbest[5] = {};        // best offset after each refinement level
    double coarse[145] = {};  // coarse scores, for inspection (0 for a step not tried)
};

// Lowest step first..last-1 scoring strictly above ptmax / 5, or the step
// above it when that one scores strictly higher; `last` when none passes.
int pick_step(const double* cpt, double ptmax, int first = 0, int last = 144);

// The coarse steps k whose trial frequency 27.5 * 2^(k/24) lies within a
// factor 2^(1/12) of `hint` (bounds included): first..last. With hint 0, or
// when no step is that close, all steps 0..144.
void coarse_steps(double hint, int& first, int& last);

// The highest offset j in -15..15 with cpt[j] >= ptmax (cpt indexed by j),
// or kbest unchanged when none reaches it.
int select_offset(const double* cpt, double ptmax, int kbest);

// Runs the whole search over the input x0[0 .. nx0-1], sampled with step dt0,
// its coarse scan narrowed to the steps near `hint` (Hz; 0 for none). `fast`
// computes only the bins a trial's score needs, and `threads` (1 or 2) runs
// independent trials side by side; the result is the same to the last bit.
// Typical use: fundamental_search(x0, nx0, sampling_step(48000), 0, true, 2);
search_result fundamental_search(const double* x0, int nx0, double dt0, double hint,
                                 bool fast = true, int threads = 1);
