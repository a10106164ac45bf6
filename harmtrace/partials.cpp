#include "partials.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <vector>

#include "report.h"
#include "stiff_string.h"
#include "welch.h"

namespace {

constexpr int longest_stretch = 1 << 19;  // samples of the note the partials are looked for in
constexpr int longest_frame = 1 << 16;
constexpr int shortest_frame = 1 << 12;
constexpr int frames = 8;
constexpr double reach_cents = 25;    // how far from its predicted place a partial is looked for
constexpr double reach_bins = 2.5;    // at least, where the bins are coarser than that
constexpr double reach_share = 0.25;  // at most, of the fundamental: partials never share a peak
constexpr double prominence = 10;     // a partial's peak over the median around it (10 dB)
// Nothing this far under the spectrum's strongest bin (80 dB) is a partial: quantisation leaves
// faint components of its own between the partials of a clean tone.
constexpr double weakest = 1e-8;
constexpr double outlier_cents = 5;
constexpr int min_fit = 3;  // partials located for B
// A string this stiff has its tenth partial more than half an octave sharp: no instrument's note
// in the search's range is, and a fit that says so has taken stray peaks for partials.
constexpr double stiffest = 0.01;

// The peak of power within [lo, hi] Hz that stands `prominence` over the median of the bins
// within `around` Hz of it: its bin, or 0.
std::size_t prominent_peak(const std::vector<double>& p, double df, double lo, double hi,
                           double around, double strongest) {
    const std::size_t best = strongest_peak(p, df, lo, hi);
    if (best == 0 || !(p[best] >= weakest * strongest)) return 0;
    const std::size_t half = std::max<std::size_t>(4, std::size_t(around / df));
    const std::size_t a = best > half ? best - half : 0, b = std::min(p.size(), best + half + 1);
    if (!(p[best] > std::pow(10.0, prominence / 10) * median_power(p, a, b))) return 0;
    return best;
}

// A fit that describes a string: B within [0, stiffest] and F positive and finite.
bool string_fit(const double* freq, const bool* use, double& b, double& f) {
    return fit_inharmonicity(freq, use, harmonics, b, f) && b >= 0 && b <= stiffest &&
           std::isfinite(f) && f > 0;
}

// Where the partials located so far put partial k: the fit once three are located, else k f1.
double predicted(const partial_set& p, int k, double f0) {
    double b, f;
    if (p.located_count >= min_fit && string_fit(p.freq, p.located, b, f))
        return stiff_partial(k, b, f);
    return k * (p.located[1] ? p.freq[1] : f0);
}

// The peaks of the spectrum that partials 1 .. harmonics make, each near where those below it
// put it, each on a bin of its own and above the one below it.
void locate_peaks(const std::vector<double>& power, double df, double rate, double f0,
                  partial_set& p) {
    const double strongest = *std::max_element(power.begin(), power.end());
    std::size_t below = 0;  // the bin of the highest partial located so far
    for (int k = 1; k <= harmonics; ++k) {
        const double at = predicted(p, k, f0);
        const double reach = std::min(
            std::max(at * (std::exp2(reach_cents / 1200) - 1), reach_bins * df), reach_share * f0);
        if (!(at + reach < rate / 2)) break;
        const std::size_t i =
            prominent_peak(power, df, std::max(at - reach, (double(below) + 0.5) * df), at + reach,
                           f0 / 2, strongest);
        if (i == 0) continue;
        const double f = peak_frequency(power, i, df);
        if (!(f > 0 && std::isfinite(f))) continue;
        p.freq[k] = f;
        p.located[k] = true;
        ++p.located_count;
        below = i;
    }
}

}  // namespace

partial_set locate_partials(const double* x0, int nx0, double dt0, double f0) {
    partial_set p;
    const double rate = 1 / dt0;
    const int n = std::min(nx0, longest_stretch);
    const int len = n < 1 ? 0 : std::min(longest_frame, int(std::bit_floor(unsigned(n))));
    if (len >= shortest_frame && f0 > 0)
        locate_peaks(welch_power(x0, n, len, frames), rate / len, rate, f0, p);
    // The fit, once more without the partials that stray from it. A fit that gives no string
    // (B negative, absurdly stiff, fewer than three partials) leaves every partial at k f0, where
    // the plain report measures the harmonics.
    double b = 0, f = 0;
    bool fitted = p.located_count >= min_fit && string_fit(p.freq, p.located, b, f);
    if (fitted) {
        bool kept[harmonics + 1] = {};
        int count = 0;
        for (int k = 1; k <= harmonics; ++k)
            if (p.located[k] && std::abs(cents(p.freq[k], stiff_partial(k, b, f))) <= outlier_cents)
                kept[k] = true, ++count;
        double b2, f2;
        if (count >= min_fit && fit_inharmonicity(p.freq, kept, harmonics, b2, f2))
            fitted = b2 >= 0 && b2 <= stiffest && std::isfinite(f2) && f2 > 0, b = b2, f = f2;
    }
    p.b = fitted ? b : 0;
    for (int k = 1; k <= harmonics; ++k) {
        if (!fitted)
            p.freq[k] = k * f0;
        else if (!p.located[k])
            p.freq[k] = stiff_partial(k, b, f);
    }
    return p;
}

void partial_report(const double* x0, int nx0, double dt0, double dt, const partial_set& p,
                    output& out, worker_pool& pool) {
    write_report(x0, nx0, dt0, partial_plan(p.freq, dt, nullptr), out, pool);
}
