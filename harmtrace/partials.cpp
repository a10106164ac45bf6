#include "partials.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "fft.h"
#include "report.h"
#include "report_line.h"
#include "resample.h"
#include "welch.h"

namespace {

constexpr int longest_stretch = 1 << 19;  // samples of the note the partials are looked for in
constexpr int longest_frame = 1 << 16;
constexpr int shortest_frame = 1 << 12;
constexpr int frames = 8;
constexpr double reach_cents = 25;  // how far from its predicted place a partial is looked for
constexpr double reach_bins = 2.5;
constexpr double prominence = 10;  // a partial's peak over the median around it (10 dB)
// Nothing this far under the spectrum's strongest bin (80 dB) is a partial: quantisation leaves
// faint components of its own between the partials of a clean tone.
constexpr double weakest = 1e-8;
constexpr double outlier_cents = 5;
constexpr int min_fit = 3;  // partials located for B

double cents(double a, double b) {
    return 1200 * std::log2(a / b);
}

// Partial k of the fit: k F sqrt(1 + B k^2).
double model(int k, double b, double f) {
    return k * f * std::sqrt(1 + b * k * k);
}

// The peak of power within [lo, hi] Hz that stands `prominence` over the median of the bins
// within `around` Hz of it: its frequency, or 0.
double prominent_peak(const std::vector<double>& p, double df, double lo, double hi, double around,
                      double strongest) {
    const std::size_t best = strongest_peak(p, df, lo, hi);
    if (best == 0 || !(p[best] >= weakest * strongest)) return 0;
    const std::size_t half = std::max<std::size_t>(4, std::size_t(around / df));
    const std::size_t a = best > half ? best - half : 0, b = std::min(p.size(), best + half + 1);
    if (!(p[best] > std::pow(10.0, prominence / 10) * median_power(p, a, b))) return 0;
    return peak_frequency(p, best, df);
}

// Where the partials located so far put partial k: the fit once three are located, else k f1.
double predicted(const partial_set& p, int k, double f0) {
    double b, f;
    if (p.located_count >= min_fit && fit_inharmonicity(p.freq, p.located, b, f))
        return model(k, b, f);
    return k * (p.located[1] ? p.freq[1] : f0);
}

}  // namespace

bool fit_inharmonicity(const double* freq, const bool* use, double& b, double& f) {
    // y = (f_k / k)^2 = F^2 + F^2 B x with x = k^2, about the means.
    double mx = 0, my = 0;
    int n = 0;
    for (int k = 1; k <= harmonics; ++k)
        if (use[k]) {
            const double y = (freq[k] / k) * (freq[k] / k);
            ++n;
            mx += (k * k - mx) / n;
            my += (y - my) / n;
        }
    if (n < 2) return false;
    double sxx = 0, sxy = 0;
    for (int k = 1; k <= harmonics; ++k)
        if (use[k]) {
            const double y = (freq[k] / k) * (freq[k] / k);
            sxx += (k * k - mx) * (k * k - mx);
            sxy += (k * k - mx) * (y - my);
        }
    const double slope = sxy / sxx, intercept = my - slope * mx;
    if (!(intercept > 0)) return false;
    b = slope / intercept;
    f = std::sqrt(intercept);
    return true;
}

partial_set locate_partials(const double* x0, int nx0, double dt0, double f0) {
    partial_set p;
    const double rate = 1 / dt0;
    const int n = std::min(nx0, longest_stretch);
    const int len = n < 1 ? 0 : std::min(longest_frame, int(std::bit_floor(unsigned(n))));
    if (len >= shortest_frame) {
        const std::vector<double> power = welch_power(x0, n, len, frames);
        const double df = rate / len;
        const double strongest = *std::max_element(power.begin(), power.end());
        for (int k = 1; k <= harmonics; ++k) {
            const double at = predicted(p, k, f0);
            const double reach =
                std::max(at * (std::exp2(reach_cents / 1200) - 1), reach_bins * df);
            if (at + reach >= rate / 2) break;
            const double f = prominent_peak(power, df, at - reach, at + reach, f0 / 2, strongest);
            if (f > 0) {
                p.freq[k] = f;
                p.located[k] = true;
                ++p.located_count;
            }
        }
    }
    // The fit, once more without the partials that stray from it.
    double b = 0, f = p.located[1] ? p.freq[1] : f0;
    if (p.located_count >= min_fit && fit_inharmonicity(p.freq, p.located, b, f)) {
        bool kept[harmonics + 1] = {};
        int count = 0;
        for (int k = 1; k <= harmonics; ++k)
            if (p.located[k] && std::abs(cents(p.freq[k], model(k, b, f))) <= outlier_cents)
                kept[k] = true, ++count;
        double b2, f2;
        if (count >= min_fit && fit_inharmonicity(p.freq, kept, b2, f2)) b = b2, f = f2;
        p.b = b;
    } else {
        b = 0;
    }
    for (int k = 1; k <= harmonics; ++k)
        if (!p.located[k]) p.freq[k] = model(k, b, f);
    return p;
}

void partial_report(const double* x0, int nx0, double dt0, double dt, const partial_set& p,
                    output& out, worker_pool& pool) {
    write_report(x0, nx0, dt0, partial_plan(p.freq, dt, nullptr), out, pool);
}
