// Limits of the input end to end: the sample cap, lines of tens of megabytes, and bytes that are
// no text (NUL, invalid UTF-8) in what harmtrace and blockcsv read and in what riffcat opens.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "process.h"
#include "report_line.h"
#include "riffcat_wav.h"
#include "signals.h"

using namespace std::string_literals;

namespace {

// The first n lines of text.
std::string first_lines(const std::string& text, std::size_t n) {
    std::size_t pos = 0;
    for (std::size_t k = 0; k < n; ++k) pos = text.find('\n', pos) + 1;
    return text.substr(0, pos);
}

// Runs "exe < input_path" and returns the result with the child's peak resident memory in KiB.
process_result run_measured(const std::string& exe, const std::string& input_path, long& peak_kb) {
    const std::string rss = temp_path("rss");
    process_result r = run_shell("/usr/bin/time -o " + rss + " -f %M " + exe + " < " + input_path);
    // time puts a line about a failed status before the number.
    const std::string t = read_file(rss);
    const std::size_t last = t.size() < 2 ? std::string::npos : t.find_last_of('\n', t.size() - 2);
    peak_kb = std::atol(t.c_str() + (last == std::string::npos ? 0 : last + 1));
    EXPECT_GT(peak_kb, 0) << t;
    std::remove(rss.c_str());
    return r;
}

// n report lines of harmonics 1..10 over and over, as blockcsv reads them.
std::string report_lines(int n) {
    std::string s;
    char line[report_line_width + 1];
    for (int i = 0; i < n; ++i) {
        const int k = i % 10 + 1;
        const double t = 0.046 * (i / 10);
        const double v[7] = {t, t + 0.023, t + 0.046, 220.5 * k, 1e6 / k, 2e6 / k, 0.5};
        s.append(line, std::size_t(format_report_line(line, k, v)));
    }
    return s;
}

TEST(LimitsInput, SamplesAfterTheCapAreNeverRead) {
    const std::string path = temp_path("cap.txt");
    const std::string text = first_lines(as_text(tone({{97, 1}, {194, 0.4}}, 48)), 2097152);
    write_file(path, text);
    const process_result alone = run_shell(HARMTRACE_EXE " < " + path);
    ASSERT_EQ(alone.status, 0);
    ASSERT_GT(alone.out.size(), 0u);

    // An endless surplus of lines that would be errors if read: the run still ends, and the
    // report is that of the first 2097152 samples.
    const process_result endless =
        run_shell("{ cat " + path + "; env --default-signal=PIPE yes abc; } | " + HARMTRACE_EXE);
    EXPECT_EQ(endless.status, 0);
    EXPECT_EQ(endless.err, "");
    EXPECT_TRUE(endless.out == alone.out);

    // The 2097152nd line is still read.
    write_file(path, first_lines(text, 2097151) + "abc\n");
    const process_result last = run_shell(HARMTRACE_EXE " < " + path);
    EXPECT_EQ(last.status, 2);
    EXPECT_EQ(last.out, "");
    EXPECT_EQ(last.err,
              "harmtrace: fatal input error at statement 20 reading standard input, line 2097152: "
              "not a number: \"abc\"\n");
    std::remove(path.c_str());
}

TEST(LimitsInput, LinesOfTensOfMegabytesTakeNoMoreMemory) {
    const std::string clean = as_text(tone({{440, 1}, {880, 0.5}}, 0.5));
    const std::size_t first_end = clean.find('\n');
    const std::size_t second_end = clean.find('\n', first_end + 1);
    const std::string first = clean.substr(0, first_end);
    const std::string second = clean.substr(first_end + 1, second_end - first_end - 1);
    const std::string path = temp_path("long.txt");
    long base_kb = 0, peak_kb = 0;

    write_file(path, clean);
    const process_result want = run_measured(HARMTRACE_EXE, path, base_kb);
    ASSERT_EQ(want.status, 0);
    ASSERT_GT(want.out.size(), 0u);

    // A 30 MB blank line, a sample after 10 MB of tabs, a sample followed by 10 MB of text.
    write_file(path, std::string(30 << 20, ' ') + "\n" + std::string(10 << 20, '\t') + first +
                         "\n" + second + " " + std::string(10 << 20, 'q') + "\n" +
                         clean.substr(second_end + 1));
    process_result r = run_measured(HARMTRACE_EXE, path, peak_kb);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out == want.out);
    EXPECT_LT(peak_kb, base_kb + 16384);

    // A 30 MB number: a short message, nothing read into memory as a whole.
    write_file(path, "1\n2\n" + std::string(30 << 20, '7') + "\n3\n");
    r = run_measured(HARMTRACE_EXE, path, peak_kb);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "harmtrace: fatal input error at statement 20 reading standard input, line 3: "
              "number too long: \"" +
                  std::string(40, '7') + "...\"\n");
    EXPECT_LT(peak_kb, base_kb + 16384);

    // blockcsv: the same blank line between report lines, and a 30 MB number.
    const std::string report = report_lines(30);
    write_file(path, report);
    const process_result table = run_measured(BLOCKCSV_EXE, path, base_kb);
    ASSERT_EQ(table.status, 0);
    write_file(path, first_lines(report, 4) + std::string(30 << 20, ' ') + "\n" +
                         report.substr(first_lines(report, 4).size()));
    r = run_measured(BLOCKCSV_EXE, path, peak_kb);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, table.out);
    EXPECT_LT(peak_kb, base_kb + 16384);
    write_file(path, first_lines(report, 12) + std::string(30 << 20, '7') + "\n");
    r = run_measured(BLOCKCSV_EXE, path, peak_kb);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, first_lines(table.out, 2));  // the rows of the first block stay
    EXPECT_EQ(r.err,
              "blockcsv: fatal input error at statement 6 reading standard input, line 13: "
              "number too long: \"" +
                  std::string(40, '7') + "...\"\n");
    EXPECT_LT(peak_kb, base_kb + 16384);
    std::remove(path.c_str());
}

TEST(LimitsInput, NulAndInvalidUtf8AreMalformedNumbersShownEscaped) {
    // The text, the line of the bad item, the item as the message shows it, and blockcsv's
    // reason when it reads the same text after one block (where the item may be due as the
    // integer).
    struct bad {
        std::string text;
        int line;
        std::string item, blockcsv_reason;
    } cases[] = {
        {"1\n2\n\0\x01 3\n"s, 3, "\\x00\\x01", "not a number"},
        {"5\n6\0\n"s, 2, "6\\x00", "not a number"},
        {"1\n\xff\xfe\xc3(\n", 2, "\\xff\\xfe\\xc3(", "not a number"},
        {"\xef\xbb\xbf"s + "12\n", 1, "\\xef\\xbb\\xbf12", "not an integer"},  // byte order mark
    };
    const std::string block = report_lines(10);
    const std::string block_table = run_program(BLOCKCSV_EXE, {}, block).out;
    for (const bad& c : cases) {
        const std::string item = ": \"" + c.item + "\"\n";
        process_result r = run_program(HARMTRACE_EXE, {}, c.text);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err,
                  "harmtrace: fatal input error at statement 20 reading standard input, line " +
                      std::to_string(c.line) + ": not a number" + item);

        r = run_program(BLOCKCSV_EXE, {}, block + c.text);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, block_table);
        EXPECT_EQ(r.err,
                  "blockcsv: fatal input error at statement 6 reading standard input, line " +
                      std::to_string(c.line + 10) + ": " + c.blockcsv_reason + item);
    }

    // After the value, on the rest of its line, such bytes are skipped like any other text.
    const std::string clean = as_text(tone({{660, 1}}, 0.3));
    std::string noisy;
    for (std::size_t a = 0, b; (b = clean.find('\n', a)) != std::string::npos; a = b + 1)
        noisy += clean.substr(a, b - a) + " \0\xff\xfe\x80 junk\n"s;
    const process_result want = run_program(HARMTRACE_EXE, {}, clean);
    const process_result got = run_program(HARMTRACE_EXE, {}, noisy);
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.err, "");
    EXPECT_GT(want.out.size(), 0u);
    EXPECT_EQ(got.out, want.out);
}

TEST(LimitsInput, RiffcatTakesAnyBytesInNamesAndContents) {
    using wav::chunk;
    // A name that is no UTF-8; a chunk id with invalid UTF-8 and a NUL (shown escaped, up to the
    // NUL); samples of NUL and 0xff bytes; a file of NUL bytes only; a missing file whose name is
    // no UTF-8 (its stray byte shown escaped).
    const std::string odd_name = temp_path("n\xff\xfe\x80.wav");
    const std::string odd = wav::file(
        1, 16,
        chunk("\xff\xc3\x00("s, "\x00\xff\x80"s) + chunk("data", "\x00\x00\xff\xff\x00\x80\xff"s));
    const std::string nul_name = temp_path("nul.wav");
    const std::string missing = temp_path("missing\xc3\x28.wav");
    write_file(odd_name, odd);
    write_file(nul_name, std::string(64, '\0'));

    const process_result r = run_program(RIFFCAT_EXE, {odd_name, nul_name, missing, odd_name}, "");
    EXPECT_EQ(r.status, 1);                              // two files skipped
    EXPECT_EQ(r.out, "0\n-1\n-32768\n0\n-1\n-32768\n");  // the lone last byte is dropped
    const std::string report =
        wav::report(1, 16, odd.size()) + "\n[\\xff\\xc3] (3 bytes)\n00 ff 80 \n[data] (7 bytes)\n";
    EXPECT_EQ(r.err, report + "Not a 'RIFF' format\nCan't open " + temp_path("missing\\xc3(.wav") +
                         "\n" + report);
    std::remove(odd_name.c_str());
    std::remove(nul_name.c_str());
}

}  // namespace
