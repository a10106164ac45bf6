#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "full_transform.h"

namespace {

struct spectrum_run {
    std::unique_ptr<spectrum_work> w = std::make_unique<spectrum_work>();
    std::vector<double> pt = std::vector<double>(max_nfft / 2 + 1, -1);
    std::vector<double> frq = std::vector<double>(max_nfft / 2 + 1, -1);
    int run(std::vector<double>& x, double dt) {
        return spectrum(int(x.size()), dt, x.data(), pt.data(), frq.data(), *w);
    }
};

std::vector<double> ramp(int n) {
    std::vector<double> x(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) x[std::size_t(i)] = i + 1;
    return x;
}

TEST(Spectrum, SizesAreTheLargestPowerOfTwoNotAboveN) {
    EXPECT_EQ(spectrum_size(0).nfft, 1);
    EXPECT_EQ(spectrum_size(1).nfft, 1);
    EXPECT_EQ(spectrum_size(3).nfft, 2);
    EXPECT_EQ(spectrum_size(10).nfft, 8);
    EXPECT_EQ(spectrum_size(8192).nfft, 8192);
    EXPECT_EQ(spectrum_size(32768).nfft, 32768);
    EXPECT_EQ(spectrum_size(82768).nfft, 65536);
    for (int m = 1; m <= 21; ++m) {
        EXPECT_EQ(spectrum_size((1 << m) - 1).m, m - 1);
        EXPECT_EQ(spectrum_size(1 << m).m, m);
    }
    spectrum_sizes z = spectrum_size(4194303);
    EXPECT_EQ(z.nfft, 2097152);
    EXPECT_EQ(z.nf, 1048576);
    EXPECT_EQ(z.nq, 524288);
}

TEST(Spectrum, EightPointRampStageByStage) {
    auto w = std::make_unique<spectrum_work>();
    const spectrum_plan plan = make_spectrum_plan(8);
    std::vector<double> x = ramp(8);
    fft(plan, x.data(), *w, 1);  // stage 0 only
    EXPECT_EQ(x, (std::vector<double>{6, -4, 8, -4, 10, -4, 12, -4}));
    x = ramp(8);
    fft(plan, x.data(), *w, 2);  // stages 0 and 1
    EXPECT_EQ(x, (std::vector<double>{16, -4, -4, -4, 20, -4, -4, -4}));
    x = ramp(8);
    fft(plan, x.data(), *w);
    const double r2 = std::sqrt(2.0);
    const double want[8] = {36, -4, -4, -4, -4, -4 * (1 + r2), -4, -4 * (r2 - 1)};
    for (int i = 0; i < 8; ++i) EXPECT_NEAR(x[std::size_t(i)], want[i], 1e-13) << i;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(w->ftr[i], x[std::size_t(i)]);
        EXPECT_EQ(w->fti[i], x[std::size_t(i) + 4]);
    }

    spectrum_run s;
    x = ramp(8);
    EXPECT_EQ(s.run(x, 1), 4);
    EXPECT_NEAR(s.pt[2], 64 * (2 + r2) / 7, 1e-12);
    EXPECT_NEAR(s.pt[3], 64.0 / 7, 1e-12);
    EXPECT_NEAR(s.pt[4], 64 * (2 - r2) / 7, 1e-12);
    EXPECT_EQ(s.frq[2], 0.125);
    EXPECT_EQ(s.frq[3], 0.25);
    EXPECT_EQ(s.frq[4], 0.375);
    EXPECT_EQ(s.pt[1], -1);  // bin 1 is never delivered
    EXPECT_EQ(s.pt[5], -1);
}

TEST(Spectrum, TenPointsUseTheFirstEight) {
    spectrum_run s;
    std::vector<double> x = ramp(10);
    EXPECT_EQ(s.run(x, 0.5), 4);
    EXPECT_EQ(x[8], 9);
    EXPECT_EQ(x[9], 10);
    EXPECT_NEAR(s.pt[2], 15.60783343, 1e-8);
    EXPECT_NEAR(s.pt[3], 4.571428571, 1e-8);
    EXPECT_NEAR(s.pt[4], 2.677880858, 1e-8);
    EXPECT_EQ(s.frq[2], 0.25);
    EXPECT_EQ(s.frq[4], 0.75);
}

TEST(Spectrum, SignConventionImpulseAndConstant) {
    spectrum_run s;
    std::vector<double> x = {0, 1, 0, 0};
    EXPECT_EQ(s.run(x, 1.5), 2);
    EXPECT_EQ(x, (std::vector<double>{1, 0, -1, 1}));  // Im X(1) = +1: positive exponent
    EXPECT_EQ(s.pt[2], double((2 * 1.5L) / 3));

    x.assign(1024, 0);
    x[0] = 1;
    s.run(x, 0.25);
    for (int i = 2; i <= 512; ++i) EXPECT_EQ(s.pt[std::size_t(i)], double(0.5L / 1023));

    x.assign(4096, 3.5);
    s.run(x, 0.25);
    for (int i = 2; i <= 2048; ++i) EXPECT_EQ(s.pt[std::size_t(i)], 0.0);
}

TEST(Spectrum, SmallCountsAndStaleBinsAbove) {
    spectrum_run s;
    std::vector<double> x = ramp(64);
    s.run(x, 1);
    const double p20 = s.pt[20];
    for (int n : {0, 1}) {
        std::vector<double> y = {5};
        y.resize(std::size_t(n));
        EXPECT_EQ(spectrum(n, 1, y.data(), s.pt.data(), s.frq.data(), *s.w), 0);
    }
    for (int n : {2, 3}) {
        std::vector<double> y = ramp(n);
        EXPECT_EQ(spectrum(n, 1, y.data(), s.pt.data(), s.frq.data(), *s.w), 1);
        EXPECT_EQ(y[0], 3);
        EXPECT_EQ(y[1], -1);
    }
    x = ramp(16);
    s.run(x, 1);
    EXPECT_EQ(s.pt[20], p20);  // above this call's nf: left as the larger call left it
}

TEST(Spectrum, CoarseTrialSizeLeavesTheTailAndPutsBin65AtTheTrialFrequency) {
    spectrum_run s;
    std::vector<double> x(82768);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = std::sin(double(i) * 0.1);
    const double dt = double(0.0009765625L / 440);
    EXPECT_EQ(s.run(x, dt), 32768);
    EXPECT_EQ(x[65536], std::sin(65536 * 0.1));
    EXPECT_EQ(x[82767], std::sin(82767 * 0.1));
    EXPECT_EQ(s.frq[65], double(((1 / ext(dt)) * 64) / 65536));
    EXPECT_NEAR(s.frq[65], 440, 1e-9);
}

// A direct transform in long double is the yardstick for the fast one.
TEST(Spectrum, AgreesWithADirectTransform) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> u(-1000, 1000);
    for (int n : {16, 256, 2048}) {
        std::vector<double> x(static_cast<std::size_t>(n));
        for (double& v : x) v = u(rng);
        std::vector<double> y = x;
        spectrum_run s;
        s.run(y, 1);
        double worst = 0, scale = 0;
        for (int k = 1; k < n / 2; ++k) {
            long double re = 0, im = 0;
            for (int j = 0; j < n; ++j) {
                long double a = 2 * M_PIl * (long double)j * k / n;
                re += x[std::size_t(j)] * cosl(a);
                im += x[std::size_t(j)] * sinl(a);
            }
            long double want = 2 * (re * re + im * im) / (n - 1);
            worst = std::max(worst, double(fabsl(want - s.pt[std::size_t(k) + 1])));
            scale = std::max(scale, double(want));
        }
        EXPECT_LT(worst / scale, 1e-12) << n;
    }
}

}  // namespace
