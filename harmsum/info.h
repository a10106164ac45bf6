#pragma once
// What `harmsum prepare` found out about the analysed samples, handed to `harmsum summary` in a
// small file of key=value lines.

#include <string>
#include <string_view>

#include "header.h"
#include "mono.h"
#include "output.h"

struct analysis_info {
    wav_facts facts;
    int channel = 0;          // 0 for the mean of all
    int silent_channels = 0;  // left out of the mean (channel_choice)
    bool cancel = false;      // the channels cancel: `channel` is the loudest
    stretch_result stretch;
};

void write_info(const analysis_info& a, output& out);
// False, with the reason, when a key is missing or a value is not a number.
bool read_info(std::string_view text, analysis_info& a, std::string& why);
