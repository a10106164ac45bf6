#include "samples.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "number_text.h"

namespace {

// A standard SubFormat GUID is the format code in its first two bytes followed by these.
constexpr unsigned char guid_tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                         0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};

// Bytes a sample of coding F, 0 where it depends on the bits per sample.
template <sample_form F>
constexpr std::size_t fixed_width() {
    switch (F) {
        case sample_form::offset8:
            return 1;
        case sample_form::int16:
            return 2;
        case sample_form::float32:
            return 4;
        case sample_form::float64:
            return 8;
        default:
            return 0;
    }
}

// Unsigned little-endian value of w bytes (w <= 8).
std::uint64_t unsigned_at(const unsigned char* p, std::size_t w) {
    std::uint64_t u = 0;
    for (std::size_t i = w; i-- > 0;) u = u << 8 | p[i];
    return u;
}

// The sample at p (w bytes) as stored: a signed integer, a float or a double.
template <sample_form F>
auto raw_sample(const unsigned char* p, std::size_t w) {
    if constexpr (F == sample_form::offset8) {
        return std::int64_t(p[0] - 128);
    } else if constexpr (F == sample_form::int16) {
        return std::int64_t(std::int16_t(p[0] | p[1] << 8));
    } else if constexpr (F == sample_form::int_wide) {
        // The top byte's high bit is the sign: shift it to bit 63 and back.
        const unsigned shift = unsigned(64 - 8 * w);
        return std::int64_t(unsigned_at(p, w) << shift) >> shift;
    } else if constexpr (F == sample_form::float32) {
        return std::bit_cast<float>(std::uint32_t(unsigned_at(p, 4)));
    } else {
        return std::bit_cast<double>(unsigned_at(p, 8));
    }
}

// Writes the sample at p (w bytes) and returns the end of its text.
template <sample_form F>
char* put_sample(char* o, const unsigned char* p, std::size_t w) {
    if constexpr (F == sample_form::float32 || F == sample_form::float64)
        return format_real(o, raw_sample<F>(p, w));
    else
        return format_int(o, raw_sample<F>(p, w));
}

template <sample_form F>
void decode(const unsigned char* p, std::size_t w, std::size_t n, double* x) {
    for (std::size_t i = 0; i < n; ++i, p += w) x[i] = double(raw_sample<F>(p, w));
}

template <sample_form F>
void print_frames(reader& f, output& out, std::size_t width, unsigned channels,
                  std::int32_t frame_limit, std::uint64_t& left) {
    const std::size_t w = fixed_width<F>() != 0 ? fixed_width<F>() : width;
    // Room for one value and its separator: "-32768" and a tab, or a 64-bit integer or a real.
    constexpr std::size_t room =
        fixed_width<F>() == 1 || fixed_width<F>() == 2 ? 8 : max_number_text + 1;
    static_assert(room <= output::min_capacity);
    const std::size_t frame_bytes = w * channels;
    // 64-bit, so that a negative limit lets through files of any length.
    std::int64_t count = 0;
    for (;;) {
        if (count == frame_limit || out.failed()) return;
        // Whole frames in the block are formatted straight from it, a batch at a time, so that
        // a failed write is noticed soon.
        std::size_t frames =
            std::size_t(std::min<std::uint64_t>(f.available(), left) / frame_bytes);
        frames = std::min<std::size_t>(frames, 1 << 14);
        if (frames != 0) {
            if (frame_limit >= 0)
                frames =
                    std::size_t(std::min<std::int64_t>(std::int64_t(frames), frame_limit - count));
            const unsigned char* p = f.data();
            for (std::size_t n = frames; n != 0; --n) {
                for (unsigned c = 1; c <= channels; ++c, p += w) {
                    char* o = put_sample<F>(out.reserve(room), p, w);
                    *o++ = c < channels ? '\t' : '\n';
                    out.commit(o);
                }
            }
            f.skip(frames * frame_bytes);
            left -= frames * frame_bytes;
            count += std::int64_t(frames);
            continue;
        }
        // A frame across two blocks, or the last bytes of the file or the chunk: sample by
        // sample.
        for (unsigned c = 1; c <= channels; ++c) {
            unsigned char b[8];
            if (left < w) return;
            const std::size_t got = f.read(b, w);
            left -= got;
            if (got < w) return;
            char* o = put_sample<F>(out.reserve(room), b, w);
            if (c < channels) *o++ = '\t';
            out.commit(o);
        }
        out.put('\n');
        ++count;
    }
}

}  // namespace

sample_coding coding_of(unsigned& code, unsigned bits, const unsigned char* ext,
                        std::size_t ext_n) {
    // WAVE_FORMAT_EXTENSIBLE: cbSize (22 at least), valid bits, channel mask, SubFormat. The
    // container's bits per sample set the width; the valid bits do not matter for reading.
    if (code == 0xfffe && ext_n >= 24 && (ext[0] | ext[1] << 8) >= 22 &&
        std::memcmp(ext + 10, guid_tail, sizeof guid_tail) == 0)
        code = unsigned(ext[8] | ext[9] << 8);
    const unsigned w = (bits + 7) / 8;
    if (code == 1 && bits <= 8) return {sample_form::offset8, 1};
    if (code == 1 && bits <= 16) return {sample_form::int16, 2};
    if (code == 1 && bits <= 64) return {sample_form::int_wide, w};
    if (code == 3 && bits == 32) return {sample_form::float32, 4};
    if (code == 3 && bits == 64) return {sample_form::float64, 8};
    return {};
}

void print_samples(reader& f, output& out, sample_coding c, unsigned channels,
                   std::int32_t frame_limit, std::uint64_t& left) {
    // A header that declares no channels has frames of nothing: no lines at all, rather than
    // an empty line per frame up to the limit.
    if (channels == 0) return;
    switch (c.form) {
        case sample_form::offset8:
            return print_frames<sample_form::offset8>(f, out, 1, channels, frame_limit, left);
        case sample_form::int16:
            return print_frames<sample_form::int16>(f, out, 2, channels, frame_limit, left);
        case sample_form::int_wide:
            return print_frames<sample_form::int_wide>(f, out, c.width, channels, frame_limit,
                                                       left);
        case sample_form::float32:
            return print_frames<sample_form::float32>(f, out, 4, channels, frame_limit, left);
        case sample_form::float64:
            return print_frames<sample_form::float64>(f, out, 8, channels, frame_limit, left);
        case sample_form::unsupported:
            return;
    }
}

void decode_samples(const unsigned char* p, sample_coding c, std::size_t n, double* x) {
    switch (c.form) {
        case sample_form::offset8:
            return decode<sample_form::offset8>(p, 1, n, x);
        case sample_form::int16:
            return decode<sample_form::int16>(p, 2, n, x);
        case sample_form::int_wide:
            return decode<sample_form::int_wide>(p, c.width, n, x);
        case sample_form::float32:
            return decode<sample_form::float32>(p, 4, n, x);
        case sample_form::float64:
            return decode<sample_form::float64>(p, 8, n, x);
        case sample_form::unsupported:
            return;
    }
}
