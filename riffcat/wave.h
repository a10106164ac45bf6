#pragma once
// A RIFF/WAVE file read for its samples rather than dumped: the walk riffcat makes (riffcat.h)
// up to the first "data" chunk, without the report. harmplot reads WAV files this way; a file
// riffcat refuses is refused with the message riffcat ends its report with.
//
//   not_riff    "Not a 'RIFF' format": no RIFF marker (another format, for another reader)
//   rejected    "Not a 'WAVEfmt ' format", "Bad 'fmt ' chunk: N bytes", "No 'data' chunk"
//   read_error  "Read error": the file ends inside a header field, or a read failed
//   unsupported "Unsupported data type N (B bits)": samples of a coding riffcat cannot print
//               (another reader may have it)
#include <cstdint>
#include <string>

#include "reader.h"
#include "samples.h"

struct wave_layout {
    unsigned code = 0;  // the data type; an extensible format's SubFormat code
    unsigned channels = 0, rate = 0, bits = 0;
    sample_coding coding;
    std::uint64_t data_at = 0;    // the offset of the first sample in the file
    std::uint32_t data_size = 0;  // the data chunk's size field
    // A size of 0 or 0xFFFFFFFF is a stream whose writer could not go back to fill it in: the
    // samples run to the end of the file.
    bool bounded() const { return data_size != 0 && data_size != 0xffffffff; }
};

enum class wave_end { ok, not_riff, rejected, read_error, unsupported };

// Reads the header of the file f holds from its first byte up to the first sample.
// Typical use: if (read_wave_layout(f, w, why) != wave_end::ok) fail(why);
wave_end read_wave_layout(reader& f, wave_layout& w, std::string& why);
