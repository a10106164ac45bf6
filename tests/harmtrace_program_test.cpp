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

TEST(HarmtraceProgram, OnlyTheFirstValueOfEachLineCounts) {
    std::vector<double> x = tone({{523.25, 1}, {1046.5, 0.3}}, 0.5);
    std::string mono = as_text(x), stereo;
    for (double v : x) stereo += std::to_string(int(v)) + "\t" + std::to_string(int(-v)) + "\r\n";
    process_result a = run_program(HARMTRACE_EXE, {}, mono);
    process_result b = run_program(HARMTRACE_EXE, {}, stereo);
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(a.err, "");
    EXPECT_GT(a.out.size(), 99u * 10);
    EXPECT_EQ(a.out, b.out);
}

TEST(HarmtraceProgram, BadOptionsAreUsageErrorsBeforeAnyInputIsRead) {
    const std::string usage =
        "usage: harmtrace [-r RATE] [-f HZ|NOTE] [-s SECONDS] [-j THREADS] [--partials] [--follow] "
        "< samples > report\n";
    const std::vector<std::vector<std::string>> bad[] = {
        {{"-x"}, {"whatever"}, {"-"}, {"--rate", "48000"}},
        {{"-r", "999"}, {"-r1000001"}, {"-r", "4.41e4"}, {"-r"}, {"-r", "-s", "1"}},
        {{"-f", "H4"}, {"-f", "C9"}, {"-f", "25.9"}, {"-f", "1e3"}, {"-f", "A#"}, {"-f"}},
        {{"-s", "-1"}, {"-s", "1e3"}, {"-s", "."}, {"-s", "0.5.1"}, {"-r", "48000", "-s"}},
        {{"-j", "0"}, {"-j1025"}, {"-j", "two"}, {"-j"}}};
    const std::string reason[] = {
        "un", "-r needs an integer from 1000 to 1000000", "-f needs a frequency from 26 to 4435 Hz",
        "-s needs a number of seconds", "-j needs a number of threads from 1 to 1024"};
    for (int kind = 0; kind < 5; ++kind) {
        for (const std::vector<std::string>& args : bad[kind]) {
            // A sample line that would be a fatal input error if it were read.
            const process_result r = run_program(HARMTRACE_EXE, args, "abc\n");
            EXPECT_EQ(r.status, 2) << args[0];
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err.substr(r.err.find('\n') + 1), usage) << args[0];
            EXPECT_EQ(r.err.find("harmtrace: " + reason[kind]), 0u) << r.err;
        }
    }

    expect_help_and_version(HARMTRACE_EXE, {"-r", "48000", "--help", "-x"},
                            "Usage: harmtrace [-r RATE]", "harmtrace (harmtrace toolkit) 1.0\n");
}

TEST(HarmtraceProgram, EmptyAndTooShortInputsWriteNothing) {
    for (const char* in : {"", "\n\n", "1\n2\n3\n"}) {
        process_result r = run_program(HARMTRACE_EXE, {}, in);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
    }
}

}  // namespace
