// harmtrace --partials on a harmonic tone: the partials lie on the harmonics, B is next to
// nothing, and every line gives the power the plain report gives, to a few hundredths of a dB;
// on short and sparse inputs, a string or the harmonics, never a NaN.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "partials.h"
#include "process.h"
#include "report_layout.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> v;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
}

double value(const std::string& line, report_field_name f) {
    return std::stod(
        line.substr(std::size_t(report_fields[f].first), std::size_t(report_fields[f].width)));
}

TEST(HarmtracePartials, AHarmonicToneMeasuresAsWithoutThem) {
    const std::string wav =
        tonegen_file("partials-soft.wav",
                     {"additive", "--freq", "261.63", "--amps",
                      "1,0.1,0.05,0.03,0.02,0.015,0.01,0.008,0.006,0.005", "--seconds", "2"});
    const std::string samples = run_shell("'" RIFFCAT_EXE "' '" + wav + "' 2>/dev/null").out;
    const process_result plain = run_program(HARMTRACE_EXE, {}, samples);
    const process_result partials = run_program(HARMTRACE_EXE, {"--partials"}, samples);
    ASSERT_EQ(partials.status, 0) << partials.err;
    double b = 1;
    ASSERT_EQ(std::sscanf(partials.err.c_str(), "harmtrace: inharmonicity B = %lf (10 of 10", &b),
              1)
        << partials.err;
    EXPECT_LT(std::abs(b), 1e-5);
    const std::vector<std::string> a = lines_of(plain.out), p = lines_of(partials.out);
    ASSERT_EQ(a.size(), p.size());
    ASSERT_GT(a.size(), 1000u);
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].substr(0, 34), p[i].substr(0, 34)) << i;  // harmonic and times
        const double k = value(p[i], harmonic);
        EXPECT_NEAR(value(p[i], frequency) / (k * value(p[i - i % 10], frequency)), 1, 1e-4) << i;
        EXPECT_NEAR(10 * std::log10(value(p[i], power) / value(a[i], power)), 0, 0.05) << p[i];
    }
    std::remove(wav.c_str());
}

TEST(HarmtracePartials, ShortAndSparseInputsGiveAStringOrHarmonicsNeverNaN) {
    // A few sines at random frequencies, few samples: the fit may find no string. Whatever it
    // finds, B lies within [0, 0.01], every partial is finite, positive and above the one below
    // it, and without a string every partial lies at k f0.
    std::mt19937 random(5);
    std::uniform_real_distribution<double> unit(0, 1);
    int strings = 0;
    for (int run = 0; run < 300; ++run) {
        const int n = 4096 + int(unit(random) * 40000);
        const double f0 = 27.5 * std::exp2(6 * unit(random));
        std::vector<double> x(std::size_t(n), 0.0);
        const int sines = 1 + int(unit(random) * 6);
        for (int s = 0; s < sines; ++s) {
            const double f = s == 0 ? f0 : f0 * (1 + 9 * unit(random)), a = unit(random);
            for (int i = 0; i < n; ++i) x[std::size_t(i)] += a * std::sin(2 * M_PI * f * i / 44100);
        }
        const partial_set p = locate_partials(x.data(), n, default_dt0, f0);
        ASSERT_TRUE(p.b >= 0 && p.b <= 0.01) << run << ": " << p.b;
        for (int k = 1; k <= harmonics; ++k) {
            ASSERT_TRUE(std::isfinite(p.freq[k]) && p.freq[k] > 0) << run << " " << k;
            if (k > 1) {
                ASSERT_GT(p.freq[k], p.freq[k - 1]) << run << " " << k;
            }
            if (p.b == 0) {
                ASSERT_EQ(p.freq[k], k * f0) << run;
            }
        }
        strings += p.b > 0;
    }
    EXPECT_LT(strings, 300);

    // Through the program: four sines of 0.2 s, measured at once, every frequency a number.
    std::string samples;
    for (int i = 0; i < 8820; ++i) {
        double v = 0;
        for (double f : {220.0, 437.0, 663.0, 871.0})
            v += 5000 * std::sin(2 * M_PI * f * i / 44100);
        samples += std::to_string(v) + "\n";
    }
    const auto start = std::chrono::steady_clock::now();
    const process_result r = run_program(HARMTRACE_EXE, {"--partials"}, samples);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    ASSERT_EQ(r.status, 0) << r.err;
    double b = -1;
    ASSERT_EQ(std::sscanf(r.err.c_str(), "harmtrace: inharmonicity B = %lf", &b), 1) << r.err;
    EXPECT_GE(b, 0);
    const std::vector<std::string> lines = lines_of(r.out);
    ASSERT_FALSE(lines.empty());
    for (const std::string& line : lines) {
        const double f = value(line, frequency);
        EXPECT_TRUE(std::isfinite(f) && f > 0) << line;
    }
}

}  // namespace
