#include "decay.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr std::size_t smooth_half = 2;  // the smoothed level: a median of five windows

bool usable(double level, double ratio) {
    return stands_clear(ratio) && std::isfinite(level);
}

}  // namespace

decay_fit fit_decay(const double* t, const double* level, const double* ratio, int n) {
    decay_fit d;
    // The longest run of usable windows, gaps of up to max_gap bridged.
    int best_first = -1, best_last = -1, best_count = 0;
    for (int w = 0; w < n;) {
        if (!usable(level[w], ratio[w])) {
            ++w;
            continue;
        }
        int last = w, count = 1, v = w + 1;
        while (v < n && v - last <= max_gap + 1) {
            if (usable(level[v], ratio[v])) {
                last = v;
                ++count;
            }
            ++v;
        }
        if (count > best_count) best_first = w, best_last = last, best_count = count;
        w = last + 1;
    }
    if (best_count < min_level_windows) return d;

    double top = -std::numeric_limits<double>::infinity();
    for (int w = best_first; w <= best_last; ++w)
        if (usable(level[w], ratio[w])) top = std::max(top, level[w]);
    int first = best_first;
    while (!(usable(level[first], ratio[first]) && level[first] >= top - attack_db)) ++first;

    // Where the harmonic reaches its floor the level stops falling; near it, the floor's power
    // (noise, or the leakage of stronger harmonics, which keeps its phase to the harmonic from
    // window to window) bends the level up long before the ratio shows it. When the level
    // falls far, the fit ends where the smoothed level comes within floor_margin of its lowest.
    std::vector<double> smooth;
    std::vector<int> at;
    for (int w = first; w <= best_last; ++w)
        if (usable(level[w], ratio[w])) at.push_back(w);
    for (std::size_t i = 0; i < at.size(); ++i) {
        double near[2 * smooth_half + 1];
        int m = 0;
        for (std::size_t j = i >= smooth_half ? i - smooth_half : 0;
             j < at.size() && j <= i + smooth_half; ++j)
            near[m++] = level[at[j]];
        std::nth_element(near, near + m / 2, near + m);
        smooth.push_back(near[m / 2]);
    }
    const double bottom = *std::min_element(smooth.begin(), smooth.end());
    const double high = *std::max_element(smooth.begin(), smooth.end());
    int last = best_last;
    if (high - bottom >= deep_fall) {
        std::size_t i = 0;
        while (i + 1 < smooth.size() && smooth[i + 1] >= bottom + floor_margin) ++i;
        last = at[i];
    }

    // Least squares about the means, for long recordings.
    double mt = 0, ml = 0;
    int count = 0;
    for (int w = first; w <= last; ++w)
        if (usable(level[w], ratio[w])) {
            ++count;
            mt += (t[w] - mt) / count;
            ml += (level[w] - ml) / count;
        }
    double stt = 0, stl = 0;
    for (int w = first; w <= last; ++w)
        if (usable(level[w], ratio[w])) {
            stt += (t[w] - mt) * (t[w] - mt);
            stl += (t[w] - mt) * (level[w] - ml);
        }
    d.windows = count;
    d.first = first;
    d.last = last;
    d.start_db = level[first];
    d.top_db = top;
    d.has_rate = count >= min_fit_windows && stt > 0;
    if (d.has_rate) {
        d.rate = stl / stt;
        double residual = 0;
        for (int w = first; w <= last; ++w)
            if (usable(level[w], ratio[w])) {
                const double r = level[w] - ml - d.rate * (t[w] - mt);
                residual += r * r;
            }
        d.rate_error = std::sqrt(residual / (count - 2) / stt);
    }
    return d;
}

double t60(double rate) {
    return rate < 0 ? -60 / rate : std::numeric_limits<double>::infinity();
}
