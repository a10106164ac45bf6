#include "riffcat.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace {

dump_end read_error(out_buffer& err) {
    err.put("Read error\n");
    return dump_end::read_error;
}

// Dumps up to size bytes in hexadecimal, then ends the line. A size that runs past the end of
// the file (a truncated download, a size field left unpatched by a recorder that stopped) ends
// the dump at the last byte there is.
void dump_hex(reader& f, out_buffer& err, std::uint64_t size) {
    for (int c; size > 0 && (c = f.get()) >= 0; --size) err.put_hex(static_cast<unsigned char>(c));
    err.put('\n');
}

int sample_at(const unsigned char* p, bool wide) {
    return wide ? std::int16_t(p[0] | p[1] << 8) : p[0] - 128;
}

// Sample lines from the current position to the end of the file or of the frame limit.
template <bool wide>
dump_end print_samples(reader& f, out_buffer& out, unsigned channels, std::int32_t frame_limit) {
    constexpr std::size_t width = wide ? 2 : 1;
    const std::size_t frame_bytes = width * channels;
    // 64-bit, so that a negative limit lets through files of any length.
    std::int64_t count = 0;
    for (;;) {
        if (count == frame_limit) return dump_end::done;
        if (out.failed()) return dump_end::write_error;
        // Whole frames in the block are formatted straight from it, a batch at a time, so that
        // a failed write is noticed soon.
        std::size_t frames = std::min<std::size_t>(f.available() / frame_bytes, 1 << 14);
        if (frames != 0) {
            if (frame_limit >= 0)
                frames = std::size_t(std::min<std::int64_t>(frames, frame_limit - count));
            const unsigned char* p = f.data();
            for (std::size_t n = frames; n != 0; --n) {
                for (unsigned c = 1; c <= channels; ++c, p += width) {
                    char* o = format_int(out.reserve(8), sample_at(p, wide));
                    *o++ = c < channels ? '\t' : '\n';
                    out.commit(o);
                }
            }
            f.skip(frames * frame_bytes);
            count += std::int64_t(frames);
            continue;
        }
        // A frame across two blocks, or the last bytes of the file: sample by sample. A frame
        // cut short keeps the samples printed so far, each with its tab, and gets no newline.
        for (unsigned c = 1; c <= channels; ++c) {
            unsigned char b[width];
            if (f.read(b, width) < width) return f.failed() ? dump_end::read_error : dump_end::done;
            char* o = format_int(out.reserve(8), sample_at(b, wide));
            if (c < channels) *o++ = '\t';
            out.commit(o);
        }
        out.put('\n');
        ++count;
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

dump_end riffcat(reader& f, out_buffer& out, out_buffer& err, std::int32_t frame_limit) {
    if (!out.flush()) return dump_end::write_error;

    const unsigned char* marker = get_bytes(f, 4);
    if (marker == nullptr) return read_error(err);
    if (std::memcmp(marker, "RIFF", 4) != 0) {
        err.put("Not a 'RIFF' format\n");
        return dump_end::done;
    }
    std::optional<std::uint32_t> riff_size = get_ulong(f);
    if (!riff_size) return read_error(err);
    err.print("[RIFF] (%lu bytes)\n", static_cast<unsigned long>(*riff_size));

    marker = get_bytes(f, 8);
    if (marker == nullptr) return read_error(err);
    if (std::memcmp(marker, "WAVEfmt ", 8) != 0) {
        err.put("Not a 'WAVEfmt ' format\n");
        return dump_end::done;
    }
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
    // an empty line.
    dump_hex(f, err, *fmt_size > 16 ? *fmt_size - 16 : 0);
    if (f.failed()) return read_error(err);

    // Chunk walk up to "data". Fewer than 4 bytes where an id is due is the end of the file,
    // not an error: the file simply has no sample data.
    for (;;) {
        char id[5] = {};
        if (f.read(reinterpret_cast<unsigned char*>(id), 4) < 4)
            return f.failed() ? read_error(err) : dump_end::done;
        std::optional<std::uint32_t> size = get_ulong(f);
        if (!size) return read_error(err);
        err.print("[%s] (%lu bytes)\n", id, static_cast<unsigned long>(*size));
        if (std::memcmp(id, "data", 4) == 0) break;
        dump_hex(f, err, *size);
        if (f.failed()) return read_error(err);
    }

    // A header that declares no channels has frames of nothing: no lines at all, rather than
    // an empty line per frame up to the limit.
    if (*channels == 0) return dump_end::done;
    err.flush();
    dump_end end = *bits > 8 ? print_samples<true>(f, out, *channels, frame_limit)
                             : print_samples<false>(f, out, *channels, frame_limit);
    if (end == dump_end::read_error) return read_error(err);
    return out.failed() ? dump_end::write_error : end;
}
