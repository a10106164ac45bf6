#pragma once
// harmtrace's method computed the straightforward way: every trial resamples its whole grid and
// takes the full spectrum, every window takes the full spectrum, in one thread, with the search's
// tables as plain arrays read and written trial by trial. It is the yardstick that the program's
// computation (search.h, report.h) is tested against, to the last bit, and measured against for
// speed; the program itself never runs it.

#include "output.h"
#include "search.h"
#include "trial.h"

// One trial of `kind`: the whole grid of kind.points points resampled, its full spectrum taken
// and every bin compared with ftry, a later match replacing an earlier one.
trial_score reference_trial(const double* x0, int nx0, double dt0, double ftry, double dt,
                            const trial_kind& kind);

// The fundamental search over x0[0 .. nx0-1] sampled with step dt0, narrowed to `hint` (Hz; 0 for
// none).
search_result reference_search(const double* x0, int nx0, double dt0, double hint);

// The report of every window into out.
void reference_report(const double* x0, int nx0, double dt0, double f0, double dt, output& out);
