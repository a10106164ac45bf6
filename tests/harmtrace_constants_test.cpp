// The constants that fix harmtrace's results, checked to the bit against the values its results
// were first computed with.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

#include "constants.h"

TEST(Constants, SinglePrecisionValuesWidenedToDouble) {
    auto bits = [](double v) { return std::bit_cast<std::uint64_t>(v); };
    EXPECT_EQ(bits(default_dt0), 0x3EF7C6F8C0000000u);  // 2.2675736545352265e-05
    EXPECT_EQ(bits(sampling_step(44100)), 0x3EF7C6F8C0000000u);
    EXPECT_EQ(coarse_tol, 9.99999974737875163555145263671875e-06);
    EXPECT_EQ(refine_tol, 9.999999974752427078783512115478515625e-07);
    EXPECT_EQ(harmonic_tol, 0.100000001490116119384765625);
    EXPECT_EQ(ln2_single, 0.693147182464599609375L);
    EXPECT_EQ(step_per_hertz, 0.0009765625L);
}
