// harmtrace: reads one sampled tone as text (one sample per line, 44.1 kHz),
// finds its fundamental and writes the harmonic report on standard output.
#include <cstdio>
#include <memory>

#include "constants.h"
#include "input.h"
#include "output_buffer.h"
#include "record_reader.h"
#include "report.h"
#include "search.h"

int main() {
    record_reader in;
    open_reader(in, 0);
    auto x0 = std::make_unique<double[]>(max_samples);
    read_status status;
    const int nx0 = read_samples(in, x0.get(), max_samples, status);
    if (status == read_status::bad_value || status == read_status::io_error) {
        std::fputs(describe_read_error(in, status, "harmtrace", 20).c_str(), stderr);
        return 2;
    }
    in.buf.reset();

    const search_result s = fundamental_search(x0.get(), nx0, true, 2);
    auto out = std::make_unique<output_buffer>();
    harmonic_report(x0.get(), nx0, s.f0, s.dt, *out, true, 2);
    if (!flush_output(*out)) {
        report_write_error(*out, "harmtrace", 143);
        return 2;
    }
    return 0;
}
