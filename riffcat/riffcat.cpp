#include "riffcat.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <string>

#include "error_report.h"
#include "samples.h"

namespace {

// A byte as two lowercase hexadecimal digits and a blank ("%02x ").
void put_hex(output& err, unsigned char b) {
    static const char digits[] = "0123456789abcdef";
    char* p = err.reserve(3);
    p[0] = digits[b >> 4];
    p[1] = digits[b & 15];
    p[2] = ' ';
    err.commit(p + 3);
}

dump_end read_error(output& err) {
    report_error(err, {}, "Read error");
    return dump_end::read_error;
}

dump_end not_wave(output& err) {
    report_error(err, {}, "Not a 'WAVEfmt ' format");
    return dump_end::rejected;
}

// Dumps up to size bytes in hexadecimal, then ends the line; the first keep_n of them are also
// copied to keep. Returns how many were kept. A size that runs past the end of the file (a
// truncated download, a size field left unpatched by a recorder that stopped) ends the dump at
// the last byte there is.
std::size_t dump_hex(reader& f, output& err, std::uint64_t size, unsigned char* keep = nullptr,
                     std::size_t keep_n = 0) {
    std::size_t kept = 0;
    for (int c; size > 0 && (c = f.get()) >= 0; --size) {
        if (kept < keep_n) keep[kept++] = static_cast<unsigned char>(c);
        put_hex(err, static_cast<unsigned char>(c));
    }
    err.put('\n');
    return kept;
}

// Skips up to n bytes; returns how many there were before the end of the file.
std::uint64_t skip_bytes(reader& f, std::uint64_t n) {
    std::uint64_t done = 0;
    while (done < n) {
        const std::size_t k = std::size_t(std::min<std::uint64_t>(f.available(), n - done));
        if (k == 0) break;
        f.skip(k);
        done += k;
    }
    return done;
}

// RIFF keeps chunks at even offsets: a chunk of odd size is followed by a pad byte, which may be
// missing at the very end of the file.
void skip_pad(reader& f, std::uint64_t size) {
    if (size % 2 != 0) f.get();
}

// The id is shown up to its first zero byte, its other bytes outside printable ASCII as \xNN.
void chunk_line(output& err, const char* id, std::uint32_t size) {
    err.print("[%s] (%lu bytes)\n", printable(id).c_str(), static_cast<unsigned long>(size));
}

// A chunk that holds no samples: its bytes in hexadecimal, then past its pad byte.
void dump_chunk(reader& f, output& err, std::uint32_t size) {
    dump_hex(f, err, size);
    skip_pad(f, size);
}

// The chunks between "WAVE" and "fmt " (JUNK, bext, a place kept for ds64), reported like the
// chunks before the data. Returns nothing at the "fmt " chunk's size, or how the dump ends: a
// header field cut short is a read error, but a file that ends cleanly after a chunk has no
// format.
std::optional<dump_end> walk_to_fmt(reader& f, output& err) {
    for (bool first = true;; first = false) {
        char id[5] = {};
        const std::size_t got = f.read(reinterpret_cast<unsigned char*>(id), 4);
        if (got == 0 && !first && !f.failed()) return not_wave(err);
        if (got < 4) return read_error(err);
        if (std::memcmp(id, "fmt ", 4) == 0) return std::nullopt;
        std::optional<std::uint32_t> size = get_ulong(f);
        if (!size) return read_error(err);
        chunk_line(err, id, *size);
        // Samples with no format to read them by.
        if (std::memcmp(id, "data", 4) == 0) return not_wave(err);
        dump_chunk(f, err, *size);
        if (f.failed()) return read_error(err);
    }
}

// The six fields of the fmt chunk, in file order.
struct wave_format {
    std::uint16_t data_type, channels;
    std::uint32_t rate, byte_rate;
    std::uint16_t frame_size, bits;
};

// Where each field ends in the chunk.
constexpr std::size_t field_end[6] = {2, 4, 8, 12, 14, 16};

unsigned le_value(const unsigned char* b, std::size_t width) {
    unsigned v = 0;
    for (std::size_t i = width; i-- > 0;) v = v << 8 | b[i];
    return v;
}

wave_format decode_format(const unsigned char b[16]) {
    return {std::uint16_t(le_value(b, 2)),
            std::uint16_t(le_value(b + 2, 2)),
            le_value(b + 4, 4),
            le_value(b + 8, 4),
            std::uint16_t(le_value(b + 12, 2)),
            std::uint16_t(le_value(b + 14, 2))};
}

// The report lines of the first n fields.
void report_format(output& err, const wave_format& w, int n) {
    static const char* const line[6][2] = {
        {"Data type = ", " (1 = PCM)"}, {"Number of channels = ", " (1 = mono, 2 = stereo)"},
        {"Sampling rate = ", "Hz"},     {"Bytes / second = ", ""},
        {"Bytes x channels = ", ""},    {"Bits / sample = ", ""}};
    const unsigned long value[6] = {w.data_type, w.channels,   w.rate,
                                    w.byte_rate, w.frame_size, w.bits};
    for (int i = 0; i < n; ++i) err.print("  %s%lu%s\n", line[i][0], value[i], line[i][1]);
}

}  // namespace

const unsigned char* get_bytes(reader& f, std::size_t n) {
    static unsigned char s[16];
    assert(n <= sizeof s);
    return f.read(s, n) == n ? s : nullptr;
}

std::optional<std::uint32_t> get_ulong(reader& f) {
    const unsigned char* b = get_bytes(f, 4);
    if (b == nullptr) return std::nullopt;
    return le_value(b, 4);
}

dump_end riffcat(reader& f, output& out, output& err, std::int32_t frame_limit) {
    if (!out.flush()) return dump_end::write_error;

    const unsigned char* marker = get_bytes(f, 4);
    if (marker == nullptr) return read_error(err);
    if (std::memcmp(marker, "RIFF", 4) != 0) {
        report_error(err, {}, "Not a 'RIFF' format");
        return dump_end::rejected;
    }
    std::optional<std::uint32_t> riff_size = get_ulong(f);
    if (!riff_size) return read_error(err);
    err.print("[RIFF] (%lu bytes)\n", static_cast<unsigned long>(*riff_size));

    marker = get_bytes(f, 4);
    if (marker == nullptr) return read_error(err);
    if (std::memcmp(marker, "WAVE", 4) != 0) return not_wave(err);
    if (std::optional<dump_end> end = walk_to_fmt(f, err)) return *end;
    std::optional<std::uint32_t> fmt_size = get_ulong(f);
    if (!fmt_size) return read_error(err);
    err.print("[WAVEfmt ] (%lu bytes)\n", static_cast<unsigned long>(*fmt_size));

    // The six fields, as many of them as the chunk holds. A chunk too short for all six holds
    // no format to read samples by; its last bytes are not taken from the chunk after it.
    unsigned char fields[16] = {};
    const std::size_t held = std::min<std::uint32_t>(*fmt_size, 16);
    const std::size_t got = f.read(fields, held);
    const wave_format format = decode_format(fields);
    report_format(err, format, int(std::upper_bound(field_end, field_end + 6, got) - field_end));
    if (got < held) return read_error(err);
    if (held < 16) {
        report_error(err, {}, "Bad 'fmt ' chunk", std::to_string(*fmt_size) + " bytes");
        return dump_end::rejected;
    }

    // Extension bytes of a longer fmt chunk (WAVE_FORMAT_EXTENSIBLE and the like); with none,
    // an empty line.
    unsigned char ext[24];
    const std::size_t ext_n = dump_hex(f, err, *fmt_size - 16, ext, 24);
    skip_pad(f, *fmt_size);
    if (f.failed()) return read_error(err);
    unsigned code = format.data_type;
    const sample_coding coding = coding_of(code, format.bits, ext, ext_n);

    // Chunk walk. Fewer than 4 bytes where an id is due is the end of the file, not an error.
    dump_end end = dump_end::done;
    bool data_seen = false;
    for (;;) {
        char id[5] = {};
        if (f.read(reinterpret_cast<unsigned char*>(id), 4) < 4) break;
        std::optional<std::uint32_t> size = get_ulong(f);
        // After the samples a chunk header cut short is only the end of the file.
        if (!size) {
            if (data_seen && !f.failed()) break;
            return read_error(err);
        }
        chunk_line(err, id, *size);
        if (data_seen || std::memcmp(id, "data", 4) != 0) {
            dump_chunk(f, err, *size);
            if (f.failed()) return read_error(err);
            continue;
        }
        data_seen = true;
        // A data size of 0 or 0xFFFFFFFF is a stream whose writer could not go back to fill it
        // in: the samples run to the end of the file, and nothing can follow them.
        const bool bounded = *size != 0 && *size != 0xffffffff;
        std::uint64_t left = bounded ? *size : UINT64_MAX;
        if (coding.form == sample_form::unsupported) {
            report_error(err, {},
                         "Unsupported data type " + std::to_string(code) + " (" +
                             std::to_string(format.bits) + " bits)");
            end = dump_end::rejected;
        } else {
            err.flush();
            print_samples(f, out, coding, format.channels, frame_limit, left);
            if (!out.flush()) return dump_end::write_error;
            if (f.failed()) return read_error(err);
        }
        if (!bounded) return end;
        // The rest of the chunk (after the frame limit, or a sample cut short) is passed over.
        const std::uint64_t missing = left - skip_bytes(f, left);
        if (f.failed()) return read_error(err);
        if (missing != 0)
            report_error(err, {},
                         "Data cut short: " + std::to_string(*size - missing) + " of " +
                             std::to_string(*size) + " bytes");
        else
            skip_pad(f, *size);
    }
    if (f.failed()) return read_error(err);
    if (!data_seen) {
        report_error(err, {}, "No 'data' chunk");
        return dump_end::rejected;
    }
    return end;
}
