#include "follow.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <numbers>
#include <vector>

#include "fft.h"
#include "report.h"

namespace {

using complex = std::complex<double>;

// The harmonics' bins of a frame, and those midway between them for the floor.
constexpr int frame_bin(int k) {
    return frame_periods * k;  // transform index
}
constexpr int midway = frame_periods / 2;

// What one frame gives: each harmonic's transform value, and the mean power midway to its
// neighbours.
struct frame_values {
    complex h[harmonics + 1];
    double floor[harmonics + 1];
};

// The frames' grid, and the transform and window of its frames.
struct frame_grid {
    int per_period = period_points;  // grid points to the period
    int points = 0, advance = 0;
    fft_plan plan;
    std::vector<double> hann;
};

const frame_grid& frames_for(double f0, double rate) {
    static const std::vector<frame_grid> grids = [] {
        std::vector<frame_grid> g(coarsest_frames + 1);
        for (int d = 0; d <= coarsest_frames; ++d) {
            frame_grid& q = g[std::size_t(d)];
            q.per_period = period_points >> d;
            q.points = frame_periods * q.per_period;
            q.advance = knot_periods * q.per_period;
            q.plan = make_fft_plan(q.points, frame_bin(1) - midway, frame_bin(harmonics) + midway);
            q.hann.resize(std::size_t(q.points));
            for (int i = 0; i < q.points; ++i)
                q.hann[std::size_t(i)] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / q.points);
        }
        return g;
    }();
    int d = coarsest_frames;
    while (d > 0 && (period_points >> d) * f0 < rate / 2 + folding_margin * f0) --d;
    return grids[std::size_t(d)];
}

// Steps without a weight take their value from their neighbours: between two measured steps on
// the straight line through them, before the first and after the last the mean of the nearest
// `edge` (64 periods: over a vibrato's swings rather than along one), the frequency held.
void fill_steps(std::vector<double>& step, const std::vector<double>& weight) {
    const std::size_t n = step.size();
    std::vector<std::size_t> at;
    for (std::size_t j = 1; j < n; ++j)
        if (weight[j] > 0) at.push_back(j);
    if (at.empty()) {
        std::fill(step.begin(), step.end(), 0.0);
        return;
    }
    for (std::size_t a = 0; a + 1 < at.size(); ++a)
        for (std::size_t j = at[a] + 1; j < at[a + 1]; ++j)
            step[j] = step[at[a]] + (step[at[a + 1]] - step[at[a]]) * double(j - at[a]) /
                                        double(at[a + 1] - at[a]);
    constexpr std::size_t edge = 32;
    const std::size_t c = std::min(edge, at.size());
    double first = 0, last = 0;
    for (std::size_t i = 0; i < c; ++i) first += step[at[i]], last += step[at[at.size() - 1 - i]];
    first /= double(c), last /= double(c);
    for (std::size_t j = 0; j < at.front(); ++j) step[j] = first;
    for (std::size_t j = at.back() + 1; j < n; ++j) step[j] = last;
}

struct vote {
    double value, weight;
};

// The value below and above which lies half the weight.
double weighted_median(vote* v, int n) {
    for (int i = 1; i < n; ++i)  // at most ten: by insertion
        for (int j = i; j > 0 && v[j].value < v[j - 1].value; --j) std::swap(v[j], v[j - 1]);
    double total = 0, run = 0;
    for (int i = 0; i < n; ++i) total += v[i].weight;
    for (int i = 0; i < n; ++i)
        if ((run += v[i].weight) >= total / 2) return v[i].value;
    return v[n - 1].value;
}

// The lead psi of each frame over the track, from the harmonics' values (see follow.h).
// Empty when no frame has a harmonic that counts.
std::vector<double> join_harmonics(const std::vector<frame_values>& f, int highest) {
    const std::size_t n = f.size();
    if (n < 2) return {};
    constexpr double two_pi = 2 * std::numbers::pi;
    constexpr double cap = 1e6;      // a harmonic counts at most 60 dB over its floor
    constexpr double agree = 0.125;  // cycles of its own by which a harmonic may stray
    // Each harmonic's step of the lead from frame j - 1 to frame j, where it counts in both,
    // and its weight there (0 where it does not count).
    std::vector<double> d(n * (harmonics + 1), 0.0), w(n * (harmonics + 1), 0.0);
    auto at = [](std::size_t j, int k) { return j * (harmonics + 1) + std::size_t(k); };
    for (std::size_t j = 0; j < n; ++j) {
        double strongest = 0;
        for (int k = 1; k <= highest; ++k) strongest = std::max(strongest, std::norm(f[j].h[k]));
        for (int k = 1; k <= highest; ++k) {
            const double p = std::norm(f[j].h[k]), fl = f[j].floor[k];
            if (p > follow_clearance * fl && p > follow_range * strongest && std::isfinite(p))
                w[at(j, k)] = double(k) * k * (fl > 0 ? std::min(cap, p / fl) : cap);
        }
    }
    for (std::size_t j = n; j-- > 1;)
        for (int k = 1; k <= highest; ++k) {
            if (!(w[at(j, k)] > 0 && w[at(j - 1, k)] > 0)) {
                w[at(j, k)] = 0;
                continue;
            }
            d[at(j, k)] = -std::remainder(std::arg(f[j].h[k]) - std::arg(f[j - 1].h[k]), two_pi) /
                          (two_pi * k);
        }
    for (int k = 1; k <= highest; ++k) w[at(0, k)] = 0;

    // A harmonic's own steady step against the harmonics below it (a stiff string's partial runs
    // ahead of the fundamental): the median of the differences, taken out. The lowest harmonic
    // that counts sets the pitch.
    std::vector<double> below(n, 0.0), below_w(n, 0.0), diff;
    bool anchored = false;
    for (int k = 1; k <= highest; ++k) {
        diff.clear();
        std::size_t count = 0;
        for (std::size_t j = 1; j < n; ++j)
            if (w[at(j, k)] > 0) {
                ++count;
                if (below_w[j] > 0) diff.push_back(d[at(j, k)] - below[j] / below_w[j]);
            }
        if (anchored && diff.size() < 4) count = 0;  // too little in common to weigh it
        if (count < 4) {
            for (std::size_t j = 0; j < n; ++j) w[at(j, k)] = 0;
            continue;
        }
        if (anchored) {
            auto mid = diff.begin() + std::ptrdiff_t(diff.size() / 2);
            std::nth_element(diff.begin(), mid, diff.end());
            for (std::size_t j = 1; j < n; ++j) d[at(j, k)] -= *mid;
        }
        anchored = true;
        for (std::size_t j = 1; j < n; ++j)
            if (w[at(j, k)] > 0) below[j] += w[at(j, k)] * d[at(j, k)], below_w[j] += w[at(j, k)];
    }

    // Each frame's step: the weighted mean of the harmonics that agree with their weighted
    // median; none when those hold less than half the weight (harmonics that beat, a slip).
    std::vector<double> step(n, 0.0), weight(n, 0.0);
    for (std::size_t j = 1; j < n; ++j) {
        vote v[harmonics];
        int m = 0;
        double all = 0;
        for (int k = 1; k <= highest; ++k)
            if (w[at(j, k)] > 0) v[m++] = {d[at(j, k)], w[at(j, k)]}, all += w[at(j, k)];
        if (m == 0) continue;
        const double median = weighted_median(v, m);
        double sum = 0, kept = 0;
        for (int k = 1; k <= highest; ++k) {
            const double wk = w[at(j, k)];
            if (wk > 0 && std::abs(d[at(j, k)] - median) * k <= agree)
                sum += wk * d[at(j, k)], kept += wk;
        }
        if (kept >= all / 2) step[j] = sum / kept, weight[j] = kept;
    }
    if (std::none_of(weight.begin(), weight.end(), [](double x) { return x > 0; })) return {};
    fill_steps(step, weight);
    std::vector<double> psi(n, 0.0);
    for (std::size_t j = 1; j < n; ++j) psi[j] = psi[j - 1] + step[j];
    return psi;
}

}  // namespace

std::vector<double> measure_lead(const double* x0, int nx0, double dt0, const pitch_track& track,
                                 int highest, worker_pool& pool) {
    // Harmonics at or above the input's Nyquist frequency hold only what the interpolation
    // folds there: they are left out.
    const double f0 = knot_periods / track.t[1], rate = 1 / dt0;
    int usable = 0;
    while (usable < harmonics && (usable + 1) * f0 < 0.45 * rate) ++usable;
    const frame_grid& fg = frames_for(f0, rate);
    const report_grid g{0, &track, ext(fg.per_period) / period_points};
    const std::int64_t m = grid_points_within(g, nx0, dt0);
    const std::int64_t frames = m < fg.points ? 0 : (m - fg.points) / fg.advance + 1;
    std::vector<frame_values> f(static_cast<std::size_t>(frames));
    const fft_plan& plan = fg.plan;
    std::vector<std::unique_ptr<double[]>> space(std::size_t(pool.size()));
    for (auto& s : space) s = std::make_unique_for_overwrite<double[]>(2 * std::size_t(fg.points));
    walk_windows(
        x0, nx0, dt0, &g, 1, fg.points, fg.advance, frames, pool,
        [&](std::int64_t j, int, const double* x, int worker) {
            double* fx = space[std::size_t(worker)].get();
            for (int i = 0; i < fg.points; ++i) fx[i] = x[i] * fg.hann[std::size_t(i)];
            const double* r = fft_pruned(plan, fx, fx + fg.points);
            auto at = [&](int i) { return complex(r[i], r[plan.nf + i]); };
            frame_values& v = f[std::size_t(j)];
            for (int k = 1; k <= harmonics; ++k) {
                v.h[k] = at(frame_bin(k));
                v.floor[k] =
                    (std::norm(at(frame_bin(k) - midway)) + std::norm(at(frame_bin(k) + midway))) /
                    2;
            }
        },
        [](std::int64_t, int) { return true; });
    std::vector<double> psi = join_harmonics(f, std::min(highest, usable));
    if (psi.empty() && highest < usable) psi = join_harmonics(f, usable);
    return psi;
}

pitch_track bend_track(const pitch_track& track, const std::vector<double>& psi, double until) {
    if (psi.size() < 2) return track;
    // The lead at the knots: frame j's middle is knot j + 1; knot 0 on the line through the
    // first two. At most half a period from one knot to the next (a fifth in pitch).
    std::vector<double> lead(psi.size() + 1);
    lead[0] = 2 * psi[0] - psi[1];
    std::copy(psi.begin(), psi.end(), lead.begin() + 1);
    for (std::size_t i = 1; i < lead.size(); ++i)
        lead[i] = std::clamp(lead[i], lead[i - 1] - 0.5, lead[i - 1] + 0.5);
    const double origin = lead[0];
    const pitch_track curve = join_knots(lead);  // the lead against the old track's phase
    // New knot m lies at phase m h; the old track reaches the note's phase there where
    // p + lead(p) - lead(0) = m h, found by a few steps of p <- m h - (lead(p) - lead(0)).
    std::vector<double> t(1, 0.0);
    for (std::int64_t m = 1; t.size() < 2 || t.back() <= until; ++m) {
        const ext target = ext(m) * knot_periods;
        ext p = target;
        for (int step = 0; step < 6; ++step)
            p = target - (ext(track_time(curve, std::max<ext>(0, p))) - origin);
        const double time = track_time(track, std::max<ext>(0, p));
        t.push_back(std::max(time, std::nextafter(t.back(), 1e300)));
    }
    return join_knots(std::move(t));
}

pitch_track follow_pitch(const double* x0, int nx0, double dt0, double dt, worker_pool& pool) {
    const double until = double(ext(nx0) * dt0);
    pitch_track track = steady_track(dt, until);
    for (int pass = 0; pass < follow_passes; ++pass)
        track = bend_track(
            track,
            measure_lead(x0, nx0, dt0, track, pass == 0 ? first_pass_harmonics : harmonics, pool),
            until);
    return track;
}
