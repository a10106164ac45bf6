// harmtrace computed the straightforward way: every bin of every transform,
// one thread. The yardstick for the whole-process benchmark; same output.
#include <cstdio>
#include <memory>

#include "constants.h"
#include "input.h"
#include "output_buffer.h"
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
    const search_result s = fundamental_search(x0.get(), nx0, false, 1);
    auto out = std::make_unique<output_buffer>();
    harmonic_report(x0.get(), nx0, s.f0, s.dt, *out, false, 1);
    return flush_output(*out) ? 0 : 2;
}
