#include "decay.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr int smooth_half = 2;  // the smoothed level: a median of five windows

}  // namespace

bool usable(double level, double ratio) {
    return stands_clear(ratio) && std::isfinite(level);
}

clear_run longest_run(const double* level, const double* ratio, int n) {
    clear_run best;
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
        if (count > best.count) best = {w, last, count};
        w = last + 1;
    }
    return best;
}

int floor_end(const double* level, const double* ratio, int first, int last) {
    // Where the harmonic reaches its floor the level stops falling; near it, the floor's power
    // (noise, or the leakage of stronger harmonics, which keeps its phase to the harmonic from
    // window to window) bends the level up long before the ratio shows it.
    std::vector<int> at;
    for (int w = first; w <= last; ++w)
        if (usable(level[w], ratio[w])) at.push_back(w);
    if (at.empty()) return last;
    std::vector<double> smooth;
    const int m = int(at.size());
    for (int i = 0; i < m; ++i) {
        double near[2 * smooth_half + 1];
        int k = 0;
        for (int j = std::max(0, i - smooth_half); j < m && j <= i + smooth_half; ++j)
            near[k++] = level[at[std::size_t(j)]];
        std::nth_element(near, near + k / 2, near + k);
        smooth.push_back(near[k / 2]);
    }
    const double bottom = *std::min_element(smooth.begin(), smooth.end());
    const double high = *std::max_element(smooth.begin(), smooth.end());
    if (high - bottom < deep_fall) return last;
    std::size_t i = 0;
    while (i + 1 < smooth.size() && smooth[i + 1] >= bottom + floor_margin) ++i;
    return at[i];
}

double effective_count(const std::vector<double>& r) {
    const std::size_t n = r.size();
    double c0 = 0;
    for (double e : r) c0 += e * e;
    if (!(c0 > 0)) return double(n);
    double sum = 0;
    for (std::size_t lag = 1; lag <= n / 4; ++lag) {
        double c = 0;
        for (std::size_t i = 0; i + lag < n; ++i) c += r[i] * r[i + lag];
        if (!(c > 0)) break;
        sum += c / c0;
    }
    return double(n) / (1 + 2 * sum);
}

double interval95(double rate, double se, double n, double n_eff, int p, double span) {
    const double widened = se * std::sqrt(n / n_eff);
    const double method =
        method_floor_share * std::abs(rate) + method_floor_db + method_floor_level / span;
    return std::hypot(student_t975(std::max(1.0, n_eff - p)) * widened, method);
}

decay_fit fit_decay(const double* t, const double* level, const double* ratio, int n) {
    decay_fit d;
    const clear_run run = longest_run(level, ratio, n);
    if (run.count < min_level_windows) return d;
    double top = -std::numeric_limits<double>::infinity();
    for (int w = run.first; w <= run.last; ++w)
        if (usable(level[w], ratio[w])) top = std::max(top, level[w]);
    int first = run.first;
    while (!(usable(level[first], ratio[first]) && level[first] >= top - attack_db)) ++first;
    const int last = floor_end(level, ratio, first, run.last);

    d.first = first;
    d.last = last;
    d.first_db = level[first];
    d.top_db = top;
    const rate_line r =
        fit_rate(t, level, first, last, [&](int w) { return usable(level[w], ratio[w]); });
    d.line = r.line;
    d.windows = r.line.n;
    d.has_rate = d.windows >= min_fit_windows && d.line.sxx > 0;
    if (d.has_rate) {
        d.rate = d.line.slope;
        d.rate_error = r.rate_error;
        d.ci95 = r.ci95;
    }
    return d;
}

double t60(double rate) {
    return rate < 0 ? -60 / rate : std::numeric_limits<double>::infinity();
}

double student_t975(double df) {
    // Exact to three decimals up to 30 degrees of freedom; beyond, the expansion about the normal
    // quantile is closer than that.
    static const double table[31] = {0,     12.706, 4.303, 3.182, 2.776, 2.571, 2.447, 2.365,
                                     2.306, 2.262,  2.228, 2.201, 2.179, 2.160, 2.145, 2.131,
                                     2.120, 2.110,  2.101, 2.093, 2.086, 2.080, 2.074, 2.069,
                                     2.064, 2.060,  2.056, 2.052, 2.048, 2.045, 2.042};
    df = std::max(1.0, df);
    if (df < 30) {
        const int i = int(df);
        return table[i] + (df - i) * (table[i + 1] - table[i]);
    }
    const double z = 1.959964, z3 = z * z * z, z5 = z3 * z * z;
    return z + (z3 + z) / (4 * df) + (5 * z5 + 16 * z3 + 3 * z) / (96 * df * df);
}
