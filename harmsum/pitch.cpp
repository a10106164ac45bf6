#include "pitch.h"

#include <algorithm>
#include <cmath>

#include "welch.h"

namespace {

constexpr double min_freq = 20;       // Hz: rumble and offset below this are no note
constexpr double peak_margin = 31.6;  // 15 dB over the local median
constexpr double range = 1e-5;        // 50 dB under the strongest peak
constexpr int max_harmonics = 10;

// Half-width of a harmonic's slot: 3 % of its frequency (strings are stiff, pitch wavers), at
// most a quarter of the spacing of harmonics.
double slot(int k, double f) {
    return std::min(0.03 * k * f, 0.25 * f);
}

// Peaks more than two octaves under a candidate do not count against it: no harmonic of a tone
// an octave or a twelfth under it lies there, and a tone of its own so far under the note (mains
// hum, a rumble) is no part of it. 50 Hz hum louder than a 440 Hz note left the note a score of
// 0.2, under the hum's.
constexpr double below_reach = 0.25;

int harmonics_in_reach(const std::vector<peak>& peaks, double f) {
    double top = 0;
    for (const peak& q : peaks) top = std::max(top, q.freq);
    int k = 0;
    while (k < max_harmonics && (k + 1) * f - slot(k + 1, f) <= top) ++k;
    return k;
}

}  // namespace

std::vector<peak> spectral_peaks(const std::vector<double>& power, double df) {
    std::vector<peak> out;
    const std::size_t n = power.size();
    const std::size_t first = std::max<std::size_t>(2, std::size_t(std::ceil(min_freq / df)));
    if (n < first + 2) return out;
    double strongest = 0;
    for (std::size_t i = first; i + 1 < n; ++i) strongest = std::max(strongest, power[i]);
    if (!(strongest > 0)) return out;
    for (std::size_t i = first; i + 1 < n; ++i) {
        const double p = power[i];
        if (!(p > power[i - 1] && p >= power[i + 1] && p > strongest * range)) continue;
        const std::size_t half = std::clamp<std::size_t>(std::size_t(0.12 * double(i)), 8, 512);
        const std::size_t lo = i > half ? i - half : 1, hi = std::min(n, i + half + 1);
        if (!(p > peak_margin * median_power(power, lo, hi))) continue;
        out.push_back({peak_frequency(power, i, df), p});
    }
    return out;
}

double harmonic_score(const std::vector<peak>& peaks, double f) {
    const int harmonics = harmonics_in_reach(peaks, f);
    if (harmonics == 0) return 0;
    double total = 0, explained = 0;
    int filled = 0;
    std::vector<bool> hit(std::size_t(harmonics) + 1, false);
    for (const peak& q : peaks) {
        if (q.freq > (harmonics + 0.5) * f || q.freq < below_reach * f * 0.97) continue;
        const double amplitude = std::sqrt(q.power);
        total += amplitude;
        const int k = int(std::lround(q.freq / f));
        if (k >= 1 && k <= harmonics && std::abs(q.freq - k * f) <= slot(k, f)) {
            explained += amplitude;
            if (!hit[std::size_t(k)]) ++filled;
            hit[std::size_t(k)] = true;
        }
    }
    return total > 0 ? explained / total * filled / harmonics : 0;
}

refined_harmonic refining_harmonic(const std::vector<peak>& peaks, double f) {
    const int harmonics = harmonics_in_reach(peaks, f);
    std::vector<const peak*> best(std::size_t(harmonics) + 1, nullptr);
    double strongest = 0;
    for (const peak& q : peaks) {
        const int k = int(std::lround(q.freq / f));
        if (k < 1 || k > harmonics || std::abs(q.freq - k * f) > slot(k, f)) continue;
        const peak*& b = best[std::size_t(k)];
        if (!b || q.power > b->power) b = &q;
        strongest = std::max(strongest, q.power);
    }
    for (int k = 1; k <= harmonics; ++k)
        if (best[std::size_t(k)] && best[std::size_t(k)]->power >= 0.1 * strongest)
            return {k, best[std::size_t(k)]->freq};
    return {};
}

fundamental_guess best_fundamental(const std::vector<peak>& peaks, double extra) {
    std::vector<peak> strongest = peaks;
    std::sort(strongest.begin(), strongest.end(),
              [](const peak& a, const peak& b) { return a.power > b.power; });
    strongest.resize(std::min<std::size_t>(strongest.size(), 10));
    std::vector<double> candidates;
    for (const peak& q : strongest)
        for (int d = 1; d <= max_harmonics && q.freq / d >= min_freq; ++d)
            candidates.push_back(q.freq / d);
    if (extra > 0) candidates.push_back(extra);
    fundamental_guess g;
    for (double f : candidates) {
        const double s = harmonic_score(peaks, f);
        if (s > g.score || (s == g.score && s > 0 && f > g.f)) g = {f, s};
    }
    if (g.score > 0) {
        const refined_harmonic r = refining_harmonic(peaks, g.f);
        if (r.k > 0) g.f = r.freq / r.k;
    }
    return g;
}

double peak_near(const std::vector<double>& power, double df, double near) {
    const std::size_t best =
        strongest_peak(power, df, near * std::pow(2.0, -0.05), near * std::pow(2.0, 0.05));
    return best ? peak_frequency(power, best, df) : 0;
}
