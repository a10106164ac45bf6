#pragma once
// RIFF/WAVE dump: the header fields and the chunk list of a sound file as a report for a person,
// and its samples as text, one frame per line, the channels' values separated by tabs.
//
// The file as read (every integer little-endian, assembled byte by byte):
//
//   offset  width  content
//   0       4      "RIFF"
//   4       4      RIFF size (reported only)
//   8       4      "WAVE"
//   12      ...    chunks: id (4), size (4), content, and a pad byte after an odd size
//
// The chunks before "fmt " are listed and dumped in hexadecimal; a file that ends after them,
// with no "fmt " chunk, has no format. The fmt chunk's six fields (data type, channels, sampling
// rate, bytes / second, bytes x channels, bits / sample) take its first 16 bytes: a shorter
// chunk has its fields reported as far as they go and the file is refused. The bytes beyond
// them are dumped. Every chunk after it is listed and dumped too, except the first "data"
// chunk: its samples go to the sample lines (samples.h tells the codings), up to its size, or to
// the end of the file when the size is 0 or 0xFFFFFFFF. Chunk ids are shown up to a zero byte,
// any other byte outside printable ASCII as \xNN.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "output.h"
#include "reader.h"

// Exactly n bytes (1 to 16) in a 16-byte buffer that the next call overwrites; null when the
// file ends first.
const unsigned char* get_bytes(reader& f, std::size_t n);
// A 4-byte little-endian unsigned value; empty when the file ends first.
std::optional<std::uint32_t> get_ulong(reader& f);

// How one file's dump ended.
enum class dump_end {
    done,         // the file is dumped (to the frame limit)
    rejected,     // not RIFF/WAVE, a bad fmt chunk, no "data" chunk or samples of an
                  // unsupported coding: the message is written; the run goes on and ends with
                  // status 1
    read_error,   // "Read error\n" is written: the file ends inside a header field or a read
                  // failed; the program ends with status 1 and handles no further argument
    write_error,  // `out` could not be written; nothing more is worth doing
};

// Dumps one file: the report to err, the sample lines to out. frame_limit stops the samples
// when the count of frames already printed equals it (0: none; negative: all of them). Before
// writing to either buffer it flushes the other, so that the two streams keep their order when
// they go to one place.
// Typical use: if (riffcat(f, out, err, frame_limit) == dump_end::read_error) return 1;
dump_end riffcat(reader& f, output& out, output& err, std::int32_t frame_limit);
