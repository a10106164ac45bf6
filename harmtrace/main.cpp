// harmtrace: reads one sampled tone as text (one sample per line), finds its fundamental and
// writes the harmonic report on standard output. The options give the sampling rate, a hint for
// the fundamental, where the search starts, the number of threads, and whether the partials are
// measured where they lie or the pitch is followed (harmtrace --help).
#include <memory>

#include "analysis.h"
#include "error_report.h"
#include "input.h"
#include "output.h"
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
    worker_pool pool(worker_count(opt.threads));
    note_analysis a;
    analyse_note(x0.get(), nx0, opt, pool, a);
    if (opt.partials) {
        output err(2);
        err.print("harmtrace: inharmonicity B = %.4g (%d of %d partials located)\n", a.partials.b,
                  a.partials.located_count, harmonics);
        err.flush();
    }
    write_report(x0.get(), nx0, sampling_step(opt.rate), report_plan_of(a, opt), out, pool);
    if (!out.flush()) {
        report_write_error("harmtrace", write_statement, out.error());
        return 2;
    }
    return 0;
}
