#pragma once
// What the summary needs to know of a recording's samples: its rate, its channels and the scale
// of its samples.

#include <string>

struct wav_facts {
    int rate = 0;
    int channels = 0;
    int bits = 0;
    bool is_float = false;
    // The amplitude of a full-scale sine in the samples' own units: 2^(bits - 1) for PCM at the
    // width riffcat prints it (128 up to 8 bits, 32768 up to 16, 2^(8 bytes - 1) above), 1 for
    // float and for samples a decoder gives scaled to full scale.
    double full_scale = 0;
    long long frames = 0;  // whole frames in the recording
    // The file ends inside its data: cut_bytes of the data_bytes its header gives are there;
    // both -1 when it does not.
    long long cut_bytes = -1, data_bytes = -1;
};

// The facts of samples of data type `code` (1 PCM, 3 IEEE float) and `bits`, at `rate` in
// `channels`: false, with the reason, when they cannot be scaled.
// Typical use: if (!scale_samples(1, 16, 44100, 2, facts, why)) fail(why);
bool scale_samples(unsigned code, unsigned bits, unsigned rate, unsigned channels, wav_facts& f,
                   std::string& why);
