#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "process.h"
#include "report_layout.h"
#include "signals.h"

namespace {

// A report field read the long way: asterisks are NaN, and a three-digit exponent without its
// letter gets one.
double field(const std::string& line, report_field_name name) {
    std::string f =
        line.substr(std::size_t(report_fields[name].first), std::size_t(report_fields[name].width));
    f.erase(0, f.find_first_not_of(' '));
    if (f.find_first_not_of('*') == std::string::npos) return std::nan("");
    const std::size_t sign = f.find_first_of("+-", 1);
    if (sign != std::string::npos && f[sign - 1] != 'E')
        f = f.substr(0, sign) + "E" + f.substr(sign);
    return std::strtod(f.c_str(), nullptr);
}

// The reals that the table should carry, in order: the first window's frequencies, then for
// each window the time on its second line and its powers. A short last window is kept when it
// is as long as the one before it (harmtrace's windows of one run are all alike).
std::vector<double> expected_reals(const std::string& report) {
    std::vector<std::string> lines;
    std::istringstream s(report);
    for (std::string line; std::getline(s, line);) lines.push_back(line);
    std::vector<double> reals;
    for (std::size_t i = 0, n, before = 0; i < lines.size(); i += n, before = n) {
        for (n = 1; n < 10 && i + n < lines.size() && field(lines[i + n], harmonic) != 1;) ++n;
        if (n < 10 && i + n == lines.size() && n != before) break;
        if (i == 0)
            for (std::size_t r = 0; r < n; ++r) reals.push_back(field(lines[r], frequency));
        reals.push_back(field(lines[i + (n > 1)], t_first));
        for (std::size_t r = 0; r < n; ++r) reals.push_back(field(lines[i + r], power));
    }
    return reals;
}

// The table's reals in order; every row must open with one blank, end with a comma and hold
// twelve items. Counts the rows with empty items.
std::vector<double> table_reals(const std::string& csv, std::size_t& short_rows) {
    std::vector<double> reals;
    std::istringstream s(csv);
    for (std::string line; std::getline(s, line);) {
        EXPECT_TRUE(line.size() > 1 && line[0] == ' ' && line.back() == ',') << line;
        EXPECT_EQ(std::count(line.begin(), line.end(), ','), 11) << line;
        short_rows += line.find(",,", 1) != std::string::npos;
        for (std::size_t p = 1, c; (c = line.find(',', p)) != std::string::npos; p = c + 1)
            if (c > p) reals.push_back(std::strtod(line.substr(p, c - p).c_str(), nullptr));
    }
    return reals;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](double x, double y) {
               return std::memcmp(&x, &y, sizeof x) == 0 || (std::isnan(x) && std::isnan(y));
           });
}

TEST(BlockcsvProgram, HarmtraceReportsConvertWithoutLoss) {
    // A pure 440 Hz sine (ratios of 10000 and more touch the field before them) and tones above
    // 787 Hz, where windows whose upper harmonics miss the tolerance come out short.
    std::size_t short_rows = 0;
    for (double f : {440.0, 1500.0, 1750.0}) {
        const process_result report = run_program(HARMTRACE_EXE, {}, as_text(tone({{f, 1}}, 3)));
        ASSERT_EQ(report.status, 0);
        const std::vector<double> want = expected_reals(report.out);
        ASSERT_GT(want.size(), 5000u);
        const process_result table = run_program(BLOCKCSV_EXE, {}, report.out);
        EXPECT_EQ(table.status, 0);
        EXPECT_EQ(table.err, "");
        EXPECT_TRUE(same_bits(table_reals(table.out, short_rows), want)) << f << " Hz";
    }
    EXPECT_GT(short_rows, 0u);
}

TEST(BlockcsvProgram, BadValueIsFatalAndEarlierRowsStay) {
    std::string block;
    for (int k = 1; k <= 10; ++k) block += std::to_string(k) + " 0 0 0 1 2 0 0\n";
    const std::string bad[2][2] = {{"one 0 0 0 1 2 0 0\n", "12: not an integer: \"one\""},
                                   {"\n1.5 0 0 0 1 2 0 0\n", "13: not an integer: \"1.5\""}};
    for (const auto& [line, message] : bad) {
        const process_result r = run_program(BLOCKCSV_EXE, {}, block + "1 0 0 0 1 2 0 0\n" + line);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, " ,1,1,1,1,1,1,1,1,1,1,\n 0,2,2,2,2,2,2,2,2,2,2,\n");
        EXPECT_EQ(r.err,
                  "blockcsv: fatal input error at statement 6 reading standard input, line " +
                      message + "\n");
    }
}

TEST(BlockcsvProgram, HelpAndVersionOrAUsageErrorForAnyOtherArgument) {
    expect_help_and_version(BLOCKCSV_EXE, {"x", "--help", "--version"},
                            "Usage: blockcsv [--fundamental] < report > table.csv\n",
                            "blockcsv (harmtrace toolkit) 1.0\n");
    // A file name is not read, nor is standard input.
    for (const char* arg : {"tone.txt", "-x"}) {
        const process_result r = run_program(BLOCKCSV_EXE, {arg}, std::string(10, '1') + "\n");
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, std::string("blockcsv: ") +
                             (arg[0] == '-' ? "unknown option " : "unexpected argument ") + arg +
                             "\nusage: blockcsv [--fundamental] < report > table.csv\n");
    }
}

TEST(BlockcsvProgram, FundamentalEndsEachRowWithItsWindowsFundamental) {
    // A followed report: each window has a fundamental of its own.
    const std::string wav = tonegen_file("blockcsv-vibrato.wav", {"vibrato", "--seconds", "1"});
    const std::string report =
        run_shell("'" RIFFCAT_EXE "' '" + wav + "' 2>/dev/null | '" HARMTRACE_EXE "' --follow").out;
    const process_result plain = run_program(BLOCKCSV_EXE, {}, report);
    const process_result with = run_program(BLOCKCSV_EXE, {"--fundamental"}, report);
    ASSERT_EQ(with.status, 0) << with.err;
    std::istringstream a(plain.out), b(with.out), lines(report);
    std::string row, longer, line;
    for (int n = 0; std::getline(a, row) && std::getline(b, longer); ++n) {
        ASSERT_EQ(longer.substr(0, row.size()), row);
        std::string last = longer.substr(row.size());
        if (n == 0) {
            EXPECT_EQ(last, "fundamental,");
            continue;
        }
        std::getline(lines, line);  // the window's harmonic 1, then the nine others
        EXPECT_EQ(std::stod(last), std::stod(line.substr(34, 16))) << longer;
        for (int k = 2; k <= 10; ++k) std::getline(lines, line);
    }
    EXPECT_GT(std::count(with.out.begin(), with.out.end(), '\n'), 100);
    std::remove(wav.c_str());
}

TEST(BlockcsvProgram, EmptyInputGivesNothing) {
    const process_result empty = run_program(BLOCKCSV_EXE, {}, "");
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out + empty.err, "");
}

}  // namespace
