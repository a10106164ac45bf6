// Standard output that cannot take everything, end to end, for each program: a reader that goes
// away early (| head -1) with SIGPIPE at its default action or ignored, a full device, and a
// closed descriptor. Each output here is longer than a pipe holds and than one output buffer.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "process.h"
#include "riffcat_wav.h"
#include "signals.h"

namespace {

struct program_case {
    std::string command;  // the program with its arguments, for bash
    std::string input;    // its standard input
    std::string report;   // what it writes on standard error before its output fails
    // The message when the write fails for a reader gone away, a full device, a closed output.
    std::string broken_pipe, full, closed;
};

std::string write_error(const char* program, int statement, const char* reason) {
    return std::string(program) + ": error writing standard output at statement " +
           std::to_string(statement) + ": " + reason + "\n";
}

const std::vector<program_case>& programs() {
    static const std::vector<program_case> cases = [] {
        // 4 MiB of 16-bit stereo samples, named three times.
        const std::string wav_path = temp_path("limits_big.wav");
        std::string data;
        for (int k = 0; k < 16384; ++k)
            for (int b = 0; b < 256; ++b) data += char(b);
        const std::string file = wav::file(2, 16, wav::chunk("data", data));
        write_file(wav_path, file);
        static const struct remover {
            std::string path;
            ~remover() { std::remove(path.c_str()); }
        } remove_at_exit{wav_path};
        const std::string riffcat_report = wav::report(2, 16, file.size()) + "\n[data] (" +
                                           std::to_string(data.size()) + " bytes)\n";

        // 3 s at 1000 Hz: some 1.5 MB of report lines, and from those some 200 kB of table.
        const std::string samples = as_text(tone({{1000, 1}}, 3));
        const std::string report = run_program(HARMTRACE_EXE, {}, samples).out;
        // blockcsv's header row is written on its own: with a reader gone after the first
        // line, a data row is what fails.
        return std::vector<program_case>{
            {RIFFCAT_EXE " " + wav_path + " " + wav_path + " " + wav_path, "", riffcat_report,
             "Write error\n", "Write error\n", "Write error\n"},
            {HARMTRACE_EXE, samples, "", write_error("harmtrace", 143, "Broken pipe"),
             write_error("harmtrace", 143, "No space left on device"),
             write_error("harmtrace", 143, "Bad file descriptor")},
            {BLOCKCSV_EXE, report, "", write_error("blockcsv", 9, "Broken pipe"),
             write_error("blockcsv", 8, "No space left on device"),
             write_error("blockcsv", 8, "Bad file descriptor")},
        };
    }();
    return cases;
}

// Runs a bash command line that ends by printing a status; returns that line, and the standard
// error of the program under test (sent to a file by the command) in err.
std::string run_bash(const std::string& command, const std::string& input, std::string& err) {
    const std::string err_path = temp_path("limits_err");
    const process_result r =
        run_program("/bin/bash", {"-c", "err=" + err_path + "; " + command}, input);
    err = read_file(err_path);
    std::remove(err_path.c_str());
    return r.out;
}

TEST(LimitsOutput, ReaderGoingAwayEndsEachProgramBySigpipeAtOnce) {
    // The test runner ignores SIGPIPE and its children inherit that: give it back its default.
    for (const program_case& p : programs()) {
        std::string err;
        const std::string status = run_bash("env --default-signal=PIPE " + p.command +
                                                " 2>$err | head -1 >/dev/null; "
                                                "echo ${PIPESTATUS[0]}",
                                            p.input, err);
        EXPECT_EQ(status, "141\n") << p.command;  // 128 + SIGPIPE
        // riffcat's report of the first file only: the run ended within it.
        EXPECT_EQ(err, p.report) << p.command;
    }
}

TEST(LimitsOutput, ReaderGoingAwayWithSigpipeIgnoredGivesOneMessage) {
    for (const program_case& p : programs()) {
        std::string err;
        const std::string status = run_bash("trap '' PIPE; " + p.command +
                                                " 2>$err | head -1 >/dev/null; "
                                                "echo ${PIPESTATUS[0]}",
                                            p.input, err);
        EXPECT_EQ(status, "2\n") << p.command;
        EXPECT_EQ(err, p.report + p.broken_pipe) << p.command;
    }
}

TEST(LimitsOutput, FullDeviceOrClosedOutputIsAnErrorNeverASilentSuccess) {
    for (const program_case& p : programs()) {
        std::string err;
        std::string status = run_bash(p.command + " >/dev/full 2>$err; echo $?", p.input, err);
        EXPECT_EQ(status, "2\n") << p.command;
        EXPECT_EQ(err, p.report + p.full) << p.command;

        status = run_bash(p.command + " >&- 2>$err; echo $?", p.input, err);
        EXPECT_EQ(status, "2\n") << p.command;
        EXPECT_EQ(err, p.report + p.closed) << p.command;
    }
}

}  // namespace
