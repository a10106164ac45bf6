// The dump routine on files in memory: report, chunk walk, sample lines and where each ends.
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

dump_result dump(reader& f, std::int32_t limit) {
    dump_result r{};
    out_buffer out(r.out, 256), err(r.err, 256);
    r.end = riffcat(f, out, err, limit);
    out.flush();
    err.flush();
    return r;
}

dump_result dump(const std::string& bytes, std::int32_t limit = -1) {
    reader f(bytes.data(), bytes.size());
    return dump(f, limit);
}

// A source that hands out `block` bytes at a time and fails after `fail_at` bytes.
struct trickle {
    std::string bytes;
    std::size_t pos = 0, fail_at = std::string::npos;
    static long read(void* ctx, unsigned char* buf, std::size_t n) {
        auto* t = static_cast<trickle*>(ctx);
        if (t->pos >= t->fail_at) return -1;
        n = std::min({n, t->bytes.size() - t->pos, t->fail_at - t->pos});
        std::memcpy(buf, t->bytes.data() + t->pos, n);
        t->pos += n;
        return long(n);
    }
};

const std::string canonical = wav::file(2, 16, chunk("data", wav::stereo16));

}  // namespace

TEST(RiffcatDump, CanonicalFileGivesTenReportLinesAndSigned16BitFrames) {
    dump_result r = dump(canonical);
    EXPECT_EQ(r.end, dump_end::done);
    EXPECT_EQ(r.err,
              "[RIFF] (44 bytes)\n[WAVEfmt ] (16 bytes)\n  Data type = 1 (1 = PCM)\n"
              "  Number of channels = 2 (1 = mono, 2 = stereo)\n  Sampling rate = 44100Hz\n"
              "  Bytes / second = 176400\n  Bytes x channels = 4\n  Bits / sample = 16\n\n"
              "[data] (8 bytes)\n");
    EXPECT_EQ(r.out, "1\t-1\n-32768\t32767\n");
}

TEST(RiffcatDump, ExtensionBytesAndChunksBeforeDataAreDumpedInHex) {
    std::string f =
        wav::file(1, 8, chunk("LIST", "INFO") + chunk("data", "\x80\x00\xff"s), "\0\0"s);
    dump_result r = dump(f);
    EXPECT_EQ(r.err, wav::report(1, 8, f.size() - 8, 18) +
                         "00 00 \n[LIST] (4 bytes)\n49 4e 46 4f \n[data] (3 bytes)\n");
    EXPECT_EQ(r.out, "0\n-128\n127\n");
}

TEST(RiffcatDump, RejectsFilesThatAreNotRiffWave) {
    EXPECT_EQ(dump("RIFX\0\0\0\0WAVEfmt "s).err, "Not a 'RIFF' format\n");
    // A chunk before the fmt chunk is not accepted.
    dump_result r = dump("RIFF\x24\0\0\0WAVE"s + chunk("JUNK", "ab") + canonical.substr(12));
    EXPECT_EQ(r.end, dump_end::done);
    EXPECT_EQ(r.err, "[RIFF] (36 bytes)\nNot a 'WAVEfmt ' format\n");
    EXPECT_EQ(r.out, "");
}

TEST(RiffcatDump, SampleDataRunsToTheEndOfTheFile) {
    // The data size is no bound: a chunk after it comes out as samples, and an odd last byte
    // of 16-bit data is dropped.
    dump_result r = dump(wav::file(1, 16, chunk("data", "\x02\x00"s) + "ab\x01\x00\x07"s));
    EXPECT_EQ(r.out, "2\n25185\n1\n") << r.out;  // 'b' 'a' = 0x6261
    // 24-bit data is read two bytes a sample.
    EXPECT_EQ(dump(wav::file(1, 24, chunk("data", "\x01\x02\x03\x04"s))).out, "513\n1027\n");
    // Up to 8 bits a sample is one byte, whatever the width.
    EXPECT_EQ(dump(wav::file(1, 4, chunk("data", "\x81"s))).out, "1\n");
    // A frame cut short keeps its samples and tabs but gets no newline.
    EXPECT_EQ(dump(wav::file(3, 8, chunk("data", "\x80\x81\x82\x83\x84"s))).out, "0\t1\t2\n3\t4\t");
}

TEST(RiffcatDump, FrameLimitCountsFramesOfEachFile) {
    std::string f = wav::file(1, 8, chunk("data", "\x80\x81\x82\x83"s));
    EXPECT_EQ(dump(f, 0).out, "");
    EXPECT_EQ(dump(f, 0).err, wav::report(1, 8, f.size() - 8) + "\n[data] (4 bytes)\n");
    EXPECT_EQ(dump(f, 2).out, "0\n1\n");
    EXPECT_EQ(dump(f, 9).out, "0\n1\n2\n3\n");
    EXPECT_EQ(dump(f, INT32_MIN).out, "0\n1\n2\n3\n");
}

TEST(RiffcatDump, ReadErrorOnlyWhereAHeaderFieldIsCutShort) {
    // Every prefix of a file: cut inside the 36 header bytes or inside a chunk size it is a
    // read error; cut where a chunk id is due, or inside one, it is a file without samples.
    std::string f = wav::file(1, 16, chunk("LIST", "") + chunk("data", "\x05\x00"s));
    for (std::size_t n = 0; n < f.size(); ++n) {
        dump_result r = dump(f.substr(0, n));
        bool cut_field = n < 36 || (n >= 40 && n < 44) || (n >= 48 && n < 52);
        EXPECT_EQ(r.end, cut_field ? dump_end::read_error : dump_end::done) << n;
        EXPECT_EQ(r.err.ends_with("Read error\n"), cut_field) << n;
        EXPECT_EQ(r.out, "") << n;
    }
    dump_result r = dump(f.substr(0, 44));  // ends right after the LIST chunk
    EXPECT_EQ(r.err, wav::report(1, 16, f.size() - 8) + "\n[LIST] (0 bytes)\n\n");
}

TEST(RiffcatDump, ChunkIdIsPrintedUpToAZeroByte) {
    std::string f = wav::file(1, 8, chunk("ab\0c"s, "z") + chunk("data", ""));
    EXPECT_EQ(dump(f).err,
              wav::report(1, 8, f.size() - 8) + "\n[ab] (1 bytes)\n7a \n[data] (0 bytes)\n");
}

TEST(RiffcatDump, SizesPastTheEndOfFileDumpOnlyTheBytesThereAre) {
    std::string fmt_cut = wav::file(1, 8, "", "\x01\x02"s);
    fmt_cut[16] = '\xe8', fmt_cut[17] = '\x03';  // fmt size 1000
    dump_result r = dump(fmt_cut);
    EXPECT_EQ(r.end, dump_end::done);
    EXPECT_EQ(r.err, wav::report(1, 8, fmt_cut.size() - 8, 1000) + "01 02 \n");

    std::string chunk_cut = wav::file(1, 8,
                                      "LIST\xff\xff\xff\xff"
                                      "abc"s);
    r = dump(chunk_cut);
    EXPECT_EQ(r.end, dump_end::done);
    EXPECT_EQ(r.err,
              wav::report(1, 8, chunk_cut.size() - 8) + "\n[LIST] (4294967295 bytes)\n61 62 63 \n");
    EXPECT_EQ(r.out, "");
}

TEST(RiffcatDump, NoChannelsGivesNoSampleLines) {
    dump_result r = dump(wav::file(0, 16, chunk("data", "\x01\x00\x02\x00"s)));
    EXPECT_EQ(r.end, dump_end::done);
    EXPECT_EQ(r.out, "");
}

TEST(RiffcatDump, BlockBoundariesDoNotChangeTheOutput) {
    // Frames split across blocks take the byte-by-byte road; the text must be the same.
    std::string samples;
    for (int i = 0; i < 300; ++i) samples += wav::le(std::uint32_t(i * 219 - 32768), 2);
    const std::string files[] = {
        wav::file(3, 16, chunk("LIST", "odd") + chunk("data", samples) + "x"),
        wav::file(5, 8, chunk("data", samples.substr(1)), "\x10\x20\x30"s),
    };
    for (const std::string& f : files) {
        for (std::int32_t limit : {-1, 0, 7, 100}) {
            dump_result whole = dump(f, limit);
            for (std::size_t block : {1, 2, 3, 5, 64}) {
                trickle t{f};
                reader r(trickle::read, &t, block);
                dump_result part = dump(r, limit);
                EXPECT_EQ(part.out, whole.out) << block << ' ' << limit;
                EXPECT_EQ(part.err, whole.err) << block << ' ' << limit;
            }
        }
    }
}

TEST(RiffcatDump, FailedReadIsAReadErrorNotAnEndOfFile) {
    std::string f = wav::file(1, 8, chunk("LIST", "abcd") + chunk("data", "\x80\x81\x82"s));
    for (std::size_t fail_at : {std::size_t(20), std::size_t(50), f.size() - 1}) {
        trickle t{f, 0, fail_at};
        reader r(trickle::read, &t, 4);
        dump_result d = dump(r, -1);
        EXPECT_EQ(d.end, dump_end::read_error) << fail_at;
        EXPECT_TRUE(d.err.ends_with("Read error\n")) << fail_at;
    }
    trickle t{f, 0, f.size() - 1};
    reader r(trickle::read, &t, 4);
    EXPECT_EQ(dump(r, -1).out, "0\n1\n");  // lines printed before the failure stay
}

TEST(RiffcatDump, FailedWriteStopsTheDump) {
    std::string f = wav::file(1, 8, chunk("data", std::string(100000, '\x80')));
    int writes = 0;
    auto fail = [](void* ctx, const char*, std::size_t) {
        return ++*static_cast<int*>(ctx), false;
    };
    out_buffer out(fail, &writes, 256);
    std::string err_text;
    out_buffer err(err_text);
    reader r(f.data(), f.size());
    EXPECT_EQ(riffcat(r, out, err, -1), dump_end::write_error);
    EXPECT_EQ(writes, 1);
    EXPECT_GT(r.available(), 50000u);  // most of the file was left unread
}
