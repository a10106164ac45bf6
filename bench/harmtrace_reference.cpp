// harmtrace computed the straightforward way (reference.h): every bin of every transform, one
// thread. The yardstick for the whole-process benchmark; same output.
#include <memory>

#include "constants.h"
#include "input.h"
#include "output.h"
#include "reference.h"

int main() {
    auto x0 = std::make_unique_for_overwrite<double[]>(max_samples);  // only x0[0 .. nx0-1] is read
    const int nx0 = read_standard_input(x0.get());
    if (nx0 < 0) return 2;
    const search_result s = reference_search(x0.get(), nx0, default_dt0, 0);
    output out;
    reference_report(x0.get(), nx0, default_dt0, s.f0, s.dt, out);
    return out.flush() ? 0 : 2;
}
