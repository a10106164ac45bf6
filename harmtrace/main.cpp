// harmtrace: reads one sampled tone as text (one sample per line, 44.1 kHz),
// finds its fundamental and writes the harmonic report on standard output.
#include <cstdio>
#include <memory>

#include "constants.h"
#include "input.h"
#include "output_buffer.h"
#include "report.h"
#include "search.h"

int main() {
    auto x0 = std::make_unique_for_overwrite<double[]>(max_samples);  // only x0[0 .. nx0-1] is read
    const int nx0 = read_standard_input(x0.get());
    if (nx0 < 0) return 2;
    const search_result s = fundamental_search(x0.get(), nx0, true, 2);
    auto out = std::make_unique_for_overwrite<output_buffer>();
    harmonic_report(x0.get(), nx0, s.f0, s.dt, *out, true, 2);
    if (!flush_output(*out)) {
        report_write_error(*out, "harmtrace", 143);
        return 2;
    }
    return 0;
}
