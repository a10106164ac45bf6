// harmtrace's options end to end, on recordings made by tonegen and read by riffcat: the sampling
// rate, a hint that mends an octave error and a start that skips a detuned attack.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "process.h"
#include "report_text.h"

namespace {

// harmtrace's report on the samples of the recordings, one after the other.
std::string trace(const std::vector<std::string>& wavs, const std::string& options) {
    std::string command = "{";
    for (const std::string& w : wavs) command += " '" RIFFCAT_EXE "' '" + w + "' 2>/dev/null;";
    const process_result r = run_shell(command + " } | '" HARMTRACE_EXE "' " + options);
    EXPECT_EQ(r.status, 0) << options << ": " << r.err;
    EXPECT_EQ(r.err, "");
    return r.out;
}

// The fundamental: the frequency of the first line; and the time at which the last window ends.
double f0(const std::string& report) {
    const std::vector<std::string> lines = lines_of(report);
    return lines.empty() ? 0 : number(lines.front(), frequency);
}
double end_time(const std::string& report) {
    const std::vector<std::string> lines = lines_of(report);
    return lines.empty() ? 0 : number(lines.back(), t_last);
}

const std::string bright = "1,0.5,0.33,0.25,0.2,0.17,0.14,0.12,0.11,0.1";

TEST(HarmtraceOptions, RateGivesTheFundamentalAndTheTimesOfA48And96kHzRecording) {
    for (const int rate : {48000, 96000}) {
        SCOPED_TRACE(rate);
        const std::string wav =
            tonegen_file("rate.wav", {"additive", "--freq", "440", "--amps", bright, "--rate",
                                      std::to_string(rate), "--seconds", "1.5"});
        const std::string right = trace({wav}, "-r " + std::to_string(rate));
        EXPECT_NEAR(f0(right) / 440, 1, 5e-4);
        // The windows cover the 1.5 s, the last ending less than two periods before the end.
        EXPECT_LT(end_time(right), 1.5);
        EXPECT_GT(end_time(right), 1.5 - 2 / 440.0);
        // Taken as 44.1 kHz, the recording plays slower.
        EXPECT_NEAR(f0(trace({wav}, "")) / (440.0 * 44100 / rate), 1, 5e-4);
    }
}

TEST(HarmtraceOptions, HintMendsAnOctaveErrorOfAWeakFundamental) {
    // G3 with a fundamental a tenth of its second harmonic: the lowest coarse step with more than
    // a fifth of the best score is that harmonic's.
    const std::string wav =
        tonegen_file("weak.wav", {"additive", "--freq", "196", "--amps", "0.1,1,0.6,0.4,0.3"});
    EXPECT_NEAR(f0(trace({wav}, "")) / 392, 1, 5e-3);
    const std::string hinted = trace({wav}, "-f G3");
    EXPECT_NEAR(f0(hinted) / 196, 1, 5e-3);
    // The hint in hertz keeps the same coarse steps.
    EXPECT_EQ(trace({wav}, "-f196"), hinted);
}

TEST(HarmtraceOptions, StartSkipsADetunedAttackAndTheReportStillBeginsAt0) {
    // 0.2 s some 47 cents sharp, then the note itself.
    const std::string attack = tonegen_file(
        "attack.wav", {"additive", "--freq", "452", "--amps", bright, "--seconds", "0.2"});
    const std::string note = tonegen_file(
        "note.wav", {"additive", "--freq", "440", "--amps", bright, "--seconds", "1.3"});
    EXPECT_GT(f0(trace({attack, note}, "")), 446);
    const std::string later = trace({attack, note}, "-s 0.2");
    EXPECT_NEAR(f0(later) / 440, 1, 5e-4);
    EXPECT_EQ(later.substr(0, 14), "   1  0.000000");
    EXPECT_GT(end_time(later), 1.5 - 2 / 440.0);
    // A start past the end leaves the search no samples, as an empty input does.
    EXPECT_NEAR(f0(trace({attack, note}, "-s 9")), 1846.789, 1e-3);
}

TEST(HarmtraceOptions, DefaultRateAndStartChangeNoBit) {
    const std::string wav = EXAMPLES_DIR "/pluck220.wav";
    const std::string plain = trace({wav}, "");
    ASSERT_EQ(plain.size(), 3270u * 99);
    EXPECT_EQ(plain.substr(0, 99),
              "   1  0.000000  0.018173  0.036350    220.05458634    0.58685758E+05    "
              "0.58687898E+05    0.999964\n");
    EXPECT_EQ(trace({wav}, "-r 44100"), plain);
    EXPECT_EQ(trace({wav}, "-r44100 -s 0"), plain);
}

}  // namespace
