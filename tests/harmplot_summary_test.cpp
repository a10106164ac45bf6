// What harmplot's summary says of notes whose truth is known: decay rates where the upper
// harmonics sink into the noise, levels in dBFS, a wrong fundamental, no note at all, channels,
// stretches, other formats and awkward names. Each test runs harmplot once on several files and
// reads the --summary table.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <fstream>
#include <map>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "harmplot_table.h"
#include "process.h"
#include "signals.h"
#include "tonegen.h"

namespace {

void tonegen(const std::string& dir, const std::string& file, const std::string& args) {
    const process_result r =
        run_shell("'" TONEGEN_EXE "' " + args + " -o '" + dir + "/" + file + "'");
    ASSERT_EQ(r.status, 0) << r.err;
}

// tonegen's decay d is the amplitude's, exp(-d t): the level falls by 20 log10(e) d dB a second.
double db_per_second(double d) {
    return -20 * std::log10(std::numbers::e) * d;
}

TEST(HarmplotSummary, DecayRatesHoldWhereTheUpperHarmonicsSinkIntoTheNoise) {
    const std::string dir = fresh_dir("harmplot-decays");
    // Harmonic k falls at 5k dB/s: the upper ones reach the floor long before the end. The third
    // has no amplitude at all.
    const std::vector<double> decays = {0.576, 1.151, 1.727, 2.303, 2.878, 3.454, 4.030, 4.605};
    std::string list;
    for (double d : decays) {
        if (!list.empty()) list += ',';
        list += std::to_string(d);
    }
    const std::string tone =
        "additive --freq 110 --seconds 4 --amps 1,1,0,1,1,1,1,1 --decays " + list;
    tonegen(dir, "a16.wav", tone);
    tonegen(dir, "a24.wav", tone + " --bits 24 --noise -110");
    tonegen(dir, "af.wav", tone + " --float 32 --noise -90");
    run_result res = harmplot(dir, "a16.wav a24.wav af.wav");
    EXPECT_EQ(res.r.status, 0) << res.r.err;
    for (const char* file : {"a16.wav", "a24.wav", "af.wav"}) {
        const std::vector<row>& rows = res.rows[file];
        ASSERT_EQ(rows.size(), 10u) << file;
        for (std::size_t k = 0; k < decays.size(); ++k) {
            const row& r = rows[k];
            if (k == 2) {
                EXPECT_EQ(r.at("decay_db_per_s") + r.at("start_dbfs") + r.at("t60_s"), "") << file;
                continue;
            }
            const double want = db_per_second(decays[k]);
            EXPECT_NEAR(number(r, "decay_db_per_s") / want, 1, 0.05)
                << file << " harmonic " << k + 1;
            // The 95 % interval holds the truth, and is no wider than it needs to be.
            const double ci = number(r, "decay_ci95_db_per_s");
            EXPECT_LE(std::abs(number(r, "decay_db_per_s") - want), ci)
                << file << " harmonic " << k + 1;
            EXPECT_LT(ci, 0.1 * -want) << file << " harmonic " << k + 1;
            EXPECT_NEAR(number(r, "t60_s"), -60 / want, -0.05 * 60 / want) << file;
            if (k >= 3) {
                EXPECT_LT(number(r, "fit_to_s"), 3.5) << file << " harmonic " << k + 1;
            }
        }
    }
    EXPECT_NE(res.r.out.find("-             -        -  never clear of the floor\n"),
              std::string::npos)
        << res.r.out;
    run_shell("rm -rf '" + dir + "'");
}

TEST(HarmplotSummary, LevelsAreInDbfsWhateverTheWidthAndTheOctave) {
    const std::string dir = fresh_dir("harmplot-levels");
    // A sine at half of full scale is -6.0 dBFS, as tonegen scales it: 127 to full scale at
    // 8 bits (128), 32767 at 16 (32768).
    tonegen(dir, "p16.wav", "sine --freq 220 --amp 0.5 --seconds 2");
    tonegen(dir, "p24.wav", "sine --freq 220 --amp 0.5 --seconds 2 --bits 24 --extensible");
    tonegen(dir, "f32.wav", "sine --freq 220 --amp 0.5 --seconds 2 --float 32");
    tonegen(dir, "p32.wav", "sine --freq 220 --amp 0.5 --seconds 2 --bits 32");
    tonegen(dir, "f64.wav", "sine --freq 220 --amp 0.5 --seconds 2 --float 64 --extensible");
    tonegen(dir, "low.wav", "sine --freq 55 --amp 0.5 --seconds 3");
    tonegen(dir, "p8.wav", "sine --freq 880 --amp 0.5 --seconds 2 --bits 8");
    run_result res = harmplot(dir, "p16.wav p24.wav f32.wav p32.wav f64.wav low.wav p8.wav");
    EXPECT_EQ(res.r.status, 0) << res.r.err;
    for (const char* file : {"p16.wav", "p24.wav", "f32.wav", "p32.wav", "f64.wav", "low.wav"}) {
        ASSERT_FALSE(res.rows[file].empty()) << file;
        EXPECT_NEAR(number(res.rows[file][0], "start_dbfs"), -6.0, 0.03) << file;
    }
    EXPECT_NEAR(number(res.rows["p8.wav"].at(0), "start_dbfs"), -6.1, 0.03);
    // Harmonics at or above the Nyquist frequency are not measured, but said: 8 kHz holds seven
    // of 550 Hz, and 8 to 10 have a row that tells why they have no numbers.
    tonegen(dir, "r8k.wav", "additive --freq 550 --amps 1,1,1,1,1,1,1 --rate 8000 --seconds 2");
    run_result nyquist = harmplot(dir, "r8k.wav");
    const std::vector<row>& r8k = nyquist.rows["r8k.wav"];
    ASSERT_EQ(r8k.size(), 10u) << nyquist.r.out;
    for (std::size_t k = 0; k < r8k.size(); ++k) {
        const bool above = k >= 7;
        EXPECT_EQ(r8k[k].at("decay_db_per_s").empty(), above) << k + 1;
        EXPECT_EQ(r8k[k].at("reason").find("at or above half the sampling rate, 4000 Hz") !=
                      std::string::npos,
                  above)
            << k + 1;
    }
    EXPECT_NE(nyquist.r.out.find("harmonics 8 to 10 (4400 Hz and up) lie at or above half the "
                                 "sampling rate, 4000 Hz: not in the recording"),
              std::string::npos)
        << nyquist.r.out;
    run_shell("rm -rf '" + dir + "'");
}

TEST(HarmplotSummary, AWrongFundamentalIsCorrectedAndAWrongHintDoubted) {
    const std::string dir = fresh_dir("harmplot-check");
    // A G3 whose fundamental is a tenth of its second harmonic: the search finds G4.
    tonegen(dir, "weak.wav", "additive --freq 196 --amps 0.1,1,0.6,0.4,0.3 --seconds 3");
    // A C6 beside a dying 29.8 Hz hum: the search finds the hum.
    const std::int64_t n = 2 * 44100;
    std::vector<double> hum = tonegen::sine(29.8, 0.5, 44100, n);
    const std::vector<double> c6 = tonegen::sine(1046.5, 0.2, 44100, n);
    for (std::int64_t i = 0; i < n; ++i)
        hum[std::size_t(i)] =
            hum[std::size_t(i)] * std::exp(-3.0 * double(i) / 44100) + c6[std::size_t(i)];
    write_file(dir + "/hum.wav", tonegen::encode_wav({hum}, 44100, 16));
    tonegen(dir, "plain.wav", "additive --freq 261.63 --amps 1,0.5,0.3 --seconds 2");
    run_result res = harmplot(dir, "weak.wav hum.wav plain.wav");
    EXPECT_EQ(res.r.status, 0) << res.r.err;
    const row& weak = res.rows["weak.wav"].at(0);
    EXPECT_EQ(weak.at("check") + " " + weak.at("note"), "corrected G3");
    EXPECT_NE(res.r.out.find(" Hz (G4), an octave high: used "), std::string::npos) << res.r.out;
    const row& hum_row = res.rows["hum.wav"].at(0);
    EXPECT_EQ(hum_row.at("check") + " " + hum_row.at("note"), "corrected C6");
    EXPECT_NE(res.r.out.find("far too low"), std::string::npos) << res.r.out;
    const row& plain = res.rows["plain.wav"].at(0);
    EXPECT_EQ(plain.at("check") + " " + plain.at("note"), "ok C4");
    EXPECT_LE(std::abs(number(plain, "cents")), 2);

    // The user's hint is followed, but one the harmonics contradict is doubted; --no-check keeps
    // the search's fundamental.
    run_result hinted = harmplot(dir, "-f C3 plain.wav");
    EXPECT_EQ(hinted.rows["plain.wav"].at(0).at("check"), "doubtful");
    EXPECT_NE(hinted.r.out.find("the harmonics point to 261.7 Hz (C4)"), std::string::npos)
        << hinted.r.out;
    EXPECT_EQ(harmplot(dir, "-f C4 plain.wav").rows["plain.wav"].at(0).at("check"), "hint");
    run_result plain_search = harmplot(dir, "--no-check weak.wav");
    EXPECT_EQ(plain_search.rows["weak.wav"].at(0).at("note"), "G4");
    run_shell("rm -rf '" + dir + "'");
}

TEST(HarmplotSummary, AVibratoAndABentAttackAgainstTheirTruth) {
    const std::string dir = fresh_dir("harmplot-moving");
    // A G3 with a vibrato of +-25 cents at 5.5 Hz, harmonic k dying at 0.2 k a second (in
    // amplitude); an A4 whose attack starts 45 cents sharp and settles, 5 cents off after 0.11 s.
    // 24 bits, noise 100 dB under full scale.
    moving_note vibrato{196, 25, 5.5}, bent{440, 0, 0, 45, 0.05};
    vibrato.amps.clear();
    for (int k = 1; k <= 8; ++k) {
        vibrato.amps.push_back(1.0 / k);
        vibrato.decays.push_back(0.2 * k);
    }
    bent.amps = {1, 0.5, 0.3};
    const tonegen::wav_form form{.bits = 24};
    double scale = 0;  // the vibrato's amplitudes to full scale
    for (const auto& [file, note] : {std::pair{"vibrato.wav", vibrato}, {"bent.wav", bent}}) {
        double s = 0;
        std::vector<double> x = moving_samples(note, 3, 0.5, 44100, &s);
        if (note.f0 == vibrato.f0) scale = s;
        std::mt19937 noise(1);
        std::normal_distribution<double> gauss(0, 1e-5);
        for (double& v : x) v += gauss(noise);
        write_file(dir + "/" + file, tonegen::encode_wav({x}, 44100, form));
    }
    run_result res = harmplot(dir, "vibrato.wav bent.wav");
    EXPECT_EQ(res.r.status, 0) << res.r.err;
    const std::vector<row>& v = res.rows["vibrato.wav"];
    ASSERT_EQ(v.size(), 10u) << res.r.out;
    EXPECT_NEAR(1200 * std::log2(number(v[0], "f0_hz") / 196), 0, 3);
    EXPECT_NEAR(number(v[0], "vibrato_hz"), 5.5, 0.3);
    EXPECT_NEAR(number(v[0], "vibrato_cents"), 25, 3);
    EXPECT_NE(res.r.out.find("\n  vibrato 5.5 Hz, ±25 cents\n"), std::string::npos) << res.r.out;
    for (int k = 1; k <= 8; ++k) {
        const row& r = v[std::size_t(k - 1)];
        const double rate = db_per_second(0.2 * k), from = number(r, "fit_from_s");
        EXPECT_NEAR(number(r, "decay_db_per_s"), rate, std::max(0.5, 0.05 * -rate)) << k;
        EXPECT_LE(std::abs(number(r, "decay_db_per_s") - rate), number(r, "decay_ci95_db_per_s"))
            << k;
        // The level at fit_from_s: the amplitude's, against the peak of the sum.
        const double amp = scale / k;
        EXPECT_NEAR(number(r, "start_dbfs"), 20 * std::log10(amp) + rate * from, 1) << k;
    }
    const std::vector<row>& b = res.rows["bent.wav"];
    ASSERT_FALSE(b.empty()) << res.r.out;
    EXPECT_EQ(b[0].at("check"), "ok");
    EXPECT_NEAR(1200 * std::log2(number(b[0], "f0_hz") / 440), 0, 3);
    EXPECT_EQ(b[0].at("vibrato_hz"), "");
    const std::size_t at = res.r.out.find("  the attack starts ");
    ASSERT_NE(at, std::string::npos) << res.r.out;
    int cents = 0;
    double settled = 0;
    ASSERT_EQ(
        std::sscanf(res.r.out.c_str() + at,
                    "  the attack starts %d cents sharp and settles by %lf s", &cents, &settled),
        2)
        << res.r.out;
    EXPECT_GE(cents, 25);
    EXPECT_LE(cents, 45);
    EXPECT_NEAR(settled, 0.05 * std::log(45 / 5.0), 0.03);
    EXPECT_EQ(res.r.out.find("try -s"), std::string::npos) << res.r.out;
    EXPECT_EQ(res.r.out.find("partials run sharp"), std::string::npos) << res.r.out;
    EXPECT_EQ(res.r.out.find("vibrato", res.r.out.find("bent.wav:")), std::string::npos);
    run_shell("rm -rf '" + dir + "'");
}

TEST(HarmplotSummary, FixedABentAttackIsWarnedOfWithAnSThatMendsIt) {
    const std::string dir = fresh_dir("harmplot-bent");
    // 0.2 s at 452 Hz, then 440 Hz: the search's 64 periods lie in the attack. Measured at one
    // fundamental (--fixed), the summary points past it.
    std::vector<double> x = tonegen::harmonic_tone(
        {.freq = 452.0, .amps = {1, 0.5, 0.3}, .decays = {}}, 0.8, 44100, 8820);
    const std::vector<double> rest = tonegen::harmonic_tone(
        {.freq = 440.0, .amps = {1, 0.5, 0.3}, .decays = {}}, 0.8, 44100, 2 * 44100);
    x.insert(x.end(), rest.begin(), rest.end());
    write_file(dir + "/bent.wav", tonegen::encode_wav({x}, 44100, 16));
    run_result res = harmplot(dir, "--fixed bent.wav");
    EXPECT_EQ(res.rows["bent.wav"].at(0).at("check"), "doubtful");
    const std::size_t at = res.r.out.find("  the pitch settles at 440.0 Hz, 46 cents from the ");
    ASSERT_NE(at, std::string::npos) << res.r.out;
    const std::size_t s = res.r.out.find("try -s ", at);
    ASSERT_NE(s, std::string::npos);
    const std::string from = res.r.out.substr(s + 7, res.r.out.find('\n', s) - s - 7);
    EXPECT_GE(std::stod(from), 0.2);
    run_result mended = harmplot(dir, "--fixed -s " + from + " bent.wav");
    const row& r = mended.rows["bent.wav"].at(0);
    EXPECT_EQ(r.at("check") + " " + r.at("note"), "ok A4");
    EXPECT_LE(std::abs(number(r, "cents")), 1);
    // Followed, the same note needs no -s: its fundamental is the pitch it is held at.
    run_result followed = harmplot(dir, "bent.wav");
    const row& f = followed.rows["bent.wav"].at(0);
    EXPECT_EQ(f.at("check") + " " + f.at("note"), "ok A4");
    EXPECT_LE(std::abs(number(f, "cents")), 1);
    const std::size_t line = followed.r.out.find("  the attack starts ");
    int cents = 0;
    ASSERT_NE(line, std::string::npos) << followed.r.out;
    ASSERT_EQ(
        std::sscanf(followed.r.out.c_str() + line, "  the attack starts %d cents sharp", &cents),
        1);
    EXPECT_NEAR(cents, 1200 * std::log2(452.0 / 440), 1);
    run_shell("rm -rf '" + dir + "'");
}

TEST(HarmplotSummary, NoNoteGivesAReasonAndStatusOne) {
    const std::string dir = fresh_dir("harmplot-nonote");
    tonegen(dir, "silence.wav", "sine --amp 0 --seconds 2");
    tonegen(dir, "noise.wav", "sine --amp 0 --noise -20 --seconds 2");
    tonegen(dir, "high.wav", "sine --freq 6000 --seconds 2");
    tonegen(dir, "short.wav", "sine --freq 440 --seconds 1.5");
    run_result res = harmplot(dir, "silence.wav noise.wav high.wav");
    EXPECT_EQ(res.r.status, 1);
    EXPECT_EQ(res.r.out, "");
    for (const char* reason :
         {"harmplot: silence.wav: no note: silence\n",
          "harmplot: noise.wav: no note: no harmonic tone stands out of the noise\n",
          "harmplot: high.wav: no note: the tone at 6000 Hz lies outside 26 to 4435 Hz (A0 to "
          "C8)\n"})
        EXPECT_NE(res.r.err.find(reason), std::string::npos) << res.r.err;
    run_result late = harmplot(dir, "-s 100 short.wav");
    EXPECT_EQ(late.r.status, 1);
    EXPECT_EQ(
        late.r.err,
        "harmplot: short.wav: no note: nothing left after -s 100.00: the stretch is 1.50 s long\n");
    // Each has one row in the table: no numbers, what was analysed when known, and the reason.
    for (const auto& [file, why] :
         {std::pair{"silence.wav", "no note: silence"},
          {"noise.wav", "no note: no harmonic tone stands out of the noise"}}) {
        ASSERT_EQ(res.rows[file].size(), 1u) << file;
        const row& r = res.rows[file][0];
        EXPECT_EQ(r.at("reason"), why);
        EXPECT_EQ(r.at("f0_hz") + r.at("harmonic") + r.at("start_dbfs") + r.at("decay_db_per_s"),
                  "");
        EXPECT_EQ(r.at("channels") + " " + r.at("to_s"), "mono 2.0000");
    }
    EXPECT_EQ(late.rows["short.wav"].at(0).at("reason"),
              "no note: nothing left after -s 100.00: the stretch is 1.50 s long");
    run_shell("rm -rf '" + dir + "'");
}

TEST(HarmplotSummary, ChannelsStretchesFormatsAndNamesAsGiven) {
    const std::string dir = fresh_dir("harmplot-inputs");
    // A note on the right channel only, after a second of silence.
    const std::int64_t n = 3 * 44100;
    std::vector<double> right = tonegen::harmonic_tone({220.0, {1, 0.5}, {1, 2}}, 0.8, 44100, n);
    for (std::int64_t i = 0; i < 44100; ++i) right[std::size_t(i)] = 0;
    write_file(dir + "/right.wav",
               tonegen::encode_wav({std::vector<double>(std::size_t(n), 0.0), right}, 44100, 16));
    // The same note on both channels in opposite phase: their mean is silence.
    std::vector<double> minus = right;
    for (double& v : minus) v = -v;
    write_file(dir + "/cancel.wav", tonegen::encode_wav({right, minus}, 44100, 16));
    tonegen(dir, "a,\"b\".wav", "sine --freq 330 --seconds 1");
    run_shell("mkdir '" + dir + "/x' '" + dir + "/y' && cp '" + dir + "/right.wav' '" + dir +
              "/x/n.wav' && cp '" + dir + "/right.wav' '" + dir + "/y/n.wav'");
    run_result res = harmplot(dir, "right.wav cancel.wav 'a,\"b\".wav' x/n.wav y/n.wav x/n.wav");
    EXPECT_EQ(res.r.status, 1);
    // The silent channel is left out of the mean, from the note's onset on; the odd name as
    // given.
    const row& mean = res.rows["right.wav"].at(0);
    EXPECT_EQ(mean.at("note"), "A3");
    EXPECT_EQ(mean.at("channels"), "channel 2 of 2 (1 silent channel left out)");
    EXPECT_NE(res.r.out.find(" cents, channel 2 of 2 (1 silent channel left out), 3.00 s, "),
              std::string::npos)
        << res.r.out;
    EXPECT_NE(res.r.out.find("  the note begins at 1.00 s"), std::string::npos) << res.r.out;
    // Channels that cancel: the loudest alone, at the level it has alone.
    const row& cancel = res.rows["cancel.wav"].at(0);
    EXPECT_EQ(cancel.at("channels"), "channel 1 of 2 (the channels cancel)");
    EXPECT_EQ(cancel.at("start_dbfs"), mean.at("start_dbfs"));
    EXPECT_NE(cancel.at("reason").find("the channels cancel in the mean"), std::string::npos);
    EXPECT_EQ(res.rows["a,\"b\".wav"].at(0).at("note"), "E4");
    EXPECT_NE(res.r.out.find("a,\"b\".wav: "), std::string::npos) << res.r.out;
    // Two files whose tables would share a name both get one; the same file named twice is
    // analysed once.
    EXPECT_EQ(res.rows["y/n.wav"].size(), 10u);
    EXPECT_NE(res.r.out.find("  the table is named n-wav.csv: out/n.csv holds that of x/n.wav\n"),
              std::string::npos)
        << res.r.out;
    EXPECT_TRUE(std::ifstream(dir + "/out/n-wav.csv").good());
    EXPECT_NE(res.r.err.find("harmplot: x/n.wav: the same file as x/n.wav: skipped\n"),
              std::string::npos)
        << res.r.err;
    EXPECT_EQ(res.rows["x/n.wav"].size(), 11u);  // and the skip's own row

    // A stretch of channel 2 is analysed on its own: its start level is the line's at 1.5 s.
    run_result picked = harmplot(dir, "-c 2 -t 1.5:2.5 right.wav");
    EXPECT_EQ(picked.r.status, 0) << picked.r.err;
    const row& two = picked.rows["right.wav"].at(0);
    EXPECT_NEAR(number(two, "start_dbfs") - number(mean, "start_dbfs"),
                -20 * std::log10(std::exp(0.5)), 0.1);
    EXPECT_NEAR(number(two, "fit_from_s"), 1.5, 0.01);
    EXPECT_LT(number(two, "fit_to_s"), 2.5);
    EXPECT_NE(picked.r.out.find("channel 2 of 2, 1.50 to 2.50 s of 3.00 s"), std::string::npos)
        << picked.r.out;

    // Another format, through libsndfile: FLAC of the same samples.
    SF_INFO info = {};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* flac = sf_open((dir + "/right.flac").c_str(), SFM_WRITE, &info);
    ASSERT_NE(flac, nullptr) << sf_strerror(nullptr);
    std::vector<short> frames;
    for (std::size_t i = 0; i < right.size(); ++i)
        frames.push_back(0), frames.push_back(short(std::lround(right[i] * 32767)));
    sf_writef_short(flac, frames.data(), n);
    sf_close(flac);
    run_result other = harmplot(dir, "right.wav right.flac");
    EXPECT_EQ(other.r.status, 0) << other.r.err;
    EXPECT_EQ(other.rows["right.flac"].at(0).at("start_dbfs"), mean.at("start_dbfs"));
    EXPECT_TRUE(std::ifstream(dir + "/out/right-flac.csv").good());
    run_shell("rm -rf '" + dir + "'");
}

TEST(HarmplotSummary, AStiffStringsPartialsAreMeasuredWhereTheyLie) {
    const std::string dir = fresh_dir("harmplot-partials");
    // An A3 of ten partials at k 220 sqrt(1 + B k^2) / sqrt(1 + B), B = 4e-4, amplitudes 1 / k
    // (scaled to 0.8 in all), each dying at its own rate; at 16 and at 24 bits.
    const double b = 4e-4, f1 = 220;
    std::vector<double> amps, decays;
    double sum = 0;
    std::string a, d;
    for (int k = 1; k <= 10; ++k) {
        amps.push_back(1.0 / k);
        decays.push_back(1 + 0.2 * (k - 1));
        sum += amps.back();
        if (k > 1) a += ',', d += ',';
        a += std::to_string(amps.back());
        d += std::to_string(decays.back());
    }
    const std::string tone =
        "additive --freq 220 --seconds 3 --inharmonicity 0.0004 --amps " + a + " --decays " + d;
    tonegen(dir, "s16.wav", tone);
    tonegen(dir, "s24.wav", tone + " --bits 24 --noise -110");
    // At one fundamental (--fixed) and followed: the other partials leak into each one's bins,
    // a ripple of a dB or two from window to window that moves with the windows' times, so the
    // upper partials' fits differ between the two by up to half a dB and 6 %.
    run_result res;
    for (const char* how : {"--fixed", ""}) {
        const bool fixed = *how != 0;
        res = harmplot(dir, std::string(how) + " --partials s16.wav s24.wav");
        EXPECT_EQ(res.r.status, 0) << res.r.err;
        for (const char* file : {"s16.wav", "s24.wav"}) {
            const std::vector<row>& rows = res.rows[file];
            ASSERT_EQ(rows.size(), 10u) << file;
            EXPECT_NEAR(number(rows[0], "inharmonicity") / b, 1, 0.1) << file;
            for (int k = 1; k <= 10; ++k) {
                const row& r = rows[std::size_t(k - 1)];
                const double f = k * f1 * std::sqrt(1 + b * k * k) / std::sqrt(1 + b);
                // The level at the start of the first window fitted (0 s): the amplitude's.
                const double amp = 0.8 * amps[std::size_t(k - 1)] / sum,
                             rate = decays[std::size_t(k - 1)];
                const double level = 20 * std::log10(amp);
                EXPECT_NEAR(1200 * std::log2(number(r, "freq_hz") / f), 0, 2) << file << " " << k;
                EXPECT_NEAR(number(r, "start_dbfs"), level, fixed ? 0.3 : 0.6)
                    << how << file << " " << k;
                EXPECT_NEAR(number(r, "decay_db_per_s") / db_per_second(rate), 1,
                            fixed ? 0.05 : 0.07)
                    << how << file << " " << k;
            }
        }
    }
    EXPECT_NE(res.r.out.find("  partials of a stiff string: inharmonicity B = 0.0004\n"),
              std::string::npos)
        << res.r.out;
    EXPECT_NE(res.r.out.find("        10      2243   +33.6"), std::string::npos) << res.r.out;
    // Without --partials the check sees them run sharp and points to --partials; a harmonic
    // tone gets no such line.
    tonegen(dir, "h16.wav", "additive --freq 220 --seconds 3 --amps " + a + " --decays " + d);
    run_result plain = harmplot(dir, "s16.wav h16.wav");
    EXPECT_NE(plain.r.out.find("  the partials run sharp (a stiff string, B = 0.0004): the upper "
                               "ones lie off the harmonics' bins; try --partials\n"),
              std::string::npos)
        << plain.r.out;
    EXPECT_NE(plain.rows["s16.wav"].at(0).at("reason").find("try --partials"), std::string::npos);
    EXPECT_EQ(plain.r.out.find("try --partials", plain.r.out.find("h16.wav: ")), std::string::npos)
        << plain.r.out;
    run_shell("rm -rf '" + dir + "'");
}

}  // namespace
