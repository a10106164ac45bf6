// The envelope's stages on window levels known in closed form, without harmtrace between: the
// sum of a prompt sound and an aftersound, a break between two rates, a held part and its release
// whose straddling windows are left out, and a single decay in noise that keeps one stage.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "envelope.h"

namespace {

// Windows of 8 periods of 220 Hz every 2 periods, over `seconds`; each window's level the mean
// power of `level` (dB) over it, plus gaussian noise of `sd` dB; every window stands clear.
struct windows {
    std::vector<double> start, centre, level, ratio;
    int n = 0;
};

windows make(const std::function<double(double)>& level, double seconds, double sd = 0) {
    windows w;
    const double period = 1 / 220.0;
    std::mt19937 gen(5);
    std::normal_distribution<double> noise(0, sd);
    for (double t = 0; t + 8 * period <= seconds; t += 2 * period) {
        double p = 0;
        for (int i = 0; i < 32; ++i) p += std::pow(10, level(t + (i + 0.5) * period / 4) / 10) / 32;
        w.start.push_back(t);
        w.centre.push_back(t + 4 * period);
        w.level.push_back(10 * std::log10(p) + noise(gen));
        w.ratio.push_back(1);
    }
    w.n = int(w.start.size());
    return w;
}

harmonic_envelope fit(const windows& w, note_kind kind) {
    note_shape s;
    s.kind = kind;
    return fit_envelope(w.start.data(), w.centre.data(), w.level.data(), w.ratio.data(), w.n, s);
}

TEST(Envelope, TwoSoundsABreakAHeldPartAndASingleDecay) {
    // A prompt sound at -30 dB/s and an aftersound at -3 dB/s, 27 dB under it, of one frequency a
    // quarter of a turn apart (powers adding): the knee lies 1 s in.
    const windows sum = make(
        [](double t) {
            return 10 *
                   std::log10(std::pow(10, (-10 - 30 * t) / 10) + std::pow(10, (-37 - 3 * t) / 10));
        },
        3, 0.05);
    const harmonic_envelope a = fit(sum, note_kind::decaying);
    EXPECT_NEAR(a.main.rate(), -30, 0.6);
    EXPECT_NEAR(a.after.rate(), -3, 0.1);
    EXPECT_NEAR(a.knee, 1, 0.02);
    EXPECT_TRUE(a.main.has_rate && a.after.has_rate);
    EXPECT_LE(std::abs(a.main.rate() + 30), a.main.ci95);
    EXPECT_LE(std::abs(a.after.rate() + 3), a.after.ci95);

    // A break: -20 dB/s to 1.2 s, then -5 dB/s (a sampled note's loop under its envelope).
    const windows brk =
        make([](double t) { return t < 1.2 ? -10 - 20 * t : -34 - 5 * (t - 1.2); }, 3, 0.05);
    const harmonic_envelope b = fit(brk, note_kind::decaying);
    EXPECT_NEAR(b.main.rate(), -20, 0.3);
    EXPECT_NEAR(b.after.rate(), -5, 0.2);
    EXPECT_NEAR(b.knee, 1.2, 0.02);

    // Held at -12 dBFS with a swing of ±1 dB at 0.5 Hz, released at 2 s at -50 dB/s: the windows
    // that straddle the release's start are in neither stage.
    const windows held = make(
        [](double t) {
            return -12 + std::sin(3.14159 * std::min(t, 2.0)) - 50 * std::max(0.0, t - 2);
        },
        3);
    const harmonic_envelope h = fit(held, note_kind::held);
    EXPECT_NEAR(h.released, 2, 0.03);  // the held part's line, not its level at 2 s, meets it
    EXPECT_NEAR(h.release.rate(), -50, 0.5);
    EXPECT_LE(held.start[std::size_t(h.main.last)] + 8 / 220.0, h.released);
    EXPECT_GE(held.start[std::size_t(h.release.first)], h.released);
    EXPECT_NEAR(h.held_db, -12, 0.2);
    EXPECT_NEAR(h.held_sd, std::sqrt(0.5), 0.1);  // a sine's standard deviation over its periods
    EXPECT_FALSE(h.after.found());

    // One decay in ripple of 0.5 dB: one stage, the rate within its interval.
    const windows one = make([](double t) { return -10 - 15 * t; }, 3, 0.5);
    const harmonic_envelope d = fit(one, note_kind::decaying);
    EXPECT_FALSE(d.after.found() || d.release.found());
    EXPECT_LE(std::abs(d.main.rate() + 15), d.main.ci95);
}

}  // namespace
