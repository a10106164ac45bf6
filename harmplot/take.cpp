#include "take.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>

#include "welch.h"

namespace {

// The lag of the difference's dip at or after `tau`, refined by a parabola, as a frequency.
double dip_hz(const std::vector<double>& d, long tau, long lags, int rate) {
    while (tau < lags && d[std::size_t(tau + 1)] < d[std::size_t(tau)]) ++tau;
    if (tau >= lags) return 0;
    const double l = d[std::size_t(tau - 1)], m = d[std::size_t(tau)], r = d[std::size_t(tau + 1)];
    const double curve = l - 2 * m + r;
    const double shift = curve > 0 ? std::clamp(0.5 * (l - r) / curve, -0.5, 0.5) : 0.0;
    return rate / (double(tau) + shift);
}

struct frame_reading {
    float pitch = 0, period = 0;  // Hz (take_hops)
};

// The pitch and the period of the frame y[0 .. frame + lags - 1] at `rate`, 0 when it has none:
// YIN's cumulative mean normalised difference, its correlation by one transform of the frame and
// its first `frame` samples packed as the real and imaginary parts.
frame_reading frame_pitch(const double* y, long frame, long lags, int rate, const welch_plan& plan,
                          std::vector<std::complex<double>>& z,
                          std::vector<std::complex<double>>& c, std::vector<double>& d) {
    const std::size_t n = std::size_t(plan.len);
    double e0 = 0;
    for (long j = 0; j < frame; ++j) e0 += y[j] * y[j];
    if (!(e0 > 0) || !std::isfinite(e0)) return {};
    for (std::size_t j = 0; j < n; ++j) {
        const double b = long(j) < frame + lags ? y[j] : 0.0;
        z[j] = {long(j) < frame ? b : 0.0, b};
    }
    radix2_transform(plan, z);
    // C(k) = conj(A(k)) B(k), A and B the transforms of the two parts; its inverse through the
    // forward transform of its conjugate.
    for (std::size_t k = 0; k < n; ++k) {
        const std::complex<double> zk = z[k], zn = std::conj(z[(n - k) % n]);
        // b = (zk - zn) / 2i, without a complex division.
        const std::complex<double> a = (zk + zn) * 0.5, e = zk - zn,
                                   b(e.imag() * 0.5, -e.real() * 0.5);
        c[k] = std::conj(std::conj(a) * b);
    }
    radix2_transform(plan, c);
    // d(tau) = e(0) + e(tau) - 2 r(tau), e(tau) the energy of frame samples from tau on.
    double e = e0, sum = 0;
    d.assign(std::size_t(lags) + 1, 1.0);
    for (long tau = 1; tau <= lags; ++tau) {
        e += y[tau + frame - 1] * y[tau + frame - 1] - y[tau - 1] * y[tau - 1];
        const double r = c[std::size_t(tau)].real() / double(n);
        const double diff = std::max(0.0, e0 + e - 2 * r);
        sum += diff;
        d[std::size_t(tau)] = sum > 0 ? diff * double(tau) / sum : 1.0;
    }
    const long shortest = std::max(2L, long(rate / 4400.0));
    long best = shortest;
    for (long tau = shortest; tau <= lags; ++tau)
        if (d[std::size_t(tau)] < d[std::size_t(best)]) best = tau;
    if (d[std::size_t(best)] > unvoiced_difference || best >= lags) return {};
    const double least = d[std::size_t(best)];
    long first = best, whole = best;
    for (long tau = shortest; tau < lags; ++tau)
        if (d[std::size_t(tau)] < yin_threshold) {
            first = tau;
            break;
        }
    for (long tau = shortest; tau < lags; ++tau)
        if (d[std::size_t(tau)] <= least + period_margin) {
            whole = tau;
            break;
        }
    return {float(dip_hz(d, first, lags, rate)), float(dip_hz(d, whole, lags, rate))};
}

double cents(double f, double g) {
    return 1200 * std::log2(f / g);
}

// The median (cents from A4) of the voiced hops' pitch (or period) within `half` hops of each
// hop; NaN where at most half of them are voiced.
std::vector<double> median_pitch(const std::vector<float>& hz, std::size_t half) {
    const std::size_t n = hz.size();
    std::vector<double> smooth(n, std::numeric_limits<double>::quiet_NaN()), near;
    for (std::size_t b = 0; b < n; ++b) {
        near.clear();
        for (std::size_t j = b > half ? b - half : 0; j < n && j <= b + half; ++j)
            if (hz[j] > 0) near.push_back(cents(hz[j], 440));
        if (near.size() <= half) continue;
        std::nth_element(near.begin(), near.begin() + std::ptrdiff_t(near.size() / 2), near.end());
        smooth[b] = near[near.size() / 2];
    }
    return smooth;
}

}  // namespace

void start_take(take_pass& p, int rate) {
    p = {};
    p.hops.rate = rate;
    p.factor = std::max(1, (rate + take_pitch_rate - 1) / take_pitch_rate);
    const int r = rate / p.factor;
    p.hop_exact = double(r) * take_hop * pitch_hops;
    p.hop = std::max(1L, std::lround(p.hop_exact));
    p.frame = std::max(8L, std::lround(r * take_frame));
    p.lags = long(std::ceil(r / take_lowest_hz)) + 1;
    p.level_hop = std::max(1L, std::lround(rate * take_hop));
    // A frame's pitch belongs to the hop at the middle of the samples it compares, its first
    // `frame` and those a short lag later.
    p.first_frame = std::lround(double(p.frame) / 2 / (p.hop_exact / pitch_hops));
    p.hops.pitch_hz.assign(std::size_t(p.first_frame), 0.0f);
    p.hops.period_hz.assign(std::size_t(p.first_frame), 0.0f);
}

void add_take_samples(take_pass& p, const double* x, long n) {
    const int r = p.hops.rate / p.factor;
    static thread_local welch_plan plan;
    const long need = p.frame + p.lags + 1;
    int len = 2;
    while (len < need) len <<= 1;
    if (plan.len != len) plan = make_welch_plan(len);
    std::vector<std::complex<double>> z(static_cast<std::size_t>(len)), c(z.size());
    std::vector<double> d;
    for (long i = 0; i < n; ++i) {
        const double v = std::isfinite(x[i]) ? x[i] : 0.0;
        p.level_sum += v * v;
        if (++p.level_count == p.level_hop) {
            // Hop k ends at round((k + 1) rate take_hop): the hops keep time however the rate
            // divides.
            const double k = double(p.hops.level_db.size()) + 1;
            const double samples = double(p.hops.rate) * take_hop;
            p.level_hop = std::max(1L, std::lround((k + 1) * samples) - std::lround(k * samples));
            // The level over the last level_hops hops: a low note's period would make a hop's
            // own swing with its phase.
            p.recent[p.hops.level_db.size() % level_hops] = p.level_sum;
            double sum = 0;
            for (double e : p.recent) sum += e;
            const double count =
                double(std::min(p.hops.level_db.size() + 1, std::size_t(level_hops)));
            p.hops.level_db.push_back(float(10 * std::log10(sum / count / double(p.level_count))));
            p.level_sum = 0;
            p.level_count = 0;
        }
        p.down_sum += v;
        if (++p.down_count < p.factor) continue;
        p.pending.push_back(p.down_sum / p.factor);
        p.down_sum = 0;
        p.down_count = 0;
        if (long(p.pending.size()) < need) continue;
        const frame_reading f = frame_pitch(p.pending.data(), p.frame, p.lags, r, plan, z, c, d);
        p.hops.pitch_hz.insert(p.hops.pitch_hz.end(), pitch_hops, f.pitch);
        p.hops.period_hz.insert(p.hops.period_hz.end(), pitch_hops, f.period);
        // Frame k starts at round(k r take_hop): the frames keep time with the level's hops,
        // however r divides.
        const long frames = (long(p.hops.pitch_hz.size()) - p.first_frame) / pitch_hops;
        const long advance = std::lround(double(frames) * p.hop_exact) -
                             std::lround(double(frames - 1) * p.hop_exact);
        p.pending.erase(p.pending.begin(), p.pending.begin() + advance);
    }
}

void end_take(take_pass& p) {
    p.hops.pitch_hz.resize(p.hops.level_db.size(), 0.0f);
    p.hops.period_hz.resize(p.hops.level_db.size(), 0.0f);
}

std::vector<note_span> find_notes(const take_hops& h) {
    const std::size_t n = h.level_db.size();
    const double end = double(n) * take_hop;
    std::vector<note_span> one = {{0, end}};
    if (n == 0) return one;
    std::vector<float> finite;
    for (float v : h.level_db)
        if (std::isfinite(v)) finite.push_back(v);
    if (finite.empty()) return one;
    std::sort(finite.begin(), finite.end());
    const double loudest = finite.back(), quiet = finite[finite.size() / 20];
    const double sounding = loudest - note_range_db;
    const double silent = std::min(quiet + silence_db, sounding);
    auto level = [&](std::size_t b) { return double(h.level_db[b]); };

    // Onsets: a rise after the level has dipped from its peak since the last onset, or the first
    // rise. A dip that falls fast and not deep, into a rise to the same pitch, is a sampled
    // note's loop or a tremolo, not a new note: a new one follows a deep dip (a gap), a slow
    // fall (a pluck dying, plucked again) or comes at another pitch.
    const std::vector<double> pitch =
        median_pitch(h.pitch_hz, std::size_t(std::lround(0.1 / take_hop)));
    std::vector<std::size_t> starts;
    const std::size_t within = std::size_t(std::lround(onset_within / take_hop));
    const std::size_t fall_span = std::size_t(std::lround(fall_seconds / take_hop));
    constexpr double none = -std::numeric_limits<double>::infinity();
    double peak = none, trough = none;  // since the last onset; the trough since the peak
    std::size_t trough_at = 0;
    for (std::size_t b = 1; b < n; ++b) {
        const std::size_t a = b > within ? b - within : 0;
        std::size_t low = a;  // the last of the lowest: where the rise begins
        for (std::size_t j = a; j < b; ++j)
            if (!(level(j) > level(low))) low = j;
        const bool rise = level(b) - level(low) >= onset_rise_db || !std::isfinite(level(low));
        bool dipped = starts.empty();
        if (!dipped && peak - trough >= onset_dip_db) {
            double before = trough;
            for (std::size_t j = trough_at > fall_span ? trough_at - fall_span : 0; j < trough_at;
                 ++j)
                before = std::max(before, level(j));
            const bool fast = before - trough >= onset_rise_db;
            const std::size_t ahead = std::min(n - 1, b + within);
            const std::size_t behind = trough_at > within ? trough_at - within : 0;
            const bool other = std::abs(pitch[ahead] - pitch[behind]) > step_cents;
            dipped = peak - trough >= gap_db || !fast || other;
        }
        if (rise && dipped && level(b) >= sounding && std::isfinite(level(b))) {
            std::size_t at = low + 1;
            while (at < b && !(level(at) >= level(low) + onset_begun_db)) ++at;
            starts.push_back(at);
            peak = trough = level(b);
            trough_at = b;
            continue;
        }
        if (level(b) > peak) {
            peak = trough = level(b);
            trough_at = b;
        } else if (level(b) < trough) {
            trough = level(b);
            trough_at = b;
        }
    }

    // Steps of a held pitch, from the median of the pitch about each hop.
    const std::size_t half = step_median / 2;
    const std::vector<double> smooth = median_pitch(h.pitch_hz, half),
                              period = median_pitch(h.period_hz, half);
    const std::size_t apart = std::size_t(std::lround(step_within / take_hop / 2));
    const std::size_t hold = std::size_t(std::lround(hold_seconds / take_hop));
    const std::size_t settle = std::size_t(std::lround(attack_seconds / take_hop));
    auto steady = [&](std::size_t from, std::size_t to, double at) {
        for (std::size_t j = from; j <= to; ++j)
            if (!(std::abs(smooth[j] - at) <= hold_cents)) return false;
        return true;
    };
    std::vector<std::size_t> steps;
    for (std::size_t b = apart + hold; b + apart + hold < n; ++b) {
        const double before = smooth[b - apart], after = smooth[b + apart];
        const double jump = std::abs(after - before);
        if (!(jump > step_cents) || level(b) < sounding) continue;
        // A leap to a harmonic of the pitch (or from one) is a harmonic that outlasts the
        // others or a fundamental that fades in, not a new note.
        const double ratio = std::exp2(jump / 1200);
        const double k = std::round(ratio);
        if (k >= 2 && k <= highest_leap && std::abs(1200 * std::log2(ratio / k)) < 50) continue;
        // Nor is a leap up beyond an octave after which the whole period stays the old pitch's:
        // the old note's upper harmonics, its lower ones gone, that YIN's first dip reads as a
        // shorter period. (Within an octave, the old note's tail under a legato step may hold
        // the period.)
        if (after - before > 1200 && std::abs(period[b + apart] - before) <= hold_cents) continue;
        if (!steady(b + apart, b + apart + hold, after) ||
            !steady(b - apart - hold, b - apart, before))
            continue;
        // A step within an attack's reach of an onset is the onset's (or its bend).
        const auto near_onset = [&](std::size_t at) {
            return std::any_of(starts.begin(), starts.end(),
                               [&](std::size_t s) { return at + settle > s && at < s + settle; });
        };
        if (near_onset(b) || (!steps.empty() && b - steps.back() < 2 * hold)) continue;
        // The step itself: near where the median moves most.
        std::size_t edge = b - apart;
        for (std::size_t j = b - apart; j <= b + apart; ++j)
            if (std::abs(smooth[j] - smooth[j - 1]) > std::abs(smooth[edge] - smooth[edge - 1]))
                edge = j;
        // The old note ends with the last hop of its own pitch: halfway between the middles of
        // the last frame of that pitch and the next one.
        std::size_t last_old = edge > half ? edge - half : 0;
        for (std::size_t j = last_old; j < edge + half && j < n; ++j)
            if (h.pitch_hz[j] > 0 && std::abs(cents(h.pitch_hz[j], 440) - before) <= hold_cents)
                last_old = j;
        edge = last_old + 1 - pitch_hops / 2;
        if (!near_onset(edge)) steps.push_back(edge);
    }

    std::vector<std::size_t> bounds = starts;
    bounds.insert(bounds.end(), steps.begin(), steps.end());
    if (bounds.empty() || bounds.front() > 0) bounds.insert(bounds.begin(), 0);
    std::sort(bounds.begin(), bounds.end());
    // A note begins no sooner than shortest_note after the one before: a take that begins at
    // once begins with its first onset.
    const std::size_t shortest = std::size_t(std::lround(shortest_note / take_hop));
    std::vector<std::size_t> kept;
    for (std::size_t b : bounds) {
        if (!kept.empty() && b < kept.back() + shortest)
            kept.back() = kept.size() == 1 ? b : kept.back();
        else
            kept.push_back(b);
    }
    bounds = kept;
    // Each note up to the next, or to where the level stays silent.
    const std::size_t quiet_run = std::size_t(std::lround(silence_seconds / take_hop));
    std::vector<note_span> notes;
    for (std::size_t i = 0; i < bounds.size(); ++i) {
        const std::size_t from = bounds[i], to = i + 1 < bounds.size() ? bounds[i + 1] : n;
        std::size_t last = from, run = 0;
        double top = -std::numeric_limits<double>::infinity();
        for (std::size_t b = from; b < to; ++b) {
            top = std::max(top, level(b));
            run = level(b) < silent ? run + 1 : 0;
            if (run == 0) last = b;
            if (run >= quiet_run && top >= sounding) break;
        }
        if (top < sounding) continue;  // no note: the silence before the first, say
        notes.push_back({double(from) * take_hop, double(last + 1) * take_hop});
    }
    return notes.size() < 2 ? one : notes;
}
