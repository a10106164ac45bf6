// What harmplot reads of a recording: every form of WAV file as riffcat prints it, the formats
// libsndfile reads as their WAV twins, what it refuses and why; then the channels, the stretch
// and the cap of the samples it analyses.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "mono.h"
#include "process.h"
#include "recording.h"
#include "tonegen.h"

namespace {

// The recording at `path`, read whole: its facts and every frame's values.
struct read_back {
    bool ok = false;
    std::string why;
    wav_facts facts;
    std::vector<double> x;
};
read_back read_recording(const std::string& path) {
    read_back b;
    const int fd = open(path.c_str(), O_RDONLY);
    struct stat st;
    fstat(fd, &st);
    recording r;
    b.ok = open_recording({.fd = fd, .size = std::uint64_t(st.st_size)}, r, b.why);
    if (b.ok) {
        b.facts = r.facts;
        b.x.resize(std::size_t(r.facts.frames * r.facts.channels));
        // In two reads, the second from a frame in the middle.
        const long long half = r.facts.frames / 2;
        EXPECT_EQ(read_frames(r, half, r.facts.frames - half, b.x.data() + half * r.facts.channels,
                              b.why),
                  r.facts.frames - half);
        EXPECT_EQ(read_frames(r, 0, half, b.x.data(), b.why), half);
    }
    close_recording(r);
    close(fd);
    return b;
}

// riffcat's sample lines as numbers.
std::vector<double> riffcat_values(const std::string& path) {
    std::istringstream in(run_shell("'" RIFFCAT_EXE "' '" + path + "' 2>/dev/null").out);
    std::vector<double> v;
    for (std::string s; in >> s;) v.push_back(std::stod(s));
    return v;
}

TEST(HarmplotRecording, EveryWavFormReadsAsRiffcatPrintsIt) {
    const struct {
        std::vector<std::string> form;
        double full_scale;
        bool is_float;
    } cases[] = {
        {{"--bits", "8"}, 128, false},
        {{"--bits", "16"}, 32768, false},
        {{"--bits", "24", "--extensible"}, 8388608, false},
        {{"--bits", "32"}, 2147483648.0, false},
        {{"--float", "32", "--extensible"}, 1, true},
        {{"--float", "64"}, 1, true},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"sine",       "--seconds", "0.5",    "--rate", "48000",
                                         "--channels", "2",         "--junk", "7"};
        args.insert(args.end(), c.form.begin(), c.form.end());
        const std::string wav = tonegen_file("recording-form.wav", args);
        const read_back b = read_recording(wav);
        ASSERT_TRUE(b.ok) << b.why;
        EXPECT_EQ(b.facts.full_scale, c.full_scale);
        EXPECT_EQ(b.facts.is_float, c.is_float);
        EXPECT_EQ(b.facts.rate, 48000);
        EXPECT_EQ(b.facts.channels, 2);
        EXPECT_EQ(b.facts.frames, 24000);
        EXPECT_EQ(b.facts.cut_bytes, -1);
        const std::vector<double> printed = riffcat_values(wav);
        ASSERT_EQ(b.x.size(), printed.size());
        // riffcat prints a float sample as the shortest text that reads back to the same float.
        for (std::size_t i = 0; i < printed.size(); ++i)
            ASSERT_EQ(c.form[1] == "32" && c.is_float ? double(float(printed[i])) : printed[i],
                      b.x[i])
                << c.form[1] << " sample " << i;
    }
}

TEST(HarmplotRecording, OtherFormatsThroughLibsndfileReadAsTheirWavTwins) {
    const std::string wav = tonegen_file(
        "recording-twin.wav", {"sine", "--seconds", "0.3", "--channels", "2", "--bits", "24"});
    const read_back twin = read_recording(wav);
    ASSERT_TRUE(twin.ok) << twin.why;
    const struct {
        const char* name;
        int format;
        double full_scale;
        double error;  // how far a value may lie from the WAV file's, in full scales
    } cases[] = {
        {"x.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 8388608, 0},
        {"x.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 8388608, 0},
        {"x.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_24, 8388608, 0},
        {"x.caf", SF_FORMAT_CAF | SF_FORMAT_FLOAT, 1, 1e-7},
        {"x.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, 0.02},
        {"mulaw.wav", SF_FORMAT_WAV | SF_FORMAT_ULAW, 1, 0.02},  // a coding riffcat cannot print
    };
    for (const auto& c : cases) {
        const std::string path = temp_path(c.name);
        SF_INFO info = {};
        info.samplerate = twin.facts.rate;
        info.channels = 2;
        info.format = c.format;
        SNDFILE* out = sf_open(path.c_str(), SFM_WRITE, &info);
        ASSERT_NE(out, nullptr) << c.name << ": " << sf_strerror(nullptr);
        // PCM as integers of 32 bits (libsndfile scales doubles by 2^23 - 1), the others scaled.
        std::vector<double> scaled(twin.x);
        for (double& v : scaled) v /= twin.facts.full_scale;
        std::vector<int> ints;
        for (double v : twin.x) ints.push_back(int(v) * 256);
        if (c.full_scale > 1)
            sf_writef_int(out, ints.data(), twin.facts.frames);
        else
            sf_writef_double(out, scaled.data(), twin.facts.frames);
        sf_close(out);
        const read_back b = read_recording(path);
        ASSERT_TRUE(b.ok) << c.name << ": " << b.why;
        EXPECT_EQ(b.facts.full_scale, c.full_scale) << c.name;
        EXPECT_EQ(b.facts.channels, 2) << c.name;
        EXPECT_EQ(b.facts.rate, twin.facts.rate) << c.name;
        ASSERT_EQ(b.facts.frames, twin.facts.frames) << c.name;
        double worst = 0;
        // Vorbis's first samples are the codec's warm-up; compare from the tenth of a second.
        for (std::size_t i = 2 * 4410; i < b.x.size(); ++i)
            worst = std::max(worst, std::abs(b.x[i] / c.full_scale - scaled[i]));
        EXPECT_LE(worst, c.error) << c.name;
    }
}

TEST(HarmplotRecording, WhatItRefusesItSaysWhy) {
    const std::vector<double> tone = tonegen::sine(440, 0.5, 44100, 4410);
    std::string wav = tonegen::encode_wav({tone}, 44100, 16);
    const auto refusal = [&](const std::string& name, const std::string& bytes) {
        write_file(temp_path(name), bytes);
        return read_recording(temp_path(name)).why;
    };
    EXPECT_EQ(refusal("text.wav", "not a recording\n").substr(0, 55),
              "Not a 'RIFF' format; libsndfile cannot read it either (");
    EXPECT_EQ(refusal("cut-header.wav", wav.substr(0, 30)), "Read error");
    EXPECT_EQ(refusal("no-data.wav", wav.substr(0, 36)), "No 'data' chunk");
    std::string none = wav, fast = wav;
    none[22] = 0;  // channels
    EXPECT_EQ(refusal("no-channels.wav", none), "no channels: its fmt chunk gives 0");
    fast[24] = 0, fast[25] = 0x28, fast[26] = 0x6b, fast[27] = char(0xee);  // 4000000000 Hz
    EXPECT_EQ(refusal("fast.wav", fast), "sampling rate 4000000000 Hz, outside 1000 to 1000000 Hz");
    // A file cut short inside its data is read as far as it goes, and says so.
    write_file(temp_path("cut.wav"), wav.substr(0, 44 + 1001));
    const read_back cut = read_recording(temp_path("cut.wav"));
    ASSERT_TRUE(cut.ok) << cut.why;
    EXPECT_EQ(cut.facts.frames, 500);
    EXPECT_EQ(cut.facts.cut_bytes, 1001);
    EXPECT_EQ(cut.facts.data_bytes, 8820);
}

TEST(HarmplotRecording, TheChannelTheStretchAndTheCap) {
    // 1000 frames a second: silence until frame 1500, then the left channel counts 1 .. 7 and
    // the right one stays 0.
    const long long frames = max_samples + 2100;
    std::vector<double> x(std::size_t(2 * frames), 0.0);
    for (long long i = 1500; i < frames; ++i) x[std::size_t(2 * i)] = double(i % 7 + 1);
    wav_facts facts;
    facts.rate = 1000;
    facts.channels = 2;
    auto prepare = [&](const stretch_request& want, stretch_result& r) {
        r = place_stretch(facts, want, frames);
        std::vector<double> mono(std::size_t(r.count));
        mix_frames(x.data() + 2 * r.first, r.count, facts, want, mono.data());
        find_onset(mono.data(), r.count, facts.rate, r);
        return mono;
    };
    stretch_result r;
    const std::vector<double> mean = prepare({.from = 1.0}, r);
    EXPECT_EQ(r.first, 1000);
    EXPECT_EQ(r.count, max_samples);  // from frame 1000, the most harmtrace reads
    EXPECT_TRUE(r.capped);
    EXPECT_EQ(r.frames, frames);
    EXPECT_FALSE(r.silent);
    EXPECT_NEAR(r.onset, 0.5, 1e-12);  // the note begins 0.5 s into the stretch
    EXPECT_EQ(std::vector<double>(mean.begin() + 500, mean.begin() + 504),
              (std::vector<double>{1.5, 2, 2.5, 3}));  // frame 1500 on: (3 + 0) / 2, ...

    const std::vector<double> right = prepare({.from = 2, .to = 3, .channel = 2}, r);
    EXPECT_EQ(r.count, 1000);
    EXPECT_FALSE(r.capped);
    EXPECT_TRUE(r.silent);
    EXPECT_EQ(right[0], 0);

    // Past the end: nothing, and a stretch that ends past the end stops there.
    prepare({.from = 3000}, r);
    EXPECT_EQ(r.count, 0);
    prepare({.from = double(frames - 10) / 1000, .to = 1e6}, r);
    EXPECT_EQ(r.count, 10);

    std::string why;
    EXPECT_FALSE(channel_exists(facts, 3, why));
    EXPECT_EQ(why, "no channel 3: the file has 2");

    // The channels: one 70 dB under the other is silent; two in opposite phase cancel.
    channel_energy quiet, cancel;
    const double a[] = {1, 3e-4, -1, -3e-4, 0.5, 1.5e-4}, b[] = {1, -1, -0.5, 0.5};
    add_energy(quiet, a, 3, 2);
    add_energy(cancel, b, 2, 2);
    EXPECT_EQ(choose_channels(quiet).use, (std::vector<bool>{true, false}));
    EXPECT_EQ(choose_channels(quiet).silent, 1);
    EXPECT_TRUE(choose_channels(cancel).cancel);
}

}  // namespace
