#pragma once
// A recording opened for its samples: a RIFF/WAVE file through the toolkit's own reader (the
// walk riffcat makes), anything else through libsndfile (FLAC, Ogg Vorbis and Opus, MP3, AIFF,
// CAF, W64, RF64, and WAV codings riffcat does not print), in process. The bytes come from a
// file descriptor, read at the offsets asked for, or from memory (the fuzz target's); no name is
// ever handed to anything that could read it as a command, a protocol or an option.
//
// Frames are read from any frame on, interleaved (one value per channel), in the samples' own
// units: PCM as riffcat prints it (the byte less 128 up to 8 bits, signed integers above), float
// as stored; what libsndfile decodes from a lossy or companded coding comes scaled to full
// scale 1.

#include <cstddef>
#include <cstdint>
#include <string>

#include "header.h"
#include "wave.h"

struct byte_source {
    int fd = -1;                          // read with pread; or
    const unsigned char* data = nullptr;  // `size` bytes in memory
    std::uint64_t size = 0;               // the file's size
};

struct sf_private_tag;  // libsndfile's SNDFILE

struct recording {
    byte_source bytes;
    wav_facts facts;
    wave_layout wav;               // a RIFF/WAVE file read by the toolkit
    sf_private_tag* sf = nullptr;  // a file libsndfile reads
    std::uint64_t sf_offset = 0;   // where libsndfile's reads stand
    long long sf_frame = -1;       // the frame libsndfile reads next; -1 unknown
};

// Opens the recording the bytes hold and reads its header into r.facts. False, with the reason
// as a user reads it (riffcat's message for a WAV file it refuses, libsndfile's for others).
// Typical use: recording r; if (!open_recording({.fd = fd, .size = st.st_size}, r, why)) ...
bool open_recording(const byte_source& bytes, recording& r, std::string& why);

// Frames first .. first + n - 1 (0-based) into x[0 .. n channels - 1]: the count read, fewer than
// n where the recording ends first, or -1, with the reason, when a read fails.
long long read_frames(recording& r, long long first, long long n, double* x, std::string& why);

void close_recording(recording& r);
