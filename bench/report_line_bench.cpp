// Cost of one report line: the lines of 64 windows of a 440 Hz tone, ten harmonics each.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "report_line.h"

namespace {

struct line_values {
    int k;
    double v[report_reals];
};

std::vector<line_values> tone_lines() {
    const double dt = 1.0 / (1024 * 440.0);
    std::vector<line_values> lines;
    for (int w = 0; w < 64; ++w) {
        for (int k = 1; k <= 10; ++k) {
            const double pt = 3.7e11 / (k * k) * (1 + 0.01 * std::sin(w + k));
            const double s = 1.02 * pt + 1234.5 * k;
            lines.push_back({k,
                             {2048 * w * dt, (2048 * w + 4095) * dt, (2048 * w + 8191) * dt,
                              k / (1024 * dt), pt, s, pt / s}});
        }
    }
    return lines;
}

void report_line(benchmark::State& state) {
    const std::vector<line_values> lines = tone_lines();
    char buf[report_line_width + 1];
    std::size_t i = 0;
    for (auto _ : state) {
        const line_values& l = lines[i];
        benchmark::DoNotOptimize(format_report_line(buf, l.k, l.v));
        benchmark::ClobberMemory();
        if (++i == lines.size()) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(report_line);

}  // namespace
