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

// How many independent values the series r is worth: n / (1 + 2 sum rho_l) over the lags up to
// the first whose autocorrelation is not positive, at most n / 4 of them.
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

// The knee of the level over the clear windows at[0 .. m-1]: the split into two runs of at
// least min_fit_windows each whose two lines leave the least squared residual. Its index in at
// (the first window of the second run), or 0 when no split leaves less than knee_share of one
// line's residual with slopes knee_db apart. after: the second run's slope.
std::size_t find_knee(const double* t, const double* level, const std::vector<int>& at,
                      double& after) {
    const std::size_t m = at.size();
    if (m < 2 * std::size_t(min_fit_windows)) return 0;
    // Sums over the first i windows, about the first window's time and level.
    struct sums {
        double n = 0, x = 0, y = 0, xx = 0, xy = 0, yy = 0;
    };
    std::vector<sums> pre(m + 1);
    for (std::size_t i = 0; i < m; ++i) {
        const double x = t[at[i]] - t[at[0]], y = level[at[i]] - level[at[0]];
        const sums& a = pre[i];
        pre[i + 1] = {a.n + 1, a.x + x, a.y + y, a.xx + x * x, a.xy + x * y, a.yy + y * y};
    }
    // Residual and slope of the line over windows a .. b-1.
    auto line = [&](std::size_t a, std::size_t b, double& slope) {
        const sums& p = pre[b];
        const sums& q = pre[a];
        const double n = p.n - q.n, sx = p.x - q.x, sy = p.y - q.y;
        const double sxx = p.xx - q.xx - sx * sx / n, sxy = p.xy - q.xy - sx * sy / n;
        const double syy = p.yy - q.yy - sy * sy / n;
        slope = sxx > 0 ? sxy / sxx : 0;
        return std::max(0.0, sxx > 0 ? syy - sxy * sxy / sxx : syy);
    };
    double slope;
    const double one = line(0, m, slope);
    std::size_t best = 0;
    double least = one;
    for (std::size_t b = std::size_t(min_fit_windows); b + std::size_t(min_fit_windows) <= m; ++b) {
        double s1, s2;
        const double two = line(0, b, s1) + line(b, m, s2);
        if (two < least && std::abs(s2 - s1) >= knee_db) least = two, best = b;
    }
    if (best == 0 || !(least < knee_share * one)) return 0;
    line(best, m, after);
    return best;
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

    // A level that falls at one rate, then at another (a held note released, a piano's prompt
    // sound and its aftersound): the first is the note's; the fit ends at the knee.
    at.clear();
    for (int w = first; w <= last; ++w)
        if (usable(level[w], ratio[w])) at.push_back(w);
    double after = 0;
    if (const std::size_t knee = find_knee(t, level, at, after)) {
        last = at[knee - 1];
        d.knee = at[knee];
        d.after_rate = after;
    }

    d.first = first;
    d.last = last;
    d.first_db = level[first];
    d.top_db = top;
    auto used = [&](int w) { return w >= first && w <= last && usable(level[w], ratio[w]); };
    d.line = fit_line(t, level, n, used);
    d.windows = d.line.n;
    d.has_rate = d.windows >= min_fit_windows && d.line.sxx > 0;
    if (d.has_rate) {
        d.rate = d.line.slope;
        std::vector<double> r;
        for (int w = first; w <= last; ++w)
            if (used(w)) r.push_back(level[w] - d.line.at(t[w]));
        const double n_eff = effective_count(r);
        double rss = 0;
        for (double e : r) rss += e * e;
        d.rate_error =
            std::sqrt(rss / (double(r.size()) - 2) / d.line.sxx * double(r.size()) / n_eff);
        const double method = method_floor_share * std::abs(d.rate) + method_floor_db +
                              method_floor_level / (t[last] - t[first]);
        d.ci95 = std::hypot(student_t975(std::max(1.0, n_eff - 2)) * d.rate_error, method);
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
