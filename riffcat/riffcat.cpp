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

void chunk_line(output& err, const char* id, std::uint32_t size) {
    err.print("[%s] (%lu bytes)\n", id, static_cast<unsigned long>(size));
}

// A chunk that holds no samples: its bytes in hexadecimal, then past its pad byte.
void dump_chunk(reader& f, output& err, std::uint32_t size) {
    dump_hex(f, err, size);
    skip_pad(f, size);
}

// The chunks between "WAVE" and "fmt " (JUNK, bext, a place kept for ds64), reported like the
// chunks before the data. Still inside the header, the end of the file is a read error. Returns
// nothing at the "fmt " chunk's size, or how the dump ends.
std::optional<dump_end> walk_to_fmt(reader& f, output& err) {
    for (;;) {
        const unsigned char* b = get_bytes(f, 4);
        if (b == nullptr) return read_error(err);
        char id[5] = {};
        std::memcpy(id, b, 4);
        if (std::memcmp(id, "fmt ", 4) == 0) return std::nullopt;
        std::optional<std::uint32_t> size = get_ulong(f);
        if (!size) return read_error(err);
        chunk_line(err, id, *size);
        if (std::memcmp(id, "data", 4) == 0) {
            // Samples with no format to read them by.
            report_error(err, {}, "Not a 'WAVEfmt ' format");
            return dump_end::rejected;
        }
        dump_chunk(f, err, *size);
        if (f.failed()) return read_error(err);
    }
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
    return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 |
           std::uint32_t(b[3]) << 24;
}

std::optional<std::uint16_t> get_ushort(reader& f) {
    const unsigned char* b = get_bytes(f, 2);
    if (b == nullptr) return std::nullopt;
    return std::uint16_t(b[0] | b[1] << 8);
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
    if (std::memcmp(marker, "WAVE", 4) != 0) {
        report_error(err, {}, "Not a 'WAVEfmt ' format");
        return dump_end::rejected;
    }
    if (std::optional<dump_end> end = walk_to_fmt(f, err)) return *end;
    std::optional<std::uint32_t> fmt_size = get_ulong(f);
    if (!fmt_size) return read_error(err);
    err.print("[WAVEfmt ] (%lu bytes)\n", static_cast<unsigned long>(*fmt_size));

    // The six fields are always read, 16 bytes, whatever the fmt size says.
    std::optional<std::uint16_t> data_type = get_ushort(f);
    if (!data_type) return read_error(err);
    err.print("  Data type = %u (1 = PCM)\n", unsigned{*data_type});
    std::optional<std::uint16_t> channels = get_ushort(f);
    if (!channels) return read_error(err);
    err.print("  Number of channels = %u (1 = mono, 2 = stereo)\n", unsigned{*channels});
    std::optional<std::uint32_t> rate = get_ulong(f);
    if (!rate) return read_error(err);
    err.print("  Sampling rate = %luHz\n", static_cast<unsigned long>(*rate));
    std::optional<std::uint32_t> byte_rate = get_ulong(f);
    if (!byte_rate) return read_error(err);
    err.print("  Bytes / second = %lu\n", static_cast<unsigned long>(*byte_rate));
    std::optional<std::uint16_t> frame_size = get_ushort(f);
    if (!frame_size) return read_error(err);
    err.print("  Bytes x channels = %u\n", unsigned{*frame_size});
    std::optional<std::uint16_t> bits = get_ushort(f);
    if (!bits) return read_error(err);
    err.print("  Bits / sample = %u\n", unsigned{*bits});

    // Extension bytes of a longer fmt chunk (WAVE_FORMAT_EXTENSIBLE and the like); with none,
    // an empty line. A chunk shorter than the six fields has been read past already.
    unsigned char ext[24];
    const std::size_t ext_n = dump_hex(f, err, *fmt_size > 16 ? *fmt_size - 16 : 0, ext, 24);
    if (*fmt_size > 16) skip_pad(f, *fmt_size);
    if (f.failed()) return read_error(err);
    unsigned code = *data_type;
    const sample_coding coding = coding_of(code, *bits, ext, ext_n);

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
                             std::to_string(*bits) + " bits)");
            end = dump_end::rejected;
        } else {
            err.flush();
            print_samples(f, out, coding, *channels, frame_limit, left);
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
