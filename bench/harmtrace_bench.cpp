// Micro-benchmarks of harmtrace's numerical core.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <memory>
#include <vector>

#include "fft.h"
#include "follow.h"
#include "full_transform.h"
#include "partials.h"
#include "reference.h"
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

// The butterflies a plan computes per transform, as a share of the full transform's. Past
// `limit` the plan has lost what makes the program fast, and the benchmark fails.
bool plan_within(benchmark::State& st, const fft_plan& plan, double limit) {
    double kept = 0, all = 0;
    for (int p = 1; p <= plan.m - 1; ++p) {
        const int groups = plan.nf >> p, h = 1 << (p - 1);
        kept += double(groups) * double(plan.butterflies[std::size_t(p)].size());
        all += double(groups) * (h - 1);
    }
    st.counters["butterfly_share"] = kept / all;
    if (kept / all < limit) return true;
    st.SkipWithError("the plan computes more butterflies than it should");
    return false;
}

// The trial and the window as the program computes them; the straightforward computation of
// both is BM_spectrum with BM_resample. A trial needs one bin: some nfft butterflies of the
// nfft log2(nfft) / 2 of the full transform. A window needs bins 6 .. 84 of 4096.
void BM_trial(benchmark::State& st) {
    const trial_kind& kind = st.range(0) == coarse_points ? coarse_trial() : refine_trial();
    if (!plan_within(st, kind.plan, 0.2)) return;
    auto tw = std::make_unique<trial_work>();
    std::vector<double> x0 = sine(440, 3);
    const double dt = 0.0009765625 / 440;
    for (auto _ : st)
        benchmark::DoNotOptimize(
            run_trial(x0.data(), int(x0.size()), default_dt0, 440, dt, kind, *tw));
}
BENCHMARK(BM_trial)->Arg(coarse_points)->Arg(refine_points)->Unit(benchmark::kMicrosecond);

void BM_window(benchmark::State& st) {
    const double dt = 0.0009765625 / 440;
    std::vector<double> x0 = sine(440, 1), x1(window_points), y(window_points), t(window_points),
                        frq(window_points / 2 + 1), pt(window_points / 2 + 1);
    for (int i = 2; i <= window_points / 2; ++i)
        frq[std::size_t(i)] = bin_frequency(i, window_points, dt);
    int bins[harmonics + 1];
    const int found = harmonic_bins(frq.data(), 440, bins);
    const fft_plan plan = window_plan(bins, found);
    if (!plan_within(st, plan, 0.7)) return;
    std::vector<char> out(harmonics * 99);
    for (auto _ : st) {
        resample(x0.data(), int(x0.size()), default_dt0, dt, window_points, t.data(), x1.data());
        const double* r = fft_pruned(plan, x1.data(), y.data());
        for (int i = plan.k0 + 1; i <= plan.k1 + 1; ++i)
            pt[std::size_t(i)] = pruned_bin_power(r, plan, i, dt);
        benchmark::DoNotOptimize(
            harmonic_lines(pt.data(), frq.data(), bins, found, 0, dt, out.data()));
    }
}
BENCHMARK(BM_window)->Unit(benchmark::kMicrosecond);

// The search and the report with 1, 2 and 4 threads (on a two-core machine, 4 shows the cost of
// more threads than cores), and the straightforward search.
void BM_search(benchmark::State& st) {
    std::vector<double> x0 = sine(440, 3);
    worker_pool pool(int(st.range(0)));
    for (auto _ : st)
        benchmark::DoNotOptimize(
            fundamental_search(x0.data(), int(x0.size()), default_dt0, 0, pool));
}
BENCHMARK(BM_search)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_reference_search(benchmark::State& st) {
    std::vector<double> x0 = sine(440, 3);
    for (auto _ : st)
        benchmark::DoNotOptimize(reference_search(x0.data(), int(x0.size()), default_dt0, 0));
}
BENCHMARK(BM_reference_search)->Unit(benchmark::kMillisecond);

void BM_report(benchmark::State& st) {
    std::vector<double> x0 = sine(440, 3);
    worker_pool one(1), pool(int(st.range(0)));
    search_result s = fundamental_search(x0.data(), int(x0.size()), default_dt0, 0, one);
    const int null = open("/dev/null", O_WRONLY);
    output out(null);
    for (auto _ : st) {
        harmonic_report(x0.data(), int(x0.size()), default_dt0, s.f0, s.dt, out, pool);
        out.flush();
    }
    close(null);
}
BENCHMARK(BM_report)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

// What --partials does instead of the report, on a stiff string of ten partials (B = 4e-4):
// locating them, then measuring each on its own grid. A plain run is the search and the report.
std::vector<double> stiff_string(double freq, double b, double seconds) {
    std::vector<double> x(static_cast<std::size_t>(seconds * 44100));
    for (std::size_t i = 0; i < x.size(); ++i) {
        double v = 0;
        for (int k = 1; k <= 10; ++k)
            v += std::sin(2 * M_PI * k * freq * std::sqrt(1 + b * k * k) * double(i) / 44100) / k;
        x[i] = std::round(3000 * v);
    }
    return x;
}

void BM_partials(benchmark::State& st) {
    std::vector<double> x0 = stiff_string(220, 4e-4, 3);
    worker_pool one(1), pool(int(st.range(0)));
    search_result s = fundamental_search(x0.data(), int(x0.size()), default_dt0, 0, one);
    const int null = open("/dev/null", O_WRONLY);
    output out(null);
    for (auto _ : st) {
        const partial_set p = locate_partials(x0.data(), int(x0.size()), default_dt0, s.f0);
        partial_report(x0.data(), int(x0.size()), default_dt0, s.dt, p, out, pool);
        out.flush();
    }
    close(null);
}
BENCHMARK(BM_partials)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// What --follow adds to a plain run: following the pitch of a note with a vibrato of +-50
// cents, then the report along the track (against BM_report, the report at one step).
void BM_follow(benchmark::State& st) {
    std::vector<double> x0(3 * 44100);
    double phase = 0;
    for (std::size_t i = 0; i < x0.size(); ++i) {
        phase += 440 * std::exp2(50 * std::sin(2 * M_PI * 5.5 * double(i) / 44100) / 1200) / 44100;
        double v = 0;
        for (int k = 1; k <= 10; ++k) v += std::sin(2 * M_PI * k * phase) / k;
        x0[i] = std::round(5000 * v);
    }
    worker_pool one(1), pool(int(st.range(0)));
    search_result s = fundamental_search(x0.data(), int(x0.size()), default_dt0, 0, one);
    const int null = open("/dev/null", O_WRONLY);
    output out(null);
    for (auto _ : st) {
        const pitch_track track = follow_pitch(x0.data(), int(x0.size()), default_dt0, s.dt, pool);
        write_report(x0.data(), int(x0.size()), default_dt0, followed_plan(track), out, pool);
        out.flush();
    }
    close(null);
}
BENCHMARK(BM_follow)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
