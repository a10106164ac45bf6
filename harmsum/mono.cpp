#include "mono.h"

#include <algorithm>
#include <cmath>
#include <vector>

bool channel_exists(const wav_facts& facts, int channel, std::string& why) {
    if (channel <= facts.channels) return true;
    why = "no channel " + std::to_string(channel) + ": the file has " +
          std::to_string(facts.channels);
    return false;
}

stretch_result place_stretch(const wav_facts& facts, const stretch_request& want,
                             long long frames) {
    stretch_result r;
    r.frames = frames;
    r.first = std::llround(want.from * facts.rate);
    long long end = frames;
    if (want.to >= 0)
        end = std::min(end, std::max(r.first, (long long)std::llround(want.to * facts.rate)));
    r.count = std::max(0LL, end - r.first);
    if (r.count > max_samples) {
        r.count = max_samples;
        r.capped = true;
    }
    return r;
}

void add_energy(channel_energy& e, const double* frames, long long n, int channels) {
    const std::size_t c = std::size_t(channels);
    e.energy.resize(c, 0.0);
    for (long long i = 0; i < n; ++i, frames += c) {
        double sum = 0;
        for (std::size_t ch = 0; ch < c; ++ch)
            if (std::isfinite(frames[ch]))
                e.energy[ch] += frames[ch] * frames[ch], sum += frames[ch];
        e.mean += (sum / double(c)) * (sum / double(c));
    }
}

channel_choice choose_channels(const channel_energy& e) {
    channel_choice c;
    const std::size_t channels = e.energy.size();
    c.use.assign(channels, true);
    if (channels < 2) return c;
    const double loudest = *std::max_element(e.energy.begin(), e.energy.end());
    if (!(loudest > 0)) return c;  // silence, which the summary names
    double kept_energy = 0;
    int kept = 0;
    for (std::size_t ch = 0; ch < channels; ++ch)
        if (e.energy[ch] < silent_channel * loudest) {
            c.use[ch] = false;
            ++c.silent;
        } else {
            kept_energy += e.energy[ch];
            ++kept;
        }
    // The mean of the kept channels' energy, against the energy of their mean: channels that
    // cancel leave far less than the -3 dB of two unrelated ones.
    const double kept_sum = e.mean * double(channels * channels) / double(kept * kept);
    if (kept > 1 && kept_sum < cancelling * kept_energy / kept) {
        c.cancel = true;
        c.use.assign(channels, false);
        c.use[std::size_t(std::max_element(e.energy.begin(), e.energy.end()) - e.energy.begin())] =
            true;
    }
    return c;
}

void mix_frames(const double* frames, long long n, const wav_facts& facts,
                const stretch_request& want, double* mono) {
    const std::size_t c = std::size_t(facts.channels);
    std::vector<std::size_t> mean_of;
    for (std::size_t ch = 0; ch < c; ++ch)
        if (want.channel > 0 ? ch == std::size_t(want.channel - 1)
                             : want.use.empty() || want.use[ch])
            mean_of.push_back(ch);
    for (long long i = 0; i < n; ++i, frames += c) {
        double x = 0;
        for (std::size_t ch : mean_of) x += frames[ch];
        mono[i] = x / double(mean_of.size());
    }
}

void find_onset(const double* x, long long n, int rate, stretch_result& r) {
    r.silent = std::all_of(x, x + n, [&](double v) { return v == x[0]; });
    const long block = std::max(1L, std::lround(onset_block_seconds * rate));
    std::vector<double> energy;  // of each block
    for (long long i = 0; i < n; ++i) {
        if (i % block == 0) energy.push_back(0);
        if (std::isfinite(x[i])) energy.back() += x[i] * x[i];
    }
    double loudest = 0;
    for (double e : energy) loudest = std::max(loudest, e);
    std::size_t b = 0;
    while (b < energy.size() && !(energy[b] >= loudest * onset_range && loudest > 0)) ++b;
    r.onset = b < energy.size() ? double(b * std::size_t(block)) / rate : 0;
}
