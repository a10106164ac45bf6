// The program's computation (pruned transforms, kept intervals, any number of threads) against
// the straightforward one, to the last bit. (How much work the plans leave out is the
// benchmarks' to check.)
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "reference.h"
#include "report_text.h"
#include "search.h"
#include "signals.h"
#include "trial.h"

namespace {

bool same_bits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(FastPath, TrialsGiveTheReferenceDoubles) {
    auto tw = std::make_unique<trial_work>();
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> u(-30000, 30000);
    std::vector<double> x0(120000);
    for (double& v : x0) v = u(rng);
    for (int k = 0; k <= last_step; k += 3) {
        const double ftry = coarse_frequency(k) * (1 + 1e-7 * k);
        const double dt = trial_step(ftry);
        for (const trial_kind* kind : {&coarse_trial(), &refine_trial()}) {
            for (int nx0 : {0, 1, 2, 5000, 120000}) {
                const trial_score a = reference_trial(x0.data(), nx0, default_dt0, ftry, dt, *kind);
                const trial_score b = run_trial(x0.data(), nx0, default_dt0, ftry, dt, *kind, *tw);
                ASSERT_TRUE(a.found && b.found);
                EXPECT_TRUE(same_bits(a.frq, b.frq));
                EXPECT_TRUE(same_bits(a.pt, b.pt)) << k << " " << kind->points << " " << nx0;
            }
        }
    }
}

TEST(FastPath, SearchAndReportMatchTheReferenceWithAnyNumberOfThreads) {
    struct input {
        std::string what;
        std::vector<double> x0;
        double dt0 = default_dt0, hint = 0;
    };
    std::vector<input> inputs;
    for (double f : {31.0, 98.5, 220.0, 440.0, 1001.0, 1501.0, 1760.0})
        inputs.push_back(
            {"tone " + std::to_string(f), tone({{f, 1}, {2 * f, 0.4}, {3 * f, 0.2}}, 0.6)});
    std::mt19937_64 rng(5);
    std::normal_distribution<double> noise(0, 3000);
    std::vector<double> random(30000);
    for (double& v : random) v = std::round(noise(rng));
    inputs.push_back({"random", random});
    inputs.push_back({"short", tone({{440, 1}}, 0.05)});
    inputs.push_back({"beyond the grid capacity", tone({{500, 1}, {1000, 0.3}}, 5)});
    inputs.push_back({"empty", {}});
    std::vector<double> odd = tone({{330, 1}}, 0.4);
    odd[100] = std::numeric_limits<double>::quiet_NaN();
    inputs.push_back({"nan", odd});
    std::vector<double> huge = tone({{330, 1}}, 0.4);
    for (std::size_t i = 0; i < huge.size(); i += 7) huge[i] = 1e300 * (i % 2 ? 1 : -1);
    inputs.push_back({"huge", huge});
    inputs.push_back({"48 kHz, weak fundamental, hint",
                      tone({{180, 0.1}, {360, 1}, {540, 0.6}}, 0.8), sampling_step(48000), 185});

    for (const input& in : inputs) {
        SCOPED_TRACE(in.what);
        const double* x0 = in.x0.data();
        const int nx0 = int(in.x0.size());
        const search_result ref = reference_search(x0, nx0, in.dt0, in.hint);
        std::string want;
        output out(want);
        reference_report(x0, nx0, in.dt0, ref.f0, ref.dt, out);
        out.flush();
        for (int workers : {1, 2, 3}) {
            worker_pool pool(workers);
            const search_result s = fundamental_search(x0, nx0, in.dt0, in.hint, pool);
            EXPECT_TRUE(same_bits(s.f0, ref.f0)) << workers << ": " << s.f0 << " " << ref.f0;
            EXPECT_TRUE(same_bits(s.dt, ref.dt)) << workers;
            EXPECT_TRUE(report_text(in.x0, ref.f0, ref.dt, workers, in.dt0) == want) << workers;
        }
    }
}

}  // namespace
