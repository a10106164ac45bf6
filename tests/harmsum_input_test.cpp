// What harmsum prepare takes from riffcat: the scale of every sample form from the real
// program's header report, and the channel, the stretch and the cap from its sample lines.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "header.h"
#include "mono.h"
#include "output.h"
#include "process.h"
#include "record_reader.h"

namespace {

TEST(HarmsumInput, FullScaleOfEveryFormFromRiffcatsReport) {
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
        const std::string wav = tonegen_file("harmsum-form.wav", args);
        const std::string report = run_shell("'" RIFFCAT_EXE "' -0 '" + wav + "' 2>&1").out;
        wav_facts f;
        std::string why;
        ASSERT_TRUE(read_wav_facts(report, f, why)) << why << "\n" << report;
        EXPECT_EQ(f.full_scale, c.full_scale) << report;
        EXPECT_EQ(f.is_float, c.is_float) << report;
        EXPECT_EQ(f.rate, 48000);
        EXPECT_EQ(f.channels, 2);
        EXPECT_EQ(f.frames, 24000);
    }
    wav_facts f;
    std::string why;
    EXPECT_FALSE(read_wav_facts("Not a 'RIFF' format\n", f, why));
}

TEST(HarmsumInput, TheChannelTheStretchAndTheCap) {
    // 1000 frames a second: silence until frame 1500, then the left channel counts 1 .. 7 and
    // the right one stays 0; a frame cut short at the end.
    const long long frames = max_samples + 2100;
    std::string text;
    for (long long i = 0; i < frames; ++i)
        text += std::to_string(i < 1500 ? 0 : i % 7 + 1) + "\t0\n";
    text += "5\n";
    wav_facts facts;
    facts.rate = 1000;
    facts.channels = 2;
    auto prepare = [&](stretch_request want, stretch_result& r) {
        record_reader in;
        open_reader(in, text);
        std::string out, why;
        output sink(out);
        EXPECT_TRUE(prepare_stretch(in, facts, want, sink, r, why)) << why;
        sink.flush();
        return out;
    };
    stretch_result r;
    const std::string mean = prepare({.from = 1.0}, r);
    EXPECT_EQ(r.first, 1000);
    EXPECT_EQ(r.count, max_samples);  // from frame 1000, the most harmtrace reads
    EXPECT_TRUE(r.capped);
    EXPECT_EQ(r.frames, frames);
    EXPECT_FALSE(r.silent);
    EXPECT_NEAR(r.onset, 0.5, 1e-12);  // the note begins 0.5 s into the stretch
    EXPECT_EQ(mean.substr(500 * 2, 12), "1.5\n2\n2.5\n3\n");  // frame 1500 on: (1 + 0) / 2, ...

    const std::string right = prepare({.from = 2, .to = 3, .channel = 2}, r);
    EXPECT_EQ(r.count, 1000);
    EXPECT_FALSE(r.capped);
    EXPECT_TRUE(r.silent);
    EXPECT_EQ(right.substr(0, 4), "0\n0\n");

    record_reader in;
    open_reader(in, text);
    std::string out, why;
    output sink(out);
    EXPECT_FALSE(prepare_stretch(in, facts, {.channel = 3}, sink, r, why));
    EXPECT_EQ(why, "no channel 3: the file has 2");
}

}  // namespace
