// harmtrace: reads one sampled tone as text (one sample per line), finds its fundamental and
// writes the harmonic report on standard output. The options give the sampling rate, a hint for
// the fundamental, where the search starts, the number of threads, and whether the partials are
// measured where they lie or the pitch is followed (harmtrace --help).
#include <memory>

#include "constants.h"
#include "error_report.h"
#include "follow.h"
#include "input.h"
#include "options.h"
#include "output.h"
#include "parallel.h"
#include "partials.h"
#include "report.h"
#include "search.h"
#include "usage.h"

int main(int argc, char** argv) {
    const options opt = parse_options(argc, argv);
    output out;
    switch (opt.what) {
        case options::action::run:
            break;
        case options::action::help:
            out.put(help_text);
            return out.flush() ? 0 : 2;
        case options::action::version:
            out.put(version_line("harmtrace"));
            return out.flush() ? 0 : 2;
        case options::action::usage_error:
            return usage_error("harmtrace", opt.error, usage_line);
    }
    auto x0 = std::make_unique_for_overwrite<double[]>(max_samples);  // only x0[0 .. nx0-1] is read
    const int nx0 = read_standard_input(x0.get());
    if (nx0 < 0) return 2;
    const double dt0 = sampling_step(opt.rate);
    worker_pool pool(worker_count(opt.threads));
    // The search sees the input from sample s0 on, its time starting at 0 there; the report
    // covers the whole input.
    const int s0 = search_start(opt, nx0);
    const search_result s = fundamental_search(x0.get() + s0, nx0 - s0, dt0, opt.hint, pool);
    // Following the pitch starts from the search's step; the report's grids follow the track.
    pitch_track track;
    if (opt.follow) track = follow_pitch(x0.get(), nx0, dt0, s.dt, pool);
    const pitch_track* along = opt.follow ? &track : nullptr;
    if (opt.partials) {
        const partial_set p = locate_partials(x0.get() + s0, nx0 - s0, dt0, s.f0);
        output err(2);
        err.print("harmtrace: inharmonicity B = %.4g (%d of %d partials located)\n", p.b,
                  p.located_count, harmonics);
        err.flush();
        write_report(x0.get(), nx0, dt0, partial_plan(p.freq, s.dt, along), out, pool);
    } else {
        write_report(x0.get(), nx0, dt0, along ? followed_plan(track) : plain_plan(s.f0, s.dt), out,
                     pool);
    }
    if (!out.flush()) {
        report_write_error("harmtrace", write_statement, out.error());
        return 2;
    }
    return 0;
}
