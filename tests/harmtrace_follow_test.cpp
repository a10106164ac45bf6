// harmtrace --follow against notes whose pitch is known at every instant: each window's
// fundamental is the note's mean pitch over the window, and each harmonic reads the power it has
// in a steady note, however the pitch moves.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "process.h"
#include "report_text.h"
#include "signals.h"

namespace {

// Ten harmonics, amplitudes 1/k, in 16-bit units.
std::vector<double> samples_of(moving_note n, double seconds) {
    n.amps.clear();
    for (int k = 1; k <= 10; ++k) n.amps.push_back(1.0 / k);
    std::vector<double> x = moving_samples(n, seconds, 23000);
    for (double& v : x) v = std::round(v);
    return x;
}

// Power times frequency over k: the squared amplitude, to a constant, whatever the window's length.
double level_db(const std::string& line) {
    return 10 * std::log10(number(line, power) * number(line, frequency) / number(line, harmonic));
}

TEST(HarmtraceFollow, WindowsHoldTheNotesOwnPitchAndHarmonicsTheirSteadyPower) {
    const moving_note steady{220};
    const std::vector<moving_note> moving = {{220, 50, 5.5}, {220, 0, 0, -45, 0.04}};
    const std::string plain = as_text(samples_of(steady, 2));
    const process_result ref = run_program(HARMTRACE_EXE, {"--follow"}, plain);
    ASSERT_EQ(ref.status, 0) << ref.err;
    const std::vector<std::string> r = lines_of(ref.out);
    for (const moving_note& n : moving) {
        const std::string text = as_text(samples_of(n, 2));
        const process_result one = run_program(HARMTRACE_EXE, {"--follow", "-j", "1"}, text);
        const process_result two = run_program(HARMTRACE_EXE, {"--follow", "-j", "2"}, text);
        ASSERT_EQ(one.status, 0) << one.err;
        EXPECT_EQ(one.out, two.out) << "the threads changed the report";
        const std::vector<std::string> a = lines_of(one.out);
        ASSERT_EQ(a.size() % 10, 0u);
        ASSERT_GT(a.size(), 2000u);
        for (std::size_t i = 10; i + 10 < std::min(a.size(), r.size()); ++i) {
            const double k = number(a[i], harmonic);
            const std::string& first = a[i - i % 10];
            EXPECT_NEAR(number(a[i], frequency), k * number(first, frequency), 1e-6 * k) << a[i];
            // The window spans eight periods: from its first point to one step past its last.
            if (k == 1) {
                const double t0 = number(a[i], t_first), t1 = number(a[i], t_last);
                const double mean = periods(n, t0, t1) / (t1 - t0);
                EXPECT_NEAR(1200 * std::log2(number(a[i], frequency) / mean), 0, 1) << a[i];
            }
            EXPECT_NEAR(level_db(a[i]), level_db(r[i]), 0.15) << a[i] << "\n" << r[i];
        }
    }
}

TEST(HarmtraceFollow, PartialsFollowAtTheirOwnRatio) {
    // A stiff string's partials, held steady: followed, each partial lies where it is and reads
    // the power --partials reads.
    std::vector<partial> parts;
    for (int k = 1; k <= 10; ++k)
        parts.push_back({k * 196.0 * std::sqrt((1 + 4e-4 * k * k) / (1 + 4e-4)), 1.0 / k});
    const std::string text = as_text(tone(parts, 1.5));
    const process_result fixed = run_program(HARMTRACE_EXE, {"--partials"}, text);
    const process_result followed = run_program(HARMTRACE_EXE, {"--partials", "--follow"}, text);
    ASSERT_EQ(followed.status, 0) << followed.err;
    const std::vector<std::string> a = lines_of(fixed.out), b = lines_of(followed.out);
    ASSERT_GT(b.size(), 1000u);
    // The other partials leak into each one's bins, a ripple of a dB or two from window to
    // window that moves with the windows' times: the mean level is compared.
    double mean[11] = {}, mean_followed[11] = {};
    const std::size_t n = std::min(a.size(), b.size()) / 10 * 10;
    for (std::size_t i = 0; i < n; ++i) {
        const auto k = std::size_t(number(b[i], harmonic));
        EXPECT_NEAR(1200 * std::log2(number(b[i], frequency) / parts[k - 1].freq), 0, 0.5)
            << b[i];  // where --partials places it
        mean[k] += 10 * std::log10(number(a[i], power)) / double(n / 10);
        mean_followed[k] += 10 * std::log10(number(b[i], power)) / double(n / 10);
    }
    for (int k = 1; k <= 10; ++k) EXPECT_NEAR(mean_followed[k], mean[k], 0.05) << k;
}

}  // namespace
