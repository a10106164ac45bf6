#include "follow.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
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

// Frames without a weight take psi from their neighbours: between two measured frames on the
// straight line through them (a steady frequency), before the first and after the last on the
// line of the nearest few measured frames (the frequency there held).
void fill_gaps(std::vector<double>& psi, const std::vector<double>& weight) {
    const std::size_t n = psi.size();
    std::vector<std::size_t> at;
    for (std::size_t j = 0; j < n; ++j)
        if (weight[j] > 0) at.push_back(j);
    if (at.empty()) {
        std::fill(psi.begin(), psi.end(), 0.0);
        return;
    }
    for (std::size_t a = 0; a + 1 < at.size(); ++a)
        for (std::size_t j = at[a] + 1; j < at[a + 1]; ++j)
            psi[j] = psi[at[a]] +
                     (psi[at[a + 1]] - psi[at[a]]) * double(j - at[a]) / double(at[a + 1] - at[a]);
    // The slope at an end: least squares over up to `edge` measured frames (64 periods: over a
    // vibrato's swings rather than along one).
    constexpr std::size_t edge = 32;
    auto slope = [&](std::size_t from, std::size_t count) {
        if (count < 2) return 0.0;
        double mj = 0, mp = 0;
        for (std::size_t i = from; i < from + count; ++i) mj += double(at[i]), mp += psi[at[i]];
        mj /= double(count), mp /= double(count);
        double sjj = 0, sjp = 0;
        for (std::size_t i = from; i < from + count; ++i) {
            sjj += (double(at[i]) - mj) * (double(at[i]) - mj);
            sjp += (double(at[i]) - mj) * (psi[at[i]] - mp);
        }
        return sjj > 0 ? sjp / sjj : 0.0;
    };
    const std::size_t c = std::min(edge, at.size());
    const double s0 = slope(0, c), s1 = slope(at.size() - c, c);
    for (std::size_t j = 0; j < at.front(); ++j)
        psi[j] = psi[at.front()] - s0 * double(at.front() - j);
    for (std::size_t j = at.back() + 1; j < n; ++j)
        psi[j] = psi[at.back()] + s1 * double(j - at.back());
}

// The lead psi of each frame from the harmonics' values (see follow.h).
void join_harmonics(const std::vector<frame_values>& f, int usable, std::vector<double>& psi,
                    std::vector<double>& weight) {
    const std::size_t n = f.size();
    psi.assign(n, 0.0);
    weight.assign(n, 0.0);
    constexpr double two_pi = 2 * std::numbers::pi;
    constexpr double cap = 1e6;  // a harmonic counts at most 60 dB over its floor
    std::vector<double> strongest(n, 0.0), predicted(n), own(n);
    std::vector<char> clear(n);
    for (std::size_t j = 0; j < n; ++j)
        for (int k = 1; k <= usable; ++k)
            strongest[j] = std::max(strongest[j], std::norm(f[j].h[k]));
    bool anchored = false;
    for (int k = 1; k <= usable; ++k) {
        std::size_t count = 0;
        for (std::size_t j = 0; j < n; ++j) {
            const double p = std::norm(f[j].h[k]);
            clear[j] = p > follow_clearance * f[j].floor[k] && p > follow_range * strongest[j];
            count += clear[j] != 0;
        }
        if (count < 4) continue;
        predicted = psi;
        fill_gaps(predicted, weight);
        // The phase left once the lead the harmonics before predict is taken out, unwrapped
        // from one frame where the harmonic counts to the next.
        double last = 0;
        bool started = false;
        for (std::size_t j = 0; j < n; ++j) {
            if (!clear[j]) continue;
            double a = std::arg(f[j].h[k]) + two_pi * k * predicted[j];
            if (started) a = last + std::remainder(a - last, two_pi);
            started = true;
            last = a;
            own[j] = predicted[j] - a / (two_pi * k);
        }
        if (anchored) {
            // This harmonic's constant offset and steady drift against the lead so far.
            double m = 0, mj = 0, md = 0;
            for (std::size_t j = 0; j < n; ++j)
                if (clear[j] && weight[j] > 0) ++m, mj += double(j), md += own[j] - psi[j];
            if (m < 4) continue;
            mj /= m, md /= m;
            double sjj = 0, sjd = 0;
            for (std::size_t j = 0; j < n; ++j)
                if (clear[j] && weight[j] > 0) {
                    sjj += (double(j) - mj) * (double(j) - mj);
                    sjd += (double(j) - mj) * (own[j] - psi[j] - md);
                }
            const double drift = sjj > 0 ? sjd / sjj : 0;
            for (std::size_t j = 0; j < n; ++j)
                if (clear[j]) own[j] -= md + drift * (double(j) - mj);
        }
        anchored = true;
        for (std::size_t j = 0; j < n; ++j) {
            if (!clear[j]) continue;
            const double fl = f[j].floor[k];
            const double snr = fl > 0 ? std::min(cap, std::norm(f[j].h[k]) / fl) : cap;
            const double w = double(k) * k * snr;
            psi[j] = (psi[j] * weight[j] + own[j] * w) / (weight[j] + w);
            weight[j] += w;
        }
    }
}

}  // namespace

void measure_lead(const double* x0, int nx0, double dt0, const pitch_track& track,
                  worker_pool& pool, std::vector<double>& psi, std::vector<double>& weight) {
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
    join_harmonics(f, usable, psi, weight);
}

pitch_track bend_track(const pitch_track& track, std::vector<double> psi,
                       const std::vector<double>& weight, double until) {
    if (psi.size() < 2) return track;
    fill_gaps(psi, weight);
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
    std::vector<double> psi, weight;
    for (int pass = 0; pass < follow_passes; ++pass) {
        measure_lead(x0, nx0, dt0, track, pool, psi, weight);
        track = bend_track(track, psi, weight, until);
    }
    return track;
}
