#include "tonegen.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace tonegen {

namespace {

constexpr double two_pi = 2.0 * std::numbers::pi;

// The fractional part of a non-negative phase counted in cycles.
double frac(double cycles) {
    return cycles - std::floor(cycles);
}

// xorshift64 (Marsaglia, shifts 13, 7, 17): the same sequence on every platform and build.
class xorshift64 {
  public:
    // splitmix64 spreads small seeds over the state; the state must never be 0.
    explicit xorshift64(std::uint64_t seed) {
        std::uint64_t z = seed + 0x9E3779B97F4A7C15ull;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        state_ = z ^ (z >> 31);
        if (state_ == 0) state_ = 1;
    }
    std::uint64_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    // Uniform in [-1, 1): the top 53 bits as a fraction, exactly scaled.
    double uniform() { return double(next() >> 11) * 0x1p-52 - 1.0; }

  private:
    std::uint64_t state_;
};

void check_frames(int rate, std::int64_t frames) {
    if (rate <= 0) throw std::invalid_argument("sampling rate must be positive");
    if (frames < 0) throw std::invalid_argument("frame count must not be negative");
}

// v as n little-endian bytes.
std::string le(std::uint64_t v, int n) {
    std::string s;
    for (int b = 0; b < n; ++b) s.push_back(char((v >> (8 * b)) & 0xFF));
    return s;
}

// A whole chunk; an odd size gets a pad byte, as RIFF keeps chunks at even offsets.
void put_chunk(std::string& w, const char* id, const std::string& content) {
    w += id + le(content.size(), 4) + content;
    if (content.size() % 2 != 0) w.push_back('\0');
}

std::string fmt_content(const wav_form& form, std::size_t channels, int rate, std::uint64_t block) {
    const int code = form.is_float ? 3 : 1;
    std::string f = le(form.extensible ? 0xFFFE : code, 2) + le(channels, 2) + le(rate, 4) +
                    le(std::uint64_t(rate) * block, 4) + le(block, 2) + le(form.bits, 2);
    if (form.extensible) {
        // cbSize, valid bits (all of them), the speakers, then the SubFormat GUID: the format
        // code and a fixed tail.
        const int speakers = channels == 1 ? 0x4 : channels == 2 ? 0x3 : 0;
        f += le(22, 2) + le(form.bits, 2) + le(speakers, 4) + le(code, 2) +
             std::string("\0\0\0\0\x10\0\x80\0\0\xAA\0\x38\x9B\x71", 14);
    } else if (form.is_float) {
        f += le(0, 2);  // cbSize
    }
    return f;
}

// One sample as the form stores it.
void put_sample(std::string& w, double x, const wav_form& form) {
    std::uint64_t v;
    if (form.is_float)
        v = form.bits == 32 ? std::bit_cast<std::uint32_t>(float(x))
                            : std::bit_cast<std::uint64_t>(x);
    else if (form.bits == 8)
        v = to_pcm8(x);
    else if (form.bits == 16)
        v = std::uint16_t(to_pcm16(x));
    else
        v = std::uint32_t(form.bits == 24 ? to_pcm24(x) : to_pcm32(x));
    for (int b = 0; b < form.bits / 8; ++b) w.push_back(char((v >> (8 * b)) & 0xFF));
}

}  // namespace

std::vector<double> sine(double freq, double amp, int rate, std::int64_t frames) {
    return harmonic_tone({freq, {1.0}, {}, 0.0, 0.0}, amp, rate, frames);
}

double partial_frequency(const tone& t, int k) {
    return k * t.freq * std::sqrt(1 + t.inharmonicity * k * k) / std::sqrt(1 + t.inharmonicity);
}

std::vector<double> harmonic_tone(const tone& t, double amp, int rate, std::int64_t frames) {
    check_frames(rate, frames);
    if (t.amps.empty()) throw std::invalid_argument("a tone needs at least one harmonic");
    if (!t.decays.empty() && t.decays.size() != t.amps.size())
        throw std::invalid_argument("one decay rate per harmonic");
    double norm = 0.0;
    for (double a : t.amps) norm += std::fabs(a);
    std::vector<double> out(std::size_t(frames), 0.0);
    if (norm == 0.0) return out;

    const bool vibrato = t.depth_cents > 0.0 && t.vibrato_hz > 0.0;
    if (vibrato && t.inharmonicity != 0.0)
        throw std::invalid_argument("no inharmonicity under vibrato");
    double cycles = 0.0;  // fundamental phase under vibrato, a running sum in cycles
    for (std::int64_t i = 0; i < frames; ++i) {
        const double time = double(i) / rate;
        const double phase = vibrato ? cycles : frac(t.freq * double(i) / rate);
        double s = 0.0;
        for (std::size_t k = 1; k <= t.amps.size(); ++k) {
            const double a = t.amps[k - 1];
            if (a == 0.0) continue;
            const double envelope = t.decays.empty() ? 1.0 : std::exp(-t.decays[k - 1] * time);
            // A stretched partial is no multiple of the fundamental's phase: its own, from the
            // sample index.
            const double cycles_k = t.inharmonicity != 0.0
                                        ? frac(partial_frequency(t, int(k)) * double(i) / rate)
                                        : frac(double(k) * phase);
            s += a * envelope * std::sin(two_pi * cycles_k);
        }
        out[std::size_t(i)] = amp * (s / norm);
        if (vibrato) {
            const double bend = t.depth_cents / 1200.0 * std::sin(two_pi * t.vibrato_hz * time);
            cycles = frac(cycles + t.freq * std::exp2(bend) / rate);
        }
    }
    return out;
}

void add_noise(std::vector<double>& x, double dbfs, std::uint64_t seed) {
    xorshift64 rng(seed);
    const double peak = std::sqrt(3.0) * std::pow(10.0, dbfs / 20);  // uniform: RMS = peak / sqrt 3
    for (double& v : x) v += peak * rng.uniform();
}

std::vector<double> pluck(double freq, double decay, std::uint64_t seed, double amp, int rate,
                          std::int64_t frames) {
    check_frames(rate, frames);
    const double period = rate / freq;  // in samples, generally not a whole number
    if (!(period >= 3.0)) throw std::invalid_argument("pluck needs at least 3 samples a period");

    // The loop delays by n samples, plus 1/2 in the average, plus delta in the allpass; delta is
    // kept within [0.1, 1.1), where the allpass delay is close to flat over the low harmonics.
    const auto n = std::int64_t(std::floor(period - 0.5 - 0.1));
    const double delta = period - 0.5 - double(n);
    const double c = (1.0 - delta) / (1.0 + delta);
    const double loss = std::exp(-decay / freq);  // per pass round the loop, one period

    std::vector<double> out(std::size_t(frames), 0.0);
    xorshift64 rng(seed);
    std::vector<double> noise(static_cast<std::size_t>(n));
    double mean = 0.0;
    for (double& v : noise) {
        v = rng.uniform();
        mean += v;
    }
    mean /= double(n);
    // The average passes a constant unchanged, so any offset in the noise would stay for good.
    for (double& v : noise) v -= mean;

    double ap_in = 0.0, ap_out = 0.0;  // allpass state: previous input and output
    for (std::int64_t i = 0; i < frames; ++i) {
        double y;
        if (i < n) {
            y = noise[std::size_t(i)];
        } else {
            const double older = i - n - 1 >= 0 ? out[std::size_t(i - n - 1)] : 0.0;
            const double avg = loss * (0.5 * (out[std::size_t(i - n)] + older));
            y = c * avg + ap_in - c * ap_out;
            ap_in = avg;
            ap_out = y;
        }
        out[std::size_t(i)] = y;
    }

    double peak = 0.0;
    for (double v : out) peak = std::max(peak, std::fabs(v));
    if (peak > 0.0)
        for (double& v : out) v = amp * (v / peak);
    return out;
}

std::int16_t to_pcm16(double x) {
    if (std::isnan(x)) return 0;
    return std::int16_t(std::lround(std::clamp(x, -1.0, 1.0) * 32767.0));
}

std::uint8_t to_pcm8(double x) {
    if (std::isnan(x)) return 128;
    return std::uint8_t(128 + std::lround(std::clamp(x, -1.0, 1.0) * 127.0));
}

std::int32_t to_pcm24(double x) {
    if (std::isnan(x)) return 0;
    return std::int32_t(std::lround(std::clamp(x, -1.0, 1.0) * 8388607.0));
}

std::int32_t to_pcm32(double x) {
    if (std::isnan(x)) return 0;
    return std::int32_t(std::llround(std::clamp(x, -1.0, 1.0) * 2147483647.0));
}

std::string encode_wav(const std::vector<std::vector<double>>& channels, int rate, int bits) {
    if (bits != 8 && bits != 16) throw std::invalid_argument("8 or 16 bits a sample");
    return encode_wav(channels, rate, wav_form{bits});
}

std::string encode_wav(const std::vector<std::vector<double>>& channels, int rate,
                       const wav_form& form) {
    if (channels.empty() || channels.size() > 65535)
        throw std::invalid_argument("1 to 65535 channels");
    const int bits = form.bits;
    if (form.is_float ? bits != 32 && bits != 64
                      : bits != 8 && bits != 16 && bits != 24 && bits != 32)
        throw std::invalid_argument("8, 16, 24 or 32 bits a PCM sample, 32 or 64 a float one");
    if (rate <= 0) throw std::invalid_argument("sampling rate must be positive");
    const std::size_t frames = channels[0].size();
    for (const auto& ch : channels)
        if (ch.size() != frames) throw std::invalid_argument("channels of unequal length");

    const std::uint64_t block = std::uint64_t(bits / 8) * channels.size();
    const std::uint64_t data = block * frames;
    const std::uint64_t junk = form.junk > 0 ? std::uint64_t(form.junk) : 0;
    // The chunks other than data take less than 128 bytes besides the JUNK content.
    if (128 + junk + data > 0xFFFFFFFFull || std::uint64_t(rate) * block > 0xFFFFFFFFull)
        throw std::invalid_argument("too long for a WAVE file");

    std::string w = "RIFF????WAVE";  // the RIFF size is filled in at the end
    w.reserve(std::size_t(128 + junk + data));
    if (form.junk >= 0) put_chunk(w, "JUNK", std::string(junk, '\0'));
    put_chunk(w, "fmt ", fmt_content(form, channels.size(), rate, block));
    if (form.is_float) put_chunk(w, "fact", le(frames, 4));
    if (form.odd_chunk) put_chunk(w, "LIST", "INFOISFT" + le(7, 4) + "tonegen");
    w += "data" + le(data, 4);
    for (std::size_t i = 0; i < frames; ++i)
        for (const auto& ch : channels) put_sample(w, ch[i], form);
    if (data % 2 != 0) w.push_back(bits == 8 ? char(0x80) : '\0');  // 0x80: the 8-bit zero level
    if (form.trailing_chunk) put_chunk(w, "LIST", "INFOISFT" + le(8, 4) + "tonegen" + '\0');
    w.replace(4, 4, le(w.size() - 8, 4));
    return w;
}

}  // namespace tonegen
