// Takes of several notes through the real harmplot, against the truth they were made from: a
// scale with gaps, a legato line, a string plucked again and again, and, with fluidsynth and its
// sound bank, a piano scale and a guitar's repeated note from MIDI written here. Single notes
// with a wide vibrato, a long reverberant tail or a bent attack stay one note, analysed as
// --one-note analyses them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "process.h"
#include "signals.h"
#include "tonegen.h"

namespace {

constexpr int rate = 44100;

struct truth_note {
    double onset, hz;
};

double key_hz(int key) {
    return 440 * std::exp2((key - 69) / 12.0);
}

// A harmonic note of f Hz for `seconds`, dying at 6 dB/s, its phase going on from `phase`.
void add_note(std::vector<double>& x, double f, double seconds, double& phase) {
    const std::size_t n = std::size_t(seconds * rate);
    for (std::size_t i = 0; i < n; ++i) {
        phase += f / rate;
        double v = 0;
        for (int k = 1; k <= 4; ++k) v += std::sin(2 * M_PI * k * phase) / k;
        x.push_back(0.3 * v * std::pow(10, -6.0 * double(i) / rate / 20));
    }
}

void silence(std::vector<double>& x, double seconds) {
    x.insert(x.end(), std::size_t(seconds * rate), 0.0);
}

void write_take(const std::string& path, std::vector<double> x) {
    std::mt19937 noise(3);
    std::normal_distribution<double> gauss(0, 3e-5);
    for (double& v : x) v += gauss(noise);
    write_file(path, tonegen::encode_wav({x}, rate, 16));
}

// A type-0 MIDI file of one program's notes (start s, length s, key), 960 ticks a second.
std::string midi(int program, const std::vector<std::tuple<double, double, int>>& notes) {
    std::vector<std::tuple<long, int, int>> events;  // tick, status, key
    for (const auto& [start, length, key] : notes) {
        events.emplace_back(std::lround(start * 960), 0x90, key);
        events.emplace_back(std::lround((start + length) * 960), 0x80, key);
    }
    std::sort(events.begin(), events.end());
    std::string track;
    auto delta = [&](long n) {
        std::string d(1, char(n & 0x7f));
        while (n >>= 7) d.insert(d.begin(), char((n & 0x7f) | 0x80));
        track += d;
    };
    delta(0);
    track += {char(0xc0), char(program)};
    long now = 0;
    for (const auto& [tick, status, key] : events) {
        delta(tick - now);
        track += {char(status), char(key), char(status == 0x90 ? 100 : 0)};
        now = tick;
    }
    delta(960);
    track += {char(0xff), char(0x2f), char(0)};
    auto be = [](std::uint32_t v, int bytes) {
        std::string s;
        for (int b = bytes - 1; b >= 0; --b) s += char((v >> (8 * b)) & 0xff);
        return s;
    };
    return "MThd" + be(6, 4) + be(0, 2) + be(1, 2) + be(480, 2) + "MTrk" +
           be(std::uint32_t(track.size()), 4) + track;
}

// The first row of each note of each file in harmplot's --summary table: note index, from, f0.
struct found_note {
    double from, f0;
};
std::map<std::string, std::vector<found_note>> notes_of(const std::string& csv) {
    std::map<std::string, std::vector<found_note>> notes;
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        // Plain rows only: the files here have plain names, the fields needed no quotes.
        std::vector<std::string> f(1);
        bool quoted = false;
        for (char c : line)
            if (c == '"')
                quoted = !quoted;
            else if (c == ',' && !quoted)
                f.emplace_back();
            else
                f.back() += c;
        if (f.size() < 23 || f[5] != "1") continue;
        notes[f[0]].push_back({std::stod(f[f.size() - 2]), f[1].empty() ? 0 : std::stod(f[1])});
    }
    return notes;
}

void expect_notes(const std::vector<found_note>& got, const std::vector<truth_note>& want,
                  double cents_within, const std::string& file) {
    ASSERT_EQ(got.size(), want.size()) << file;
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_NEAR(got[i].from, want[i].onset, std::max(0.03, 2 / want[i].hz))
            << file << " note " << i + 1;
        EXPECT_NEAR(1200 * std::log2(got[i].f0 / want[i].hz), 0, cents_within)
            << file << " note " << i + 1;
    }
}

TEST(HarmplotTake, EveryNoteOfATakeIsFoundWhereItBegins) {
    const std::string dir = temp_path("take");
    run_shell("rm -rf '" + dir + "' && mkdir -p '" + dir + "'");
    std::map<std::string, std::vector<truth_note>> truth;
    // A scale with gaps.
    std::vector<double> x;
    double phase = 0, at = 0.3;
    silence(x, 0.3);
    for (int key : {60, 62, 64, 65, 67}) {
        add_note(x, key_hz(key), 0.5, phase);
        silence(x, 0.2);
        truth["scale.wav"].push_back({at, key_hz(key)});
        at += 0.7;
    }
    write_take(dir + "/scale.wav", x);
    // A legato line: the pitch steps, the phase runs on.
    x.clear();
    at = 0;
    for (int key : {57, 59, 62, 64}) {
        add_note(x, key_hz(key), 0.6, phase);
        truth["legato.wav"].push_back({at, key_hz(key)});
        at += 0.6;
    }
    write_take(dir + "/legato.wav", x);
    // A string plucked four times, each ringing on under the next.
    x.assign(std::size_t(4 * rate), 0.0);
    for (int i = 0; i < 4; ++i) {
        const std::vector<double> p =
            tonegen::pluck(196, 3, std::uint64_t(i + 1), 0.2, rate, rate * 3);
        for (std::size_t j = 0; j < p.size() && j + std::size_t(i * 0.9 * rate) < x.size(); ++j)
            x[j + std::size_t(i * 0.9 * rate)] += p[j];
        truth["plucked.wav"].push_back({i * 0.9, 196});
    }
    write_take(dir + "/plucked.wav", x);
    std::string files = "scale.wav legato.wav plucked.wav";
    // Sampled instruments, from MIDI, where fluidsynth and its bank are installed.
    const std::string bank = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    const bool sampled = run_shell("command -v fluidsynth && test -r " + bank).status == 0;
    if (sampled) {
        std::vector<std::tuple<double, double, int>> scale, repeated;
        for (int i = 0; i < 6; ++i) {
            scale.emplace_back(0.2 + 0.7 * i, 0.55, 48 + std::vector<int>{0, 2, 4, 5, 7, 9}[i]);
            truth["piano.wav"].push_back({0.2 + 0.7 * i, key_hz(std::get<2>(scale.back()))});
            repeated.emplace_back(0.2 + 0.8 * i, 0.6, 52);
            truth["guitar.wav"].push_back({0.2 + 0.8 * i, key_hz(52)});
        }
        write_file(dir + "/piano.mid", midi(0, scale));
        write_file(dir + "/guitar.mid", midi(24, repeated));
        for (const char* name : {"piano", "guitar"})
            ASSERT_EQ(run_shell("cd '" + dir + "' && fluidsynth -ni -q -R 0 -C 0 -r 44100 -F " +
                                name + ".wav " + bank + " " + name + ".mid")
                          .status,
                      0);
        files += " piano.wav guitar.wav";
    }
    const process_result r =
        run_shell("cd '" + dir + "' && '" HARMPLOT "' -o out --summary s.csv " + files);
    EXPECT_EQ(r.status, 0) << r.err;
    const auto found = notes_of(read_file(dir + "/s.csv"));
    for (const auto& [file, want] : truth) {
        // Written notes at their own pitch; sampled ones near their key (the bank's tuning).
        const bool written = file != "piano.wav" && file != "guitar.wav";
        expect_notes(found.count(file) ? found.at(file) : std::vector<found_note>{}, want,
                     written ? 5 : 25, file);
    }
    EXPECT_NE(r.out.find("scale.wav: a take of 5 notes, 0.30-"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n  note 3 of 5\n"), std::string::npos);
    EXPECT_NE(r.out.find("  table out/scale-5.csv, picture out/scale-5.png"), std::string::npos);
    EXPECT_EQ(r.out.find("out/scale.csv"), std::string::npos);
}

TEST(HarmplotTake, ANoteWithVibratoReverberationOrABendStaysOne) {
    const std::string dir = temp_path("one-note");
    run_shell("rm -rf '" + dir + "' && mkdir -p '" + dir + "'");
    // A vibrato of +-100 cents; a note held, then dying 30 dB a second for 2 s; an attack
    // bent 60 cents sharp; a tremolo of +-4 dB at 6 Hz.
    write_take(dir + "/vibrato.wav", moving_samples({294, 100, 5.5, 0, 1, {1, 0.5, 0.3}}, 3, 0.3));
    std::vector<double> tail = moving_samples({330, 0, 0, 0, 1, {1, 0.5, 0.25}}, 3, 0.3);
    for (std::size_t i = 0; i < tail.size(); ++i)
        if (double(i) / rate > 1) tail[i] *= std::pow(10, -30 * (double(i) / rate - 1) / 20);
    write_take(dir + "/tail.wav", tail);
    write_take(dir + "/bent.wav", moving_samples({440, 0, 0, 60, 0.08, {1, 0.5, 0.3}}, 2, 0.3));
    std::vector<double> tremolo = moving_samples({196, 0, 0, 0, 1, {1, 0.6, 0.4}}, 3, 0.3);
    for (std::size_t i = 0; i < tremolo.size(); ++i)
        tremolo[i] *= std::pow(10, 4 * std::sin(2 * M_PI * 6 * double(i) / rate) / 20);
    write_take(dir + "/tremolo.wav", tremolo);
    // A note whose fundamental dies 52 dB a second and whose third harmonic holds: the pitch a
    // frame reads leaps to the harmonic, a twelfth up.
    write_take(dir + "/fading.wav",
               moving_samples({110, 0, 0, 0, 1, {1, 0.3, 0.5}, {6, 6, 0.3}}, 3, 0.3));
    run_shell("cp '" EXAMPLES_DIR "/pluck220.wav' '" + dir + "/'");
    const std::string files = " vibrato.wav tail.wav bent.wav tremolo.wav fading.wav pluck220.wav";
    const process_result found =
        run_shell("cd '" + dir + "' && '" HARMPLOT "' -o a --summary a.csv" + files);
    const process_result one =
        run_shell("cd '" + dir + "' && '" HARMPLOT "' --one-note -o b --summary b.csv" + files);
    EXPECT_EQ(found.out.find("a take of"), std::string::npos) << found.out;
    std::string same = one.out;
    for (std::size_t p = 0; (p = same.find(" b/", p)) != std::string::npos;) same[p + 1] = 'a';
    EXPECT_EQ(found.out, same);
    EXPECT_EQ(read_file(dir + "/a.csv"), read_file(dir + "/b.csv"));
    const auto notes = notes_of(read_file(dir + "/a.csv"));
    EXPECT_EQ(notes.size(), 6u);
    for (const auto& [file, n] : notes) EXPECT_EQ(n.size(), 1u) << file;
    // The wide vibrato's fundamental is the pitch it is held at, not a candidate of the smeared
    // spectrum's.
    ASSERT_EQ(notes.count("vibrato.wav"), 1u);
    EXPECT_NEAR(1200 * std::log2(notes.at("vibrato.wav").at(0).f0 / 294), 0, 10) << found.out;
}

}  // namespace
