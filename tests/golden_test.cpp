// Golden results: the real programs on the recordings in tests/golden/ give exactly the outputs
// kept there (README.md there says what each shows), with any number of threads.
#include <gtest/gtest.h>

#include <string>

#include "process.h"

namespace {

const std::string golden = GOLDEN_DIR "/";

// harmtrace's report of a recording, with the given options.
std::string report(const std::string& wav, const std::string& options) {
    const process_result r =
        run_shell("'" RIFFCAT_EXE "' '" + wav + "' 2>/dev/null | '" HARMTRACE_EXE "' " + options);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
}

void expect_golden(const std::string& wav, const std::string& name) {
    const std::string want = read_file(golden + name + ".report");
    ASSERT_FALSE(want.empty()) << name;
    for (const char* threads : {"", "-j 1", "-j 3"})
        EXPECT_TRUE(report(wav, threads) == want) << name << " " << threads;
    const std::string table = read_file(golden + name + ".csv");
    if (!table.empty()) {
        EXPECT_TRUE(run_program(BLOCKCSV_EXE, {}, want).out == table) << name << ".csv";
    }
}

TEST(Golden, BundledRecording) {
    expect_golden(EXAMPLES_DIR "/pluck220.wav", "pluck220");
}

TEST(Golden, HighNoteWithShortBlocks) {
    expect_golden(golden + "high1600.wav", "high1600");
}

TEST(Golden, SineWhoseReportPlainDoubleArithmeticChanges) {
    expect_golden(golden + "float440.wav", "float440");
}

}  // namespace
