#pragma once
// Test tones for the toolkit: synthesis of a few kinds of note as sample arrays, and their
// encoding as RIFF/WAVE files of the forms recorders and editors write.
//
// Every signal is a vector of doubles, one per sample frame, nominally within -1..1; the
// encoder clips what lies outside. All results are deterministic: phases come from the sample
// index (never from a running sum, except under vibrato, where the phase is a running sum by
// nature), and the plucked string draws its noise from its own seeded generator.
#include <cstdint>
#include <string>
#include <vector>

namespace tonegen {

// A harmonic tone: harmonic k (1-based, k = 1..amps.size()) has amplitude amps[k-1] and
// decays as exp(-decays[k-1] * t), t in seconds. An empty `decays` means no decay at all.
// Vibrato, when depth_cents > 0, bends the fundamental (and every harmonic with it) by
// +-depth_cents around freq, vibrato_hz times a second.
struct tone {
    double freq = 440.0;
    std::vector<double> amps{1.0};
    std::vector<double> decays;
    double depth_cents = 0.0;
    double vibrato_hz = 0.0;
    // A stiff string's inharmonicity B: harmonic k (a partial now) lies at
    // k freq sqrt(1 + B k^2) / sqrt(1 + B), so that freq stays partial 1's. Not with vibrato.
    double inharmonicity = 0.0;
};

// The frequency of partial k of `t`: k freq, stretched by its inharmonicity.
double partial_frequency(const tone& t, int k);

// amp * sin(2 pi freq i / rate) for i = 0..frames-1.
// Typical use: auto x = sine(440.0, 0.8, 44100, 132300);
std::vector<double> sine(double freq, double amp, int rate, std::int64_t frames);

// The sum of the harmonics of `t`, scaled by amp / (|amps[0]| + |amps[1]| + ...) so that its
// level never exceeds amp. A sine is the tone with amps = {1}.
// Typical use: auto x = harmonic_tone({220.0, {1.0, 0.5, 0.3}, {0.5, 1.0, 2.0}}, 0.8, 44100, n);
std::vector<double> harmonic_tone(const tone& t, double amp, int rate, std::int64_t frames);

// Karplus-Strong plucked string: a delay line of one period filled with noise, fed back through
// a two-point average (which takes harmonic k down by cos(pi k freq / rate) per period, so the
// upper harmonics die first) and a first-order allpass that tunes the loop to the fractional
// period rate / freq. `decay` adds a damping of exp(-decay * t) on every harmonic. The result
// is scaled so that its largest magnitude equals amp. Needs rate / freq >= 3.
// Typical use: auto x = pluck(220.0, 1.0, 1, 0.8, 44100, 132300);
std::vector<double> pluck(double freq, double decay, std::uint64_t seed, double amp, int rate,
                          std::int64_t frames);

// Adds white noise (uniform, from its own seeded generator) whose RMS level is `dbfs` dB
// relative to full scale (1): the floor a recording has under its note.
// Typical use: add_noise(x, -80.0, 1);
void add_noise(std::vector<double>& x, double dbfs, std::uint64_t seed);

// A sample in -1..1 (clipped beyond) as a 16-bit value, x * 32767 rounded half away from zero.
std::int16_t to_pcm16(double x);
// A sample in -1..1 (clipped beyond) as an unsigned 8-bit value, 128 + x * 127 rounded.
std::uint8_t to_pcm8(double x);
// The same as 24- and 32-bit values: x * 8388607 and x * 2147483647 rounded.
std::int32_t to_pcm24(double x);
std::int32_t to_pcm32(double x);

// The layout of a WAVE file beyond its rate and channels. The default is the canonical 44-byte
// header of 16-bit PCM.
struct wav_form {
    int bits = 16;                // 8, 16, 24 or 32 for PCM; 32 or 64 for float
    bool is_float = false;        // IEEE float samples (data type 3), x itself, unclipped
    bool extensible = false;      // a WAVE_FORMAT_EXTENSIBLE fmt chunk (data type 0xFFFE)
    int junk = -1;                // bytes of a JUNK chunk before fmt; none when negative
    bool odd_chunk = false;       // a LIST chunk of odd size before the data
    bool trailing_chunk = false;  // a LIST chunk after the data
};

// A PCM WAVE file holding the channels interleaved (all of the same length), at `bits` 8 or 16,
// with the canonical 44-byte header. The data chunk of an odd byte count (8-bit mono, odd
// length) is followed by one pad byte 0x80, the 8-bit zero level, as RIFF asks.
// Typical use: write_file("a.wav", encode_wav({left, right}, 44100, 16));
std::string encode_wav(const std::vector<std::vector<double>>& channels, int rate, int bits);

// The same in any of the forms above. An extensible file has a 40-byte fmt chunk whose SubFormat
// names PCM or float, with the speakers centre (mono) or left and right (stereo); a float file
// otherwise an 18-byte one. Every float file has a fact chunk (the frame count), as that data
// type asks.
// Typical use: encode_wav({x}, 48000, {.bits = 24, .extensible = true});
std::string encode_wav(const std::vector<std::vector<double>>& channels, int rate,
                       const wav_form& form);

}  // namespace tonegen
