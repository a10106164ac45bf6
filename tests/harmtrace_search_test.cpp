// The fundamental search: the pick and selection rules, and the scan on signals whose answer is
// known.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "report_text.h"
#include "search.h"
#include "signals.h"

namespace {

worker_pool pool1(1), pool2(2);

// The coarse scores of x0 over every step, and the pick they give.
struct scan {
    double cpt[coarse_steps] = {};
    double ptmax = 0;
    int pick = 0;
};
scan coarse(const std::vector<double>& x0) {
    scan s;
    double cfrq[coarse_steps];
    s.ptmax = coarse_scan(x0.data(), int(x0.size()), default_dt0, 0, last_step, pool2, cfrq, s.cpt);
    s.pick = pick_step(s.cpt, s.ptmax);
    return s;
}

TEST(Search, PickTakesTheLowestStepAboveAFifthAndAtMostOneStepUp) {
    double cpt[coarse_steps] = {};
    cpt[50] = 100;
    cpt[30] = 20;  // exactly a fifth: does not pass
    EXPECT_EQ(pick_step(cpt, 100), 50);
    cpt[30] = 20.000001;
    EXPECT_EQ(pick_step(cpt, 100), 30);
    cpt[31] = 20.000001;  // a tie keeps the lower step
    EXPECT_EQ(pick_step(cpt, 100), 30);
    cpt[31] = 30, cpt[32] = 40;  // rising: one step up only
    EXPECT_EQ(pick_step(cpt, 100), 31);
    // Within a hint's steps 40..60 the same rule; the last step is never tested itself.
    EXPECT_EQ(pick_step(cpt, 100, 40, 60), 50);
    EXPECT_EQ(pick_step(cpt, 100, 51, 60), 60);

    double only_top[coarse_steps] = {};
    only_top[144] = 9;
    EXPECT_EQ(pick_step(only_top, 9), 144);
    only_top[143] = 5;
    EXPECT_EQ(pick_step(only_top, 9), 144);
    double none[coarse_steps] = {};
    EXPECT_EQ(pick_step(none, 0), 144);
    double nans[coarse_steps];
    std::fill(nans, nans + coarse_steps, std::nan(""));
    EXPECT_EQ(pick_step(nans, 0), 144);
}

TEST(Search, SelectionTakesTheHighestOffsetReachingTheMaximum) {
    double store[refine_trials] = {};
    double* cpt = store + refine_reach;
    cpt[-3] = 7, cpt[4] = 7, cpt[10] = 6;
    EXPECT_EQ(select_offset(cpt, 7, 99), 4);
    EXPECT_EQ(select_offset(cpt, 0, 99), 15);
    std::fill(store, store + refine_trials, std::nan(""));
    EXPECT_EQ(select_offset(cpt, 0, 99), 99);
}

TEST(Search, HintKeepsTheStepsWithinASemitone) {
    int first, last;
    hinted_steps(445, first, last);  // 420.0 .. 471.5 Hz: steps 95 (427.5) to 98 (466.2)
    EXPECT_EQ(first, 95);
    EXPECT_EQ(last, 98);
    // Beyond the scan's ends, on the same grid: an A0 tuned flat, a C8.
    hinted_steps(28, first, last);  // 26.4 .. 29.7 Hz
    EXPECT_EQ(first, -1);
    EXPECT_EQ(last, 2);
    hinted_steps(27.12, first, last);
    EXPECT_EQ(first, -2);
    EXPECT_EQ(last, 1);
    hinted_steps(4000, first, last);  // 3775 .. 4238 Hz
    EXPECT_EQ(first, 171);
    EXPECT_EQ(last, 174);
    hinted_steps(0, first, last);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(last, last_step);
    EXPECT_EQ(coarse_frequency(0), 27.5);
    EXPECT_EQ(coarse_frequency(96), 440);
    EXPECT_EQ(coarse_frequency(last_step), 1760);
}

TEST(Search, EmptyInputPicksTheLastStepAndTheHighestOffsetOfEveryLevel) {
    std::vector<double> x0;
    EXPECT_EQ(coarse({}).pick, last_step);
    const search_result s = fundamental_search(x0.data(), 0, default_dt0, 0, pool1);
    // 1760 Hz raised by 15 steps of every level.
    EXPECT_NEAR(s.f0, 1846.789, 1e-3);
    EXPECT_EQ(report_text(x0, s.f0, s.dt), "");
}

TEST(Search, PureSineOf440Hz) {
    std::vector<double> x0 = tone({{440, 1}}, 3);
    const scan c = coarse(x0);
    EXPECT_EQ(c.pick, 96);
    for (int k = 0; k <= last_step; ++k) {
        if (k != 96) {
            EXPECT_LT(c.cpt[k], 0.01 * c.cpt[96]) << k;
        }
    }
    const search_result s = fundamental_search(x0.data(), int(x0.size()), default_dt0, 0, pool2);
    EXPECT_NEAR(s.f0, 440, 440 * 1e-5);
    // dt is the last trial's: 1024 dt f0 lies in [1 - 1.27e-5, 1].
    const double q = 1024 * s.dt * s.f0;
    EXPECT_LE(q, 1.0);
    EXPECT_GE(q, 1 - 1.3e-5);

    const std::vector<std::string> lines = lines_of(report_text(x0, s.f0, s.dt));
    const std::vector<int> sizes = block_sizes(lines);
    EXPECT_NEAR(double(sizes.size()), 650, 10);
    for (int n : sizes) EXPECT_EQ(n, 10);
    for (const std::string& l : lines) {
        ASSERT_EQ(l.size(), std::size_t(report_line_width));
        const double k = number(l, harmonic);
        EXPECT_LT(std::fabs(number(l, frequency) - k * s.f0), 0.1);
        if (k == 1) {
            EXPECT_NEAR(number(l, ratio), 1, 0.01);
        }
    }
    // Window times advance by 2048 dt.
    EXPECT_NEAR(number(lines[10], t_first) - number(lines[0], t_first), 2048 * s.dt, 1e-6);
}

TEST(Search, PartialsAnOctaveBelowPassOnlyWhenStrongEnough) {
    const scan weak = coarse(tone({{220, 0.3}, {440, 1}, {660, 0.5}}, 3, 8000));
    const scan strong = coarse(tone({{220, 0.35}, {440, 1}, {660, 0.5}}, 3, 8000));
    EXPECT_EQ(weak.pick, 96);
    EXPECT_NEAR(weak.cpt[72] / weak.cpt[96], 0.18, 0.02);
    EXPECT_EQ(strong.pick, 72);
    EXPECT_NEAR(strong.cpt[72] / strong.cpt[96], 0.245, 0.02);
    std::vector<double> x0 = tone({{220, 0.35}, {440, 1}, {660, 0.5}}, 3, 8000);
    const search_result s = fundamental_search(x0.data(), int(x0.size()), default_dt0, 0, pool2);
    EXPECT_NEAR(s.f0, 220, 220 * 0.005);  // pulled a little by the strong partial above
}

TEST(Search, ShortInputsFindTheRightFundamental) {
    for (auto [freq, secs] : {std::pair{440.0, 1.0}, {261.63, 0.5}}) {
        std::vector<double> x0 = tone({{freq, 1}}, secs);
        const search_result s =
            fundamental_search(x0.data(), int(x0.size()), default_dt0, 0, pool2);
        EXPECT_NEAR(s.f0, freq, freq * 2e-4) << freq;
        const std::vector<std::string> lines = lines_of(report_text(x0, s.f0, s.dt));
        EXPECT_FALSE(lines.empty());
        for (int n : block_sizes(lines)) EXPECT_EQ(n, 10);
    }
}

}  // namespace
