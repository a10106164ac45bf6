#pragma once
// Crafted RIFF/WAVE files for the riffcat tests, built from bytes.
#include <cstdint>
#include <string>

namespace wav {

using namespace std::string_literals;

// v as n little-endian bytes.
inline std::string le(std::uint32_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += char(v >> 8 * i & 0xff);
    return s;
}

inline std::string chunk(const std::string& id, const std::string& content) {
    return id + le(std::uint32_t(content.size()), 4) + content;
}

// "RIFF", size, "WAVEfmt ", then an fmt chunk of 16 + ext.size() bytes for PCM at 44100 Hz,
// then `rest` (the chunks).
inline std::string file(int channels, int bits, const std::string& rest,
                        const std::string& ext = "") {
    int frame = channels * ((bits + 7) / 8);
    std::string fmt = le(1, 2) + le(channels, 2) + le(44100, 4) + le(44100 * frame, 4) +
                      le(frame, 2) + le(bits, 2) + ext;
    std::string body = "WAVE" + chunk("fmt ", fmt) + rest;
    return "RIFF" + le(std::uint32_t(body.size()), 4) + body;
}

// The report lines of file() up to the fmt extension's line.
inline std::string report(int channels, int bits, std::size_t riff_size, int fmt_size = 16) {
    int frame = channels * ((bits + 7) / 8);
    return "[RIFF] (" + std::to_string(riff_size) + " bytes)\n[WAVEfmt ] (" +
           std::to_string(fmt_size) +
           " bytes)\n  Data type = 1 (1 = PCM)\n  Number of channels = " +
           std::to_string(channels) + " (1 = mono, 2 = stereo)\n  Sampling rate = 44100Hz\n" +
           "  Bytes / second = " + std::to_string(44100 * frame) +
           "\n  Bytes x channels = " + std::to_string(frame) +
           "\n  Bits / sample = " + std::to_string(bits) + "\n";
}

// 16-bit stereo frames (1, -1) (-32768, 32767).
inline const std::string stereo16 = "\x01\x00\xff\xff\x00\x80\xff\x7f"s;

}  // namespace wav
