// The windowed report: how many windows a grid gives, silence, and grids beyond the capacity of
// the arrays the report was first written for.
#include <gtest/gtest.h>

#include <vector>

#include "report_text.h"
#include "search.h"
#include "signals.h"

namespace {

worker_pool pool1(1), pool2(2);

TEST(Report, WindowCountFollowsTheGridLength) {
    // With dt = dt0 the final grid has exactly nx0 points, and harmonic k lies on bin 8k + 1
    // when f0 is that bin's frequency / k.
    const double dt0 = default_dt0;
    const double f0 = bin_frequency(9, window_points, dt0);
    for (auto [nx0, windows] : {std::pair{8191, 0}, {8192, 1}, {10239, 1}, {10240, 2}}) {
        std::vector<double> x0 = tone({{f0, 1}}, nx0 / 44100.0 + 1e-9);
        x0.resize(std::size_t(nx0));
        EXPECT_EQ(final_grid_points(nx0, dt0, dt0), nx0);
        EXPECT_EQ(lines_of(report_text(x0, f0, dt0)).size(), std::size_t(10 * windows)) << nx0;
    }
}

TEST(Report, SilenceGivesFullBlocksOfZerosWithAnUndefinedRatio) {
    std::vector<double> x0(5000, 0);
    const search_result s = fundamental_search(x0.data(), int(x0.size()), default_dt0, 0, pool1);
    const std::vector<std::string> lines = lines_of(report_text(x0, s.f0, s.dt));
    ASSERT_EQ(lines.size() % 10, 0u);
    ASSERT_FALSE(lines.empty());
    for (const std::string& l : lines) {
        EXPECT_EQ(field(l, power), "    0.00000000E+00");
        EXPECT_EQ(field(l, excess_sum), "    0.00000000E+00");
        EXPECT_EQ(field(l, ratio), "         NaN");
    }
}

TEST(Report, GridBeyondTheCapacityIsAnalysedToTheEnd) {
    std::vector<double> x0 = tone({{440, 1}, {880, 0.5}}, 6);
    const double dt0 = default_dt0;
    const search_result s = fundamental_search(x0.data(), int(x0.size()), dt0, 0, pool2);
    const std::int64_t m = final_grid_points(int(x0.size()), dt0, s.dt);
    ASSERT_GT(m, 2097152);
    const std::vector<std::string> all = lines_of(report_text(x0, s.f0, s.dt, 2));
    EXPECT_EQ(std::int64_t(block_sizes(all).size()), (m - 8192) / 2048 + 1);
    // The windows inside the first 2097152 grid points are those of an input cut to fit that
    // grid, except the last few, which reach its end.
    std::vector<double> cut(x0.begin(), x0.begin() + std::ptrdiff_t(2097152 * s.dt / dt0));
    ASSERT_LE(final_grid_points(int(cut.size()), dt0, s.dt), 2097152);
    const std::vector<std::string> part = lines_of(report_text(cut, s.f0, s.dt, 2));
    ASSERT_GT(part.size(), 10000u);
    for (std::size_t i = 0; i + 100 < part.size(); ++i) ASSERT_EQ(part[i], all[i]) << i;
}

}  // namespace
