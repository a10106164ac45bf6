#include "pitch.h"

#include <algorithm>
#include <cmath>

#include "stiff_string.h"
#include "welch.h"

namespace {

constexpr double min_freq = 20;       // Hz: rumble and offset below this are no note
constexpr double peak_margin = 31.6;  // 15 dB over the local median
constexpr double range = 1e-5;        // 50 dB under the strongest peak
constexpr int max_harmonics = 10;
constexpr double fit_cents = 10;
// Partials far from harmonic are looked for below harmonic 8.5, where a stiff string's stay
// within a tenth of the fundamental of theirs (B under 3e-4).
constexpr double far_reach = 8.5;

// Half-width of a harmonic's slot: 3 % of its frequency (strings are stiff, pitch wavers), or the
// share `spread` a moving pitch smears its peaks over, at most a quarter of the spacing of
// harmonics.
double slot(int k, double f, double spread = 0) {
    return std::min(std::max(0.03, spread) * k * f, 0.25 * f);
}

// A chord's notes (chord_of): loud peaks within 20 dB of the strongest; each note at least three
// of them in its slots (no wider than a tenth of its frequency); every loud peak up to 8 times
// the lowest note explained.
constexpr double chord_loud = 0.01, chord_slot = 0.1, chord_reach = 8;
constexpr double chord_apart =
    250.0 / 1200;  // octaves: a note's least distance from another's harmonic
constexpr int chord_series = 3;

// Peaks more than two octaves under a candidate do not count against it: no harmonic of a tone
// an octave or a twelfth under it lies there, and a tone of its own so far under the note (mains
// hum, a rumble) is no part of it. 50 Hz hum louder than a 440 Hz note left the note a score of
// 0.2, under the hum's.
constexpr double below_reach = 0.25;

int harmonics_in_reach(const std::vector<peak>& peaks, double f, double spread = 0) {
    double top = 0;
    for (const peak& q : peaks) top = std::max(top, q.freq);
    int k = 0;
    while (k < max_harmonics && (k + 1) * f - slot(k + 1, f, spread) <= top) ++k;
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

double harmonic_score(const std::vector<peak>& peaks, double f, double spread) {
    const int harmonics = harmonics_in_reach(peaks, f, spread);
    if (harmonics == 0) return 0;
    double total = 0, explained = 0;
    int filled = 0;
    std::vector<bool> hit(std::size_t(harmonics) + 1, false);
    for (const peak& q : peaks) {
        if (q.freq > (harmonics + 0.5) * f || q.freq < below_reach * f * 0.97) continue;
        const double amplitude = std::sqrt(q.power);
        total += amplitude;
        const int k = int(std::lround(q.freq / f));
        if (k >= 1 && k <= harmonics && std::abs(q.freq - k * f) <= slot(k, f, spread)) {
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

fundamental_guess best_fundamental(const std::vector<peak>& peaks, double extra, double spread) {
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
        const double s = harmonic_score(peaks, f, spread);
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

double partials_fundamental(const std::vector<peak>& peaks, double near, int& count) {
    double freq[max_harmonics + 1] = {}, weight[max_harmonics + 1] = {};
    bool found[max_harmonics + 1] = {};
    count = 0;
    double f = near;
    for (int k = 1; k <= max_harmonics; ++k) {
        // The strongest peak in the slot of harmonic k of the estimate so far.
        const peak* best = nullptr;
        for (const peak& q : peaks)
            if (std::abs(q.freq - k * f) <= slot(k, f) && (!best || q.power > best->power))
                best = &q;
        if (!best) continue;
        freq[k] = best->freq, weight[k] = std::sqrt(best->power), found[k] = true, ++count;
        double num = 0, den = 0;
        for (int j = 1; j <= k; ++j)
            if (found[j]) num += weight[j] * j * freq[j], den += weight[j] * j * j;
        f = num / den;
    }
    if (count < 2) return 0;
    double b = 0, flexible = 0;
    if (count >= 3 && fit_inharmonicity(freq, found, max_harmonics, b, flexible) && b >= 0 &&
        b < 0.01) {
        // Partials that the string does not hold to within fit_cents are no string's, nor
        // harmonics: a bar's, a bell's.
        for (int k = 1; k <= max_harmonics; ++k)
            if (found[k] && std::abs(cents(freq[k], stiff_partial(k, b, flexible))) > fit_cents)
                count = -count;
        return count > 0 ? stiff_partial(1, b, flexible) : 0;
    }
    return f;
}

double harmonic_share(const std::vector<peak>& peaks, double f, int m, double spread) {
    double total = 0, between = 0;
    for (const peak& q : peaks) {
        if (q.freq < f * (1 - spread) * 0.97 || q.freq > (max_harmonics + 0.5) * f) continue;
        const double amplitude = std::sqrt(q.power);
        total += amplitude;
        const int k = int(std::lround(q.freq / f));
        if (k >= 1 && k % m != 0 && std::abs(q.freq - k * f) <= slot(k, f, spread))
            between += amplitude;
    }
    return total > 0 ? between / total : 0;
}

int series_members(const std::vector<peak>& peaks, double f, double share) {
    int members = 0;
    for (const peak& q : peaks) {
        const double k = std::round(q.freq / f);
        members += k >= 1 && std::abs(q.freq - k * f) <= share * k * f;
    }
    return members;
}

chord chord_of(const std::vector<peak>& peaks, double spread) {
    double strongest = 0;
    for (const peak& q : peaks) strongest = std::max(strongest, q.power);
    std::vector<double> loud;
    for (const peak& q : peaks)
        if (q.power >= chord_loud * strongest) loud.push_back(q.freq);
    std::sort(loud.begin(), loud.end());
    // Which note each loud peak belongs to; -1 while none.
    std::vector<int> note(loud.size(), -1);
    const auto off = [](double p, double f) { return std::abs(p - std::round(p / f) * f); };
    chord c;
    for (std::size_t i = 0; i < loud.size() && loud[i] <= chord_reach * loud[0]; ++i) {
        if (note[i] >= 0) continue;
        const double f = loud[i];
        // Within twice a lower note's slot, or a whole tone and more of one of its harmonics:
        // that note's, moved or smeared (a vibrato's extremes lie up to a whole tone apart).
        bool near_lower = false;
        for (int n = 0; n < c.count; ++n) {
            const int k = int(std::lround(f / c.f[n]));
            near_lower =
                near_lower || (k >= 1 && (off(f, c.f[n]) <= 2 * slot(k, c.f[n], spread) ||
                                          std::abs(std::log2(f / (k * c.f[n]))) < chord_apart));
        }
        if (near_lower) continue;
        if (c.count == chord_most) return {};
        int members = 0;
        for (std::size_t j = i; j < loud.size(); ++j) {
            const int k = int(std::lround(loud[j] / f));
            members += k >= 1 && off(loud[j], f) <= std::min(slot(k, f, spread), chord_slot * f);
        }
        if (members < chord_series) return {};
        for (std::size_t j = i; j < loud.size(); ++j) {
            const int k = int(std::lround(loud[j] / f));
            if (k >= 1 && note[j] < 0 &&
                off(loud[j], f) <= std::min(slot(k, f, spread), chord_slot * f))
                note[j] = c.count;
        }
        c.f[c.count++] = f;
    }
    if (c.count < 2) return {};
    return c;
}

std::vector<peak> unharmonic_peaks(const std::vector<peak>& peaks, double f, double within,
                                   double spread) {
    double strongest = 0;
    for (const peak& q : peaks) strongest = std::max(strongest, q.power);
    std::vector<peak> far;
    for (const peak& q : peaks) {
        const double k = std::max(1.0, std::round(q.freq / f));
        if (q.power >= strongest * within && q.freq >= below_reach * f && q.freq < far_reach * f &&
            std::abs(q.freq - k * f) > std::max(0.1 * f, spread * k * f))
            far.push_back(q);
    }
    return far;
}
