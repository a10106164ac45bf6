#pragma once
// The tonegen command line: parsing and checking of the arguments, and the file they ask for.
//
//   tonegen SOUND [OPTION VALUE | OPTION=VALUE]... -o FILE
//
// SOUND is sine, additive, pluck or vibrato; the manual page lists the options. Exit statuses:
// 0 done (or help shown), 1 the output could not be written, 2 bad arguments.
#include <cstdint>
#include <string>
#include <vector>

#include "output.h"
#include "tonegen.h"

namespace tonegen {

enum class sound { sine, additive, pluck, vibrato };

struct command {
    sound kind = sound::sine;
    tone note;  // freq, harmonic amplitudes and decays, vibrato
    double seconds = 3.0;
    int rate = 44100;
    wav_form form;  // bits per sample, float or PCM, header and extra chunks
    int channels = 1;
    double amp = 0.8;
    double pluck_decay = 1.0;  // 1/s, on every harmonic of the plucked string
    std::uint64_t seed = 1;    // noise of the plucked string and of --noise
    double noise_dbfs = 0;     // RMS level of added white noise, dB; none when 0 or above
    std::string output;        // "-" for standard output
    bool help = false;         // -h or --help: the help text instead of a tone
    bool version = false;      // --version: the version line instead
};

struct parsed {
    command cmd;
    std::string error;  // empty when the arguments are good
};

// Typical use: parsed p = parse_command({"sine", "--freq", "440", "-o", "a.wav"});
parsed parse_command(const std::vector<std::string>& args);

// Number of sample frames of the command's sound: seconds * rate, rounded.
std::int64_t frame_count(const command& c);

// The WAVE file that a checked command describes (every channel carries the same sound).
std::string render(const command& c);

// The help text.
std::string usage();

// The whole program: parse, render, write. Help and version go to out, messages to err.
// Typical use (main): output out(1), err(2); return tonegen::run(args, out, err);
int run(const std::vector<std::string>& args, output& out, output& err);

}  // namespace tonegen
