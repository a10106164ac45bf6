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
    output out(r.out, 256), err(r.err, 256);
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
    // Chunks of odd size are followed by a pad byte, which is neither dumped nor taken for the
    // next id; the fmt chunk too.
    std::string f = wav::file(
        1, 8, chunk("LIST", "INFO") + chunk("ab\0c"s, "z") + chunk("data", "\x80\x00\xff"s),
        "\0\0"s);
    dump_result r = dump(f);
    EXPECT_EQ(r.err, wav::report(1, 8, f.size(), 18) +
                         "00 00 \n[LIST] (4 bytes)\n49 4e 46 4f \n[ab] (1 bytes)\n7a \n"
                         "[data] (3 bytes)\n");
    EXPECT_EQ(r.out, "0\n-128\n127\n");
    f = wav::file(1, 16, chunk("data", "\x03\x00"s), "\x05"s);
    EXPECT_EQ(dump(f).err, wav::report(1, 16, f.size(), 17) + "05 \n[data] (2 bytes)\n");
}

TEST(RiffcatDump, ChunksBeforeFmtAreWalkedAndFilesWithoutFormatRejected) {
    dump_result r = dump("RIFX\0\0\0\0WAVEfmt "s);
    EXPECT_EQ(r.end, dump_end::rejected);
    EXPECT_EQ(r.err, "Not a 'RIFF' format\n");
    r = dump("RIFF\x04\0\0\0WAVxfmt "s);
    EXPECT_EQ(r.end, dump_end::rejected);
    EXPECT_EQ(r.err, "[RIFF] (4 bytes)\nNot a 'WAVEfmt ' format\n");

    // A JUNK chunk before fmt, as broadcast-wave recorders write.
    const std::string good = wav::file(1, 8, chunk("data", "\x81"s));
    const std::string f = "RIFF\x2e\0\0\0WAVE"s + chunk("JUNK", "abc") + good.substr(12);
    r = dump(f);
    EXPECT_EQ(r.end, dump_end::done);
    EXPECT_EQ(r.err, "[RIFF] (46 bytes)\n[JUNK] (3 bytes)\n61 62 63 \n" +
                         wav::report(1, 8, good.size()).substr(18) + "\n[data] (1 bytes)\n");
    EXPECT_EQ(r.out, "1\n");

    // Samples before any format to read them by.
    r = dump("RIFF\x0e\0\0\0WAVE"s + chunk("data", "\x81"s) + good.substr(12));
    EXPECT_EQ(r.end, dump_end::rejected);
    EXPECT_EQ(r.err, "[RIFF] (14 bytes)\n[data] (1 bytes)\nNot a 'WAVEfmt ' format\n");
    EXPECT_EQ(r.out, "");
}

TEST(RiffcatDump, DataChunkSizeBoundsTheSamples) {
    // Chunks after the data are reported, never samples; a second data chunk is just a chunk.
    std::string f =
        wav::file(1, 16, chunk("data", "\x02\x00"s) + chunk("LIST", "ab") + chunk("data", "\x07"s));
    dump_result r = dump(f);
    EXPECT_EQ(r.end, dump_end::done);
    EXPECT_EQ(r.out, "2\n");
    EXPECT_EQ(r.err, wav::report(1, 16, f.size()) +
                         "\n[data] (2 bytes)\n[LIST] (2 bytes)\n61 62 \n[data] (1 bytes)\n07 \n");
    // The frame limit skips the rest of the data, and the chunks after it are still reported.
    EXPECT_TRUE(dump(f, 0).err.ends_with("[LIST] (2 bytes)\n61 62 \n[data] (1 bytes)\n07 \n"));
    // The pad byte of odd 8-bit data is no sample.
    EXPECT_EQ(dump(wav::file(1, 4, chunk("data", "\x81"s))).out, "1\n");
    // A frame cut short at the end of the chunk keeps its samples and tabs but gets no newline;
    // a sample cut short is dropped.
    EXPECT_EQ(dump(wav::file(3, 8, chunk("data", "\x80\x81\x82\x83\x84"s) + chunk("x", ""))).out,
              "0\t1\t2\n3\t4\t");
    EXPECT_EQ(dump(wav::file(2, 16, chunk("data", wav::stereo16.substr(0, 7)))).out,
              "1\t-1\n-32768\t");
    // Size 0 or 0xFFFFFFFF: a stream, whose samples run to the end of the file.
    for (std::uint32_t size : {0u, 0xffffffffu})
        EXPECT_EQ(dump(wav::file(1, 16, "data" + wav::le(size, 4) + "\x01\x00\x02\x00\x03"s)).out,
                  "1\n2\n");
    // A size past the end of the file: the samples there are, and a message.
    r = dump(wav::file(1, 16, "data\x06\0\0\0\x01\x00\x02"s), 5, 1);
    EXPECT_EQ(r.end, dump_end::done);
    EXPECT_EQ(r.out, "1\n");
    EXPECT_TRUE(r.err.ends_with("[data] (6 bytes)\nData cut short: 3 of 6 bytes\n")) << r.err;
    // No channels: no lines at all, not an endless run of empty ones.
    EXPECT_EQ(dump(wav::file(0, 16, chunk("data", "\x01\x00"s))).out, "");
}

TEST(RiffcatDump, SamplesAtTheirStoredWidth) {
    struct form {
        int type, bits;
        std::string ext, data, out;
    } forms[] = {
        {1, 24, "", "\xff\xff\x7f\x00\x00\x80\x01\x00\x00\xff\xff\xff"s,
         "8388607\n-8388608\n1\n-1\n"},
        {1, 20, "", "\x10\x00\x00\x00\x00\xf8"s, "16\n-524288\n"},  // as stored, unscaled
        {1, 32, "", "\xff\xff\xff\x7f\x00\x00\x00\x80"s, "2147483647\n-2147483648\n"},
        {1, 40, "", "\xfe\xff\xff\xff\xff"s, "-2\n"},
        {1, 64, "", "\xff\xff\xff\xff\xff\xff\xff\x7f\x00\x00\x00\x00\x00\x00\x00\x80"s,
         "9223372036854775807\n-9223372036854775808\n"},
        // 0.1, -0, the least subnormal, NaN, infinities, the greatest float
        {3, 32, "",
         "\xcd\xcc\xcc\x3d\x00\x00\x00\x80\x01\x00\x00\x00\x01\x00\xc0\x7f"
         "\x00\x00\x80\x7f\x00\x00\x80\xff\xff\xff\x7f\x7f"s,
         "0.1\n-0\n1e-45\nNaN\nInfinity\n-Infinity\n3.4028235e+38\n"},
        // 1e-05, 1.5e20, -1, the least subnormal, a whole number
        {3, 64, "\0\0"s,
         "\xf1\x68\xe3\x88\xb5\xf8\xe4\x3e\x30\x29\x88\x1a\x56\x43\x20\x44"
         "\x00\x00\x00\x00\x00\x00\xf0\xbf\x01\x00\x00\x00\x00\x00\x00\x00"
         "\x00\x00\x14\x1a\x99\xbe\x3c\x42"s,
         "1e-05\n1.5e+20\n-1\n5e-324\n123456789012\n"},
        {0xfffe, 24, wav::extensible(20, 1), "\x00\x00\x80\x01\x00\x00"s, "-8388608\n1\n"},
        {0xfffe, 16, wav::extensible(12, 1), "\x00\x80\x10\x00"s, "-32768\n16\n"},
        {0xfffe, 32, wav::extensible(32, 3), "\x00\x00\xc0\xbf"s, "-1.5\n"},
        // Codings that cannot be read: the message, no samples.
        {6, 8, "\0\0"s, "\x55", "Unsupported data type 6 (8 bits)\n"},  // A-law
        {3, 16, "", "\x00\x3c"s, "Unsupported data type 3 (16 bits)\n"},
        {1, 72, "", std::string(9, '\1'), "Unsupported data type 1 (72 bits)\n"},
        {0xfffe, 4, wav::extensible(4, 0x11), "\x01\x02", "Unsupported data type 17 (4 bits)\n"},
        {0xfffe, 16, "\0\0"s, "\x01\x02", "Unsupported data type 65534 (16 bits)\n"},
        {0xfffe, 16, wav::extensible(16, 1).substr(0, 23) + "\x72", "\x01\x02",
         "Unsupported data type 65534 (16 bits)\n"},
    };
    for (const form& c : forms) {
        const std::string f =
            wav::file(1, c.bits, chunk("data", c.data) + chunk("LIST", ""), c.ext, c.type);
        dump_result r = dump(f);
        const bool read = !c.out.starts_with("Unsupported");
        EXPECT_EQ(r.end, read ? dump_end::done : dump_end::rejected) << c.out;
        EXPECT_EQ(r.out, read ? c.out : "") << c.out;
        EXPECT_TRUE(r.err.ends_with("[data] (" + std::to_string(c.data.size()) + " bytes)\n" +
                                    (read ? "" : c.out) + "[LIST] (0 bytes)\n\n"))
            << r.err;
    }
}

TEST(RiffcatDump, ReadErrorOnlyWhereAHeaderFieldIsCutShort) {
    // Cut inside the 36 header bytes or inside a chunk size it is a read error; cut where a
    // chunk id is due, or inside one, it is a file without samples; cut inside the data, a
    // data chunk cut short.
    std::string f = wav::file(1, 16, chunk("LIST", "") + chunk("data", "\x05\x00"s));
    for (std::size_t n = 0; n < f.size(); ++n) {
        dump_result r = dump(f.substr(0, n));
        bool cut_field = n < 36 || (n >= 40 && n < 44) || (n >= 48 && n < 52);
        EXPECT_EQ(r.end, cut_field ? dump_end::read_error
                         : n < 52  ? dump_end::rejected
                                   : dump_end::done)
            << n;
        EXPECT_EQ(r.err.ends_with("Read error\n"), cut_field) << n;
        EXPECT_EQ(r.out, "") << n;
    }
    EXPECT_EQ(dump(f.substr(0, 44)).err,
              wav::report(1, 16, f.size()) + "\n[LIST] (0 bytes)\n\nNo 'data' chunk\n");
}

TEST(RiffcatDump, SizesPastTheEndOfFileDumpOnlyTheBytesThereAre) {
    std::string f = wav::file(1, 8, "", "\x01\x02"s);
    f[16] = '\xe8', f[17] = '\x03';  // fmt size 1000
    EXPECT_EQ(dump(f).err, wav::report(1, 8, f.size(), 1000) + "01 02 \nNo 'data' chunk\n");
    f = wav::file(1, 8,
                  "LIST\xff\xff\xff\xff"
                  "abc"s);
    dump_result r = dump(f);
    EXPECT_EQ(r.end, dump_end::rejected);
    EXPECT_EQ(r.err, wav::report(1, 8, f.size()) +
                         "\n[LIST] (4294967295 bytes)\n61 62 63 \nNo 'data' chunk\n");
}

TEST(RiffcatDump, BlockBoundariesDoNotChangeTheText) {
    // Frames split across blocks are read sample by sample; the text must be the same.
    std::string samples;
    for (int i = 0; i < 300; ++i) samples += wav::le(std::uint32_t(i * 219 - 32768), 2);
    for (const std::string& f :
         {wav::file(3, 16, chunk("LIST", "odd") + chunk("data", samples)),
          wav::file(5, 8, chunk("data", samples.substr(1)) + chunk("LIST", "z"), "\x10"s),
          wav::file(2, 24, chunk("data", samples.substr(3)), wav::extensible(24, 1), 0xfffe),
          wav::file(3, 64, chunk("data", samples), "", 3)}) {
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
    // Inside the header, a chunk, the data and the data's pad byte; earlier lines stay.
    const struct {
        std::size_t fail_at;
        std::string out;
    } cases[] = {{20, ""}, {50, ""}, {f.size() - 2, "0\n1\n"}, {f.size() - 1, "0\n1\n2\n"}};
    for (const auto& c : cases) {
        dump_result r = dump(f, -1, 4, c.fail_at);
        EXPECT_EQ(r.end, dump_end::read_error) << c.fail_at;
        EXPECT_TRUE(r.err.ends_with("Read error\n")) << c.fail_at;
        EXPECT_EQ(r.out, c.out) << c.fail_at;
    }
}
