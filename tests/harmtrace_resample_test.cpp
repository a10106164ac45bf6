#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "input.h"
#include "resample.h"

namespace {

constexpr double dt0 = default_dt0;

struct Grid {
    std::vector<double> t, x;
    explicit Grid(int n) : t(std::size_t(n), -7), x(std::size_t(n), std::nan("")) {}
};

std::vector<double> samples(int n) {
    std::vector<double> v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) v[std::size_t(i)] = (i * 37) % 101 - 50;
    return v;
}

TEST(Resample, StepOfTheInputCopiesSamplesAndZeroesTheLastInterval) {
    std::vector<double> x0 = samples(100);
    Grid g(120);
    EXPECT_EQ(resample(x0.data(), 100, dt0, dt0, 120, g.t.data(), g.x.data()), 120);
    for (int r = 1; r <= 99; ++r) {
        EXPECT_EQ(g.t[std::size_t(r - 1)], input_time(r, dt0));
        EXPECT_EQ(g.x[std::size_t(r - 1)], x0[std::size_t(r - 1)]) << r;
    }
    for (int r = 100; r <= 120; ++r) EXPECT_EQ(g.x[std::size_t(r - 1)], 0) << r;
}

TEST(Resample, HalfStepInterpolatesBetweenNeighbours) {
    std::vector<double> x0 = samples(50);
    Grid g(97);
    resample(x0.data(), 50, dt0, dt0 / 2, 97, g.t.data(), g.x.data());
    for (int r = 1; r <= 97; r += 2) EXPECT_EQ(g.x[std::size_t(r - 1)], x0[std::size_t(r / 2)]);
    for (int r = 2; r <= 97; r += 2) {
        double mid = (x0[std::size_t(r / 2 - 1)] + x0[std::size_t(r / 2)]) / 2;
        EXPECT_NEAR(g.x[std::size_t(r - 1)], mid, 1e-9) << r;
    }
}

TEST(Resample, TinyInputsWriteZerosButStillFillTimes) {
    const double x0[2] = {5, 9};
    for (int nx0 : {0, 1, 2}) {
        Grid g(10);
        resample(x0, nx0, dt0, dt0 / 3, 10, g.t.data(), g.x.data());
        for (int r = 1; r <= 10; ++r) {
            EXPECT_EQ(g.t[std::size_t(r - 1)], double(ext(r - 1) * (dt0 / 3)));
            double want = nx0 == 2 && r == 1 ? 5 : 0;
            EXPECT_EQ(g.x[std::size_t(r - 1)], want) << nx0 << " " << r;
        }
    }
}

TEST(Resample, ShorterCallLeavesTheRestAndNothingStaleEntersAGrid) {
    std::vector<double> x0 = samples(30);
    Grid g(200);
    resample(x0.data(), 30, dt0, dt0 / 4, 200, g.t.data(), g.x.data());
    Grid before = g;
    resample(x0.data(), 30, dt0, dt0 / 2, 20, g.t.data(), g.x.data());
    for (std::size_t r = 20; r < 200; ++r) EXPECT_EQ(g.x[r], before.x[r]);
    // Points beyond the input are 0 whatever the array held.
    std::fill(g.x.begin(), g.x.end(), 1e300);
    resample(x0.data(), 30, dt0, dt0 * 0.7, 200, g.t.data(), g.x.data());
    for (std::size_t r = 0; r < 200; ++r) {
        EXPECT_LT(std::fabs(g.x[r]), 51.0);
        if (g.t[r] > input_time(29, dt0)) {
            EXPECT_EQ(g.x[r], 0);
        }
    }
}

TEST(Resample, PointOnAnInputTimeIsCopiedNotInterpolated) {
    // With a huge neighbour, interpolation would not give the sample back exactly.
    std::vector<double> x0 = {1e300, 0.1, -1e300, 3};
    Grid g(7);
    resample(x0.data(), 4, dt0, dt0 / 2, 7, g.t.data(), g.x.data());
    EXPECT_EQ(g.x[2], 0.1);
    EXPECT_EQ(g.x[4], -1e300);
}

TEST(Resample, StreamingInPiecesGivesTheSameGrid) {
    std::vector<double> x0 = samples(3000);
    const double dt = 0.0009765625 / 441.3;
    Grid whole(40000), parts(40000);
    resample(x0.data(), 3000, dt0, dt, 40000, whole.t.data(), whole.x.data());
    resample_cursor cur;
    for (int first = 1; first <= 40000; first += 2048) {
        int last = std::min(first + 2047, 40000);
        resample_points(x0.data(), 3000, dt0, dt, first, last, cur, parts.t.data() + first - 1,
                        parts.x.data() + first - 1);
    }
    EXPECT_EQ(whole.t, parts.t);
    EXPECT_EQ(whole.x, parts.x);
}

}  // namespace

namespace {

TEST(Resample, InputTimesAreExactProducts) {
    // The stored double holds the exact product for the step of any rate.
    for (int rate : {1000, 7919, 44100, 48000, 96000, 1000000}) {
        const double step = sampling_step(rate);
        for (int i = 1; i <= 2097153; ++i)
            ASSERT_EQ(ext(input_time(i, step)), ext(i - 1) * step) << rate << " " << i;
    }
    EXPECT_EQ(input_time(2097152, dt0), 2097151 * 2.2675736545352265e-05);
}

}  // namespace

namespace {

TEST(Resample, AnyPointCanBeMadeWithoutThoseBeforeIt) {
    std::vector<double> x0 = samples(500);
    for (int nx0 : {0, 1, 2, 3, 500}) {
        for (double step : {dt0, sampling_step(96000), sampling_step(1000)}) {
            for (double dt : {step, step / 3, step * 1.7, 0.0009765625 / 440}) {
                Grid whole(3000);
                resample(x0.data(), nx0, step, dt, 3000, whole.t.data(), whole.x.data());
                for (std::int64_t first : {1, 2, 7, 100, 999, 2990}) {
                    Grid part(3000);
                    resample_cursor cur = cursor_for(nx0, step, dt, first);
                    resample_points(x0.data(), nx0, step, dt, first, 3000, cur, nullptr,
                                    part.x.data());
                    for (std::int64_t r = first; r <= 3000; ++r)
                        ASSERT_EQ(part.x[std::size_t(r - first)], whole.x[std::size_t(r - 1)])
                            << nx0 << " " << step << " " << dt << " " << first << " " << r;
                }
            }
        }
    }
}

}  // namespace
