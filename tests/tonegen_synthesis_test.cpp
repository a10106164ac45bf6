// The tone generator's synthesis and WAVE encoding, called on memory, and its file forms as riffcat
// reads them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "process.h"
#include "tonegen.h"

using namespace tonegen;

namespace {

std::uint32_t u32_at(const std::string& w, std::size_t off) {
    return std::uint32_t(std::uint8_t(w[off])) | std::uint32_t(std::uint8_t(w[off + 1])) << 8 |
           std::uint32_t(std::uint8_t(w[off + 2])) << 16 |
           std::uint32_t(std::uint8_t(w[off + 3])) << 24;
}
std::uint16_t u16_at(const std::string& w, std::size_t off) {
    return std::uint16_t(std::uint8_t(w[off]) | std::uint8_t(w[off + 1]) << 8);
}
std::int16_t s16_at(const std::string& w, std::size_t off) {
    return std::int16_t(u16_at(w, off));
}

// Complex amplitude of the component at `freq` in x[i0, i0 + m): 1 for a unit sine that fills
// whole periods of the window.
std::complex<double> component(const std::vector<double>& x, int rate, double freq, double t0,
                               double seconds) {
    const auto i0 = std::size_t(t0 * rate), m = std::size_t(seconds * rate);
    std::complex<double> s = 0.0;
    for (std::size_t i = i0; i < i0 + m; ++i)
        s += x[i] * std::polar(1.0, -2.0 * std::numbers::pi * freq * double(i) / rate);
    return s * (2.0 / double(m));
}

// Time of the first upward zero crossing at or after t, linearly interpolated.
double upward_crossing(const std::vector<double>& x, int rate, double t) {
    for (auto i = std::size_t(t * rate); i + 1 < x.size(); ++i)
        if (x[i] < 0.0 && x[i + 1] >= 0.0) return (double(i) + x[i] / (x[i] - x[i + 1])) / rate;
    return -1.0;
}

}  // namespace

TEST(WaveFile, CanonicalHeaderOf16BitStereo) {
    const std::string w = encode_wav({{0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}}, 8000, 16);
    ASSERT_EQ(w.size(), 44u + 12u);
    EXPECT_EQ(w.substr(0, 4), "RIFF");
    EXPECT_EQ(u32_at(w, 4), 48u);  // file size - 8
    EXPECT_EQ(w.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(u32_at(w, 16), 16u);
    EXPECT_EQ(u16_at(w, 20), 1u);  // PCM
    EXPECT_EQ(u16_at(w, 22), 2u);
    EXPECT_EQ(u32_at(w, 24), 8000u);
    EXPECT_EQ(u32_at(w, 28), 32000u);  // bytes a second
    EXPECT_EQ(u16_at(w, 32), 4u);      // bytes a frame
    EXPECT_EQ(u16_at(w, 34), 16u);
    EXPECT_EQ(w.substr(36, 4), "data");
    EXPECT_EQ(u32_at(w, 40), 12u);
}

TEST(WaveFile, EightBitMonoOfOddLengthGetsASilentPadByte) {
    const std::string w = encode_wav({{0.0, 1.0, -1.0}}, 11025, 8);
    ASSERT_EQ(w.size(), 44u + 3u + 1u);
    EXPECT_EQ(u32_at(w, 4), 40u);
    EXPECT_EQ(u16_at(w, 32), 1u);  // bytes a frame
    EXPECT_EQ(u16_at(w, 34), 8u);
    EXPECT_EQ(u32_at(w, 40), 3u);  // the pad byte is not data
    EXPECT_EQ(w.substr(44), "\x80\xff\x01\x80");
    EXPECT_EQ(encode_wav({{0.0, 0.0}}, 11025, 8).size(), 46u);  // even: no pad
}

TEST(WaveFile, EveryChunkOfTheOtherForms) {
    using namespace std::string_literals;
    // Stereo 64-bit float, extensible, with a JUNK chunk, an odd LIST chunk and a trailing one.
    EXPECT_EQ(encode_wav({{0.5}, {-1.0}}, 48000, {64, true, true, 1, true, true}),
              "RIFF\x9a\0\0\0WAVE"
              "JUNK\1\0\0\0\0\0"
              "fmt \x28\0\0\0\xfe\xff\2\0\x80\xbb\0\0\0\xb8\x0b\0\x10\0\x40\0"
              "\x16\0\x40\0\3\0\0\0\3\0\0\0\0\0\x10\0\x80\0\0\xaa\0\x38\x9b\x71"
              "fact\4\0\0\0\1\0\0\0"
              "LIST\x13\0\0\0INFOISFT\7\0\0\0tonegen\0"
              "data\x10\0\0\0\0\0\0\0\0\0\xe0\x3f\0\0\0\0\0\0\xf0\xbf"
              "LIST\x14\0\0\0INFOISFT\x08\0\0\0tonegen\0"s);
}

TEST(WaveFile, StereoFramesInterleaveLeftThenRight) {
    using namespace std::string_literals;
    // Left 0.5, 0; right -0.5, 1: 16-bit little-endian 16384, -16384, 0, 32767.
    EXPECT_EQ(encode_wav({{0.5, 0.0}, {-0.5, 1.0}}, 44100, 16).substr(44),
              "\x00\x40\x00\xc0\x00\x00\xff\x7f"s);
    EXPECT_EQ(encode_wav({{0.5, 0.0}, {-0.5, 1.0}}, 44100, 8).substr(44), "\xc0\x40\x80\xff"s);
}

TEST(SampleCoding, RoundsHalfAwayFromZeroAndClips) {
    EXPECT_EQ(to_pcm16(1.0), 32767);
    EXPECT_EQ(to_pcm16(-1.0), -32767);
    EXPECT_EQ(to_pcm16(0.5), 16384);  // 16383.5
    EXPECT_EQ(to_pcm16(-0.5), -16384);
    EXPECT_EQ(to_pcm16(1.0001), 32767);  // clipped, not wrapped round
    EXPECT_EQ(to_pcm16(-7.0), -32767);
    EXPECT_EQ(to_pcm8(0.0), 128);
    EXPECT_EQ(to_pcm8(0.5), 192);  // 128 + 63.5
    EXPECT_EQ(to_pcm8(-0.5), 64);
    EXPECT_EQ(to_pcm8(3.0), 255);
    EXPECT_EQ(to_pcm8(-3.0), 1);
    EXPECT_EQ(to_pcm24(0.5), 4194304);  // 4194303.5
    EXPECT_EQ(to_pcm24(-1.5), -8388607);
    EXPECT_EQ(to_pcm32(-0.5), -1073741824);
    EXPECT_EQ(to_pcm32(1.0001), 2147483647);
}

TEST(Sine, SamplesAtKnownPhases) {
    // 1000 Hz at 8000 Hz: eight samples a period, 45 degrees apart.
    const std::string w = encode_wav({sine(1000.0, 1.0, 8000, 9)}, 8000, 16);
    const int want[9] = {0, 23170, 32767, 23170, 0, -23170, -32767, -23170, 0};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(s16_at(w, 44 + 2 * std::size_t(i)), want[i]) << i;

    // Late samples keep their phase: the phase comes from the index, not a running sum.
    const auto x = sine(441.0, 0.8, 44100, 44100 * 10 + 1);
    EXPECT_NEAR(x[44100 * 10], 0.0, 1e-9);  // 4410 whole periods
    EXPECT_NEAR(x[44100 * 10 - 25], -0.8, 1e-9);
}

TEST(Sine, OverdriveClipsFlatWithoutWrapping) {
    // Twice full scale, 80 samples a period: |x| >= 1 from 30 to 150 degrees and from 210 to
    // 330, which the 4.5-degree steps hit 27 times each.
    const auto x = sine(100.0, 2.0, 8000, 80);
    const std::string w = encode_wav({x}, 8000, 16);
    int clipped = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const int v = s16_at(w, 44 + 2 * i);
        if (v == 32767 || v == -32767) ++clipped;
        EXPECT_TRUE(v == 0 || (v > 0) == (x[i] > 0)) << i;  // no wrap-around to the other sign
    }
    EXPECT_EQ(clipped, 54);
}

TEST(HarmonicTone, AmplitudesAndDecayRatesComeOutAsAsked) {
    const int rate = 44100;
    const tone t{200.0, {1.0, 0.5, 0.25}, {0.0, 2.0, 0.5}, 0.0, 0.0};
    const auto x = harmonic_tone(t, 0.7, rate, 2 * rate);
    const double scale = 0.7 / 1.75;  // amp / sum of the amplitudes
    for (double t0 : {0.1, 1.5}) {
        EXPECT_NEAR(std::abs(component(x, rate, 200.0, t0, 0.1)), scale, 1e-3 * scale);
        EXPECT_NEAR(std::abs(component(x, rate, 400.0, t0, 0.1)),
                    scale * 0.5 * std::exp(-2.0 * (t0 + 0.05)), 3e-3 * scale);
        EXPECT_NEAR(std::abs(component(x, rate, 600.0, t0, 0.1)),
                    scale * 0.25 * std::exp(-0.5 * (t0 + 0.05)), 3e-3 * scale);
    }
    double peak = 0.0;
    for (double v : x) peak = std::max(peak, std::fabs(v));
    EXPECT_LE(peak, 0.7);
    EXPECT_GT(peak, 0.5);
}

TEST(Vibrato, PitchSwingsByTheDepthInCents) {
    const int rate = 44100;
    // 100 cents at 2 Hz: the pitch peaks at t = 0.125 s, 0.625 s ... and dips at 0.375 s ...
    const auto x = harmonic_tone({400.0, {1.0}, {}, 100.0, 2.0}, 0.8, rate, 2 * rate);
    auto local_freq = [&](double t) {
        const double a = upward_crossing(x, rate, t - 0.0025);
        const double b = upward_crossing(x, rate, a + 0.0001);
        return 1.0 / (b - a);
    };
    const double semitone = std::exp2(1.0 / 12.0);
    for (double peak : {0.125, 1.125}) EXPECT_NEAR(local_freq(peak), 400.0 * semitone, 0.2);
    for (double dip : {0.375, 1.375}) EXPECT_NEAR(local_freq(dip), 400.0 / semitone, 0.2);
    EXPECT_NEAR(local_freq(1.0), 400.0, 2.0);  // crossing the note, at its steepest
}

TEST(Pluck, IsInTuneAndItsUpperHarmonicsDieFirst) {
    const int rate = 44100;
    const double f = 220.0;
    const auto x = pluck(f, 1.0, 1, 0.8, rate, 3 * rate);
    ASSERT_EQ(x.size(), std::size_t(3 * rate));

    // Pitch from the fundamental's phase advance over two seconds.
    const auto a = component(x, rate, f, 0.5, 0.2), b = component(x, rate, f, 2.5, 0.2);
    const double drift_hz = std::arg(b / a) / (2.0 * std::numbers::pi * 2.0);
    EXPECT_LT(std::fabs(drift_hz), f * 1e-5);

    // Level lost between 0.5 s and 2.5 s: the fundamental by the damping of 1/s alone, the
    // eighth harmonic by much more.
    auto drop = [&](int k) {
        return std::abs(component(x, rate, k * f, 2.5, 0.2)) /
               std::abs(component(x, rate, k * f, 0.5, 0.2));
    };
    const double string_loss = -f * std::log(std::cos(std::numbers::pi * f / rate));  // 1/s
    EXPECT_NEAR(drop(1), std::exp(-2.0 * (1.0 + string_loss)), 0.003);
    EXPECT_LT(drop(4), drop(2));
    EXPECT_LT(drop(8), drop(4));
    EXPECT_LT(drop(8), 0.5 * drop(1));

    double peak = 0.0, mean = 0.0;
    for (double v : x) {
        peak = std::max(peak, std::fabs(v));
        mean += v;
    }
    EXPECT_DOUBLE_EQ(peak, 0.8);
    EXPECT_NEAR(mean / double(x.size()), 0.0, 1e-3);
}

TEST(Pluck, SeedChoosesTheNoise) {
    const auto a = pluck(330.0, 1.0, 7, 0.8, 22050, 4000);
    EXPECT_EQ(a, pluck(330.0, 1.0, 7, 0.8, 22050, 4000));
    EXPECT_NE(a, pluck(330.0, 1.0, 8, 0.8, 22050, 4000));
    // The length only cuts the sound short: the peak lies in the attack, so a longer run starts
    // with the same samples.
    const auto longer = pluck(330.0, 1.0, 7, 0.8, 22050, 8000);
    EXPECT_TRUE(std::equal(a.begin(), a.end(), longer.begin()));
}

TEST(FileForms, RiffcatPrintsEachFormAsStored) {
    // tonegen's forms through the real programs: riffcat prints every sample at its stored
    // value, walks the chunks around fmt and data, and takes no pad byte or chunk for a sample.
    // 485 frames: the data of 8- and 24-bit mono files has an odd size.
    const auto x = sine(440.0, 0.8, 48000, 485);
    struct form_case {
        std::vector<std::string> args;
        double (*stored)(double);
        std::string report;   // a part of riffcat's report
        bool single = false;  // text to read back as a float
    } cases[] = {
        {{"--bits", "8", "--odd-chunk", "--trailing-chunk"},
         [](double v) { return double(to_pcm8(v)) - 128; },
         "[data] (485 bytes)\n[LIST] (20 bytes)\n"},
        {{"--bits", "24", "--junk", "5"},
         [](double v) { return double(to_pcm24(v)); },
         "[RIFF] (1506 bytes)\n[JUNK] (5 bytes)\n00 00 00 00 00 \n[WAVEfmt ] (16 bytes)\n"},
        {{"--bits", "32", "--extensible"},
         [](double v) { return double(to_pcm32(v)); },
         "01 00 00 00 00 00 10 00 80 00 00 aa 00 38 9b 71 \n[data] (1940 bytes)\n"},
        {{"--float", "32", "--odd-chunk"},
         [](double v) { return double(float(v)); },
         "[fact] (4 bytes)\ne5 01 00 00 \n[LIST] (19 bytes)\n",
         true},
        {{"--float", "64", "--extensible", "--trailing-chunk"},
         [](double v) { return v; },
         "[data] (3880 bytes)\n[LIST] (20 bytes)\n"},
    };
    const std::string path = temp_path("form.wav");
    for (const form_case& c : cases) {
        const std::string form = ::testing::PrintToString(c.args);
        std::vector<std::string> args = {"sine",      "--freq", "440",   "--amp",
                                         "0.8",       "--rate", "48000", "--seconds",
                                         "0.0101042", "-o",     path};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ASSERT_EQ(run_program(TONEGEN_EXE, args, "").status, 0) << form;
        const process_result r = run_program(RIFFCAT_EXE, {path}, "");
        EXPECT_EQ(r.status, 0) << form;
        EXPECT_NE(r.err.find(c.report), std::string::npos) << form << "\n" << r.err;
        std::istringstream lines(r.out);
        std::string line;
        std::size_t i = 0;
        for (; std::getline(lines, line); ++i) {
            ASSERT_LT(i, x.size()) << form;
            const double v =
                c.single ? std::strtof(line.c_str(), nullptr) : std::strtod(line.c_str(), nullptr);
            ASSERT_EQ(v, c.stored(x[i])) << form << " frame " << i;
        }
        EXPECT_EQ(i, x.size()) << form;
    }
}
