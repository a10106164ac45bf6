#include "held.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    auto mid = v.begin() + std::ptrdiff_t(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

// Least squares of y over the columns of x (m of them, each n long): the coefficients into b
// and the residual sum of squares; by the normal equations, which m <= 5 columns of scaled
// values keep well conditioned.
constexpr int most_columns = 5;
double fit(const std::vector<double>* x, int m, const std::vector<double>& y, double* b) {
    double a[most_columns][most_columns + 1] = {};
    const std::size_t n = y.size();
    for (int r = 0; r < m; ++r) {
        for (int c = 0; c < m; ++c)
            for (std::size_t i = 0; i < n; ++i) a[r][c] += x[r][i] * x[c][i];
        for (std::size_t i = 0; i < n; ++i) a[r][m] += x[r][i] * y[i];
    }
    for (int c = 0; c < m; ++c) {
        int p = c;
        for (int r = c + 1; r < m; ++r)
            if (std::abs(a[r][c]) > std::abs(a[p][c])) p = r;
        std::swap(a[c], a[p]);
        if (a[c][c] == 0) return INFINITY;
        for (int r = 0; r < m; ++r)
            if (r != c) {
                const double q = a[r][c] / a[c][c];
                for (int k = c; k <= m; ++k) a[r][k] -= q * a[c][k];
            }
    }
    for (int c = 0; c < m; ++c) b[c] = a[c][m] / a[c][c];
    double rss = 0;
    for (std::size_t i = 0; i < n; ++i) {
        double e = y[i];
        for (int c = 0; c < m; ++c) e -= b[c] * x[c][i];
        rss += e * e;
    }
    return rss;
}

struct sine_fit {
    double hz = 0, rss = INFINITY, sin = 0, cos = 0;
    double explained = 0;  // the share of what the drift leaves that the sine explains
    double extent = 0;     // cents either side, put back for the two periods' mean
    double middle = 0;     // of the segment fitted
};

constexpr double segment_seconds = 0.75;
constexpr double settled_for = 0.1;  // s the pitch stays near the held pitch once settled
constexpr double step_seconds = 0.02;

// The drift (a quadratic) and a sine of `hz` fitted to the pitch c at times s.
sine_fit drift_and_sine(const std::vector<double>& s, const std::vector<double>& c, double hz) {
    const std::size_t n = s.size();
    const double mid = (s.front() + s.back()) / 2,
                 half = std::max(1e-9, (s.back() - s.front()) / 2);
    std::vector<double> x[most_columns];
    for (auto& v : x) v.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double u = (s[i] - mid) / half, w = 2 * std::numbers::pi * hz * s[i];
        x[0][i] = 1, x[1][i] = u, x[2][i] = u * u, x[3][i] = std::sin(w), x[4][i] = std::cos(w);
    }
    double b[most_columns];
    const int m = hz > 0 ? 5 : 3;
    sine_fit f{hz, fit(x, m, c, b)};
    if (m == 5) f.sin = b[3], f.cos = b[4];
    return f;
}

double sinc(double x) {
    return x == 0 ? 1 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
}

// The sine of vibrato_lowest .. vibrato_highest Hz that explains most of the pitch c (cents) at
// times s beside a drift, each a mean over two periods of `hz` (a note at span times that pitch
// over 2 span periods): on a grid of 0.05 Hz, then between its neighbours by halving.
sine_fit best_sine(const std::vector<double>& s, const std::vector<double>& c, double hz) {
    const double drift = drift_and_sine(s, c, 0).rss;
    sine_fit best;
    for (double f = vibrato_lowest; f <= vibrato_highest + 1e-9; f += 0.05) {
        const sine_fit q = drift_and_sine(s, c, f);
        if (q.rss < best.rss) best = q;
    }
    for (double step = 0.025; step > 1e-4; step /= 2)
        for (double f : {best.hz - step, best.hz + step}) {
            const sine_fit q = drift_and_sine(s, c, f);
            if (q.rss < best.rss) best = q;
        }
    best.explained = drift > 0 ? (drift - best.rss) / drift : 0;
    // The pitch over two periods is their mean, which takes sinc(rate 2 / f) of a swing away.
    best.extent = std::hypot(best.sin, best.cos) / sinc(best.hz * 2 / hz);
    best.middle = (s.front() + s.back()) / 2;
    return best;
}

}  // namespace

int stepped_pitch(const std::vector<double>& t, const std::vector<bool>& present,
                  std::vector<double>& s, std::vector<double>& f) {
    const std::size_t n = std::min(t.size(), present.size());
    // The steps of `span` windows (2 span periods) in which the note stands clear.
    auto steps = [&](std::size_t span) {
        s.clear(), f.clear();
        for (std::size_t j = 0, clear = 0; j < n; ++j) {
            clear = present[j] ? clear + 1 : 0;  // windows clear in a row up to j
            const std::size_t a = j - span;
            if (clear > span && t[j] > t[a])
                s.push_back((t[a] + t[j]) / 2), f.push_back(2.0 * double(span) / (t[j] - t[a]));
        }
    };
    steps(1);
    if (f.empty()) return 1;
    const auto span = std::size_t(std::clamp(std::round(step_seconds * median(f) / 2), 1.0,
                                             double(std::max<std::size_t>(n, 1))));
    steps(span);
    return int(span);
}

pitch_reading read_pitch(const std::vector<double>& t, const std::vector<bool>& present) {
    pitch_reading p;
    std::vector<double> s, f;
    const int span = stepped_pitch(t, present, s, f);
    if (f.empty()) return p;
    const double ref = median(f);
    p.held_hz = ref;
    if (f.size() < 8) return p;
    std::vector<double> c(f.size());
    for (std::size_t i = 0; i < f.size(); ++i) c[i] = 1200 * std::log2(f[i] / ref);

    // The note held: past what may be the attack.
    const double first = s.front(), last = s.back();
    const double from = first + std::min(0.3, (last - first) / 3);
    std::vector<double> hs, hc;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (s[i] >= from) hs.push_back(s[i]), hc.push_back(c[i]);
    if (hs.size() < 8) return p;
    std::vector<double> sorted = hc;
    std::sort(sorted.begin(), sorted.end());
    p.swing_cents = (sorted[sorted.size() * 19 / 20] - sorted[sorted.size() / 20]) / 2;

    // The vibrato, segment by segment: a real one wanders in rate and extent, and a sampled
    // instrument's loop breaks its phase.
    std::vector<sine_fit> swings;  // of the segments where the sine is a vibrato
    int segments = 0;
    const double length = std::min(segment_seconds, hs.back() - hs.front());
    for (double a = hs.front(); segments == 0 || a + length <= hs.back() + 1e-9;
         a += segment_seconds / 3) {
        ++segments;
        std::vector<double> ss, sc;
        for (std::size_t i = 0; i < hs.size(); ++i)
            if (hs[i] >= a && hs[i] <= a + length) ss.push_back(hs[i]), sc.push_back(hc[i]);
        if (ss.size() < 8) continue;
        const sine_fit q = best_sine(ss, sc, ref / span);
        if (q.explained >= 0.5 && q.extent >= vibrato_least && length * q.hz >= 2)
            swings.push_back(q);
    }
    p.vibrato = !swings.empty() && 2 * int(swings.size()) >= segments;
    if (p.vibrato) {
        std::vector<double> hz, extent;
        for (const sine_fit& q : swings) hz.push_back(q.hz), extent.push_back(q.extent);
        p.vibrato_hz = median(hz);
        p.vibrato_cents = median(extent);
    }
    // The swing at time `at`: the sine of the segment whose middle lies nearest.
    auto swing = [&](double at) {
        if (!p.vibrato) return 0.0;
        const sine_fit* q = &swings.front();
        for (const sine_fit& g : swings)
            if (std::abs(g.middle - at) < std::abs(q->middle - at)) q = &g;
        const double w = 2 * std::numbers::pi * q->hz * at;
        return q->sin * std::sin(w) + q->cos * std::cos(w);
    };

    // The attack and the held pitch, vibrato aside.
    std::vector<double> d(c.size()), r;
    for (std::size_t i = 0; i < c.size(); ++i) d[i] = c[i] - swing(s[i]);
    for (std::size_t i = 0; i < c.size(); ++i)
        if (s[i] >= from) r.push_back(d[i]);
    const double held = median(r);
    for (double& v : r) v = std::abs(v - held);
    const double tolerance = std::max(5.0, 3 * 1.4826 * median(r));
    // The first two periods lie before the first frame that measured the pitch: the track
    // only goes on there at the pitch after them.
    p.attack_cents = d[1] - held;
    p.bent = std::abs(p.attack_cents) > std::max(bent_attack_cents, tolerance);
    p.settled_s = first;
    for (std::size_t i = 1; i < c.size() && s[i] <= (first + last) / 2; ++i) {
        std::size_t j = i;
        while (j < c.size() && s[j] <= s[i] + settled_for && std::abs(d[j] - held) <= tolerance)
            ++j;
        if (j == c.size() || s[j] > s[i] + settled_for) {
            p.settled_s = s[i];
            break;
        }
    }
    std::vector<double> after;
    for (std::size_t i = 0; i < c.size(); ++i)
        if (s[i] >= p.settled_s) after.push_back(d[i]);
    p.held_hz = ref * std::exp2(median(after) / 1200);

    // A pitch that glides: no one pitch is held.
    std::vector<double> all = d;
    std::sort(all.begin(), all.end());
    const std::size_t tenth = std::max<std::size_t>(1, d.size() / 10);
    p.glides = all[all.size() * 19 / 20] - all[all.size() / 20] > glide_cents;
    p.glide_from_hz =
        ref * std::exp2(median({d.begin(), d.begin() + std::ptrdiff_t(tenth)}) / 1200);
    p.glide_to_hz = ref * std::exp2(median({d.end() - std::ptrdiff_t(tenth), d.end()}) / 1200);
    return p;
}
