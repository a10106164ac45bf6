#include "recording.h"

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "report_scale.h"

namespace {

// Reads up to n bytes at `offset`; the count, or -1 with errno when the read failed.
long long read_at(const byte_source& b, std::uint64_t offset, void* buf, std::size_t n) {
    if (offset >= b.size) return 0;
    n = std::size_t(std::min<std::uint64_t>(n, b.size - offset));
    if (!b.data) {
        std::size_t done = 0;
        while (done < n) {
            const ssize_t got =
                pread(b.fd, static_cast<char*>(buf) + done, n - done, off_t(offset + done));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return -1;
            if (got == 0) break;  // the file shrank under us
            done += std::size_t(got);
        }
        return (long long)done;
    }
    std::memcpy(buf, b.data + offset, n);
    return (long long)n;
}

// The header's bytes through the block reader, from the start of the file.
struct header_bytes {
    const byte_source* b;
    std::uint64_t at = 0;
};
long read_header(void* ctx, unsigned char* buf, std::size_t n) {
    auto* h = static_cast<header_bytes*>(ctx);
    const long long got = read_at(*h->b, h->at, buf, n);
    if (got > 0) h->at += std::uint64_t(got);
    return long(got);
}

// libsndfile's reads, through the same bytes.
sf_count_t vio_length(void* r) {
    return sf_count_t(static_cast<recording*>(r)->bytes.size);
}
sf_count_t vio_seek(sf_count_t offset, int whence, void* p) {
    auto* r = static_cast<recording*>(p);
    const sf_count_t base = whence == SEEK_CUR   ? sf_count_t(r->sf_offset)
                            : whence == SEEK_END ? sf_count_t(r->bytes.size)
                                                 : 0;
    if (base + offset < 0) return -1;
    r->sf_offset = std::uint64_t(base + offset);
    return sf_count_t(r->sf_offset);
}
sf_count_t vio_read(void* buf, sf_count_t n, void* p) {
    auto* r = static_cast<recording*>(p);
    const long long got = n > 0 ? read_at(r->bytes, r->sf_offset, buf, std::size_t(n)) : 0;
    if (got <= 0) return 0;
    r->sf_offset += std::uint64_t(got);
    return got;
}
sf_count_t vio_write(const void*, sf_count_t, void*) {
    return 0;
}
sf_count_t vio_tell(void* r) {
    return sf_count_t(static_cast<recording*>(r)->sf_offset);
}

bool rate_in_range(long long rate, std::string& why) {
    if (rate >= 1000 && rate <= 1000000) return true;
    why = "sampling rate " + std::to_string(rate) + " Hz, outside 1000 to 1000000 Hz";
    return false;
}

bool open_wave(recording& r, std::string& why) {
    const wave_layout& w = r.wav;
    if (!rate_in_range(w.rate, why) ||
        !scale_samples(w.code, w.bits, w.rate, w.channels, r.facts, why))
        return false;
    const std::uint64_t frame_bytes = std::uint64_t(w.coding.width) * w.channels;
    const std::uint64_t there = r.bytes.size > w.data_at ? r.bytes.size - w.data_at : 0;
    std::uint64_t bytes = there;
    if (w.bounded()) {
        bytes = std::min<std::uint64_t>(w.data_size, there);
        if (there < w.data_size)
            r.facts.cut_bytes = (long long)there, r.facts.data_bytes = w.data_size;
    }
    r.facts.frames = (long long)(bytes / frame_bytes);
    return true;
}

bool open_sndfile(recording& r, const std::string& wave_why, std::string& why) {
    SF_VIRTUAL_IO io = {vio_length, vio_seek, vio_read, vio_write, vio_tell};
    SF_INFO info = {};
    r.sf_offset = 0;
    r.sf = sf_open_virtual(&io, SFM_READ, &info, &r);
    if (!r.sf) {
        why = wave_why + "; libsndfile cannot read it either (" + sf_strerror(nullptr) + ")";
        return false;
    }
    r.sf_frame = 0;
    if (!rate_in_range(info.samplerate, why)) return false;
    if (info.channels < 1) {
        why = "no channels";
        return false;
    }
    wav_facts& f = r.facts;
    f.rate = info.samplerate;
    f.channels = info.channels;
    f.frames = std::max<sf_count_t>(0, info.frames);
    // PCM comes in its own units, as riffcat prints a WAV file's; everything else scaled to
    // full scale 1 (float as stored).
    int bits = 0;
    switch (info.format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
            bits = 8;
            break;
        case SF_FORMAT_PCM_16:
            bits = 16;
            break;
        case SF_FORMAT_PCM_24:
            bits = 24;
            break;
        case SF_FORMAT_PCM_32:
            bits = 32;
            break;
        default:
            break;
    }
    sf_command(r.sf, SFC_SET_NORM_DOUBLE, nullptr, bits > 0 ? SF_FALSE : SF_TRUE);
    f.bits = bits > 0 ? bits : 32;
    f.is_float = bits == 0;
    f.full_scale = bits > 0 ? std::ldexp(1.0, bits - 1) : 1.0;
    return true;
}

}  // namespace

bool open_recording(const byte_source& bytes, recording& r, std::string& why) {
    close_recording(r);
    r = {};
    r.bytes = bytes;
    header_bytes h{&r.bytes};
    reader f(read_header, &h, 1 << 16);
    const wave_end end = read_wave_layout(f, r.wav, why);
    if (end == wave_end::ok) return open_wave(r, why);
    if (end == wave_end::not_riff || end == wave_end::unsupported) return open_sndfile(r, why, why);
    return false;
}

long long read_frames(recording& r, long long first, long long n, double* x, std::string& why) {
    const long long channels = r.facts.channels;
    if (r.sf) {
        if (r.sf_frame != first && sf_seek(r.sf, first, SEEK_SET) != first) {
            why = std::string("cannot seek in it: ") + sf_strerror(r.sf);
            return -1;
        }
        const sf_count_t got = sf_readf_double(r.sf, x, n);
        r.sf_frame = first + got;
        if (got < n && sf_error(r.sf) != SF_ERR_NO_ERROR) {
            why = std::string("cannot decode it: ") + sf_strerror(r.sf);
            return -1;
        }
        return got;
    }
    // Whole blocks of bytes, decoded in place from the end of x: a double is at least as wide as
    // any sample.
    const std::size_t width = r.wav.coding.width;
    const std::uint64_t frame_bytes = width * std::uint64_t(channels);
    n = std::clamp(r.facts.frames - first, 0LL, n);
    auto* bytes = reinterpret_cast<unsigned char*>(x + n * channels) - std::size_t(n) * frame_bytes;
    const long long got = read_at(r.bytes, r.wav.data_at + std::uint64_t(first) * frame_bytes,
                                  bytes, std::size_t(n) * frame_bytes);
    if (got < 0) {
        why = std::string("read error: ") + std::strerror(errno);
        return -1;
    }
    const long long frames = got / (long long)frame_bytes;
    decode_samples(bytes, r.wav.coding, std::size_t(frames * channels), x);
    return frames;
}

void close_recording(recording& r) {
    if (r.sf) sf_close(r.sf);
    r.sf = nullptr;
}
