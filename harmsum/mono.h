#pragma once
// The samples harmtrace analyses, made from riffcat's sample lines: one channel or the mean of
// all of them, over a stretch of the recording, at most as many samples as harmtrace reads.

#include <string>
#include <vector>

#include "header.h"
#include "output.h"
#include "record_reader.h"
#include "report_scale.h"

struct stretch_request {
    double from = 0;  // s
    double to = -1;   // s; negative for the end of the recording
    int channel = 0;  // 1-based; 0 for the mean of the channels of `use` (all when empty)
    std::vector<bool> use = {};
};

// Which channels hold the note, when no -c names one: a channel whose energy over the stretch
// lies more than 60 dB under the loudest channel's is silent and left out of the mean (it
// would cost 6 dB of one of two); channels whose mean keeps less than a hundredth (-20 dB) of
// their own energy cancel (opposite phase), and the loudest is analysed alone.
constexpr double silent_channel = 1e-6, cancelling = 1e-2;
struct channel_choice {
    std::vector<bool> use;  // by channel, 0-based
    int silent = 0;         // channels left out as silent
    bool cancel = false;    // the channels cancel: the loudest alone
};

// False, with the reason, when the file has no channel `channel` (1-based; 0, the mean, it has).
bool channel_exists(const wav_facts& facts, int channel, std::string& why);

// Reads the frames of the stretch once to weigh the channels. False, with the reason, as
// prepare_stretch.
// Typical use: weigh_channels(in, facts, want, choice, why); want.use = choice.use;
bool weigh_channels(record_reader& in, const wav_facts& facts, const stretch_request& want,
                    channel_choice& c, std::string& why);

struct stretch_result {
    long long first = 0;   // the first frame written
    long long count = 0;   // frames written
    long long frames = 0;  // frames in the recording: those read, or the header's when capped
    bool capped = false;   // the stretch went on past max_samples
    bool silent = true;    // every sample written is the same
    double onset = 0;      // s from the stretch's start: where the note begins (below)
};

// The note begins with the first 10 ms block whose mean square comes within 40 dB of the
// loudest block's: the search for the fundamental must not look at the silence before it.
constexpr double onset_block_seconds = 0.01, onset_range = 1e-4;

// Reads frames (the values of a line, one per channel; a line with fewer is no frame) and writes
// one sample per line for the frames of the stretch. False, with the reason, on a value that is
// not a number or a failed read.
// Typical use: prepare_stretch(in, facts, {.from = 1.5}, out, result, why);
bool prepare_stretch(record_reader& in, const wav_facts& facts, const stretch_request& want,
                     output& out, stretch_result& r, std::string& why);
