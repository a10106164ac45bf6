// The decay fit and the harmonic sieve on inputs whose answer is known: a harmonic dying into a
// floor that the ratio does not see, behind a rising attack and a two-window dropout; and the
// peaks of a tone whose odd harmonics are far weaker than its even ones.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "decay.h"
#include "pitch.h"
#include "stiff_string.h"
#include "summary.h"

namespace {

TEST(DecayFit, KeepsToTheSpanWhereTheHarmonicStandsClear) {
    // Windows every 10 ms: 5 windows of attack, then a level falling at 40 dB/s from -20 dBFS
    // onto a floor at -100 dBFS that adds to it in phase (as the leakage of a stronger harmonic
    // does), so its ratio stays 1. Windows 30 and 31 drop out (ratio 5).
    const int n = 300;
    std::vector<double> t(n), level(n), ratio(n, 1.0);
    for (int w = 0; w < n; ++w) {
        t[w] = 0.01 * w;
        const double clean = w < 5 ? -20 - 3.0 * (5 - w) : -20 - 40 * (t[w] - 0.05);
        level[w] = 20 * std::log10(std::pow(10, clean / 20) + std::pow(10, -100 / 20.0));
    }
    ratio[30] = ratio[31] = 5;
    const decay_fit d = fit_decay(t.data(), level.data(), ratio.data(), n);
    ASSERT_TRUE(d.has_rate);
    EXPECT_EQ(d.first, 5);  // the attack is left out
    EXPECT_NEAR(d.first_db, -20, 0.01);
    EXPECT_NEAR(d.line.at(t[d.first]), -20, 0.2);        // the line starts where the level does
    EXPECT_NEAR(d.rate, -40, 0.4);                       // the floor does not bend it
    EXPECT_NEAR(level[d.last], -100 + floor_margin, 1);  // it stops short of the floor
    EXPECT_EQ(d.windows, d.last - d.first + 1 - 2);      // the dropout is bridged, not fitted

    // Fitted over every window, as it once was, the rate is bent by a third.
    double mt = 0, ml = 0, stt = 0, stl = 0;
    for (int w = 5; w < n; ++w) mt += t[w] / (n - 5), ml += level[w] / (n - 5);
    for (int w = 5; w < n; ++w)
        stt += (t[w] - mt) * (t[w] - mt), stl += (t[w] - mt) * (level[w] - ml);
    EXPECT_GT(stl / stt, -30);

    // A harmonic in the noise, clear only by chance, gets nothing.
    for (int w = 0; w < n; ++w) ratio[w] = w % 4 == 0 ? 1.0 : -3.0;
    EXPECT_EQ(fit_decay(t.data(), level.data(), ratio.data(), n).windows, 0);
}

TEST(HarmonicSieve, FindsAFundamentalWhoseOddHarmonicsAreWeak) {
    // A low E whose even harmonics are 10 dB over its odd ones, and 0.5 % sharp at the top.
    const double f = 82.4;
    std::vector<peak> peaks;
    for (int k = 1; k <= 12; ++k)
        peaks.push_back({k * f * (1 + 0.00004 * k * k), k % 2 == 0 ? 1.0 : 0.1});
    const fundamental_guess g = best_fundamental(peaks, 2 * f);
    EXPECT_NEAR(g.f, f, 0.01);  // refined on the fundamental, the lowest strong harmonic
    EXPECT_GT(g.score, 0.95);
    EXPECT_GT(g.score - harmonic_score(peaks, 2 * f), 0.2);  // an octave high loses clearly
    EXPECT_NEAR(harmonic_score(peaks, f / 2), 0.5, 0.01);    // an octave low fills half
    // A pure tone at 2 kHz is its own fundamental.
    EXPECT_NEAR(best_fundamental({{2000, 1}}).f, 2000, 1e-9);
    // No peaks, no note.
    EXPECT_EQ(best_fundamental({}).score, 0);
}

TEST(InharmonicityFit, RecoversBAndLeavesOutTheUnused) {
    const double b = 3.2e-4, f = 109.7;
    double freq[11] = {}, got_b = 0, got_f = 0;
    bool use[11] = {};
    for (int k = 1; k <= 10; ++k) freq[k] = k * f * std::sqrt(1 + b * k * k), use[k] = k != 4;
    freq[4] = 999;  // a stray peak, not used
    ASSERT_TRUE(fit_inharmonicity(freq, use, 10, got_b, got_f));
    EXPECT_NEAR(got_b / b, 1, 1e-9);
    EXPECT_NEAR(got_f / f, 1, 1e-12);
    bool one[11] = {};
    one[3] = true;
    EXPECT_FALSE(fit_inharmonicity(freq, one, 10, got_b, got_f));  // a line needs two points
}

TEST(InharmonicityFit, FromTheReportsOwnFrequenciesWindowByWindow) {
    // Partials of a string with B = 4e-4 whose pitch moves from window to window (as a report
    // that follows the pitch gives them), one window with a stray partial 3 and one with no
    // frequencies at all: the median ratio to partial 1 gives B. Exact harmonics give 0.
    const double b = 4e-4;
    report_table stiff, plain;
    for (int w = 0; w < 7; ++w) {
        const double f = 220 * (1 + 0.01 * std::sin(w));
        for (report_table* t : {&stiff, &plain}) {
            t->t.push_back(0.01 * w);
            t->t_last.push_back(0.01 * w + 0.036);
            for (int k = 1; k <= harmonics; ++k)
                t->frequency.push_back(w == 6        ? std::nan("")
                                       : t == &plain ? k * f
                                                     : k * f * std::sqrt(1 + b * k * k));
        }
    }
    stiff.frequency[stiff.at(2, 2)] *= 1.05;
    EXPECT_NEAR(report_inharmonicity(stiff, 44100) / b, 1, 1e-6);
    EXPECT_EQ(report_inharmonicity(plain, 44100), 0);
    // Partials at or above the Nyquist frequency are left out, and so is a negative frequency.
    stiff.frequency[stiff.at(0, 0)] = -220;
    EXPECT_NEAR(report_inharmonicity(stiff, 4000) / b, 1, 1e-6);
}

}  // namespace
