#include "wave.h"

#include <algorithm>
#include <cstring>

#include "riffcat.h"

namespace {

// Passes over n bytes; false when the file ends first.
bool skip(reader& f, std::uint64_t n) {
    while (n > 0) {
        const std::size_t k = std::size_t(std::min<std::uint64_t>(f.available(), n));
        if (k == 0) return false;
        f.skip(k);
        n -= k;
    }
    return true;
}

// A chunk that holds no samples, and its pad byte: a size beyond the end of the file ends the
// walk as riffcat's dump ends there.
void skip_chunk(reader& f, std::uint64_t size) {
    skip(f, size);
    if (size % 2 != 0) f.get();
}

unsigned le(const unsigned char* b, std::size_t width) {
    unsigned v = 0;
    for (std::size_t i = width; i-- > 0;) v = v << 8 | b[i];
    return v;
}

wave_end fail(std::string& why, wave_end end, std::string text) {
    why = std::move(text);
    return end;
}

}  // namespace

wave_end read_wave_layout(reader& f, wave_layout& w, std::string& why) {
    const auto read_error = [&] { return fail(why, wave_end::read_error, "Read error"); };
    const auto not_wave = [&] { return fail(why, wave_end::rejected, "Not a 'WAVEfmt ' format"); };
    w = {};
    const unsigned char* marker = get_bytes(f, 4);
    if (marker == nullptr) return read_error();
    if (std::memcmp(marker, "RIFF", 4) != 0)
        return fail(why, wave_end::not_riff, "Not a 'RIFF' format");
    if (!get_ulong(f) || (marker = get_bytes(f, 4)) == nullptr) return read_error();
    if (std::memcmp(marker, "WAVE", 4) != 0) return not_wave();

    // The chunks before "fmt "; samples before it have no format to be read by.
    for (bool first = true;; first = false) {
        char id[4];
        const std::size_t got = f.read(reinterpret_cast<unsigned char*>(id), 4);
        if (got == 0 && !first && !f.failed()) return not_wave();
        if (got < 4) return read_error();
        if (std::memcmp(id, "fmt ", 4) == 0) break;
        const std::optional<std::uint32_t> size = get_ulong(f);
        if (!size) return read_error();
        if (std::memcmp(id, "data", 4) == 0) return not_wave();
        skip_chunk(f, *size);
        if (f.failed()) return read_error();
    }
    const std::optional<std::uint32_t> fmt_size = get_ulong(f);
    if (!fmt_size) return read_error();
    unsigned char fields[16] = {};
    const std::size_t held = std::min<std::uint32_t>(*fmt_size, 16);
    if (f.read(fields, held) < held) return read_error();
    if (held < 16)
        return fail(why, wave_end::rejected,
                    "Bad 'fmt ' chunk: " + std::to_string(*fmt_size) + " bytes");
    // The extension bytes (WAVE_FORMAT_EXTENSIBLE's SubFormat among them), then the pad byte.
    unsigned char ext[24];
    const std::uint64_t rest = *fmt_size - 16;
    const std::size_t ext_n = f.read(ext, std::size_t(std::min<std::uint64_t>(rest, sizeof ext)));
    skip(f, rest - ext_n);
    if (*fmt_size % 2 != 0) f.get();
    if (f.failed()) return read_error();
    w.code = le(fields, 2);
    w.channels = le(fields + 2, 2);
    w.rate = le(fields + 4, 4);
    w.bits = le(fields + 14, 2);
    w.coding = coding_of(w.code, w.bits, ext, ext_n);

    // The chunks after it, up to the first "data".
    for (;;) {
        char id[4];
        if (f.read(reinterpret_cast<unsigned char*>(id), 4) < 4) break;
        const std::optional<std::uint32_t> size = get_ulong(f);
        if (!size) return read_error();
        if (std::memcmp(id, "data", 4) != 0) {
            skip_chunk(f, *size);
            if (f.failed()) return read_error();
            continue;
        }
        w.data_size = *size;
        w.data_at = f.offset();
        if (w.coding.form == sample_form::unsupported)
            return fail(why, wave_end::unsupported,
                        "Unsupported data type " + std::to_string(w.code) + " (" +
                            std::to_string(w.bits) + " bits)");
        return wave_end::ok;
    }
    if (f.failed()) return read_error();
    return fail(why, wave_end::rejected, "No 'data' chunk");
}
