#pragma once
// The samples harmtrace analyses, made from a recording's frames: one channel or the mean of
// several, over a stretch of the recording, at most as many samples as harmtrace reads. The
// caller reads the frames (interleaved, a block at a time) and hands them on.

#include <string>
#include <vector>

#include "header.h"
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

struct stretch_result {
    long long first = 0;   // the first frame analysed
    long long count = 0;   // frames analysed
    long long frames = 0;  // frames in the recording
    bool capped = false;   // the stretch went on past max_samples
    bool silent = true;    // every sample analysed is the same
    double onset = 0;      // s from the stretch's start: where the note begins (below)
};

// The frames of the stretch `want` asks for in a recording of `frames` frames: first and count
// (at most max_samples), capped.
// Typical use: stretch_result r = place_stretch(facts, {.from = 1.5}, facts.frames);
stretch_result place_stretch(const wav_facts& facts, const stretch_request& want, long long frames);

// The energy of each channel and of their mean over the frames handed on.
struct channel_energy {
    std::vector<double> energy;  // by channel, 0-based
    double mean = 0;
};
// Adds n frames of `channels` values (interleaved) to e.
void add_energy(channel_energy& e, const double* frames, long long n, int channels);
// The channels to analyse, from their energies over the stretch.
channel_choice choose_channels(const channel_energy& e);

// The analysed sample of each of n frames into mono[0 .. n-1]: channel want.channel, else the
// mean of the channels of want.use (all when it is empty).
// Typical use: mix_frames(block, n, facts, want, x.data() + done);
void mix_frames(const double* frames, long long n, const wav_facts& facts,
                const stretch_request& want, double* mono);

// The note begins with the first 10 ms block whose mean square comes within 40 dB of the
// loudest block's: the search for the fundamental must not look at the silence before it.
constexpr double onset_block_seconds = 0.01, onset_range = 1e-4;

// Whether the n analysed samples are all the same, and where the note begins, into r.
void find_onset(const double* x, long long n, int rate, stretch_result& r);
