// The dump routine on files in memory: report, chunk walk, sample lines and how a dump ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "riffcat.h"
#include "riffcat_wav.h"

using namespace std::string_literals;
using wav::chunk;

namespace {

struct dump_result {
    dump_end end;
    std::string out, err;
};

// A source that hands out at most a block at a time and fails once fail_at bytes are read.
struct trickle {
    const std::string& bytes;
    std::size_t fail_at, pos = 0;
    static long read(void* ctx, unsigned char* buf, std::size_t n) {
        auto* t = static_cast<trickle*>(ctx);
        if (t->pos >= t->fail_at) return -1;
        n = std::min({n, t->bytes.size() - t->pos, t->fail_at - t->pos});
        std::memcpy(buf, t->bytes.data() + t->pos, n);
        t->pos += n;
        return long(n);
    }
};

// Dumps bytes from memory in one piece, or with block != 0 through a trickle.
dump_result dump(const std::string& bytes, std::int32_t limit = -1, std::size_t block = 0,
                 std::size_t fail_at = std::string::npos) {
    trickle t{bytes, fail_at};
    reader f = block != 0 ? reader(trickle::read, &t, block) : reader(bytes.data(), bytes.size());
    dump_result r{};
    out_buffer out(r.out, 256), err(r.err, 256);
    r.end = riffcat(f, out, err, limit);
    out.flush();
    err.flush();
    return r;
}

}  // namespace

TEST(RiffcatDump, CanonicalFileGivesTenReportLinesAndSigned16BitFrames) {
    dump_result r = dump(wav::file(2, 16, chunk("data", wav::stereo16)));
    EXPECT_EQ(r.end, dump_end::done);
    EXPECT_EQ(r.err,
              "[RIFF] (44 bytes)\n[WAVEfmt ] (16 bytes)\n  Data type = 1 (1 = PCM)\n"
              "  Number of channels = 2 (1 = mono, 2 = stereo)\n  Sampling rate = 44100Hz\n"
              "  Bytes / second = 176400\n  Bytes x channels = 4\n  Bits / sample = 16\n\n"
              "[data] (8 bytes)\n");
    EXPECT_EQ(r.out, "1\t-1\n-32768\t32767\n");
}

TEST(RiffcatDump, ExtensionBytesAndChunksBeforeDataAreDumpedInHex) {
    std::string f = wav::file(
        1, 8, chunk("LIST", "INFO") + chunk("ab\0c"s, "z") + chunk("data", "\x80\x00\xff"s),
        "\0\0"s);
    dump_result r = dump(f);
    EXPECT_EQ(r.err, wav::report(1, 8, f.size(), 18) +
                         "00 00 \n[LIST] (4 bytes)\n49 4e 46 4f \n[ab] (1 bytes)\n7a \n"
                         "[data] (3 bytes)\n");
    EXPECT_EQ(r.out, "0\n-128\n127\n");
}

TEST(RiffcatDump, RejectsFilesThatAreNotRiffWave) {
    EXPECT_EQ(dump("RIFX\0\0\0\0WAVEfmt "s).err, "Not a 'RIFF' format\n");
    dump_result r = dump("RIFF\x24\0\0\0WAVE"s + chunk("JUNK", "ab") +
                         wav::file(1, 8, chunk("data", "\x80"s)).substr(12));
    EXPECT_EQ(r.end, dump_end::done);
    EXPECT_EQ(r.err, "[RIFF] (36 bytes)\nNot a 'WAVEfmt ' format\n");
    EXPECT_EQ(r.out, "");
}

TEST(RiffcatDump, SampleDataRunsToTheEndOfTheFile) {
    // The data size is no bound: a chunk after the data comes out as samples, and an odd last
    // byte of 16-bit data is dropped.
    EXPECT_EQ(dump(wav::file(1, 16, chunk("data", "\x02\x00"s) + "ab\x01\x00\x07"s)).out,
              "2\n25185\n1\n");
    EXPECT_EQ(dump(wav::file(1, 24, chunk("data", "\x01\x02\x03\x04"s))).out, "513\n1027\n");
    EXPECT_EQ(dump(wav::file(1, 4, chunk("data", "\x81"s))).out, "1\n");
    // A frame cut short keeps its samples and tabs but gets no newline.
    EXPECT_EQ(dump(wav::file(3, 8, chunk("data", "\x80\x81\x82\x83\x84"s))).out, "0\t1\t2\n3\t4\t");
    // No channels: no lines at all, not an endless run of empty ones.
    EXPECT_EQ(dump(wav::file(0, 16, chunk("data", "\x01\x00"s))).out, "");
}

TEST(RiffcatDump, ReadErrorOnlyWhereAHeaderFieldIsCutShort) {
    // Cut inside the 36 header bytes or inside a chunk size it is a read error; cut where a
    // chunk id is due, or inside one, it is a file without samples.
    std::string f = wav::file(1, 16, chunk("LIST", "") + chunk("data", "\x05\x00"s));
    for (std::size_t n = 0; n < f.size(); ++n) {
        dump_result r = dump(f.substr(0, n));
        bool cut_field = n < 36 || (n >= 40 && n < 44) || (n >= 48 && n < 52);
        EXPECT_EQ(r.end, cut_field ? dump_end::read_error : dump_end::done) << n;
        EXPECT_EQ(r.err.ends_with("Read error\n"), cut_field) << n;
        EXPECT_EQ(r.out, "") << n;
    }
    EXPECT_EQ(dump(f.substr(0, 44)).err, wav::report(1, 16, f.size()) + "\n[LIST] (0 bytes)\n\n");
}

TEST(RiffcatDump, SizesPastTheEndOfFileDumpOnlyTheBytesThereAre) {
    std::string f = wav::file(1, 8, "", "\x01\x02"s);
    f[16] = '\xe8', f[17] = '\x03';  // fmt size 1000
    EXPECT_EQ(dump(f).err, wav::report(1, 8, f.size(), 1000) + "01 02 \n");
    f = wav::file(1, 8,
                  "LIST\xff\xff\xff\xff"
                  "abc"s);
    dump_result r = dump(f);
    EXPECT_EQ(r.end, dump_end::done);
    EXPECT_EQ(r.err, wav::report(1, 8, f.size()) + "\n[LIST] (4294967295 bytes)\n61 62 63 \n");
}

TEST(RiffcatDump, BlockBoundariesDoNotChangeTheText) {
    // Frames split across blocks are read sample by sample; the text must be the same.
    std::string samples;
    for (int i = 0; i < 300; ++i) samples += wav::le(std::uint32_t(i * 219 - 32768), 2);
    for (const std::string& f : {wav::file(3, 16, chunk("LIST", "odd") + chunk("data", samples)),
                                 wav::file(5, 8, chunk("data", samples.substr(1)), "\x10"s)}) {
        for (std::int32_t limit : {-1, 0, 7}) {
            dump_result whole = dump(f, limit);
            if (limit == 7) {
                EXPECT_EQ(std::count(whole.out.begin(), whole.out.end(), '\n'), 7);
            }
            for (std::size_t block : {1, 2, 3, 64}) {
                dump_result r = dump(f, limit, block);
                EXPECT_EQ(r.out, whole.out) << block << ' ' << limit;
                EXPECT_EQ(r.err, whole.err) << block << ' ' << limit;
            }
        }
    }
}

TEST(RiffcatDump, FailedReadIsAReadErrorNotAnEndOfFile) {
    std::string f = wav::file(1, 8, chunk("LIST", "abcd") + chunk("data", "\x80\x81\x82"s));
    for (std::size_t fail_at : {std::size_t(20), std::size_t(50), f.size() - 1}) {
        dump_result r = dump(f, -1, 4, fail_at);
        EXPECT_EQ(r.end, dump_end::read_error) << fail_at;
        EXPECT_TRUE(r.err.ends_with("Read error\n")) << fail_at;
        EXPECT_EQ(r.out, fail_at == f.size() - 1 ? "0\n1\n" : "");  // earlier lines stay
    }
}
