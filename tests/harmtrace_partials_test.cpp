// harmtrace --partials on a harmonic tone: the partials lie on the harmonics, B is next to
// nothing, and every line gives the power the plain report gives, to a few hundredths of a dB.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

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

}  // namespace
