// The tonegen command line, and the bundled example recording that it made.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "command.h"
#include "process.h"

using namespace tonegen;

namespace {

// The command that made examples/pluck220.wav.
const std::vector<std::string> pluck220_args = {
    "pluck",      "--freq", "220",   "--seconds", "3",       "--rate", "44100",  "--bits", "16",
    "--channels", "1",      "--amp", "0.8",       "--decay", "1",      "--seed", "1"};

std::vector<std::string> with_output(std::vector<std::string> args, const std::string& path) {
    args.push_back("-o");
    args.push_back(path);
    return args;
}

}  // namespace

TEST(ExampleRecording, RegeneratingPluck220GivesTheSameBytes) {
    const std::string path = temp_path("pluck220.wav");
    const auto r = run_program(TONEGEN_EXE, with_output(pluck220_args, path), "");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string made = read_file(path);
    const std::string bundled = read_file(std::string(EXAMPLES_DIR) + "/pluck220.wav");
    ASSERT_EQ(made.size(), 44u + 3u * 44100u * 2u);
    EXPECT_TRUE(made == bundled) << "examples/pluck220.wav differs from what tonegen makes now";
}

TEST(CommandLine, OptionsTakeTheirValueNextOrAfterAnEqualsSign) {
    const parsed q =
        parse_command({"vibrato", "--freq=220.5", "--amps", "1,0.5,0.25", "--decays=0,1,2",
                       "--depth-cents", "40", "--vibrato-hz=6", "--output", "b.wav"});
    ASSERT_EQ(q.error, "");
    EXPECT_EQ(q.cmd.note.freq, 220.5);
    EXPECT_EQ(q.cmd.note.amps, (std::vector<double>{1.0, 0.5, 0.25}));
    EXPECT_EQ(q.cmd.note.decays, (std::vector<double>{0.0, 1.0, 2.0}));
    EXPECT_EQ(q.cmd.note.depth_cents, 40.0);
    EXPECT_EQ(q.cmd.note.vibrato_hz, 6.0);
    EXPECT_EQ(q.cmd.output, "b.wav");
    const parsed s = parse_command({"pluck", "--seed", "18446744073709551615", "-o", "c.wav"});
    ASSERT_EQ(s.error, "");
    EXPECT_EQ(s.cmd.seed, 18446744073709551615ull);
    // Switches take no value; the last of --bits and --float counts.
    const parsed f = parse_command(
        {"sine", "--float=64", "--extensible", "--junk", "3", "--trailing-chunk", "-o", "d.wav"});
    ASSERT_EQ(f.error, "");
    EXPECT_TRUE(f.cmd.form.is_float && f.cmd.form.bits == 64 && f.cmd.form.extensible &&
                f.cmd.form.junk == 3 && f.cmd.form.trailing_chunk && !f.cmd.form.odd_chunk);
    const parsed b = parse_command({"sine", "--float", "64", "--bits", "24", "-o", "e.wav"});
    EXPECT_TRUE(!b.cmd.form.is_float && b.cmd.form.bits == 24);
}

TEST(CommandLine, BadArgumentsAreNamedInTheMessage) {
    struct bad_case {
        std::vector<std::string> args;
        std::string says;
    };
    const std::vector<bad_case> cases = {
        {{}, "no sound"},
        {{"square", "-o", "a"}, "unknown sound 'square'"},
        {{"sine"}, "no output file"},
        {{"sine", "-o"}, "-o needs a value"},
        {{"sine", "--freq", "abc", "-o", "a"}, "bad value 'abc' for --freq"},
        {{"sine", "--freq=inf", "-o", "a"}, "bad value 'inf'"},
        {{"sine", "--bits", "12", "-o", "a"}, "--bits must be 8, 16, 24 or 32"},
        {{"sine", "--float", "16", "-o", "a"}, "--float must be 32 or 64"},
        {{"sine", "--extensible=yes", "-o", "a"}, "--extensible takes no value"},
        {{"sine", "--junk", "-1", "-o", "a"}, "--junk must be 0 to 1048576"},
        {{"sine", "--rate", "500", "-o", "a"}, "--rate must be"},
        {{"sine", "--rate", "44100.5", "-o", "a"}, "bad value '44100.5' for --rate"},
        {{"sine", "--seconds", "601", "-o", "a"}, "--seconds must be"},
        {{"sine", "--decay", "3", "-o", "a"}, "--decay does not apply to sine"},
        {{"sine", "--noise", "0", "-o", "a"}, "--noise must be below 0"},
        {{"pluck", "--amps", "1", "-o", "a"}, "--amps does not apply to pluck"},
        {{"sine", "stray", "-o", "a"}, "unexpected argument 'stray'"},
        {{"additive", "--amps", "1,,2", "-o", "a"}, "bad value '1,,2'"},
        {{"additive", "--amps", "1,-1", "-o", "a"}, "must not be negative"},
        {{"additive", "--amps", "1,1", "--decays", "1", "-o", "a"}, "one value per --amps"},
        {{"sine", "--freq", "22050", "-o", "a"}, "harmonic 1 of 22050 Hz reaches"},
        {{"additive", "--freq", "3000", "--amps", "1,0,0,0,0,0,0,0.1", "-o", "a"},
         "harmonic 8 of 3000 Hz reaches 24000 Hz"},
        {{"vibrato", "--freq", "21000", "--depth-cents", "100", "-o", "a"}, "with its vibrato"},
        {{"pluck", "--freq", "15000", "-o", "a"}, "at most a third of --rate"},
    };
    for (const auto& c : cases) {
        const parsed p = parse_command(c.args);
        EXPECT_NE(p.error.find(c.says), std::string::npos)
            << "args " << ::testing::PrintToString(c.args) << " gave '" << p.error << "'";
    }
}

TEST(CommandLine, ExitStatusesAndStreams) {
    const std::string path = temp_path("never.wav");
    const auto bad = run_program(TONEGEN_EXE, {"sine", "--bits", "12", "-o", path}, "");
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err.rfind("tonegen: --bits must be 8, 16, 24 or 32, not '12'\n", 0), 0u)
        << bad.err;
    EXPECT_FALSE(std::filesystem::exists(path));

    expect_help_and_version(TONEGEN_EXE, {"sine", "--freq", "x", "--help"}, "Usage: tonegen SOUND",
                            "tonegen (harmtrace toolkit) 1.0\n");

    const auto unwritable = run_program(TONEGEN_EXE, {"sine", "-o", "/nonexistent-dir/a.wav"}, "");
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.err.find("cannot write '/nonexistent-dir/a.wav'"), std::string::npos);

    const auto full = run_program(TONEGEN_EXE, {"sine", "-o", "-"}, "", "/dev/full");
    EXPECT_EQ(full.status, 1);
}

TEST(CommandLine, ProgramWritesWhatTheLibraryRenders) {
    const std::vector<std::string> args = {
        "additive",  "--freq", "330",    "--amps", "1,0.5,0.3",  "--decays", "0.5,1,2",
        "--seconds", "0.25",   "--bits", "8",      "--channels", "2"};
    const auto r = run_program(TONEGEN_EXE, with_output(args, "-"), "");
    ASSERT_EQ(r.status, 0) << r.err;
    const parsed p = parse_command(with_output(args, "-"));
    ASSERT_EQ(p.error, "");
    EXPECT_TRUE(r.out == render(p.cmd));
    EXPECT_EQ(r.out.size(), 44u + 11025u * 2u);
}
