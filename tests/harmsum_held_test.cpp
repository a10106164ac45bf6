// The held pitch, the vibrato and the attack read from a followed report's window times, against
// pitch curves known in closed form: the windows start every two periods of the note's own
// pitch, at times written to the microsecond as the report writes them.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <vector>

#include "held.h"

namespace {

// The times at which a note of pitch f(t) completes 0, 2, 4, ... periods, to the microsecond.
std::vector<double> window_starts(const std::function<double(double)>& f, double seconds) {
    std::vector<double> t(1, 0.0);
    const double h = 1e-5;
    double phase = 0;
    for (double s = 0; s < seconds; s += h) {
        const double next = phase + h * (f(s) + 4 * f(s + h / 2) + f(s + h)) / 6;
        if (std::floor(next / 2) > std::floor(phase / 2))  // crosses 2w periods within the step
            t.push_back(
                std::round(1e6 * (s + h * (2 * std::floor(next / 2) - phase) / (next - phase))) /
                1e6);
        phase = next;
    }
    return t;
}

pitch_reading read(const std::function<double(double)>& f, double seconds) {
    const std::vector<double> t = window_starts(f, seconds);
    return read_pitch(t, std::vector<bool>(t.size(), true));
}

double cents(double a, double b) {
    return 1200 * std::log2(a / b);
}

TEST(HeldPitch, VibratoBendAndDriftAgainstTheirCurves) {
    const double pi = std::numbers::pi;
    const pitch_reading v =
        read([&](double t) { return 220 * std::exp2(30 * std::sin(2 * pi * 5 * t) / 1200); }, 3);
    EXPECT_TRUE(v.vibrato);
    EXPECT_NEAR(v.vibrato_hz, 5, 0.05);
    EXPECT_NEAR(v.vibrato_cents, 30, 1);
    EXPECT_NEAR(cents(v.held_hz, 220), 0, 0.5);
    EXPECT_FALSE(v.bent);

    const pitch_reading b =
        read([](double t) { return 330 * std::exp2(-40 * std::exp(-t / 0.04) / 1200); }, 2);
    EXPECT_FALSE(b.vibrato);
    EXPECT_TRUE(b.bent);
    EXPECT_LT(b.attack_cents, -20);
    EXPECT_NEAR(b.settled_s, 0.04 * std::log(40 / 5.0), 0.02);  // within 5 cents from there on
    EXPECT_NEAR(cents(b.held_hz, 330), 0, 0.5);

    // A drift of 3 cents a second, held at its median: no vibrato, no bend.
    const pitch_reading d = read([](double t) { return 440 * std::exp2(3 * t / 1200); }, 3);
    EXPECT_FALSE(d.vibrato);
    EXPECT_FALSE(d.bent);
    EXPECT_NEAR(cents(d.held_hz, 440), 3 * 1.5, 0.5);  // its middle
}

}  // namespace
