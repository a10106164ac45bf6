#include "track.h"

#include <algorithm>
#include <cmath>

pitch_track join_knots(std::vector<double> t) {
    pitch_track p;
    const std::size_t n = t.size();
    p.c.resize(4 * (n - 1));
    // Catmull-Rom tangents, from the knots on either side; the ends as if the track went on
    // straight.
    auto knot = [&](std::ptrdiff_t i) -> ext {
        if (i < 0) return 2 * ext(t[0]) - t[1];
        if (std::size_t(i) >= n) return 2 * ext(t[n - 1]) - t[n - 2];
        return t[std::size_t(i)];
    };
    for (std::size_t i = 0; i + 1 < n; ++i) {
        const auto a = std::ptrdiff_t(i);
        const ext t0 = knot(a), t1 = knot(a + 1);
        const ext m0 = (t1 - knot(a - 1)) / 2, m1 = (knot(a + 2) - t0) / 2;
        double* c = &p.c[4 * i];
        c[0] = double(t0);
        c[1] = double(m0);
        c[2] = double(3 * (t1 - t0) - 2 * m0 - m1);
        c[3] = double(2 * (t0 - t1) + m0 + m1);
    }
    p.t = std::move(t);
    return p;
}

pitch_track steady_track(double dt, double until) {
    std::vector<double> t;
    const ext step = ext(knot_periods) * period_points * dt;
    for (std::int64_t i = 0; t.size() < 2 || t.back() <= until; ++i) t.push_back(double(i * step));
    return join_knots(std::move(t));
}

namespace {

// The time at u = phase / knot_periods, on piece i = floor(u).
double on_piece(const pitch_track& p, ext u, std::size_t i) {
    const std::size_t pieces = p.t.size() - 1;
    if (i >= pieces) {
        // Past the last knot: on at the last piece's mean frequency.
        const ext last = p.t[pieces], step = ext(p.t[pieces]) - p.t[pieces - 1];
        return double(last + (u - ext(pieces)) * step);
    }
    const ext v = u - ext(i);
    const double* c = &p.c[4 * i];
    return double(((c[3] * v + c[2]) * v + c[1]) * v + c[0]);
}

}  // namespace

double track_time(const pitch_track& p, ext phase) {
    const ext u = phase / knot_periods;
    // The piece through a double: converting a long double to an integer is slow on x87.
    return on_piece(p, u, std::size_t(std::max(0.0, std::floor(double(u)))));
}

void track_point_times(const pitch_track& p, ext scale, std::int64_t first, int n, double* t) {
    // A grid whose pieces hold a whole number of points (period_points scale a power of two):
    // point r lies at u = (r - 1) / piece_points, its piece and offset found in integers.
    const ext per_piece = ext(knot_periods) * period_points * scale;
    const auto piece_points = std::int64_t(double(per_piece));
    if (piece_points >= 1 && ext(piece_points) == per_piece) {
        for (int j = 0; j < n; ++j) {
            const std::int64_t r = first + j - 1;
            const std::int64_t i = r / piece_points;
            t[j] = on_piece(p, ext(i) + ext(r - i * piece_points) / piece_points, std::size_t(i));
        }
        return;
    }
    for (int j = 0; j < n; ++j) t[j] = track_point_time(p, scale, first + j);
}

double track_phase(const pitch_track& p, double time) {
    // The knot interval holding `time`, then bisection within its piece (the pieces rise).
    const std::size_t pieces = p.t.size() - 1;
    const auto it = std::upper_bound(p.t.begin(), p.t.end(), time);
    const std::size_t i = it == p.t.begin() ? 0 : std::size_t(it - p.t.begin()) - 1;
    if (i >= pieces) {
        const ext step = ext(p.t[pieces]) - p.t[pieces - 1];
        return double((pieces + (time - ext(p.t[pieces])) / step) * knot_periods);
    }
    ext lo = 0, hi = 1;
    for (int n = 0; n < 64; ++n) {
        const ext mid = (lo + hi) / 2;
        if (track_time(p, (ext(i) + mid) * knot_periods) <= time)
            lo = mid;
        else
            hi = mid;
    }
    return double((ext(i) + lo) * knot_periods);
}
