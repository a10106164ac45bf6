// The whole pipeline, riffcat | harmtrace | blockcsv, on recordings made by tonegen whose physics
// is known: the fundamental, the power of each harmonic, the window step and the decay rates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "process.h"
#include "tonegen.h"

namespace {

// Harmonic amplitudes falling as 1/k: a bright, string-like tone whose tenth harmonic is still
// 20 dB below the fundamental, far above the quantisation noise of a 16-bit file.
const std::vector<double> bright = {1, 0.5, 0.33, 0.25, 0.2, 0.17, 0.14, 0.12, 0.11, 0.1};

std::string joined(const std::vector<double>& values) {
    std::ostringstream s;
    for (std::size_t i = 0; i < values.size(); ++i) s << (i ? "," : "") << values[i];
    return s.str();
}

double sum(const std::vector<double>& values) {
    double s = 0;
    for (double v : values) s += v;
    return s;
}

// blockcsv's table: the header's frequencies, then per row the window's start time and the
// powers of harmonics 1 to 10. An empty item reads as NaN.
struct table {
    std::string csv;
    std::vector<double> freqs;
    std::vector<double> times;
    std::vector<std::vector<double>> powers;
    double f0() const { return freqs.empty() ? NAN : freqs[0]; }
};

// The eleven items of a row, each line checked for the form every row has: one blank first, a
// comma last, twelve fields.
std::vector<double> items(const std::string& line) {
    EXPECT_TRUE(line.size() > 1 && line[0] == ' ' && line.back() == ',') << line;
    std::vector<double> v;
    for (std::size_t p = 1, c; (c = line.find(',', p)) != std::string::npos; p = c + 1)
        v.push_back(c > p ? std::stod(line.substr(p, c - p)) : NAN);
    EXPECT_EQ(v.size(), 11u) << line;
    v.resize(11, NAN);
    return v;
}

// Runs a sound file through the three programs joined by pipes, harmtrace with `options`; each
// must exit with 0.
table analyse(const std::string& wav, const std::string& options = "") {
    const std::string command = "{ '" RIFFCAT_EXE "' '" + wav +
                                "' 2>/dev/null; echo riffcat $? >&2; } | { '" HARMTRACE_EXE "' " +
                                options + "; echo harmtrace $? >&2; } | '" BLOCKCSV_EXE "'";
    const process_result r = run_shell(command);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("riffcat 0\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("harmtrace 0\n"), std::string::npos) << r.err;
    table t;
    t.csv = r.out;
    std::istringstream s(r.out);
    std::string line;
    if (std::getline(s, line)) {
        const std::vector<double> header = items(line);
        t.freqs.assign(header.begin() + 1, header.end());
    }
    while (std::getline(s, line)) {
        const std::vector<double> v = items(line);
        t.times.push_back(v[0]);
        t.powers.emplace_back(v.begin() + 1, v.end());
    }
    EXPECT_FALSE(t.powers.empty()) << wav;
    return t;
}

// harmtrace resamples by linear interpolation between 44.1 kHz samples, which passes a
// component of frequency f with the amplitude gain sinc^2(f / 44100): 0.968 at 4400 Hz.
double interpolation_gain(double f) {
    const double x = std::numbers::pi * f / 44100.0;
    return std::pow(std::sin(x) / x, 2);
}

// Decay rate d of harmonic k's amplitude, per second, from the least-squares line through the
// logarithm of its power, which falls as exp(-2 d t).
double decay_rate(const table& t, int k) {
    double n = 0, st = 0, stt = 0, sy = 0, sty = 0;
    for (std::size_t i = 0; i < t.times.size(); ++i) {
        const double x = t.times[i], y = std::log(t.powers[i][std::size_t(k - 1)]);
        n += 1, st += x, stt += x * x, sy += y, sty += x * y;
    }
    return -(n * sty - st * sy) / (n * stt - st * st) / 2;
}

}  // namespace

TEST(PipelineSteadyTone, FundamentalPowersAndWindowStep) {
    for (const double freq : {110.0, 220.0, 440.0, 660.0}) {
        SCOPED_TRACE(freq);
        const table t =
            analyse(tonegen_file("steady.wav", {"additive", "--freq", std::to_string(freq),
                                                "--amps", joined(bright), "--seconds", "1.5"}));
        ASSERT_FALSE(t.powers.empty());
        const double f0 = t.f0();
        // The search settles a few parts in 10^4 below the note for a tone this bright.
        EXPECT_NEAR(f0 / freq, 1.0, 5e-4);

        // The power of a sinusoid of amplitude A over the window's 8 periods is A^2 (8 / f0) / 2;
        // tonegen's level is 0.8 of full scale, shared out over the harmonics.
        const double a1 = 0.8 * 32767 * bright[0] / sum(bright) * interpolation_gain(freq);
        EXPECT_NEAR(t.powers[0][0] / (a1 * a1 * 4 / f0), 1.0, 0.01);

        // Each harmonic sits a little off its bin, since f0 is a little low, and takes in leakage
        // from its neighbours: some 3 % of the weak upper harmonics' power.
        for (const auto& row : t.powers) {
            for (std::size_t k = 2; k <= 10; ++k) {
                const double gain = interpolation_gain(double(k) * freq) / interpolation_gain(freq);
                const double want = std::pow(bright[k - 1] / bright[0] * gain, 2);
                ASSERT_NEAR(row[k - 1] / row[0] / want, 1.0, k <= 6 ? 0.01 : 0.04)
                    << "harmonic " << k;
            }
        }

        // Windows advance by 2048 grid points, two periods; the times carry 6 decimals.
        const double step = 2 / f0;
        for (std::size_t i = 1; i < t.times.size(); ++i)
            ASSERT_NEAR(t.times[i] - t.times[i - 1], step, 1.01e-6) << "row " << i;
        EXPECT_NEAR((t.times.back() - t.times[0]) / double(t.times.size() - 1) / step, 1.0, 2e-5);
    }
}

TEST(PipelineDecay, AdditiveHarmonicsDecayAtTheirSynthesisedRates) {
    const std::vector<double> decays = {0.5, 1, 2, 3};
    const table t = analyse(
        tonegen_file("decaying.wav", {"additive", "--freq", "330", "--amps", "1,0.6,0.5,0.4",
                                      "--decays", joined(decays), "--seconds", "2"}));
    for (int k = 1; k <= 4; ++k)
        EXPECT_NEAR(decay_rate(t, k) / decays[std::size_t(k - 1)], 1.0, 0.02) << "harmonic " << k;
}

TEST(PipelineDecay, PluckedStringLosesItsUpperHarmonicsFirst) {
    const double freq = 220, rate = 44100, damping = 1;
    const table t = analyse(
        tonegen_file("pluck.wav", {"pluck", "--freq", "220", "--decay", "1", "--seconds", "2"}));
    EXPECT_NEAR(t.f0() / freq, 1.0, 5e-4);
    // Karplus-Strong: the two-point average in the loop takes harmonic k down by
    // cos(pi k freq / rate) every period, on top of the damping.
    const auto string_rate = [&](int k) {
        return damping - freq * std::log(std::cos(std::numbers::pi * k * freq / rate));
    };
    const double fundamental = decay_rate(t, 1);
    EXPECT_NEAR(fundamental / string_rate(1), 1.0, 0.02);
    for (int k = 5; k <= 8; ++k) {
        EXPECT_GT(decay_rate(t, k), 1.5 * fundamental) << "harmonic " << k;
        EXPECT_NEAR(decay_rate(t, k) / string_rate(k), 1.0, 0.02) << "harmonic " << k;
    }
}

TEST(PipelineShortRecording, OneSecondGivesTheFundamentalAndEveryWindow) {
    // At 55 Hz one second holds 55 periods, less than a coarse trial's 64.
    for (const double freq : {55.0, 110.0}) {
        SCOPED_TRACE(freq);
        const table t =
            analyse(tonegen_file("short.wav", {"additive", "--freq", std::to_string(freq), "--amps",
                                               joined(bright), "--seconds", "1"}));
        EXPECT_NEAR(t.f0() / freq, 1.0, 5e-4);
        // Windows of 8 periods every 2 periods over the f0 periods of the second.
        const double windows = std::floor((t.f0() - 8) / 2) + 1;
        EXPECT_NEAR(double(t.powers.size()), windows, 1.0);
    }
}

TEST(PipelineHighNote, ShortBlocksKeepEachHarmonicInItsColumn) {
    // Above about 787 Hz the upper harmonics can miss the bin tolerance and harmtrace writes
    // fewer than ten lines a window.
    struct note {
        double freq;
        std::vector<double> amps;
    };
    const note notes[] = {{1750, {1}},
                          {1300, {1, 0.3, 0.2, 0.1, 0.1, 0.05, 0.05, 0.03, 0.03, 0.02}}};
    for (const note& n : notes) {
        SCOPED_TRACE(n.freq);
        const table t =
            analyse(tonegen_file("high.wav", {"additive", "--freq", std::to_string(n.freq),
                                              "--amps", joined(n.amps), "--seconds", "1"}));
        const auto found = std::size_t(
            std::find_if(t.freqs.begin(), t.freqs.end(), [](double f) { return std::isnan(f); }) -
            t.freqs.begin());
        ASSERT_GE(found, 1u);
        ASSERT_LT(found, 10u) << "blocks are not short: the case tests nothing";
        for (std::size_t k = 1; k <= 10; ++k)
            EXPECT_EQ(std::isnan(t.freqs[k - 1]), k > found) << "header item " << k;

        // One row a window (the short last one dropped), and every row with the same harmonics.
        EXPECT_NEAR(double(t.powers.size()), std::floor((t.f0() - 8) / 2), 1.0);
        for (const auto& row : t.powers)
            for (std::size_t k = 1; k <= 10; ++k)
                ASSERT_EQ(std::isnan(row[k - 1]), k > found) << "harmonic " << k;

        // A steady tone: each synthesised harmonic's power stays put down its column.
        for (std::size_t k = 1; k <= std::min(found, n.amps.size()); ++k) {
            const auto [low, high] = std::minmax_element(
                t.powers.begin(), t.powers.end(),
                [k](const auto& a, const auto& b) { return a[k - 1] < b[k - 1]; });
            EXPECT_LT((*high)[k - 1] / (*low)[k - 1], 1.1) << "harmonic " << k;
        }
    }
}

TEST(PipelineFileForms, EightBitFileReadsAsItsSixteenBitTwinAtItsScale) {
    const std::vector<std::string> args = {"additive",     "--freq",    "330", "--amps",
                                           joined(bright), "--seconds", "1"};
    auto args8 = args;
    args8.insert(args8.end(), {"--bits", "8"});
    const table t16 = analyse(tonegen_file("sixteen.wav", args));
    const table t8 = analyse(tonegen_file("eight.wav", args8));
    EXPECT_NEAR(t8.f0() / 330, 1.0, 5e-4);
    ASSERT_EQ(t8.powers.size(), t16.powers.size());
    // Samples reach harmtrace unscaled, 8-bit ones recentred: full scale is 127, not 32767.
    const double scale = std::pow(127.0 / 32767.0, 2);
    for (std::size_t i = 0; i < t8.powers.size(); ++i)
        for (std::size_t k = 1; k <= 10; ++k)
            ASSERT_NEAR(t8.powers[i][k - 1] / t16.powers[i][k - 1] / scale, 1.0,
                        k == 1 ? 0.01 : 0.04)
                << "row " << i << " harmonic " << k;
}

TEST(PipelineFileForms, StereoFileIsAnalysedByItsFirstChannel) {
    const std::int64_t frames = 44100;
    const auto left = tonegen::harmonic_tone({440.0, bright, {}}, 0.8, 44100, frames);
    const auto right = tonegen::sine(660.0, 0.8, 44100, frames);
    const std::string stereo = temp_path("stereo.wav"), mono = temp_path("left.wav");
    write_file(stereo, tonegen::encode_wav({left, right}, 44100, 16));
    write_file(mono, tonegen::encode_wav({left}, 44100, 16));
    const table both = analyse(stereo);
    EXPECT_NEAR(both.f0() / 440, 1.0, 5e-4);
    EXPECT_TRUE(both.csv == analyse(mono).csv)
        << "the stereo table differs from its left channel's";
}

TEST(PipelineFileForms, HalfRateRecordingComesOutAnOctaveHigh) {
    // harmtrace takes every input as 44.1 kHz, so a 22.05 kHz recording plays twice as fast.
    const table t =
        analyse(tonegen_file("half-rate.wav", {"additive", "--freq", "220", "--rate", "22050",
                                               "--amps", joined(bright), "--seconds", "1.5"}));
    for (std::size_t k = 1; k <= 10; ++k)
        EXPECT_NEAR(t.freqs[k - 1] / (440.0 * double(k)), 1.0, 5e-4) << "harmonic " << k;
}

namespace {

// Every harmonic's power in every window of `wide` is that of `twin` times scale.
void expect_scaled(const table& wide, const table& twin, double scale) {
    ASSERT_EQ(wide.powers.size(), twin.powers.size());
    for (std::size_t i = 0; i < wide.powers.size(); ++i)
        for (std::size_t k = 1; k <= 10; ++k)
            ASSERT_NEAR(wide.powers[i][k - 1] / twin.powers[i][k - 1] / scale, 1.0,
                        k == 1 ? 0.01 : 0.04)
                << "row " << i << " harmonic " << k;
}

}  // namespace

TEST(PipelineFileForms, TwentyFourBitRecordingAt48kHz) {
    // A 24-bit note read at its width is its 16-bit twin at 256 times the amplitude (read two
    // bytes a sample, it would come out far below its pitch).
    std::vector<std::string> args = {"additive", "--freq", "330",       "--amps", joined(bright),
                                     "--rate",   "48000",  "--seconds", "1"};
    const table t16 = analyse(tonegen_file("sixteen48.wav", args), "-r 48000");
    args.insert(args.end(), {"--bits", "24", "--extensible"});
    const table t24 = analyse(tonegen_file("twentyfour48.wav", args), "-r 48000");
    EXPECT_NEAR(t24.f0() / 330, 1.0, 5e-4);
    expect_scaled(t24, t16, std::pow(8388607.0 / 32767.0, 2));
}

TEST(PipelineFileForms, FloatRecordingGivesTheRightFundamental) {
    std::vector<std::string> args = {"additive",     "--freq",    "440", "--amps",
                                     joined(bright), "--seconds", "1"};
    const table t16 = analyse(tonegen_file("sixteen.wav", args));
    args.insert(args.end(), {"--float", "32", "--trailing-chunk"});
    const table t32 = analyse(tonegen_file("float.wav", args));
    EXPECT_NEAR(t32.f0() / 440, 1.0, 5e-4);
    // Float samples reach harmtrace unscaled: full scale is 1, not 32767.
    expect_scaled(t32, t16, std::pow(1.0 / 32767.0, 2));
}
