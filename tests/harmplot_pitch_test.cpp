// The fundamental over the whole range an instrument plays, and what harmplot says of sounds that
// are not one harmonic note: notes of known partials written here, each test one harmplot run on
// several of them, read back from the --summary table.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "harmplot_table.h"
#include "process.h"
#include "tonegen.h"

namespace {

struct part {
    double freq, amp, decay = 0.5;  // decay: of the amplitude, exp(-decay t)
};

// The partials at `rate`, at most half of full scale, over noise 80 dB under full scale.
std::vector<double> sound(const std::vector<part>& parts, double seconds, int rate) {
    std::vector<double> x(std::size_t(seconds * rate));
    for (std::size_t i = 0; i < parts.size(); ++i)
        for (std::size_t n = 0; n < x.size(); ++n) {
            const double t = double(n) / rate;
            x[n] += parts[i].amp * std::exp(-parts[i].decay * t) *
                    std::sin(2 * std::numbers::pi * parts[i].freq * t + double(i));
        }
    double peak = 0;
    for (double v : x) peak = std::max(peak, std::abs(v));
    std::mt19937 gen(7);
    std::normal_distribution<double> noise(0, 1e-4);
    for (double& v : x) v = 0.5 * v / peak + noise(gen);
    return x;
}

void put(const std::string& dir, const std::string& name, const std::vector<double>& x, int rate,
         const tonegen::wav_form& form = {.bits = 24}) {
    write_file(dir + "/" + name, tonegen::encode_wav({x}, rate, form));
}

// Harmonics `from` to `to` of f, harmonic k of amplitude 1 / k.
std::vector<part> harmonics(double f, int from, int to) {
    std::vector<part> parts;
    for (int k = from; k <= to; ++k) parts.push_back({k * f, 1.0 / k});
    return parts;
}

double cents(double f, double truth) {
    return 1200 * std::log2(f / truth);
}

// What the rows of one file say, the check and the note first: "corrected A0".
std::string verdict(const std::vector<row>& rows) {
    return rows.empty() ? "no rows" : rows[0].at("check") + " " + rows[0].at("note");
}

// Every suggestion harmplot printed ("try -f C7", "try -s 0.35", "try --partials") for the file
// it was printed under, taken: harmplot accepts each and analyses the file.
void take_every_suggestion(const std::string& dir, const std::string& out) {
    std::string file;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t wav = line.find(".wav: ");
        if (!line.empty() && line[0] != ' ' && wav != std::string::npos)
            file = line.substr(0, wav + 4);
        for (std::size_t at = line.find("try "); at != std::string::npos;
             at = line.find("try ", at + 4)) {
            std::istringstream words(line.substr(at + 4));
            std::string option, value;
            words >> option;
            if (option == "-f" || option == "-s")
                words >> value;
            else if (option != "--partials")
                continue;
            const std::string taken = option + (value.empty() ? "" : " " + value);
            const process_result r = run_shell("cd '" + dir + "' && '" HARMPLOT "' -o taken " +
                                               taken + " --force " + file);
            EXPECT_EQ(r.status, 0) << file << ": " << taken << "\n" << r.err << r.out;
        }
    }
}

}  // namespace

TEST(HarmplotPitch, TheLowestAndHighestNotesAndAFundamentalWeakOrAbsent) {
    const std::string dir = fresh_dir("harmplot-pitch-range");
    // A0 tuned 40 cents flat, a piano's stiff string whose partial 1 is 26 dB under partial 2:
    // partial k at k F sqrt(1 + B k^2), and the fundamental is partial 1, 27.12 Hz.
    const double b = 2.5e-4, a0 = 27.5 * std::exp2(-40.0 / 1200), stiff_f = a0 / std::sqrt(1 + b);
    std::vector<part> piano;
    for (int k = 1; k <= 40; ++k)
        piano.push_back({k * stiff_f * std::sqrt(1 + b * k * k), k == 1 ? 0.05 : 1 / std::sqrt(k)});
    put(dir, "a0.wav", sound(piano, 4, 44100), 44100);
    // E2 whose fundamental is 30 dB under its second harmonic: the search finds E3.
    std::vector<part> weak = harmonics(82.407, 1, 10);
    weak[0].amp = 0.5 * std::pow(10, -30.0 / 20);
    put(dir, "e2-weak.wav", sound(weak, 3, 44100), 44100);
    // No fundamental at all, harmonics 2 to 16 of 110 Hz.
    put(dir, "a2-missing.wav", sound(harmonics(110, 2, 16), 3, 44100), 44100);
    // Above the search's scan: C8 at 44.1 kHz (harmonics 1 to 5 below half the rate), C7 at 48.
    put(dir, "c8.wav", sound(harmonics(4186.009, 1, 5), 2, 44100), 44100);
    put(dir, "c7-48k.wav", sound(harmonics(2093.005, 1, 8), 2, 48000), 48000);

    run_result res = harmplot(dir, "a0.wav e2-weak.wav a2-missing.wav c8.wav c7-48k.wav");
    EXPECT_EQ(res.r.status, 0) << res.r.err;
    // Corrections land on the note: within 2 cents of its partials' fundamental.
    const struct {
        const char* file;
        const char* said;
        double truth;
    } notes[] = {{"a0.wav", "corrected A0", a0},
                 {"e2-weak.wav", "corrected E2", 82.407},
                 {"a2-missing.wav", "corrected A2", 110},
                 {"c8.wav", "corrected C8", 4186.009},
                 {"c7-48k.wav", "corrected C7", 2093.005}};
    for (const auto& n : notes) {
        const std::vector<row>& rows = res.rows[n.file];
        ASSERT_EQ(rows.size(), 10u) << n.file << "\n" << res.r.out;
        EXPECT_EQ(verdict(rows), n.said) << n.file << "\n" << res.r.out;
        EXPECT_NEAR(cents(number(rows[0], "f0_hz"), n.truth), 0, 2) << n.file;
    }
    EXPECT_NE(res.rows["a2-missing.wav"][0].at("reason").find("the fundamental itself is absent"),
              std::string::npos);
    EXPECT_EQ(res.rows["e2-weak.wav"][0].at("reason").find("absent"), std::string::npos);
    // C8's harmonics 6 to 10 lie above 22050 Hz: said so, with no numbers.
    for (std::size_t k = 0; k < 10; ++k) {
        const row& r = res.rows["c8.wav"][k];
        EXPECT_EQ(r.at("start_dbfs").empty(), k >= 5) << k + 1;
        EXPECT_EQ(r.at("reason").find("at or above half the sampling rate, 22050 Hz") !=
                      std::string::npos,
                  k >= 5)
            << k + 1;
    }
    // No harmonic tone here is a chord, a bar or doubtful.
    for (const char* never : {"two or more pitches", "far from harmonic", "doubtful"})
        EXPECT_EQ(res.r.out.find(never), std::string::npos) << never << "\n" << res.r.out;
    take_every_suggestion(dir, res.r.out);
    run_shell("rm -rf '" + dir + "'");
}

TEST(HarmplotPitch, BarsChordsAndBrokenRecordingsAreSaid) {
    const std::string dir = fresh_dir("harmplot-pitch-said");
    // A free bar's partials, 1 : 2.756 : 5.404, on C6; the higher ones die faster.
    put(dir, "bar.wav",
        sound({{1046.5, 1, 1}, {2.756 * 1046.5, 0.6, 3}, {5.404 * 1046.5, 0.4, 6}}, 3, 44100),
        44100);
    // Two notes of eight harmonics each: E2 and B2, and C4 and E4, equally tempered.
    std::vector<part> e2b2 = harmonics(82.407, 1, 8), c4e4 = harmonics(261.626, 1, 8);
    for (const part& p : harmonics(123.471, 1, 8)) e2b2.push_back(p);
    for (const part& p : harmonics(329.628, 1, 8)) c4e4.push_back(p);
    put(dir, "e2b2.wav", sound(e2b2, 3, 44100), 44100);
    put(dir, "c4e4.wav", sound(c4e4, 3, 44100), 44100);
    // A single note rich in harmonics is one note.
    put(dir, "rich.wav", sound(harmonics(196, 1, 20), 3, 44100), 44100);
    // 20 ms of A4; and a clean A3 in 64-bit float with one sample of 1e300.
    put(dir, "short.wav", sound({{440, 1}}, 0.02, 44100), 44100);
    std::vector<double> spiked = sound(harmonics(220, 1, 5), 3, 44100);
    spiked[spiked.size() / 2] = 1e300;
    put(dir, "spike.wav", spiked, 44100, {.bits = 64, .is_float = true});

    run_result res = harmplot(dir, "bar.wav e2b2.wav c4e4.wav rich.wav short.wav spike.wav");
    EXPECT_EQ(res.r.status, 1) << res.r.err;  // short.wav has no note
    const row& bar = res.rows["bar.wav"].at(0);
    EXPECT_EQ(verdict(res.rows["bar.wav"]), "ok C6") << res.r.out;
    EXPECT_NEAR(cents(number(bar, "f0_hz"), 1046.5), 0, 1);
    EXPECT_NE(bar.at("reason").find("partials far from harmonic (a bar, a bell, a membrane)"),
              std::string::npos);
    // Chords: the lowest note's numbers, doubtful, and the notes named.
    const struct {
        const char* file;
        const char* said;
        double truth;
        const char* lowest;  // the notes named: "two or more pitches at once: 82.35 Hz (E2) and
        const char* other;   // 123.4 Hz (B2)"
    } chords[] = {{"e2b2.wav", "doubtful E2", 82.407, " Hz (E2) and 123.", " Hz (B2)"},
                  {"c4e4.wav", "doubtful C4", 261.626, " Hz (C4) and 329.", " Hz (E4)"}};
    for (const auto& c : chords) {
        const std::vector<row>& rows = res.rows[c.file];
        EXPECT_EQ(verdict(rows), c.said) << res.r.out;
        const double f0 = number(rows.at(0), "f0_hz");
        EXPECT_NEAR(cents(f0, c.truth), 0, 2) << c.file;
        const std::string reason = rows.at(0).at("reason");
        const std::size_t lowest = reason.find(c.lowest);
        EXPECT_EQ(reason.rfind("two or more pitches at once: ", 0), 0u) << reason;
        EXPECT_LT(lowest, 40u) << reason;
        EXPECT_NE(reason.find(c.other, lowest), std::string::npos) << reason;
    }
    EXPECT_EQ(verdict(res.rows["rich.wav"]), "ok G3") << res.r.out;
    const std::vector<row>& short_rows = res.rows["short.wav"];
    ASSERT_EQ(short_rows.size(), 1u);
    EXPECT_NE(short_rows[0].at("reason").find("no note: too short: 0.020 s of sound"),
              std::string::npos)
        << short_rows[0].at("reason");
    EXPECT_EQ(verdict(res.rows["spike.wav"]), "ok A3") << res.r.out;
    EXPECT_NE(res.r.out.find("  1 sample is no number or lies far beyond full scale (up to "
                             "1e+300 times it): taken as 0"),
              std::string::npos)
        << res.r.out;
    // Nothing in this run is a stiff string.
    EXPECT_EQ(res.r.out.find("stiff string"), std::string::npos) << res.r.out;
    take_every_suggestion(dir, res.r.out);
    run_shell("rm -rf '" + dir + "'");
}
