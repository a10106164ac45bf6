#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <memory>
#include <string>

#include "report_columns.h"
#include "report_line.h"
#include "table.h"

namespace {

struct converted {
    table_result r;
    std::string out;
    std::string next_line;  // the first line left unread
};

// Runs the table on text through the smallest output buffer; out_fd, when given, takes the rows
// instead of c.out.
converted convert(const std::string& text, int out_fd = -1) {
    record_reader in;
    open_reader(in, text);
    converted c;
    std::unique_ptr<output> out =
        out_fd >= 0 ? std::make_unique<output>(out_fd, 0) : std::make_unique<output>(c.out, 0);
    c.r = write_table(in, *out);
    std::string_view line;
    bool complete;
    if (peek_line(in, line, complete)) c.next_line = line;
    return c;
}

// A report line as harmtrace writes it, with the window's times t, t + 1, t + 2.
std::string report(int k, double t, double frq, double pt, double ratio = 1) {
    const double v[report_reals] = {t, t + 1, t + 2, frq, pt, pt / ratio, ratio};
    char line[report_line_width + 1];
    return std::string(line, std::size_t(format_report_line(line, k, v)));
}

// Free-form lines k t 0 0 frq pt 0 0 for harmonics 1..n of a window at time t.
std::string free_block(double t, int n, double f = 100) {
    std::string s;
    for (int k = 1; k <= n; ++k)
        s += std::to_string(k) + " " + std::to_string(t) + " 0 0 " + std::to_string(k * f) + " " +
             std::to_string(k + t) + " 0 0\n";
    return s;
}

TEST(BlockcsvTable, FreeFormLinesAreGroupedByCounting) {
    EXPECT_EQ(convert(free_block(0, 9)).out, "");
    // After a window of 9 lines every block mixes two windows (harmonic 1 of a free-form line
    // starts nothing); the header comes from the first block, and the last 4 lines are dropped.
    const converted c = convert(free_block(0, 10) + free_block(0.5, 9, 7) + free_block(1, 10, 7) +
                                free_block(2, 5, 7));
    EXPECT_EQ(c.r.end, table_end::input_ended);
    EXPECT_EQ(c.out,
              " ,100,200,300,400,500,600,700,800,900,1000,\n"
              " 0,1,2,3,4,5,6,7,8,9,10,\n"
              " 0.5,1.5,2.5,3.5,4.5,5.5,6.5,7.5,8.5,9.5,2,\n"
              " 1,3,4,5,6,7,8,9,10,11,3,\n");
}

TEST(BlockcsvTable, FreeFormRecords) {
    // Eight values over two lines; extra values dropped; an empty item and a slash keep the
    // row's value, 0 in the first block and the same line's value of the block before later.
    const std::string block1 =
        "1 0.25 0 0\n 10 1e-3 9 9\n"
        "2,0.25,0,0,20,2.5D-1,0,0,99,99\n"
        "3 0.25 0 0 30 / 77\n"
        "4 0.25 0 0,,,0 0\n" +
        free_block(0.25, 10).substr(free_block(0.25, 4).size());
    const std::string block2 = "1 0.5 0 0 11 /\n2 , , , , , 7 /\n";
    const std::string rest = free_block(0.5, 10).substr(free_block(0.5, 2).size());
    EXPECT_EQ(convert(block1 + block2 + rest).out,
              " ,10,20,30,0,500,600,700,800,900,1000,\n"
              " 0.25,0.001,0.25,0,0,5.25,6.25,7.25,8.25,9.25,10.25,\n"
              " 0.25,0.001,7,3.5,4.5,5.5,6.5,7.5,8.5,9.5,10.5,\n");
}

TEST(BlockcsvTable, ReportLayoutIsReadByColumns) {
    std::int32_t k;
    double v[7];
    // Touching fields, asterisks, a three-digit exponent, non-finite words, CR LF.
    const std::string lines[] = {
        report(10, 123.25, 1e8, -1.5e-120, -1000.5),
        report(2, 1000, INFINITY, NAN, 12345.5),
        "   3  0.000000  0.009089  0.018180    440.00190616   0.90860947D+006    0.90860947+306"
        "    1.000000",
    };
    ASSERT_TRUE(read_report_columns(lines[2], k, v));
    EXPECT_EQ(v[5], 0.90860947e306);

    // Any other layout is left to the free-form reader: a line of another length, a blank inside
    // a field, a field that is no number, a harmonic number that is not an integer.
    const std::string& good = lines[2];
    const auto with = [&](report_field_name f, const std::string& text) {
        std::string s = good;
        s.replace(std::size_t(report_fields[f].first), text.size(), text);
        return s;
    };
    for (const std::string& other :
         {good + " ", good.substr(1), with(harmonic, "    "), with(power, "   0.9 860947"),
          good.substr(0, report_line_width - 1) + "\t", with(ratio, " 1,000000000"),
          with(power, "   0.90860947E+999"), with(harmonic, " 1.0")})
        EXPECT_FALSE(read_report_columns(other, k, v)) << other;

    std::string block =
        report(1, 0, 440, 5) + lines[1].substr(0, report_line_width) + "\r\n" + lines[0];
    for (int i = 0; i < 7; ++i) block += lines[2] + "\n";
    const converted c = convert(block);
    EXPECT_EQ(c.r.rows, 1);
    EXPECT_EQ(c.out.substr(0, 33), " ,440,Infinity,NaN,440.00190616,4");
    EXPECT_EQ(c.out.substr(c.out.find('\n'), 33), "\n NaN,5,NaN,-1.5e-120,908609.47,9");
    EXPECT_EQ(convert(free_block(0, 9) + " " + lines[0]).r.read, read_status::bad_value);
}

TEST(BlockcsvTable, ReportLineOfHarmonic1OpensABlock) {
    // Windows of 7 lines, one row each; the last one is cut off by the end of input.
    std::string text;
    for (double t : {0.5, 1.5}) {
        for (int k = 1; k <= 7; ++k) text += report(k, t, 1500 * k, t + k);
    }
    // A window of one line, then one of 6 lines (5 of them free-form) ended by harmonic 1.
    text += report(1, 2.5, 1500, 7) + report(1, 3, 100, 4) + free_block(3, 5);
    for (int k = 1; k <= 7; ++k) text += report(k, 5, 1500 * k, 1);
    const converted c = convert(text);
    EXPECT_EQ(c.out,
              " ,1500,3000,4500,6000,7500,9000,10500,,,,\n"
              " 0.5,1.5,2.5,3.5,4.5,5.5,6.5,7.5,,,,\n"
              " 1.5,2.5,3.5,4.5,5.5,6.5,7.5,8.5,,,,\n"
              " 2.5,7,,,,,,,,,,\n"
              " 3,4,4,5,6,7,8,,,,,\n");
}

TEST(BlockcsvTable, StopsAfterTheBlockLimitWithoutReadingOn) {
    std::string text;
    for (int i = 0; i < max_blocks * block_lines; ++i) text += "/\n";
    const converted c = convert(text + "not a record\n");
    EXPECT_EQ(c.r.end, table_end::block_limit);
    EXPECT_EQ(c.r.rows, max_blocks);
    EXPECT_EQ(c.next_line, "not a record");
    EXPECT_EQ(c.out.size(), 24u * (max_blocks + 1) - 1);
}

TEST(BlockcsvTable, FailedRowWriteStopsWithStatement9) {
    // A pipe that nobody reads takes the header and some rows, then refuses.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    std::string text;
    for (int i = 0; i < 200000; ++i) text += "/\n";
    const converted c = convert(text, fds[1]);
    close(fds[0]);
    close(fds[1]);
    EXPECT_EQ(c.r.end, table_end::write_failed);
    EXPECT_EQ(c.r.statement, row_statement);
    EXPECT_LT(c.r.rows, 20000);
}

}  // namespace

namespace {

TEST(BlockcsvTable, LastShortBlockAsLongAsTheOnesBeforeIsKept) {
    std::string text;
    for (double t : {0.5, 1.5, 2.5})
        for (int k = 1; k <= 8; ++k) text += report(k, t, 1750 * k, t + k);
    EXPECT_EQ(convert(text).r.rows, 3);
    // One line short of the blocks before it: cut off, dropped.
    EXPECT_EQ(convert(text.substr(0, text.size() - report_line_width - 1)).r.rows, 2);
    // A last block of free-form lines gives no such evidence.
    std::string mixed = text.substr(0, text.size() - 8 * (report_line_width + 1));
    EXPECT_EQ(convert(mixed + free_block(2.5, 8)).r.rows, 2);
}

}  // namespace
