#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <vector>

#include "process.h"
#include "report.h"
#include "search.h"
#include "signals.h"

namespace {

constexpr double dt0 = default_dt0;

std::string report(const std::vector<double>& x0, double f0, double dt, bool fast = true,
                   int threads = 1) {
    auto out = std::make_unique<output_buffer>();
    std::string path = temp_path("report");
    FILE* f = std::fopen(path.c_str(), "w+");
    out->fd = fileno(f);
    harmonic_report(x0.data(), int(x0.size()), dt0, f0, dt, *out, fast, threads);
    EXPECT_TRUE(flush_output(*out));
    std::fclose(f);
    std::string s = read_file(path);
    std::remove(path.c_str());
    return s;
}

std::vector<std::string> lines_of(const std::string& s) {
    std::vector<std::string> v;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
}

// Sizes of the successive blocks: a block starts at each harmonic 1.
std::vector<int> block_sizes(const std::vector<std::string>& lines) {
    std::vector<int> sizes;
    for (const std::string& l : lines) {
        if (std::stoi(l.substr(0, 4)) == 1) sizes.push_back(0);
        ++sizes.back();
    }
    return sizes;
}

TEST(Search, PickTakesTheLowestStepAboveAFifthAndAtMostOneStepUp) {
    double cpt[145] = {};
    cpt[50] = 100;
    cpt[30] = 20;  // exactly a fifth: does not pass
    EXPECT_EQ(pick_step(cpt, 100), 50);
    cpt[30] = 20.000001;
    EXPECT_EQ(pick_step(cpt, 100), 30);
    cpt[31] = 20.000001;  // a tie keeps the lower step
    EXPECT_EQ(pick_step(cpt, 100), 30);
    cpt[31] = 30, cpt[32] = 40;  // rising: one step up only
    EXPECT_EQ(pick_step(cpt, 100), 31);

    double only_top[145] = {};
    only_top[144] = 9;
    EXPECT_EQ(pick_step(only_top, 9), 144);
    only_top[143] = 5;
    EXPECT_EQ(pick_step(only_top, 9), 144);
    double none[145] = {};
    EXPECT_EQ(pick_step(none, 0), 144);
    double nans[145];
    std::fill(nans, nans + 145, std::nan(""));
    EXPECT_EQ(pick_step(nans, 0), 144);
}

TEST(Search, SelectionTakesTheHighestOffsetReachingTheMaximum) {
    double store[31] = {};
    double* cpt = store + 15;
    cpt[-3] = 7, cpt[4] = 7, cpt[10] = 6;
    EXPECT_EQ(select_offset(cpt, 7, 99), 4);
    EXPECT_EQ(select_offset(cpt, 0, 99), 15);
    std::fill(store, store + 31, std::nan(""));
    EXPECT_EQ(select_offset(cpt, 0, 99), 99);
}

TEST(Search, EmptyInputEndsAt144AndOffset15EverywhereWithNoReport) {
    std::vector<double> x0;
    search_result s = fundamental_search(x0.data(), 0, dt0, 0);
    EXPECT_EQ(s.pick, 144);
    for (int k : s.kbest) EXPECT_EQ(k, 15);
    EXPECT_NEAR(s.f0, 1846.789, 0.001);
    EXPECT_EQ(report(x0, s.f0, s.dt), "");
}

TEST(Search, PureSineOf440Hz) {
    std::vector<double> x0 = tone({{440, 1}}, 3);
    search_result s = fundamental_search(x0.data(), int(x0.size()), dt0, 0);
    EXPECT_EQ(s.pick, 96);
    for (int k = 0; k <= 144; ++k)
        if (k != 96) {
            EXPECT_LT(s.coarse[k], 0.01 * s.coarse[96]) << k;
        }
    EXPECT_NEAR(s.f0, 440, 440 * 1e-5);
    // dt is the last trial's: 1024 dt f0 lies in [1 - 1.27e-5, 1].
    const double q = 1024 * s.dt * s.f0;
    EXPECT_LE(q, 1.0);
    EXPECT_GE(q, 1 - 1.3e-5);

    std::vector<std::string> lines = lines_of(report(x0, s.f0, s.dt));
    std::vector<int> sizes = block_sizes(lines);
    EXPECT_NEAR(double(sizes.size()), 650, 10);
    for (int n : sizes) EXPECT_EQ(n, 10);
    for (const std::string& l : lines) {
        ASSERT_EQ(l.size(), 98u);
        int k = std::stoi(l.substr(0, 4));
        EXPECT_LT(std::fabs(std::stod(l.substr(34, 16)) - k * s.f0), 0.1);
        if (k == 1) {
            EXPECT_NEAR(std::stod(l.substr(86, 12)), 1, 0.01);
        }
    }
    // Window times advance by 2048 dt.
    double t0 = std::stod(lines[0].substr(4, 10)), t1 = std::stod(lines[10].substr(4, 10));
    EXPECT_NEAR(t1 - t0, 2048 * s.dt, 1e-6);
}

TEST(Search, PartialsAnOctaveBelowPassOnlyWhenStrongEnough) {
    std::vector<double> weak = tone({{220, 0.3}, {440, 1}, {660, 0.5}}, 3, 8000);
    std::vector<double> strong = tone({{220, 0.35}, {440, 1}, {660, 0.5}}, 3, 8000);
    search_result a = fundamental_search(weak.data(), int(weak.size()), dt0, 0);
    search_result b = fundamental_search(strong.data(), int(strong.size()), dt0, 0);
    EXPECT_EQ(a.pick, 96);
    EXPECT_NEAR(a.coarse[72] / a.coarse[96], 0.18, 0.02);
    EXPECT_EQ(b.pick, 72);
    EXPECT_NEAR(b.coarse[72] / b.coarse[96], 0.245, 0.02);
    EXPECT_NEAR(b.f0, 220, 220 * 0.005);  // pulled a little by the strong partial above
}

TEST(Search, ShortInputsFindTheRightFundamental) {
    for (auto [freq, secs] : {std::pair{440.0, 1.0}, {261.63, 0.5}}) {
        std::vector<double> x0 = tone({{freq, 1}}, secs);
        search_result s = fundamental_search(x0.data(), int(x0.size()), dt0, 0);
        EXPECT_NEAR(s.f0, freq, freq * 2e-4) << freq;
        std::vector<std::string> lines = lines_of(report(x0, s.f0, s.dt));
        EXPECT_FALSE(lines.empty());
        for (int n : block_sizes(lines)) EXPECT_EQ(n, 10);
    }
}

TEST(Search, HighToneGivesShortBlocks) {
    std::vector<double> x0 = tone({{1501, 1}}, 1);
    search_result s = fundamental_search(x0.data(), int(x0.size()), dt0, 0);
    EXPECT_NEAR(s.f0, 1501, 0.1);
    std::vector<int> sizes = block_sizes(lines_of(report(x0, s.f0, s.dt)));
    ASSERT_FALSE(sizes.empty());
    // Harmonic k matches while k (1/(1024 dt) - f0) stays below the tolerance.
    const int found = std::min(10, int(0.1 / (1 / (1024 * s.dt) - s.f0)));
    for (int n : sizes) EXPECT_EQ(n, found);
    EXPECT_LT(found, 10);
}

TEST(Report, WindowCountFollowsTheGridLength) {
    // With dt = dt0 the final grid has exactly nx0 points, and harmonic k
    // lies on bin 8k + 1 when f0 is that bin's frequency / k.
    const double f0 = bin_frequency(9, window_points, dt0);
    for (auto [nx0, windows] : {std::pair{8191, 0}, {8192, 1}, {10239, 1}, {10240, 2}}) {
        std::vector<double> x0 = tone({{f0, 1}}, nx0 / 44100.0 + 1e-9);
        x0.resize(std::size_t(nx0));
        EXPECT_EQ(final_grid_points(nx0, dt0, dt0), nx0);
        std::vector<std::string> lines = lines_of(report(x0, f0, dt0));
        EXPECT_EQ(lines.size(), std::size_t(10 * windows)) << nx0;
    }
}

TEST(Report, SilenceGivesFullBlocksOfZerosWithAnUndefinedRatio) {
    std::vector<double> x0(5000, 0);
    search_result s = fundamental_search(x0.data(), int(x0.size()), dt0, 0);
    std::vector<std::string> lines = lines_of(report(x0, s.f0, s.dt));
    ASSERT_EQ(lines.size() % 10, 0u);
    ASSERT_FALSE(lines.empty());
    for (const std::string& l : lines) {
        EXPECT_EQ(l.substr(50, 36), "    0.00000000E+00    0.00000000E+00");
        EXPECT_EQ(l.substr(86), "         NaN");
    }
}

TEST(Report, GridBeyondTheCapacityIsAnalysedToTheEnd) {
    std::vector<double> x0 = tone({{440, 1}, {880, 0.5}}, 6);
    search_result s = fundamental_search(x0.data(), int(x0.size()), dt0, 0);
    const std::int64_t m = final_grid_points(int(x0.size()), dt0, s.dt);
    ASSERT_GT(m, 2097152);
    std::vector<std::string> all = lines_of(report(x0, s.f0, s.dt));
    EXPECT_EQ(std::int64_t(block_sizes(all).size()), (m - 8192) / 2048 + 1);
    // The windows inside the first 2097152 grid points are those of an input
    // cut to fit that grid, except the last few, which reach its end.
    std::vector<double> cut(x0.begin(), x0.begin() + 2097152 * s.dt / dt0);
    ASSERT_LE(final_grid_points(int(cut.size()), dt0, s.dt), 2097152);
    std::vector<std::string> part = lines_of(report(cut, s.f0, s.dt));
    ASSERT_GT(part.size(), 10000u);
    for (std::size_t i = 0; i + 100 < part.size(); ++i) ASSERT_EQ(part[i], all[i]) << i;
}

}  // namespace
