#pragma once
// Sample codings of a WAVE data chunk and their text: one frame per line, the channels'
// values separated by tabs.
//
//   coding    stored as                        printed as
//   offset8   1 byte, unsigned (up to 8 bits)  the byte less 128, -128..127
//   int16     2 bytes (9 to 16 bits)           signed 16-bit value
//   int_wide  3 to 8 bytes (17 to 64 bits)     signed value of all the bytes, unscaled
//   float32   4 bytes, IEEE single             shortest text that reads back to the same
//   float64   8 bytes, IEEE double             value; NaN, Infinity, -Infinity
//
// Every value is little-endian. A sample of W bytes holds bits per sample rounded up to whole
// bytes: a 20-bit sample in 3 bytes prints as stored, as a 12-bit one in 2 bytes does.
#include <cstddef>
#include <cstdint>

#include "output.h"
#include "reader.h"

enum class sample_form { unsupported, offset8, int16, int_wide, float32, float64 };

struct sample_coding {
    sample_form form = sample_form::unsupported;
    unsigned width = 0;  // bytes a sample
};

// The coding that a fmt chunk describes: data type `code` 1 (PCM) or 3 (IEEE float), or
// 0xFFFE (WAVE_FORMAT_EXTENSIBLE) with its SubFormat naming one of them, and `bits` per sample.
// ext holds the first ext_n (at most 24) bytes after the six fields. For an extensible format
// with a standard SubFormat, code becomes the SubFormat's code, the one to name in a message.
// Typical use: sample_coding c = coding_of(code, bits, ext, ext_n);
sample_coding coding_of(unsigned& code, unsigned bits, const unsigned char* ext, std::size_t ext_n);

// Sample lines from the current position until the frame limit (frame_limit frames: 0 none, a
// negative number all of them), the end of the file or the end of the `left` bytes that remain
// of the data chunk; left is brought down by the bytes read. A frame cut short keeps the samples
// printed so far, each with its tab, and gets no newline; a sample cut short is dropped. A failed
// read or write just ends the lines: f.failed() and out.failed() tell.
// Typical use: print_samples(f, out, c, channels, -1, left);
void print_samples(reader& f, output& out, sample_coding c, unsigned channels,
                   std::int32_t frame_limit, std::uint64_t& left);

// The n samples stored at p (n times c.width bytes) as the values they hold: an integer coding's
// as printed, a float's exactly. harmplot reads a recording this way.
// Typical use: decode_samples(block, c, frames * channels, x);
void decode_samples(const unsigned char* p, sample_coding c, std::size_t n, double* x);
