// The note as it is played, through harmplot: a held note and a struck note of two stages against
// their truth, single decays in noise that keep one stage, and notes whose pitch harmplot must
// not call held and ok (a note under a louder hum, glides).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "harmplot_table.h"
#include "process.h"
#include "tonegen.h"

namespace {

constexpr int rate = 44100;
constexpr double pi = std::numbers::pi;

// One sound of a note: a sine of `freq` whose amplitude follows `amp` (full scale 1).
struct sound {
    double freq;
    std::function<double(double)> amp;
    double phase = 0;
};

std::vector<double> render(const std::vector<sound>& sounds, double seconds, double noise_dbfs,
                           unsigned seed) {
    std::vector<double> x(std::size_t(seconds * rate));
    std::mt19937 gen(seed);
    std::normal_distribution<double> gauss(0, std::pow(10, noise_dbfs / 20) / std::sqrt(2.0));
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double t = double(i) / rate;
        for (const sound& s : sounds) x[i] += s.amp(t) * std::sin(2 * pi * s.freq * t + s.phase);
        x[i] += gauss(gen);
    }
    return x;
}

double db(double a) {
    return 20 * std::log10(a);
}

double median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(v.size() / 2), v.end());
    return v[v.size() / 2];
}

TEST(HarmplotEnvelope, AHeldNoteAndATwoStageNoteAgainstTheirTruth) {
    const std::string dir = fresh_dir("harmplot-envelope");
    // Held: 220 Hz from 0.2 s, its harmonic k rising with a time constant of 20 k ms (the upper
    // ones later), wandering by ±1 dB at 0.4 Hz, released at 2.3 s at 40 + 5 k dB/s. 24 bits.
    const double onset = 0.2, released = 2.3;
    std::vector<sound> held;
    std::vector<std::function<double(double)>> level;  // dB, with the rise
    for (int k = 1; k <= 5; ++k) {
        const double tau = 0.02 * k, fall = 40 + 5 * k, top = -14 - 4.0 * k;
        auto amp = [=](double t) {
            if (t <= onset) return 0.0;
            const double u = std::min(t, released);
            const double l = top + std::sin(2 * pi * 0.4 * u) - fall * std::max(0.0, t - released);
            return std::pow(10, l / 20) * (1 - std::exp(-(t - onset) / tau));
        };
        held.push_back({220.0 * k, amp, 0.7 * k});
        level.push_back([amp](double t) { return db(std::max(amp(t), 1e-12)); });
    }
    const std::vector<double> h = render(held, 3.2, -110, 1);
    write_file(dir + "/held.wav", tonegen::encode_wav({h}, rate, tonegen::wav_form{.bits = 24}));

    // Struck: 196 Hz from 0.1 s, harmonic k the sum of a prompt sound and an aftersound of one
    // frequency, their phases 60 degrees apart: prompt 20 + 8 k dB/s, aftersound 1.5 + k dB/s,
    // 28 dB under it at the onset. 16 bits.
    const double struck_at = 0.1, apart = 28;
    std::vector<sound> struck;
    for (int k = 1; k <= 4; ++k) {
        const double prompt = 20 + 8.0 * k, after = 1.5 + k, top = -12 - 4.0 * k;
        auto part = [=](double start, double rate_db) {
            return [=](double t) {
                return t <= struck_at ? 0.0
                                      : std::pow(10, (start - rate_db * (t - struck_at)) / 20);
            };
        };
        struck.push_back({196.0 * k, part(top, prompt), 0.3 * k});
        struck.push_back({196.0 * k, part(top - apart, after), 0.3 * k + pi / 3});
    }
    write_file(dir + "/struck.wav", tonegen::encode_wav({render(struck, 5, -100, 2)}, rate, 16));

    run_result res = harmplot(dir, "held.wav struck.wav");
    EXPECT_EQ(res.r.status, 0) << res.r.err;
    const std::vector<row>& hr = res.rows["held.wav"];
    ASSERT_EQ(hr.size(), 10u) << res.r.out;
    double attack_before = 0;
    for (int k = 1; k <= 5; ++k) {
        const row& r = hr[std::size_t(k - 1)];
        EXPECT_EQ(r.at("kind"), "held");
        // The truth on a grid of 0.1 ms: the held level (the median from twice the attack's
        // time after the onset to the release) and the attack (to within 3 dB of it), found
        // again from an attack of 5 time constants.
        double attack = 0.1 * k, held_db = 0, sd = 0;
        for (int pass = 0; pass < 3; ++pass) {
            std::vector<double> v;
            for (double t = onset + 2 * attack; t <= released; t += 1e-4)
                v.push_back(level[k - 1](t));
            held_db = median(v);
            double mean = 0, sq = 0;
            for (double x : v) mean += x / double(v.size());
            for (double x : v) sq += (x - mean) * (x - mean) / double(v.size());
            sd = std::sqrt(sq);
            double t = onset;
            while (level[k - 1](t) < held_db - 3) t += 1e-4;
            attack = t - onset;
        }
        EXPECT_NEAR(number(r, "attack_s"), attack, std::max(0.03, 0.25 * attack)) << k;
        EXPECT_GT(number(r, "attack_s"), attack_before) << k;  // the upper ones later
        attack_before = number(r, "attack_s");
        EXPECT_NEAR(number(r, "held_dbfs"), held_db, 0.5) << k;
        EXPECT_NEAR(number(r, "held_sd_db"), sd, 0.35) << k;
        // The first 20 columns describe the held part's line: it holds, up to the release.
        EXPECT_NEAR(number(r, "decay_db_per_s"), 0, 1.5) << k;
        EXPECT_NEAR(number(r, "fit_to_s"), released, 0.05) << k;
        EXPECT_NEAR(number(r, "release_db_per_s"), -(40 + 5 * k), std::max(2.0, 0.1 * (40 + 5 * k)))
            << k;
        EXPECT_NEAR(number(r, "release_from_s"), released, 0.05) << k;
        EXPECT_EQ(r.at("decay2_db_per_s") + r.at("knee_s"), "") << k;
    }
    EXPECT_NE(res.r.out.find("  held note: begins at 0.2"), std::string::npos) << res.r.out;
    EXPECT_NE(res.r.out.find(", released from 2.3"), std::string::npos) << res.r.out;

    const std::vector<row>& sr = res.rows["struck.wav"];
    ASSERT_EQ(sr.size(), 10u) << res.r.out;
    for (int k = 1; k <= 4; ++k) {
        const row& r = sr[std::size_t(k - 1)];
        const double prompt = -(20 + 8.0 * k), after = -(1.5 + k);
        const double knee = struck_at + apart / (after - prompt);
        EXPECT_EQ(r.at("kind"), "decaying");
        EXPECT_NEAR(number(r, "decay_db_per_s"), prompt, 0.15 * -prompt) << k;
        EXPECT_NEAR(number(r, "decay2_db_per_s"), after, std::max(0.5, 0.15 * -after)) << k;
        EXPECT_NEAR(number(r, "knee_s"), knee, std::max(0.2, 0.25 * (knee - struck_at))) << k;
        // The intervals hold the truth.
        EXPECT_LE(std::abs(number(r, "decay_db_per_s") - prompt), number(r, "decay_ci95_db_per_s"))
            << k;
        EXPECT_LE(std::abs(number(r, "decay2_db_per_s") - after), number(r, "decay2_ci95_db_per_s"))
            << k;
        EXPECT_LT(number(r, "attack_s"), 0.03) << k;
        EXPECT_EQ(r.at("held_dbfs") + r.at("release_db_per_s"), "") << k;
    }
    EXPECT_NE(res.r.out.find("  decaying note: begins at 0.1"), std::string::npos) << res.r.out;
    EXPECT_NE(res.r.out.find("prompt dB/s    T60 s  aftersound dB/s  knee s    T60 s  fitted, s"),
              std::string::npos)
        << res.r.out;
    run_shell("rm -rf '" + dir + "'");
}

std::string decay_file(int i) {
    std::string name = "d";  // built in steps: gcc 12 warns of an overlap in "d" + ... + ".wav"
    name += std::to_string(i);
    return name + ".wav";
}

TEST(HarmplotEnvelope, SingleDecaysInNoiseKeepOneStage) {
    // Ten harmonics, each dying at its own rate (up to 40 dB/s, some ten times slower), into the
    // noise of 16 and 24 bits and float, at several pitches: every harmonic keeps one stage, the
    // loudest three their rates within 5 % (or 0.5 dB/s), and the note decays.
    const std::string dir = fresh_dir("harmplot-single");
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> u(0, 1);
    std::string files;
    std::vector<std::vector<double>> truth;
    for (int i = 0; i < 9; ++i) {
        const double f0 = 55 * std::pow(2.0, 4 * u(gen));
        std::string amps, decays;
        std::vector<double> rates;
        for (int k = 1; k <= 10; ++k) {
            // The loudest three at 6 dB/s or more; the others, 25 dB under them, at any rate.
            const double r = k <= 3 ? 6 + 34 * u(gen) : 40 * u(gen) * (u(gen) < 0.3 ? 0.1 : 1);
            const double level = k <= 3 ? -3 * k - 5 * u(gen) : -28 - 3 * k - 10 * u(gen);
            rates.push_back(-r);
            if (k > 1) amps += ",", decays += ",";
            amps += std::to_string(std::pow(10, level / 20));
            // tonegen's decay d is the amplitude's, exp(-d t): 20 log10(e) d dB a second.
            decays += std::to_string(r / (20 * std::log10(std::numbers::e)));
        }
        truth.push_back(rates);
        const char* form[3] = {"", " --bits 24", " --float 32"};
        const std::string name = decay_file(i);
        const process_result r = run_shell(
            "'" TONEGEN_EXE "' additive --freq " + std::to_string(f0) + " --seconds 3 --amps " +
            amps + " --decays " + decays + " --noise " + std::to_string(-60 - 10 * (i % 4)) +
            form[i % 3] + " -o '" + dir + "/" + name + "'");
        ASSERT_EQ(r.status, 0) << r.err;
        files += " " + name;
    }
    write_file(dir + "/none.wav", "no recording\n");
    run_result res = harmplot(dir, files + " none.wav");
    EXPECT_EQ(res.r.status, 1) << res.r.err;
    EXPECT_EQ(res.rows["none.wav"].size(), 1u);  // its one row has every column too
    int rates = 0;
    for (int i = 0; i < 9; ++i) {
        const std::vector<row>& rows = res.rows[decay_file(i)];
        ASSERT_FALSE(rows.empty()) << i;
        for (const row& r : rows) {
            const int k = std::stoi(r.at("harmonic"));
            EXPECT_EQ(r.at("kind"), "decaying") << i;
            EXPECT_EQ(r.at("decay2_db_per_s") + r.at("knee_s") + r.at("release_db_per_s"), "")
                << i << " " << k;
            EXPECT_EQ(r.at("reason").find("release"), std::string::npos) << i << " " << k;
            if (r.at("decay_db_per_s").empty() || k > 3) continue;
            const double want = truth[std::size_t(i)][std::size_t(k - 1)];
            EXPECT_NEAR(number(r, "decay_db_per_s"), want, std::max(0.5, 0.05 * -want)) << i;
            ++rates;
        }
    }
    EXPECT_GE(rates, 20);
    run_shell("rm -rf '" + dir + "'");
}

TEST(HarmplotEnvelope, ANoteUnderALouderHumAndGlidesAreNotCalledOk) {
    const std::string dir = fresh_dir("harmplot-hum-glide");
    // A 440 Hz note of five harmonics under 50 Hz mains hum (and its second and third) four
    // times its amplitude: the search finds the hum; the note is what harmplot must give.
    std::vector<sound> hum = {{50, [](double) { return 0.4; }},
                              {100, [](double) { return 0.1; }},
                              {150, [](double) { return 0.05; }}};
    for (int k = 1; k <= 5; ++k) hum.push_back({440.0 * k, [k](double) { return 0.1 / k; }});
    write_file(dir + "/hum.wav", tonegen::encode_wav({render(hum, 3, -90, 3)}, rate, 16));
    // An octave glide over 3 s, and a pure sine gliding as fast: the pitch follower loses both.
    auto glide = [](int k, double amp) {
        return [k, amp](double t) {
            // The phase of 220 2^(t / 3) Hz, integrated.
            return amp * std::sin(2 * pi * k * 220 * 3 / std::log(2.0) * (std::exp2(t / 3) - 1));
        };
    };
    std::vector<double> g(3 * rate), s(3 * rate);
    for (std::size_t i = 0; i < g.size(); ++i) {
        const double t = double(i) / rate;
        for (int k = 1; k <= 5; ++k) g[i] += glide(k, 0.3 / k)(t);
        s[i] = glide(1, 0.5)(t);
    }
    write_file(dir + "/glide.wav", tonegen::encode_wav({g}, rate, 16));
    write_file(dir + "/sine.wav", tonegen::encode_wav({s}, rate, 16));

    run_result res = harmplot(dir, "hum.wav glide.wav sine.wav");
    EXPECT_EQ(res.r.status, 0) << res.r.err;
    const row& h = res.rows["hum.wav"].at(0);
    EXPECT_EQ(h.at("note") + " " + h.at("check"), "A4 corrected");
    for (std::size_t k = 0; k < 5; ++k)
        EXPECT_NEAR(number(res.rows["hum.wav"].at(k), "held_dbfs"), db(0.1 / double(k + 1)), 0.5);
    for (const char* file : {"glide.wav", "sine.wav"}) {
        EXPECT_EQ(res.rows[file].at(0).at("check"), "doubtful") << file;
        // A tone of constant level: no release, whatever the follower made of it.
        for (const row& r : res.rows[file])
            EXPECT_EQ(r.at("release_db_per_s") + r.at("decay2_db_per_s"), "") << file;
    }
    for (const char* said : {"glide.wav: ", "  the pitch glides from 2",
                             "sine.wav: ", "  the pitch follower loses the note at "})
        EXPECT_NE(res.r.out.find(said), std::string::npos) << said << "\n" << res.r.out;
    EXPECT_EQ(res.r.out.find(", released from"), std::string::npos) << res.r.out;
    run_shell("rm -rf '" + dir + "'");
}

}  // namespace
