#include <gtest/gtest.h>

#include "process.h"
#include "signals.h"

namespace {

TEST(HarmtraceProgram, MalformedSampleStopsWithTag20AndNothingOnStdout) {
    process_result r = run_program(HARMTRACE_EXE, {}, "1\n2\n\n3.5e2\nabc 4\n5\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "harmtrace: fatal input error at statement 20 reading standard input, line 5: "
              "not a number: \"abc\"\n");
}

TEST(HarmtraceProgram, OnlyTheFirstValueOfEachLineCountsAndArgumentsAreIgnored) {
    std::vector<double> x = tone({{523.25, 1}, {1046.5, 0.3}}, 0.5);
    std::string mono = as_text(x), stereo;
    for (double v : x) stereo += std::to_string(int(v)) + "\t" + std::to_string(int(-v)) + "\r\n";
    process_result a = run_program(HARMTRACE_EXE, {}, mono);
    process_result b = run_program(HARMTRACE_EXE, {"-x", "whatever"}, stereo);
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(a.err, "");
    EXPECT_GT(a.out.size(), 99u * 10);
    EXPECT_EQ(a.out, b.out);
}

TEST(HarmtraceProgram, EmptyAndTooShortInputsWriteNothing) {
    for (const char* in : {"", "\n\n", "1\n2\n3\n"}) {
        process_result r = run_program(HARMTRACE_EXE, {}, in);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
    }
}

TEST(HarmtraceProgram, InputBeyondTheCapIsLeftUnread) {
    // 2097152 samples of a low tone, then a line that would be an error if read.
    std::string text = as_text(tone({{30, 1}}, 2097152 / 44100.0)).substr(0);
    std::size_t lines = 0, pos = 0;
    while (lines < 2097152 && (pos = text.find('\n', pos)) != std::string::npos) ++lines, ++pos;
    ASSERT_EQ(lines, 2097152u);
    text.resize(pos);
    text += "abc\n";
    process_result r = run_program(HARMTRACE_EXE, {}, text);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_GT(r.out.size(), 0u);
}

TEST(HarmtraceProgram, FailedWriteIsReportedWithTag143) {
    process_result r = run_program(HARMTRACE_EXE, {}, as_text(tone({{440, 1}}, 0.5)), "/dev/full");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("harmtrace: error writing standard output at statement 143"),
              std::string::npos)
        << r.err;
}

}  // namespace
