#pragma once
// What harmtrace does with a note once its samples are read, apart from writing the report: the
// search for the fundamental from the chosen start, then the pitch track (--follow) or the
// partials' places (--partials) that the report's grids follow. harmtrace's main and harmplot
// both run it, so the report harmplot holds in memory is the one harmtrace prints.

#include "options.h"
#include "parallel.h"
#include "partials.h"
#include "report.h"
#include "search.h"
#include "track.h"

struct note_analysis {
    search_result search;
    partial_set partials;  // with --partials
    pitch_track track;     // with --follow
};

// Analyses x0[0 .. nx0-1], sampled at o.rate, as the options o ask (o.hint, o.start_seconds,
// o.partials, o.follow) into a.
// Typical use: note_analysis a; analyse_note(x0, nx0, opt, pool, a);
void analyse_note(const double* x0, int nx0, const options& o, worker_pool& pool, note_analysis& a);

// The same from a fundamental known already, f0 Hz, rather than searched for: the report's grid
// (or the pitch track's start) has the step that puts f0 on its bin. harmplot starts from the
// fundamental the harmonics give when the search near a candidate lands beside it.
// Typical use: analyse_note_at(x0, nx0, opt, 82.41, pool, a);
void analyse_note_at(const double* x0, int nx0, const options& o, double f0, worker_pool& pool,
                     note_analysis& a);

// The plan of a's report; it refers to a.track, which must outlive it.
// Typical use: write_report(x0, nx0, dt0, report_plan_of(a, opt), out, pool);
report_plan report_plan_of(const note_analysis& a, const options& o);
