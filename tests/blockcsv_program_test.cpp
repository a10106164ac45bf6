#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "process.h"
#include "signals.h"

namespace {

const double nan = std::nan("");

// A report field read the long way: asterisks are NaN, and a three-digit exponent without its
// letter gets one.
double field(const std::string& line, std::size_t first, std::size_t width) {
    std::string f = line.substr(first, width);
    f.erase(0, f.find_first_not_of(' '));
    if (f.find_first_not_of('*') == std::string::npos) return nan;
    const std::size_t sign = f.find_first_of("+-", 1);
    if (sign != std::string::npos && f[sign - 1] != 'E')
        f = f.substr(0, sign) + "E" + f.substr(sign);
    return std::strtod(f.c_str(), nullptr);
}

// The rows that harmtrace's report should give: each window (opened by harmonic 1) a row with
// the first real of its second line and its powers, the header from the first window's
// frequencies, an item per harmonic found. The last window is dropped when it is short.
std::vector<std::vector<double>> expected_rows(const std::string& report) {
    std::vector<std::vector<double>> rows;
    std::vector<std::string> lines;
    std::istringstream s(report);
    for (std::string line; std::getline(s, line);) lines.push_back(line);
    for (std::size_t i = 0; i < lines.size();) {
        std::size_t n = 1;
        while (n < 10 && i + n < lines.size() && std::atoi(lines[i + n].substr(0, 4).c_str()) != 1)
            ++n;
        if (n < 10 && i + n == lines.size()) break;
        if (rows.empty()) {
            rows.push_back({nan});
            for (std::size_t r = 0; r < n; ++r) rows[0].push_back(field(lines[i + r], 34, 16));
        }
        rows.push_back({field(lines[i + (n > 1 ? 1 : 0)], 4, 10)});
        for (std::size_t r = 0; r < n; ++r) rows.back().push_back(field(lines[i + r], 50, 18));
        i += n;
    }
    return rows;
}

// The table's rows; every line must open with one blank, end with a comma and hold 12 items.
std::vector<std::vector<double>> table_rows(const std::string& csv) {
    std::vector<std::vector<double>> rows;
    std::istringstream s(csv);
    for (std::string line; std::getline(s, line);) {
        EXPECT_EQ(line.substr(0, 1), " ");
        EXPECT_EQ(line.back(), ',');
        std::vector<double> row;
        std::size_t items = 0;
        for (std::size_t p = 1, c; (c = line.find(',', p)) != std::string::npos; p = c + 1) {
            ++items;
            if (c > p) row.push_back(std::strtod(line.substr(p, c - p).c_str(), nullptr));
            if (c == p && rows.empty() && items == 1) row.push_back(nan);
        }
        EXPECT_EQ(items, 11u) << line;
        rows.push_back(row);
    }
    return rows;
}

// Same doubles, bit for bit, NaN equal to NaN.
bool same(const std::vector<std::vector<double>>& a, const std::vector<std::vector<double>>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].size() != b[i].size()) return false;
        for (std::size_t j = 0; j < a[i].size(); ++j)
            if (std::memcmp(&a[i][j], &b[i][j], sizeof(double)) != 0 &&
                !(std::isnan(a[i][j]) && std::isnan(b[i][j])))
                return false;
    }
    return true;
}

TEST(BlockcsvProgram, HarmtraceReportsConvertWithoutLoss) {
    // A pure 440 Hz sine (ratios of 10000 and more touch the field before them) and tones above
    // 787 Hz, where windows whose upper harmonics miss the tolerance come out short.
    std::size_t short_rows = 0;
    for (double f : {440.0, 1500.0, 1750.0}) {
        const process_result report = run_program(HARMTRACE_EXE, {}, as_text(tone({{f, 1}}, 3)));
        ASSERT_EQ(report.status, 0);
        const std::vector<std::vector<double>> want = expected_rows(report.out);
        ASSERT_GT(want.size(), 500u);
        const process_result table = run_program(BLOCKCSV_EXE, {"ignored"}, report.out);
        EXPECT_EQ(table.status, 0);
        EXPECT_EQ(table.err, "");
        EXPECT_TRUE(same(table_rows(table.out), want)) << f << " Hz";
        for (const auto& row : want) short_rows += row.size() < 11;
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

TEST(BlockcsvProgram, EmptyInputAndFailedHeaderWrite) {
    const process_result empty = run_program(BLOCKCSV_EXE, {}, "");
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out + empty.err, "");

    const process_result full = run_program(
        BLOCKCSV_EXE, {}, std::string(10, '\n') + "/\n/\n/\n/\n/\n/\n/\n/\n/\n/\n", "/dev/full");
    EXPECT_EQ(full.status, 2);
    EXPECT_NE(full.err.find("blockcsv: error writing standard output at statement 8"),
              std::string::npos)
        << full.err;
}

}  // namespace
