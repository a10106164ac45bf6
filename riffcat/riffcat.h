#pragma once
// RIFF/WAVE dump: the header fields and the chunk list of a sound file as a report for a person,
// and its samples as text, one frame per line, the channels' signed decimal values separated by
// tabs.
//
// The file as read (every integer little-endian, assembled byte by byte):
//
//   offset  width  content
//   0       4      "RIFF"
//   4       4      RIFF size (reported only)
//   8       8      "WAVEfmt " (the fmt chunk must come first)
//   16      4      fmt size
//   20      16     data type, channels, sampling rate, bytes / second, bytes x channels,
//                  bits / sample (always read, whatever the fmt size)
//   36      ...    fmt size - 16 extension bytes, then chunks: id (4), size (4), content,
//                  with no pad byte after an odd size, up to the first "data" chunk
//
// Samples start after the size of the "data" chunk and run to the end of the file, so a chunk
// that follows the data comes out as samples too. Up to 8 bits per sample a sample is one byte
// less 128; above 8 bits it is two bytes, a signed 16-bit value (24- and 32-bit data included).
#include <cstddef>
#include <cstdint>
#include <optional>

#include "out_buffer.h"
#include "reader.h"

// Exactly n bytes (1 to 16) in a 16-byte buffer that the next call overwrites; null when the
// file ends first.
const unsigned char* get_bytes(reader& f, std::size_t n);
// A 4-byte and a 2-byte little-endian unsigned value; empty when the file ends first.
std::optional<std::uint32_t> get_ulong(reader& f);
std::optional<std::uint16_t> get_ushort(reader& f);

// How one file's dump ended.
enum class dump_end {
    done,         // end of the file or of the frame limit, or not RIFF/WAVE (after its message)
    read_error,   // "Read error\n" is written: the file ends inside a header field or a read
                  // failed; the program ends with status 1 and handles no further argument
    write_error,  // `out` could not be written; nothing more is worth doing
};

// Dumps one file: the report to err, the sample lines to out. frame_limit stops the samples
// when the count of frames already printed equals it (0: none; negative: all of them). Before
// writing to either buffer it flushes the other, so that the two streams keep their order when
// they go to one place.
// Typical use: if (riffcat(f, out, err, frame_limit) == dump_end::read_error) return 1;
dump_end riffcat(reader& f, out_buffer& out, out_buffer& err, std::int32_t frame_limit);
