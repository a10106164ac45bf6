#include "analysis.h"

#include "follow.h"

void analyse_note(const double* x0, int nx0, const options& o, worker_pool& pool,
                  note_analysis& a) {
    const double dt0 = sampling_step(o.rate);
    // The search sees the input from sample s0 on, its time starting at 0 there; the report
    // covers the whole input.
    const int s0 = search_start(o, nx0);
    a.search = fundamental_search(x0 + s0, nx0 - s0, dt0, o.hint, pool);
    // Following the pitch starts from the search's step; the report's grids follow the track.
    a.track = o.follow ? follow_pitch(x0, nx0, dt0, a.search.dt, pool) : pitch_track{};
    a.partials = o.partials ? locate_partials(x0 + s0, nx0 - s0, dt0, a.search.f0) : partial_set{};
}

report_plan report_plan_of(const note_analysis& a, const options& o) {
    const pitch_track* along = o.follow ? &a.track : nullptr;
    if (o.partials) return partial_plan(a.partials.freq, a.search.dt, along);
    return along ? followed_plan(a.track) : plain_plan(a.search.f0, a.search.dt);
}
