#pragma once
// What was analysed of a recording, which the summary says: its samples' facts, the channels
// and the stretch.

#include "header.h"
#include "mono.h"

struct analysis_info {
    wav_facts facts;
    int channel = 0;          // 0 for the mean of all
    int silent_channels = 0;  // left out of the mean (channel_choice)
    bool cancel = false;      // the channels cancel: `channel` is the loudest
    stretch_result stretch;
    // Samples that were no numbers, or far beyond full scale, taken as 0; the largest of those
    // beyond it, in full scales (0 when none was a number).
    long long wild = 0;
    double wildest = 0;
};
