#include "mono.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "number_text.h"

namespace {

// The values of one line, separated by blanks, tabs or commas; false on one that is no number.
bool split_values(std::string_view line, std::vector<double>& v) {
    v.clear();
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t end = std::min(line.find_first_of(" \t,\r", at), line.size());
        if (end > at) {
            double x;
            const char* reason;
            if (!parse_real(line.substr(at, end - at), x, reason)) return false;
            v.push_back(x);
        }
        at = end + 1;
    }
    return true;
}

}  // namespace

namespace {

// Calls frame(v, at) for each frame of the stretch (v the values of its channels, at its index
// in the stretch), at most max_samples of them; counts the recording's frames into r. False,
// with the reason, on a line that is not a frame of numbers or a failed read.
template <class Frame>
bool read_stretch(record_reader& in, const wav_facts& facts, const stretch_request& want,
                  stretch_result& r, std::string& why, Frame frame) {
    r = {};
    r.first = std::llround(want.from * facts.rate);
    const long long end =
        want.to < 0 ? -1 : std::max(r.first, (long long)std::llround(want.to * facts.rate));
    std::vector<double> v;
    std::string_view line;
    bool complete;
    long long count = 0;
    while (peek_line(in, line, complete)) {
        if (!complete || !split_values(line, v)) {
            why = "line " + std::to_string(in.line()) + " of the samples is not a frame of numbers";
            return false;
        }
        skip_line(in);
        if (v.size() < std::size_t(facts.channels)) continue;  // a frame cut short
        const long long at = count++;
        if (at < r.first || (end >= 0 && at >= end)) continue;
        if (r.count == max_samples) {
            r.capped = true;
            continue;
        }
        frame(v, r.count);
        ++r.count;
    }
    if (in.io_failed()) {
        why = "read error";
        return false;
    }
    r.frames = r.capped ? std::max(count, facts.frames) : count;
    return true;
}

}  // namespace

bool channel_exists(const wav_facts& facts, int channel, std::string& why) {
    if (channel <= facts.channels) return true;
    why = "no channel " + std::to_string(channel) + ": the file has " +
          std::to_string(facts.channels);
    return false;
}

bool weigh_channels(record_reader& in, const wav_facts& facts, const stretch_request& want,
                    channel_choice& c, std::string& why) {
    c = {};
    const std::size_t channels = std::size_t(facts.channels);
    c.use.assign(channels, true);
    if (want.channel > 0 || channels < 2) return true;
    std::vector<double> energy(channels, 0.0);
    double mean_energy = 0;
    stretch_result r;
    const bool read =
        read_stretch(in, facts, want, r, why, [&](const std::vector<double>& v, long long) {
            double sum = 0;
            for (std::size_t ch = 0; ch < channels; ++ch)
                if (std::isfinite(v[ch])) energy[ch] += v[ch] * v[ch], sum += v[ch];
            mean_energy += (sum / double(channels)) * (sum / double(channels));
        });
    if (!read) return false;
    const double loudest = *std::max_element(energy.begin(), energy.end());
    if (!(loudest > 0)) return true;  // silence, which the summary names
    double kept_energy = 0, kept_sum = 0;
    int kept = 0;
    for (std::size_t ch = 0; ch < channels; ++ch)
        if (energy[ch] < silent_channel * loudest) {
            c.use[ch] = false;
            ++c.silent;
        } else {
            kept_energy += energy[ch];
            ++kept;
        }
    // The mean of the kept channels' energy, against the energy of their mean: channels that
    // cancel leave far less than the -3 dB of two unrelated ones.
    kept_sum = mean_energy * double(channels * channels) / double(kept * kept);
    if (kept > 1 && kept_sum < cancelling * kept_energy / kept) {
        c.cancel = true;
        c.use.assign(channels, false);
        c.use[std::size_t(std::max_element(energy.begin(), energy.end()) - energy.begin())] = true;
    }
    return true;
}

bool prepare_stretch(record_reader& in, const wav_facts& facts, const stretch_request& want,
                     output& out, stretch_result& r, std::string& why) {
    if (!channel_exists(facts, want.channel, why)) return false;
    // The channels averaged: the one asked for, else those of want.use (all when it is empty).
    std::vector<std::size_t> mean_of;
    for (int ch = 0; ch < facts.channels; ++ch)
        if (want.channel > 0 ? ch == want.channel - 1
                             : want.use.empty() || want.use[std::size_t(ch)])
            mean_of.push_back(std::size_t(ch));
    double first_value = 0;
    const long block = std::max(1L, std::lround(onset_block_seconds * facts.rate));
    std::vector<double> energy;  // of each block
    bool silent = true;
    const bool read =
        read_stretch(in, facts, want, r, why, [&](const std::vector<double>& v, long long at) {
            double x = 0;
            for (std::size_t ch : mean_of) x += v[ch];
            x /= double(mean_of.size());
            if (at == 0) first_value = x;
            silent = silent && x == first_value;
            if (at % block == 0) energy.push_back(0);
            if (std::isfinite(x)) energy.back() += x * x;
            char* p = out.reserve(max_number_text + 1);
            p = format_real(p, x);
            *p++ = '\n';
            out.commit(p);
        });
    if (!read) return false;
    r.silent = silent;
    double loudest = 0;
    for (double e : energy) loudest = std::max(loudest, e);
    std::size_t b = 0;
    while (b < energy.size() && !(energy[b] >= loudest * onset_range && loudest > 0)) ++b;
    r.onset = b < energy.size() ? double(b * block) / facts.rate : 0;
    return true;
}
