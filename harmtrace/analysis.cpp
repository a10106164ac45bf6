#include "analysis.h"

#include "follow.h"
#include "trial.h"

namespace {

// The track or the partials, from the search's result.
void follow_search(const double* x0, int nx0, const options& o, worker_pool& pool,
                   note_analysis& a) {
    const double dt0 = sampling_step(o.rate);
    const int s0 = search_start(o, nx0);
    // Following the pitch starts from the search's step; the report's grids follow the track.
    a.track = o.follow ? follow_pitch(x0, nx0, dt0, a.search.dt, pool) : pitch_track{};
    a.partials = o.partials ? locate_partials(x0 + s0, nx0 - s0, dt0, a.search.f0) : partial_set{};
}

}  // namespace

void analyse_note(const double* x0, int nx0, const options& o, worker_pool& pool,
                  note_analysis& a) {
    // The search sees the input from sample s0 on, its time starting at 0 there; the report
    // covers the whole input.
    const int s0 = search_start(o, nx0);
    a.search = fundamental_search(x0 + s0, nx0 - s0, sampling_step(o.rate), o.hint, pool);
    follow_search(x0, nx0, o, pool, a);
}

void analyse_note_at(const double* x0, int nx0, const options& o, double f0, worker_pool& pool,
                     note_analysis& a) {
    a.search = {f0, trial_step(f0)};
    follow_search(x0, nx0, o, pool, a);
}

report_plan report_plan_of(const note_analysis& a, const options& o) {
    const pitch_track* along = o.follow ? &a.track : nullptr;
    if (o.partials) return partial_plan(a.partials.freq, a.search.dt, along);
    return along ? followed_plan(a.track) : plain_plan(a.search.f0, a.search.dt);
}
