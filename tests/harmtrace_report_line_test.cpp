#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <string>

#include "report_line.h"

namespace {

const double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();

// Writes one field between guard bytes and fails if a guard was touched.
template <class Write>
std::string field(int w, Write write) {
    std::string buf(w + 2, '#');
    write(buf.data() + 1);
    EXPECT_EQ(buf.front(), '#');
    EXPECT_EQ(buf.back(), '#');
    return buf.substr(1, w);
}
std::string i(int w, long long v) {
    return field(w, [&](char* p) { format_i(p, w, v); });
}
std::string f(int w, int d, double v) {
    return field(w, [&](char* p) { format_f(p, w, d, v); });
}
std::string e(int w, int d, double v) {
    return field(w, [&](char* p) { format_e(p, w, d, v); });
}

TEST(ReportLine, IntegerField) {
    EXPECT_EQ(i(4, 7), "   7");
    EXPECT_EQ(i(4, 0), "   0");
    EXPECT_EQ(i(4, -999), "-999");
    EXPECT_EQ(i(4, 9999), "9999");
    EXPECT_EQ(i(4, 10000), "****");
    EXPECT_EQ(i(4, -1000), "****");
    EXPECT_EQ(i(20, LLONG_MIN), "-9223372036854775808");
    EXPECT_EQ(i(19, LLONG_MIN), std::string(19, '*'));
}

TEST(ReportLine, FixedRoundsTheBinaryValueTiesToEven) {
    EXPECT_EQ(f(10, 6, 0.0078125), "  0.007812");  // exact tie, down to even
    EXPECT_EQ(f(10, 6, 0.0234375), "  0.023438");  // exact tie, up to even
    EXPECT_EQ(f(10, 6, 1.0000005), "  1.000001");  // stored just above the tie
    EXPECT_EQ(f(10, 6, 0.1234565), "  0.123456");  // stored just below it
    EXPECT_EQ(f(10, 6, 9.9999996), " 10.000000");  // carry into a new digit
    EXPECT_EQ(f(5, 0, 2.5), "   2.");
    EXPECT_EQ(f(5, 0, 3.5), "   4.");
}

TEST(ReportLine, FixedSignLeadingZeroAndWidth) {
    EXPECT_EQ(f(10, 6, 0.25), "  0.250000");
    EXPECT_EQ(f(10, 6, -0.25), " -0.250000");
    EXPECT_EQ(f(10, 6, -0.0), " -0.000000");
    EXPECT_EQ(f(10, 6, -4e-7), " -0.000000");
    EXPECT_EQ(f(10, 6, 100.0), "100.000000");  // fills the field exactly
    EXPECT_EQ(f(12, 6, 10000.0), "10000.000000");
    EXPECT_EQ(f(12, 6, -1000.0), "-1000.000000");
    EXPECT_EQ(f(10, 6, 999.9999996), "**********");  // rounds up past the width
    EXPECT_EQ(f(10, 6, -100.0), "**********");
    EXPECT_EQ(f(16, 8, 1e300), std::string(16, '*'));
    EXPECT_EQ(f(8, 6, -0.5), "********");
}

TEST(ReportLine, ExponentForm) {
    EXPECT_EQ(e(18, 8, 123.45678), "    0.12345678E+03");
    EXPECT_EQ(e(18, 8, -123.45678), "   -0.12345678E+03");
    EXPECT_EQ(e(18, 8, 0.0), "    0.00000000E+00");
    EXPECT_EQ(e(18, 8, -0.0), "   -0.00000000E+00");
    EXPECT_EQ(e(18, 8, 0.5), "    0.50000000E+00");
    EXPECT_EQ(e(18, 8, 9.99999999e5), "    0.10000000E+07");  // carry raises the exponent
    EXPECT_EQ(e(18, 8, 123456785.0), "    0.12345678E+09");   // exact ties to even
    EXPECT_EQ(e(18, 8, 123456795.0), "    0.12345680E+09");
    EXPECT_EQ(e(18, 8, 1.00000025), "    0.10000003E+01");  // stored above the tie
    EXPECT_EQ(e(18, 8, 2.00000025), "    0.20000002E+01");  // stored below it
    EXPECT_EQ(e(7, 1, 5.0), "0.5E+01");
    EXPECT_EQ(e(6, 1, 5.0), "******");
    EXPECT_EQ(e(14, 8, 123.45678), "0.12345678E+03");
    EXPECT_EQ(e(14, 8, -123.45678), "**************");
}

TEST(ReportLine, ThreeDigitExponentDropsTheLetter) {
    EXPECT_EQ(e(18, 8, 9.99999994e98), "    0.99999999E+99");
    EXPECT_EQ(e(18, 8, 1e99), "    0.10000000+100");
    EXPECT_EQ(e(18, 8, 1.5e-120), "    0.15000000-119");
    EXPECT_EQ(e(18, 8, -1.5e-120), "   -0.15000000-119");
    EXPECT_EQ(e(18, 8, 4.9406564584124654e-324), "    0.49406565-323");
    EXPECT_EQ(e(18, 8, -1.7976931348623157e308), "   -0.17976931+309");
}

TEST(ReportLine, NonFiniteValues) {
    EXPECT_EQ(f(12, 6, nan), "         NaN");
    EXPECT_EQ(f(12, 6, -nan), "         NaN");
    EXPECT_EQ(f(12, 6, inf), "    Infinity");
    EXPECT_EQ(f(12, 6, -inf), "   -Infinity");
    EXPECT_EQ(e(18, 8, -inf), "         -Infinity");
    EXPECT_EQ(f(8, 6, inf), "Infinity");
    EXPECT_EQ(f(8, 6, -inf), "    -Inf");
    EXPECT_EQ(f(3, 1, inf), "Inf");
    EXPECT_EQ(f(3, 1, -inf), "***");
    EXPECT_EQ(e(2, 1, nan), "**");
}

std::string line(int k, const double (&v)[7]) {
    std::string buf(report_line_width + 2, '#');
    EXPECT_EQ(format_report_line(buf.data(), k, v), report_line_width + 1);
    EXPECT_EQ(buf.back(), '#');
    buf.pop_back();
    return buf;
}

TEST(ReportLine, WholeLine) {
    EXPECT_EQ(line(3, {1.2345, 1.3274, 1.4203, 1320.0003, 123.45678, -2.5e-7, 0.9876543}),
              "   3  1.234500  1.327400  1.420300   1320.00030000    0.12345678E+03"
              "   -0.25000000E-06    0.987654\n");
    // A silent window: zero powers and an undefined ratio.
    EXPECT_EQ(line(10, {0.0, 0.0929, 0.1858, 4400.0, 0.0, 0.0, nan}),
              "  10  0.000000  0.092900  0.185800   4400.00000000    0.00000000E+00"
              "    0.00000000E+00         NaN\n");
    // Values that fill their fields touch the field before them.
    EXPECT_EQ(line(1, {100.0, 100.5, 101.0, 440.0, 1.0, 1e-4, 10000.0}),
              "   1100.000000100.500000101.000000    440.00000000    0.10000000E+01"
              "    0.10000000E-0310000.000000\n");
}

}  // namespace
