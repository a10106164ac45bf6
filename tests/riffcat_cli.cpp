// The riffcat program: arguments left to right, streams and exit status, byte for byte.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <random>
#include <sstream>

#include "frame_limit.h"
#include "process.h"
#include "riffcat_wav.h"

using namespace std::string_literals;
using wav::chunk;

namespace {

// a: 16-bit stereo, 3 frames; b: 8-bit mono, 3 frames; cut: 16-bit stereo ending after the
// first sample of its second frame.
const std::string a = temp_path("a.wav"), b = temp_path("b.wav"), cut = temp_path("cut.wav"),
                  empty = temp_path("empty.wav");
const std::string a_bytes = wav::file(2, 16, chunk("data", wav::stereo16 + "\x02\x00\x03\x00"s)),
                  b_bytes = wav::file(1, 8, chunk("data", "\x80\x81\x82"s));
const std::string a_err = wav::report(2, 16, a_bytes.size()) + "\n[data] (12 bytes)\n",
                  b_err = wav::report(1, 8, b_bytes.size()) + "\n[data] (3 bytes)\n",
                  a_out = "1\t-1\n-32768\t32767\n2\t3\n", b_out = "0\n1\n2\n";

process_result run(std::vector<std::string> args, const std::string& stdout_path = "") {
    static bool written = false;
    if (!written) {
        write_file(a, a_bytes);
        write_file(b, b_bytes);
        write_file(cut, wav::file(2, 16, chunk("data", "\x05\x00\x06\x00\x07\x00"s)));
        write_file(empty, "");
        written = true;
    }
    return run_program(RIFFCAT_EXE, args, "", stdout_path);
}

}  // namespace

TEST(RiffcatCli, LimitIsReadLikeStrtolAndSaturates) {
    EXPECT_EQ(parse_frame_limit(""), 0);
    EXPECT_EQ(parse_frame_limit("x"), 0);
    EXPECT_EQ(parse_frame_limit("-1"), -1);
    EXPECT_EQ(parse_frame_limit(" \t+17x9"), 17);
    EXPECT_EQ(parse_frame_limit("2147483648"), INT32_MAX);
    EXPECT_EQ(parse_frame_limit("-2147483648"), INT32_MIN);
    EXPECT_EQ(parse_frame_limit("-99999999999999999999999"), INT32_MIN);
}

TEST(RiffcatCli, LimitHoldsForTheFilesThatFollowIt) {
    process_result r = run({"-2", a, b});
    EXPECT_EQ(r.out, "1\t-1\n-32768\t32767\n0\n1\n");
    EXPECT_EQ(r.err, a_err + b_err);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(run({a, "-2", b}).out, a_out + "0\n1\n");
    EXPECT_EQ(run({"-5", a}).out, a_out);
    for (const char* zero : {"-0", "-", "-x"}) {
        r = run({zero, a});
        EXPECT_EQ(r.out, "") << zero;
        EXPECT_EQ(r.err, a_err) << zero;
    }
    EXPECT_EQ(run({"-0", "--1", a}).out, a_out);
}

TEST(RiffcatCli, NoFileNamedIsAUsageError) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"-5"}}) {
        const process_result r = run(args);
        EXPECT_EQ(r.out + r.err + std::to_string(r.status), "usage: riffcat [-N] FILE.wav ...\n2");
    }
}

TEST(RiffcatCli, FrameCutShortIsContinuedByTheNextFile) {
    EXPECT_EQ(run({cut, b}).out, "5\t6\n7\t0\n1\n2\n");
}

TEST(RiffcatCli, ReadErrorEndsTheRunWithStatus1) {
    process_result r = run({a, empty, b});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, a_out);  // what came before the error is not lost
    EXPECT_EQ(r.err, a_err + "Read error\n");
}

TEST(RiffcatCli, DirectoryIsAFileThatCannotBeOpened) {
    const process_result r = run({"/", b});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, b_out);
    EXPECT_EQ(r.err, "Can't open /\n" + b_err);
}

TEST(RiffcatCli, FileEndingAfterAChunkBeforeFmtHasNoFormat) {
    const std::string junk = temp_path("junk.wav"), cut_id = temp_path("cut_id.wav");
    write_file(junk, "RIFF\x0e\0\0\0WAVE"s + chunk("JUNK", "ab"));
    write_file(cut_id, "RIFF\x0e\0\0\0WAVE"s + chunk("JUNK", "ab") + "fm");
    process_result r = run({junk, b});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, b_out);
    EXPECT_EQ(r.err,
              "[RIFF] (14 bytes)\n[JUNK] (2 bytes)\n61 62 \nNot a 'WAVEfmt ' format\n" + b_err);
    // An id cut short is a header cut short: the run stops.
    r = run({cut_id, b});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.ends_with("61 62 \nRead error\n")) << r.err;
}

TEST(RiffcatCli, FmtChunkShorterThanItsFieldsIsReportedAsFarAsItGoes) {
    // 14 bytes: the bits per sample are missing, and the next chunk's bytes are not taken.
    const std::string path = temp_path("fmt14.wav");
    std::string f = wav::file(1, 16, chunk("data", "\x01\x00"s));
    f.erase(34, 2);
    f[16] = 14;
    write_file(path, f);
    const process_result r = run({path, b});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, b_out);
    const std::string fields = wav::report(1, 16, f.size() + 2, 14);
    EXPECT_EQ(r.err,
              fields.substr(0, fields.rfind("  Bits")) + "Bad 'fmt ' chunk: 14 bytes\n" + b_err);
}

TEST(RiffcatCli, ChunkIdsReachTheTerminalEscaped) {
    const std::string path = temp_path("escape.wav");
    write_file(
        path,
        wav::file(1, 8, chunk("\x1b[2J", "") + chunk("\xffok\0"s, "") + chunk("data", "\x80")));
    const process_result r = run({path});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(
        r.err.ends_with("\n[\\x1b[2J] (0 bytes)\n\n[\\xffok] (0 bytes)\n\n[data] (1 bytes)\n"))
        << r.err;
}

TEST(RiffcatCli, SkippedFilesEndTheRunWithStatus1) {
    // A file that cannot be opened, is not RIFF/WAVE, has no data chunk or data of another
    // coding: its message, then the next file; the run ends with status 1.
    const std::string text = temp_path("text.wav"), none = temp_path("none.wav"),
                      alaw = temp_path("alaw.wav");
    write_file(text, "hello");
    write_file(none, wav::file(1, 8, chunk("LIST", "")));
    write_file(alaw, wav::file(1, 8, chunk("data", "\x55"), "\0\0"s, 6));
    for (const std::string& skipped : {"/nonexistent/x.wav"s, text, none, alaw}) {
        process_result r = run({skipped, b});
        EXPECT_EQ(r.status, 1) << skipped;
        EXPECT_EQ(r.out, b_out) << skipped;
        EXPECT_TRUE(r.err.ends_with(b_err)) << skipped;
    }
    EXPECT_EQ(run({"/nonexistent/x.wav", b}).err, "Can't open /nonexistent/x.wav\n" + b_err);
    // A name's control bytes reach the terminal escaped; accents and spaces as they are.
    EXPECT_EQ(run({"/nonexistent/\x1b[31m\x07 é.wav"}).err,
              "Can't open /nonexistent/\\x1b[31m\\x07 é.wav\n");
    EXPECT_EQ(run({none, b}, "/dev/full").status, 2);  // a write error wins
}

TEST(RiffcatCli, HelpAndVersionWhereverTheyStand) {
    process_result r = run({a, "-2", "--version", "/nonexistent/x.wav"});
    EXPECT_EQ(r.out + r.err + std::to_string(r.status), "riffcat (harmtrace toolkit) 1.0\n0");
    r = run({"/nonexistent/x.wav", "--help"});
    EXPECT_TRUE(r.out.starts_with("Usage: riffcat [-N] FILE.wav ...\n")) << r.out;
    EXPECT_EQ(r.err + std::to_string(r.status), "0");
    // -h is help too, alone or before a file; any other argument that starts with a dash is a
    // frame limit.
    for (const std::vector<std::string>& args : {std::vector<std::string>{"-h"}, {"-h", a}}) {
        r = run(args);
        EXPECT_TRUE(r.out.starts_with("Usage: riffcat [-N] FILE.wav ...\n")) << r.out;
        EXPECT_EQ(r.err + std::to_string(r.status), "0");
    }
    EXPECT_EQ(run({"--helpx", a}).out, "");
}

TEST(RiffcatCli, FloatTextReadsBackToTheSameBitsAndHarmtraceTakesIt) {
    // Random bit patterns, so every class turns up (normal, subnormal, zero, infinite, NaN),
    // and the extremes, as 32- and 64-bit samples.
    std::mt19937_64 random(11);
    for (int bits : {32, 64}) {
        std::vector<std::uint64_t> values = {
            0, 1, 0x7f7fffff, 0x7f800000, 0xff800000, 0x8000000000000000, 0x7fefffffffffffff};
        for (int i = 0; i < 5000; ++i) values.push_back(random());
        std::string data;
        for (std::uint64_t& v : values) {
            if (bits == 32) v &= 0xffffffff;
            data += wav::le(std::uint32_t(v), 4);
            if (bits == 64) data += wav::le(std::uint32_t(v >> 32), 4);
        }
        const std::string path = temp_path("float.wav");
        write_file(path, wav::file(1, bits, chunk("data", data), "\0\0"s, 3));
        const process_result r = run({path});
        ASSERT_EQ(r.status, 0) << r.err;
        std::istringstream lines(r.out);
        std::string line;
        for (std::uint64_t v : values) {
            ASSERT_TRUE(std::getline(lines, line));
            const double back = bits == 32 ? std::strtof(line.c_str(), nullptr)
                                           : std::strtod(line.c_str(), nullptr);
            const bool nan = bits == 32 ? std::isnan(std::bit_cast<float>(std::uint32_t(v)))
                                        : std::isnan(std::bit_cast<double>(v));
            if (nan) {
                EXPECT_EQ(line, "NaN");
            } else if (bits == 32) {
                EXPECT_EQ(std::bit_cast<std::uint32_t>(float(back)), v) << line;
            } else {
                EXPECT_EQ(std::bit_cast<std::uint64_t>(back), v) << line;
            }
        }
        EXPECT_FALSE(std::getline(lines, line));
        // harmtrace reads every value without a complaint.
        const process_result h = run_program(HARMTRACE_EXE, {}, r.out);
        EXPECT_EQ(h.status, 0) << h.err;
        EXPECT_EQ(h.err, "");
    }
}
