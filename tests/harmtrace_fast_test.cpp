// The fast paths (pruned transforms, cached tables, threads) against the
// straightforward computation, bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "process.h"
#include "report.h"
#include "search.h"
#include "signals.h"
#include "trial.h"

namespace {

bool same_bits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void expect_same_search(const std::vector<double>& x0, const char* what) {
    search_result ref = fundamental_search(x0.data(), int(x0.size()), default_dt0, 0, false);
    search_result fast = fundamental_search(x0.data(), int(x0.size()), default_dt0, 0, true, 2);
    EXPECT_TRUE(same_bits(ref.f0, fast.f0)) << what << " " << ref.f0 << " " << fast.f0;
    EXPECT_TRUE(same_bits(ref.dt, fast.dt)) << what;
    EXPECT_EQ(ref.pick, fast.pick) << what;
    for (int l = 0; l < 5; ++l) EXPECT_EQ(ref.kbest[l], fast.kbest[l]) << what;
    for (int k = 0; k <= 144; ++k) EXPECT_TRUE(same_bits(ref.coarse[k], fast.coarse[k])) << what;
}

std::string report_text(const std::vector<double>& x0, double f0, double dt, bool fast,
                        int threads) {
    auto out = std::make_unique<output_buffer>();
    std::string path = temp_path("fast");
    FILE* f = std::fopen(path.c_str(), "w+");
    out->fd = fileno(f);
    harmonic_report(x0.data(), int(x0.size()), default_dt0, f0, dt, *out, fast, threads);
    flush_output(*out);
    std::fclose(f);
    std::string s = read_file(path);
    std::remove(path.c_str());
    return s;
}

TEST(FastPath, TrialsGiveTheReferenceDoubles) {
    auto tw = std::make_unique<trial_work>();
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> u(-30000, 30000);
    std::vector<double> x0(120000);
    for (double& v : x0) v = u(rng);
    for (int k = 0; k <= 144; k += 3) {
        const double ftry = 27.5 * std::pow(2.0, k / 24.0) * (1 + 1e-7 * k);
        const double dt = double(0.0009765625L / ftry);
        for (auto [n, tol] : {std::pair{coarse_points, coarse_tol}, {refine_points, refine_tol}}) {
            for (int nx0 : {0, 1, 2, 5000, 120000}) {
                trial_match a =
                    run_trial_reference(x0.data(), nx0, default_dt0, ftry, dt, n, tol, *tw);
                trial_match b = run_trial_fast(x0.data(), nx0, default_dt0, ftry, dt, n, tol, *tw);
                ASSERT_EQ(a.count, b.count);
                for (int q = 0; q < a.count; ++q) {
                    EXPECT_TRUE(same_bits(a.frq[q], b.frq[q]));
                    EXPECT_TRUE(same_bits(a.pt[q], b.pt[q])) << k << " " << n << " " << nx0;
                }
            }
        }
    }
}

TEST(FastPath, SearchAndReportMatchTheReference) {
    std::mt19937_64 rng(5);
    std::normal_distribution<double> noise(0, 3000);
    std::vector<std::pair<std::string, std::vector<double>>> inputs;
    for (double f : {31.0, 98.5, 220.0, 440.0, 1001.0, 1501.0, 1760.0})
        inputs.push_back(
            {"tone " + std::to_string(f), tone({{f, 1}, {2 * f, 0.4}, {3 * f, 0.2}}, 0.6)});
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

    for (auto& [what, x0] : inputs) {
        expect_same_search(x0, what.c_str());
        search_result s = fundamental_search(x0.data(), int(x0.size()), default_dt0, 0);
        std::string ref = report_text(x0, s.f0, s.dt, false, 1);
        EXPECT_EQ(ref, report_text(x0, s.f0, s.dt, true, 1)) << what;
        EXPECT_EQ(ref, report_text(x0, s.f0, s.dt, true, 2)) << what;
    }
}

}  // namespace
