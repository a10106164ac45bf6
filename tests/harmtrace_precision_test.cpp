// Every formula of the method to the last bit, on operands where computing it in plain double
// gives another result: so each change from extended to double precision fails here. The
// expected values come from an exact emulation of the extended format, tests/precision.py,
// which prints them and the plain double results beside them.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <memory>

#include "fft.h"
#include "full_transform.h"
#include "report.h"
#include "resample.h"
#include "search.h"
#include "trial.h"

namespace {

std::uint64_t bits(double v) {
    return std::bit_cast<std::uint64_t>(v);
}

TEST(Precision, SpectrumBinsAndTheStepOfATrial) {
    EXPECT_EQ(
        bits(bin_power(0x1.1b008c0c112f8p+13, -0x1.90d74a8c11c58p+14, 8192, 0x1.29e4129e4129ep-19)),
        bits(0x1.9ab9144913d63p-2));
    EXPECT_EQ(bits(bin_frequency(373, 8192, 0x1.9f3515209cf75p-18)), bits(0x1.cab85efaecd88p+12));
    EXPECT_EQ(bits(trial_step(0x1.c1f16061eda8fp+10)), bits(0x1.234edef934258p-21));
    EXPECT_EQ(bits(refine_frequency(-7, 1, 0x1.4f4c74f8918cap+8)), bits(0x1.48968afd0c920p+8));
    EXPECT_EQ(final_grid_points(1389715, default_dt0, 0x1.2a93298d0bb04p-13), 221341);
    EXPECT_EQ(bits(grid_time(4096, 0x1.6fb226ea65801p-17)), bits(0x1.6f9b2bc7f6d9cp-5));
}

TEST(Precision, EightPointTransformJoinsAndRotatesInExtendedPrecision) {
    const double inputs[3][8] = {
        {0x1.62a44ebfe98fap-7, -0x1.5affe33a20788p-16, -0x1.47247fb87f22cp-15,
         0x1.8a2e054f0882fp-28, 0x1.a3b400736b6e4p+28, 0x1.98a1e8b8ea95cp+29,
         -0x1.5c6b96519785ep-18, 0x1.352a6943a8c1cp+22},
        {-0x1.402f38a55e288p+8, 0x1.a329c3f16a342p+29, -0x1.615b6c8215e4bp-27,
         0x1.3eed8ac073daap-25, -0x1.788b9c4575dd9p-26, -0x1.6130680c2e420p+7,
         0x1.1f13f8d88ebdcp-20, 0x1.4f5d872af8672p-16},
        {-0x1.25fc16bb161b4p+2, 0x1.05e397b420877p-4, -0x1.57b1835bbf220p-16, 0x1.42521c8719218p+29,
         -0x1.520d2679d98c3p+7, -0x1.a11fa1217cd8dp+19, -0x1.1a662ffbb20ffp-13,
         0x1.471dd0dac0eaep-29}};
    const double want[3][8] = {
        {0x1.36731ee29ed35p+30, -0x1.f11726930e506p+29, 0x1.a3b4007397f12p+28,
         0x1.358c987f3cdaep+27, -0x1.92647aa34c244p+28, -0x1.22a79a34a0df5p+29,
         0x1.963793e663396p+29, -0x1.22a79a34a0bbdp+29},
        {0x1.a329b46b2ed9dp+29, 0x1.28649c4bfdc62p+29, -0x1.402f38b7815f8p+8,
         -0x1.2864b04ef1506p+29, -0x1.a329c86e22631p+29, 0x1.2864a64d777bep+29,
         0x1.a329be6ca8897p+29, 0x1.2864a64d777d0p+29},
        {0x1.41e9cf325f460p+29, -0x1.c7410f5436048p+28, -0x1.5b3cf2d9ec36ap+7,
         0x1.c74123e20a60cp+28, -0x1.41e9da0c48222p+29, 0x1.c8680d0a43f08p+28,
         -0x1.42ba646ede8efp+29, 0x1.c8680d0a43010p+28}};
    auto w = std::make_unique<spectrum_work>();
    const spectrum_plan plan = make_spectrum_plan(8);
    for (int c = 0; c < 3; ++c) {
        double x[8];
        std::copy(inputs[c], inputs[c] + 8, x);
        fft(plan, x, *w);
        for (int i = 0; i < 8; ++i) EXPECT_EQ(bits(x[i]), bits(want[c][i])) << c << " " << i;
    }
}

TEST(Precision, FloorExcessesTheirSumAndTheRatio) {
    // Powers of bins 6 .. 12 around a harmonic at bin 9, and the excess sum and ratio of its line.
    struct {
        double pt[7], excess, ratio;
    } cases[] = {
        {{0x1.74b690c2563c4p+17, 0x1.5acc196bdb90ep+3, 0x1.26c9db4af6854p-12, 0x1.38f435d54bc97p-18,
          0x1.ad8758db6d076p-16, 0x1.19a784b82de2ap+5, 0x1.2dcafa3f90d3ap-13},
         -0x1.179a30c99ac2cp+17,
         -0x1.1e894ae7ff3bap-35},
        {{0x1.f69d35586e628p-7, 0x1.5fb542412ae7bp+8, 0x1.d13bbb37c87ffp+6, 0x1.07f6b05f5afb6p+2,
          0x1.ff25f5b5b97e8p-14, 0x1.0f5ad9e29bd75p+11, 0x1.366c2b0b08309p+20},
         -0x1.d27fb0363852cp+19,
         -0x1.21b5c4c140222p-18},
        {{0x1.8fd834216fd6cp-19, 0x1.b2072f6f54f24p+3, 0x1.389d58bf699c8p+7, 0x1.e7b278aaab5dbp+19,
          0x1.ea8c7e5e1b178p+0, 0x1.283610b581c74p-10, 0x1.f572435249f8cp-4},
         0x1.e7c4f7554233bp+19,
         0x1.ffec9621f9a75p-1},
        {{0x1.1500a155afdacp+20, 0x1.d630b526303aap-8, 0x1.1fd3675f6ecb0p+0, 0x1.f2a10933a2b22p+18,
          0x1.5fe62e003c0ecp-12, 0x1.32b8caa29cbd6p-10, 0x1.35ea57cfee04fp-17},
         -0x1.4c609339ba470p+18,
         -0x1.800c74f223de2p+0},
    };
    for (const auto& c : cases) {
        double pt[13] = {}, frq[13] = {}, v[report_reals];
        std::copy(c.pt, c.pt + 7, pt + 6);
        line_values(pt, frq, 9, 0, 1e-6, v);
        EXPECT_EQ(bits(v[excess_sum - 1]), bits(c.excess)) << c.pt[0];
        EXPECT_EQ(bits(v[ratio - 1]), bits(c.ratio)) << c.pt[0];
    }
}

TEST(Precision, ThresholdsCompareExactQuotientsAndProducts) {
    // A score that is a fifth of the best only once rounded to double passes the pick.
    double cpt[coarse_steps] = {};
    cpt[10] = 0x1.21dc852d9b365p+17;
    EXPECT_EQ(pick_step(cpt, 0x1.6a53a6790203ep+19), 10);
    // Harmonic 5 lies within the tolerance of the exact 5 f0, not of 5 f0 rounded to double.
    double frq[window_points / 2 + 1] = {};
    const double f0 = 0x1.b473b17cf92cdp+8;
    for (int k = 1; k <= 4; ++k) frq[k + 1] = k * f0;
    frq[6] = 0x1.10cb82214fbc0p+11;
    int bins[harmonics + 1];
    EXPECT_EQ(harmonic_bins(frq, f0, bins), 5);
}

}  // namespace
