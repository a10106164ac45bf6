#include "record_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "process.h"

namespace {

// Reads records of the given kinds ('i' or 'r') until the input ends and
// returns them as text, one record per line, with the final status.
std::string read_all(const std::string& text, const std::string& kinds, read_status* last = nullptr,
                     std::size_t capacity = 0) {
    record_reader in;
    int fds[1] = {-1};
    if (capacity == 0) {
        open_reader(in, text);
    } else {
        // Through a file read with a small buffer, to cross block boundaries.
        std::string path = temp_path("reader");
        write_file(path, text);
        fds[0] = open(path.c_str(), O_RDONLY);
        unlink(path.c_str());
        open_reader(in, fds[0], capacity);
    }
    std::vector<record_value> v(kinds.size());
    for (std::size_t k = 0; k < kinds.size(); ++k) v[k].integer = kinds[k] == 'i';
    std::string out;
    read_status st;
    while ((st = read_record(in, v.data(), int(v.size()))) == read_status::ok) {
        for (auto& x : v) {
            char b[64];
            if (x.integer)
                std::snprintf(b, sizeof b, "%d ", x.i);
            else
                std::snprintf(b, sizeof b, "%.17g ", x.r);
            out += b;
        }
        out += "\n";
    }
    if (last) *last = st;
    if (fds[0] >= 0) close(fds[0]);
    return out;
}

TEST(RecordReader, SeparatorsBlankLinesAndLineEnds) {
    EXPECT_EQ(read_all("1\n2\t7\n  3 , 8\r\n\n   \n\t\r\n4", "r"), "1 \n2 \n3 \n4 \n");
    EXPECT_EQ(read_all("1 2 3\n4,5,6\n", "rr"), "1 2 \n4 5 \n");
    EXPECT_EQ(read_all("", "r"), "");
    EXPECT_EQ(read_all("\n\n \n", "r"), "");
}

TEST(RecordReader, ReadGoesOnOverLinesAndDropsTheRestOfTheLastOne) {
    EXPECT_EQ(read_all("1 2\n3 4 5\n6 7 8\n", "iri"), "1 2 3 \n6 7 8 \n");
    EXPECT_EQ(read_all("1\n\n2\n", "rr"), "1 2 \n");
}

TEST(RecordReader, EmptyItemsAndSlashLeaveValuesUnchanged) {
    record_reader in;
    open_reader(in, ",5\n1,,3\n7 / 8 9\n/\n 9 ,\n, , 4\n");
    record_value v[3];
    v[0].r = 10, v[1].r = 11, v[2].r = 12;
    ASSERT_EQ(read_record(in, v, 3), read_status::ok);  // ",5" then "1" from the next line
    EXPECT_EQ(v[0].r, 10);
    EXPECT_EQ(v[1].r, 5);
    EXPECT_EQ(v[2].r, 1);
    ASSERT_EQ(read_record(in, v, 3), read_status::ok);  // "7 /"
    EXPECT_EQ(v[0].r, 7);
    EXPECT_EQ(v[1].r, 5);
    EXPECT_EQ(v[2].r, 1);
    ASSERT_EQ(read_record(in, v, 1), read_status::ok);  // "/" alone
    EXPECT_EQ(v[0].r, 7);
    ASSERT_EQ(read_record(in, v, 3),
              read_status::ok);  // "9 ," then ", , 4": a comma opening a line is empty
    EXPECT_EQ(v[0].r, 9);
    EXPECT_EQ(v[1].r, 5);
    EXPECT_EQ(v[2].r, 1);
    EXPECT_EQ(read_record(in, v, 1), read_status::end_of_input);
}

TEST(RecordReader, NumberForms) {
    EXPECT_EQ(read_all("+5\n-0.5\n.25\n3.\n1e3\n1E-2\n2d2\n-2D+1\n0.15000000-119\n1.5+3\n", "r"),
              "5 \n-0.5 \n0.25 \n3 \n1000 \n0.01 \n200 \n-20 \n1.5000000000000001e-120 \n1500 \n");
    std::string s = read_all("nan\n-Inf\nINFINITY\n1e-400\n", "r");
    EXPECT_EQ(s, "nan \n-inf \ninf \n0 \n");
    EXPECT_EQ(read_all("-2147483648 2147483647\n+7 -0\n", "ii"), "-2147483648 2147483647 \n7 0 \n");
    // 17 significant digits round-trip exactly.
    EXPECT_EQ(read_all("0.10000000000000001\n", "r"), "0.10000000000000001 \n");
}

TEST(RecordReader, MalformedItemsAreFatal) {
    struct Case {
        const char* text;
        const char* kinds;
        const char* reason;
    } cases[] = {
        {"1\nabc\n", "r", "line 2: not a number: \"abc\""},
        {"1.5\n", "i", "not an integer: \"1.5\""},
        {"1e3\n", "i", "not an integer"},
        {"2147483648\n", "i", "integer out of range"},
        {"1e999\n", "r", "real out of range"},
        {"1.2.3\n", "r", "not a number"},
        {"1e\n", "r", "not a number"},
        {".\n", "r", "not a number"},
        {"-\n", "r", "not a number"},
        {"3*1.0\n", "r", "not a number"},
    };
    for (const Case& c : cases) {
        record_reader in;
        open_reader(in, c.text);
        record_value v[2];
        v[0].integer = c.kinds[0] == 'i';
        read_status st;
        while ((st = read_record(in, v, 1)) == read_status::ok) {
        }
        EXPECT_EQ(st, read_status::bad_value) << c.text;
        std::string m = describe_read_error(in, st, "harmtrace", 20);
        EXPECT_NE(m.find("harmtrace: fatal input error at statement 20 reading standard input"),
                  std::string::npos);
        EXPECT_NE(m.find(c.reason), std::string::npos) << m;
    }
}

TEST(RecordReader, BinaryJunkIsReportedEscapedAndCut) {
    record_reader in;
    open_reader(in, std::string("\x01\x00zz\"", 5) + std::string(500, 'q') + "\n");
    record_value v;
    ASSERT_EQ(read_record(in, &v, 1), read_status::bad_value);
    std::string m = describe_read_error(in, read_status::bad_value, "blockcsv", 6);
    EXPECT_NE(m.find("\"\\x01\\x00zz\\x22qqq"), std::string::npos) << m;
    EXPECT_NE(m.find("...\"\n"), std::string::npos);
    EXPECT_LT(m.size(), 200u);
}

TEST(RecordReader, CarriageReturnOnlyBeforeLineFeed) {
    EXPECT_EQ(read_all("1\r\n2\r", "r"), "1 \n2 \n");
    read_status st;
    read_all("1\r2\n", "r", &st);
    EXPECT_EQ(st, read_status::bad_value);
}

TEST(RecordReader, SmallBuffersGiveTheSameRecords) {
    std::string text;
    for (int k = 0; k < 3000; ++k)
        text += std::to_string(k) + (k % 7 ? "\t" : ",,") + std::to_string(-k) + "  \r\n" +
                (k % 5 ? "" : "\n  \n");
    std::string whole = read_all(text, "ir");
    for (std::size_t cap : {1, 2, 3, 7, 64}) EXPECT_EQ(read_all(text, "ir", nullptr, cap), whole);
}

TEST(RecordReader, HugeLinesAreSkippedOrRejectedWithoutHolding) {
    std::string tail(5 << 20, ' ');
    EXPECT_EQ(read_all("1" + tail + "x\n2\n", "r", nullptr, 4096), "1 \n2 \n");
    EXPECT_EQ(read_all(tail + "\n3\n", "r", nullptr, 4096), "3 \n");
    read_status st;
    read_all(std::string(5 << 20, '7') + "\n", "r", &st, 4096);
    EXPECT_EQ(st, read_status::bad_value);
}

TEST(RecordReader, PeekLineSkipsBlankLinesAndLeavesTheLineUnread) {
    record_reader in;
    open_reader(in, "\n  \t\r\nabc def\r\n12\n");
    std::string_view line;
    bool complete;
    ASSERT_TRUE(peek_line(in, line, complete));
    EXPECT_EQ(line, "abc def");
    EXPECT_TRUE(complete);
    skip_line(in);
    ASSERT_TRUE(peek_line(in, line, complete));
    EXPECT_EQ(line, "12");
    record_value v;
    ASSERT_EQ(read_record(in, &v, 1), read_status::ok);
    EXPECT_EQ(v.r, 12);
    EXPECT_FALSE(peek_line(in, line, complete));
}

TEST(RecordReader, PeekLineLongerThanTheBufferComesBackCut) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string text = std::string(100, 'z') + "\n5\n";
    ASSERT_EQ(write(fds[1], text.data(), text.size()), ssize_t(text.size()));
    close(fds[1]);
    record_reader in;
    open_reader(in, fds[0], 16);
    std::string_view line;
    bool complete;
    ASSERT_TRUE(peek_line(in, line, complete));
    EXPECT_FALSE(complete);
    EXPECT_EQ(line, std::string(16, 'z'));
    skip_line(in);
    record_value v;
    ASSERT_EQ(read_record(in, &v, 1), read_status::ok);
    EXPECT_EQ(v.r, 5);
    close(fds[0]);
}

}  // namespace
