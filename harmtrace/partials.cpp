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
    const std::int64_t m = final_grid_points(nx0, dt0, dt);
    if (m < window_points) return;
    const std::int64_t windows = (m - window_points) / window_advance + 1;
    constexpr int points_per_bin = window_points / period_points;  // harmonic k at bin 8k + 1

    // Partial k's grid: its step, its bin's frequency, the plan for the bins its line reads,
    // and how many of its points a report window's points make.
    struct grid_of {
        double dt;
        ext ratio;  // dt / dt_k
        int bin;
        double frq[window_bins + 1];
        fft_plan plan;
    };
    std::vector<grid_of> g(harmonics + 1);
    for (int k = 1; k <= harmonics; ++k) {
        grid_of& q = g[std::size_t(k)];
        q.dt = double(step_per_hertz / (ext(p.freq[k]) / k));
        q.ratio = ext(dt) / q.dt;
        q.bin = points_per_bin * k + 1;
        for (int i = q.bin - floor_reach; i <= q.bin + floor_reach; ++i)
            q.frq[i] = bin_frequency(i, window_points, q.dt);
        q.plan = make_fft_plan(window_points, q.bin - 1 - floor_reach, q.bin - 1 + floor_reach);
    }
    // The first point (0-based) of partial k's window nearest in time to report window w.
    auto start = [&](int k, std::int64_t w) {
        return std::int64_t(std::llround(double(window_advance * w * g[std::size_t(k)].ratio)));
    };

    constexpr int batch = window_batch;
    constexpr int line_room = report_line_width + 1;
    ext widest = 1;
    for (int k = 1; k <= harmonics; ++k) widest = std::max(widest, g[std::size_t(k)].ratio);
    const std::size_t span =
        std::size_t(std::ceil(double(window_advance * (batch - 1) * widest))) + window_points + 2;
    std::vector<std::unique_ptr<double[]>> grid(harmonics + 1);
    for (int k = 1; k <= harmonics; ++k)
        grid[std::size_t(k)] = std::make_unique_for_overwrite<double[]>(span);
    auto lines = std::make_unique_for_overwrite<char[]>(std::size_t(batch) * harmonics * line_room);
    int length[batch * harmonics];
    const auto space = window_spaces(pool);

    for (std::int64_t w0 = 0; w0 < windows && !out.failed(); w0 += batch) {
        const int nb = int(std::min<std::int64_t>(batch, windows - w0));
        // Each partial's points for the batch, made afresh: one grid per worker at a time.
        pool.run_items(harmonics, [&](int q, int) {
            const int k = q + 1;
            const std::int64_t a = start(k, w0) + 1, b = start(k, w0 + nb - 1) + window_points;
            resample_cursor cur = cursor_for(nx0, dt0, g[std::size_t(k)].dt, a);
            resample_points(x0, nx0, dt0, g[std::size_t(k)].dt, a, b, cur, nullptr,
                            grid[std::size_t(k)].get());
        });
        pool.run_items(nb * harmonics, [&](int item, int worker) {
            const int q = item / harmonics, k = item % harmonics + 1;
            const grid_of& gk = g[std::size_t(k)];
            window_space& ws = *space[std::size_t(worker)];
            std::memcpy(ws.x1, grid[std::size_t(k)].get() + (start(k, w0 + q) - start(k, w0)),
                        sizeof ws.x1);
            const double* r = fft_pruned(gk.plan, ws.x1, ws.y);
            for (int i = gk.plan.k0 + 1; i <= gk.plan.k1 + 1; ++i)
                ws.pt[i] = pruned_bin_power(r, gk.plan, i, gk.dt);
            double v[report_reals];
            line_values(ws.pt, gk.frq, gk.bin, w0 + q, dt, v);
            length[item] = format_report_line(lines.get() + std::size_t(item) * line_room, k, v);
        });
        for (int item = 0; item < nb * harmonics; ++item)
            out.put(std::string_view(lines.get() + std::size_t(item) * line_room,
                                     std::size_t(length[item])));
    }
}
