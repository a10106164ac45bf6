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

// A chunk, with the pad byte that follows an odd size.
inline std::string chunk(const std::string& id, const std::string& content) {
    return id + le(std::uint32_t(content.size()), 4) + content + (content.size() % 2 ? "\0"s : "");
}

// A file at 44100 Hz (PCM unless another data type is given): header, fmt chunk of
// 16 + ext.size() bytes, then the chunks in rest.
inline std::string file(int channels, int bits, const std::string& rest,
                        const std::string& ext = "", int type = 1) {
    int frame = channels * ((bits + 7) / 8);
    std::string body = "WAVE" +
                       chunk("fmt ", le(type, 2) + le(channels, 2) + le(44100, 4) +
                                         le(44100 * frame, 4) + le(frame, 2) + le(bits, 2) + ext) +
                       rest;
    return "RIFF" + le(std::uint32_t(body.size()), 4) + body;
}

// The 24 extension bytes of WAVE_FORMAT_EXTENSIBLE (data type 0xFFFE) whose SubFormat GUID holds
// the data type `code`.
inline std::string extensible(int valid_bits, int code) {
    return le(22, 2) + le(valid_bits, 2) + le(4, 4) + le(code, 2) +
           "\0\0\0\0\x10\0\x80\0\0\xaa\0\x38\x9b\x71"s;
}

// The report lines of file(channels, bits, ...) before the extension bytes' line.
inline std::string report(int channels, int bits, std::size_t file_size, int fmt_size = 16,
                          int type = 1) {
    auto n = [](auto v) { return std::to_string(v); };
    int frame = channels * ((bits + 7) / 8);
    return "[RIFF] (" + n(file_size - 8) + " bytes)\n[WAVEfmt ] (" + n(fmt_size) +
           " bytes)\n  Data type = " + n(type) +
           " (1 = PCM)\n  Number of channels = " + n(channels) +
           " (1 = mono, 2 = stereo)\n  Sampling rate = 44100Hz\n  Bytes / second = " +
           n(44100 * frame) + "\n  Bytes x channels = " + n(frame) +
           "\n  Bits / sample = " + n(bits) + "\n";
}

// 16-bit stereo frames (1, -1) and (-32768, 32767).
inline const std::string stereo16 = "\x01\x00\xff\xff\x00\x80\xff\x7f"s;

}  // namespace wav
