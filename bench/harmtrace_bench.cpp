// Micro-benchmarks of harmtrace's numerical core.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <memory>
#include <vector>

#include "fft.h"
#include "report.h"
#include "resample.h"
#include "search.h"
#include "trial.h"

namespace {

std::vector<double> sine(double freq, double seconds) {
    std::vector<double> x(static_cast<std::size_t>(seconds * 44100));
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = std::round(10000 * std::sin(2 * M_PI * freq * double(i) / 44100));
    return x;
}

void BM_spectrum(benchmark::State& st) {
    const int n = int(st.range(0));
    auto w = std::make_unique<spectrum_work>();
    std::vector<double> x0 = sine(440, 3), x(static_cast<std::size_t>(n)), pt(max_nfft / 2 + 1),
                        frq(max_nfft / 2 + 1);
    for (auto _ : st) {
        std::copy(x0.begin(), x0.begin() + n, x.begin());
        benchmark::DoNotOptimize(spectrum(n, 1e-5, x.data(), pt.data(), frq.data(), *w));
    }
}
BENCHMARK(BM_spectrum)->Arg(65536)->Arg(32768)->Arg(8192)->Unit(benchmark::kMicrosecond);

void BM_resample(benchmark::State& st) {
    const int n = int(st.range(0));
    std::vector<double> x0 = sine(440, 3), t(static_cast<std::size_t>(n)),
                        x(static_cast<std::size_t>(n));
    for (auto _ : st)
        benchmark::DoNotOptimize(resample(x0.data(), int(x0.size()), default_dt0,
                                          0.0009765625 / 440, n, t.data(), x.data()));
}
BENCHMARK(BM_resample)->Arg(coarse_points)->Arg(refine_points)->Unit(benchmark::kMicrosecond);

void BM_trial(benchmark::State& st) {
    const bool fast = st.range(1) != 0;
    const int n = int(st.range(0));
    auto tw = std::make_unique<trial_work>();
    std::vector<double> x0 = sine(440, 3);
    const double dt = 0.0009765625 / 440;
    const double tol = n == coarse_points ? coarse_tol : refine_tol;
    for (auto _ : st) {
        trial_match m =
            fast
                ? run_trial_fast(x0.data(), int(x0.size()), default_dt0, 440, dt, n, tol, *tw)
                : run_trial_reference(x0.data(), int(x0.size()), default_dt0, 440, dt, n, tol, *tw);
        benchmark::DoNotOptimize(m);
    }
}
BENCHMARK(BM_trial)
    ->Args({coarse_points, 0})
    ->Args({coarse_points, 1})
    ->Args({refine_points, 0})
    ->Args({refine_points, 1})
    ->Unit(benchmark::kMicrosecond);

void BM_window(benchmark::State& st) {
    const bool fast = st.range(0) != 0;
    auto w = std::make_unique<spectrum_work>();
    const double dt = 0.0009765625 / 440;
    std::vector<double> x0 = sine(440, 1), x1(window_points), t(window_points),
                        frq(window_points / 2 + 1);
    window_frequencies(dt, frq.data());
    std::vector<char> out(10 * 99);
    for (auto _ : st) {
        resample(x0.data(), int(x0.size()), default_dt0, dt, window_points, t.data(), x1.data());
        benchmark::DoNotOptimize(
            window_report(x1.data(), 0, 440, dt, frq.data(), out.data(), *w, fast));
    }
}
BENCHMARK(BM_window)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_search(benchmark::State& st) {
    std::vector<double> x0 = sine(440, 3);
    for (auto _ : st)
        benchmark::DoNotOptimize(fundamental_search(x0.data(), int(x0.size()), default_dt0, 0,
                                                    st.range(0) != 0, int(st.range(1))));
}
BENCHMARK(BM_search)
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({1, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_report(benchmark::State& st) {
    std::vector<double> x0 = sine(440, 3);
    search_result s = fundamental_search(x0.data(), int(x0.size()), default_dt0, 0);
    auto out = std::make_unique<output_buffer>();
    out->fd = open("/dev/null", O_WRONLY);
    for (auto _ : st) {
        harmonic_report(x0.data(), int(x0.size()), default_dt0, s.f0, s.dt, *out, true,
                        int(st.range(0)));
        flush_output(*out);
    }
    close(out->fd);
}
BENCHMARK(BM_report)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
