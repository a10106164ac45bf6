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

bool prepare_stretch(record_reader& in, const wav_facts& facts, const stretch_request& want,
                     output& out, stretch_result& r, std::string& why) {
    r = {};
    if (want.channel > facts.channels) {
        why = "no channel " + std::to_string(want.channel);
        return false;
    }
    r.first = std::llround(want.from * facts.rate);
    const long long end =
        want.to < 0 ? -1 : std::max(r.first, (long long)std::llround(want.to * facts.rate));
    std::vector<double> v;
    std::string_view line;
    bool complete;
    double first_value = 0;
    const long block = std::max(1L, std::lround(onset_block_seconds * facts.rate));
    std::vector<double> energy;  // of each block
    long long frame = 0;
    while (peek_line(in, line, complete)) {
        if (!complete || !split_values(line, v)) {
            why = "line " + std::to_string(in.line()) + " of the samples is not a frame of numbers";
            return false;
        }
        skip_line(in);
        if (v.size() < std::size_t(facts.channels)) continue;  // a frame cut short
        const long long at = frame++;
        if (at < r.first || (end >= 0 && at >= end)) continue;
        if (r.count == max_samples) {
            r.capped = true;
            continue;
        }
        double x = 0;
        if (want.channel > 0) {
            x = v[std::size_t(want.channel - 1)];
        } else {
            for (int c = 0; c < facts.channels; ++c) x += v[std::size_t(c)];
            x /= facts.channels;
        }
        if (r.count == 0) first_value = x;
        r.silent = r.silent && x == first_value;
        if (r.count % block == 0) energy.push_back(0);
        if (std::isfinite(x)) energy.back() += x * x;
        char* p = out.reserve(max_number_text + 1);
        p = format_real(p, x);
        *p++ = '\n';
        out.commit(p);
        ++r.count;
    }
    if (in.io_failed()) {
        why = "read error";
        return false;
    }
    double loudest = 0;
    for (double e : energy) loudest = std::max(loudest, e);
    std::size_t b = 0;
    while (b < energy.size() && !(energy[b] >= loudest * onset_range && loudest > 0)) ++b;
    r.onset = b < energy.size() ? double(b * block) / facts.rate : 0;
    r.frames = r.capped ? std::max(frame, facts.frames) : frame;
    return true;
}
