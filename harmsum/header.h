#pragma once
// What riffcat's header report says of a file that the summary needs: its rate, its channels
// and the scale of its samples.

#include <string>
#include <string_view>

struct wav_facts {
    int rate = 0;
    int channels = 0;
    int bits = 0;
    bool is_float = false;
    // The amplitude of a full-scale sine in riffcat's units: 2^(bits - 1) for PCM at the width
    // riffcat prints it (128 up to 8 bits, 32768 up to 16, 2^(8 bytes - 1) above), 1 for float.
    double full_scale = 0;
    long long frames = -1;  // frames by the data chunk's size; -1 when it gives none (a stream)
    // riffcat's "Data cut short: N of M bytes": the file ends inside its data; -1 when it does not.
    long long cut_bytes = -1, data_bytes = -1;
};

// Reads the first fmt report and data line of riffcat's standard error. False, with the reason,
// when a field is missing or the samples cannot be scaled.
// Typical use: wav_facts f; if (!read_wav_facts(text, f, why)) fail(why);
bool read_wav_facts(std::string_view report, wav_facts& f, std::string& why);
