#include "check.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "decay.h"
#include "note.h"
#include "pitch.h"
#include "report_scale.h"
#include "stiff_string.h"
#include "welch.h"

namespace {

constexpr double frame_seconds = 0.37;  // resolves harmonics 2.7 Hz apart at any rate
// At most 64 frames, and at most 2^20 samples transformed in all up to about 708 kHz (frames of
// 2^18), so that a recording at a high rate costs no more than one at 44.1 kHz; above it, four
// frames of 2^19 or more.
int max_frames(int len) {
    return std::clamp((1 << 20) / len, 4, 64);
}
constexpr double min_score = 0.3;   // below it no harmonic tone stands out
constexpr double convincing = 0.5;  // a candidate must explain at least this much
constexpr double better_by = 0.2;   // and this much more than the found fundamental
constexpr double same_note_cents = 100;
constexpr double bend_cents = 15;
constexpr double settled_cents = 8;
constexpr int search_periods = 64;
constexpr double partial_share = 0.03;  // a partial's peak within 3 % of where it is expected
constexpr int min_partials = 4;
// The note lost: its harmonics hold under lost_share (half) of their usual share of the
// recording's power for lost_for_s, in windows within loud_range (20 dB) of the loudest.
constexpr double lost_share = 0.5, lost_for_s = 0.1, loud_range = 0.01;
constexpr double kept_share = 0.9;  // where the share starts to fall, the note is being lost

std::string named(double hz) {
    return hz_text(hz) + " Hz (" + nearest_note(hz).name + ")";
}

// How the found fundamental relates to the one taken instead.
std::string how_wrong(double found, double used) {
    const double r = found / used;
    if (std::abs(cents(r, 2)) < same_note_cents) return "an octave high";
    if (std::abs(cents(r, 3)) < same_note_cents) return "a twelfth high";
    return r < 1 ? "far too low" : "too high";
}

// Harmonics below the Nyquist frequency that stand clear long enough for a decay rate.
int clear_harmonics(const report_table& report, int rate) {
    const int n = report.windows();
    std::vector<double> level(std::size_t(n), 0.0), ratio(std::size_t(n), 0.0);
    int clear = 0;
    for (int k = 0; k < harmonics; ++k) {
        if (!(report.freq[k] > 0 && report.freq[k] < rate / 2.0)) continue;
        for (int w = 0; w < n; ++w) ratio[std::size_t(w)] = report.ratio[report.at(w, k)];
        if (fit_decay(report.t.data(), level.data(), ratio.data(), n).windows >= min_fit_windows)
            ++clear;
    }
    return clear;
}

// Where the pitch settles: the middle of the first frame of the last run of frames (about 0.1 s,
// tracked on harmonic k) within settled_cents of `sustained` that lasts to `until`; negative when
// none does.
double settle_time(const double* x, long n, int rate, double from, double until, int k,
                   double sustained) {
    const int len = frame_length(rate, 0.1);
    const welch_plan plan = make_welch_plan(len);
    double settled = -1;
    for (long start = std::lround(from * rate); start + len <= n && double(start) / rate <= until;
         start += len / 4) {
        const std::vector<double> p = welch_power(plan, x + start, len, 1);
        const double f = peak_near(p, double(rate) / len, k * sustained) / k;
        if (!(f > 0 && std::abs(cents(f, sustained)) < settled_cents))
            settled = -1;
        else if (settled < 0)
            settled = double(start + len / 2) / rate;  // a frame mostly past the bend
    }
    return settled;
}

// The line on a bent attack, when the pitch the search saw differs from the sustained pitch.
std::string bend_line(const double* x, long n, int rate, const check_request& q, double f,
                      const std::vector<peak>& peaks) {
    const refined_harmonic h = refining_harmonic(peaks, f);
    const double seen = q.search_from + search_periods / q.f0;
    const long start = std::lround(seen * rate);
    const int len = frame_length(rate, frame_seconds);
    if (h.k == 0 || start + len > n) return {};
    const std::vector<double> p = welch_power(x + start, n - start, len, max_frames(len));
    const double sustained = peak_near(p, double(rate) / len, h.freq) / h.k;
    if (!(sustained > 0) || std::abs(cents(q.f0, sustained)) <= bend_cents) return {};
    const double settled = settle_time(x, n, rate, q.search_from, seen + 0.5, h.k, sustained);
    const double from = std::ceil(100 * std::max(seen, settled)) / 100;
    return "  the pitch settles at " + hz_text(sustained) + " Hz, " +
           std::to_string(std::lround(std::abs(cents(q.f0, sustained)))) + " cents from the " +
           hz_text(q.f0) + " Hz the search found in the attack: try -s " + fixed_text(from, 2) +
           "\n";
}

// The peak nearest to f within `share` of it; 0 when none.
double nearest_peak(const std::vector<peak>& peaks, double f, double share) {
    double best = 0;
    for (const peak& p : peaks)
        if (std::abs(p.freq - f) <= share * f &&
            (best == 0 || std::abs(p.freq - f) < std::abs(best - f)))
            best = p.freq;
    return best;
}

// The inharmonicity of partials of f0 that run sharp of the report's bins, else 0.
double sharp_partials(const std::vector<peak>& peaks, double f0, int rate) {
    double freq[harmonics + 1] = {};
    bool found[harmonics + 1] = {};
    int count = 0;
    double b = 0, f = f0;
    for (int k = 1; k <= harmonics && k * f0 < rate / 2.0; ++k) {
        if (count >= 3) fit_inharmonicity(freq, found, harmonics, b, f);
        const double at =
            count >= 3 && b >= 0 ? stiff_partial(k, b, f) : k * (found[1] ? freq[1] : f0);
        const double p = nearest_peak(peaks, at, partial_share);
        if (p > 0) freq[k] = p, found[k] = true, ++count;
    }
    if (count < min_partials || !fit_inharmonicity(freq, found, harmonics, b, f) || !(b > 0))
        return 0;
    for (int k = 2; k <= harmonics && k * f0 < rate / 2.0; ++k) {
        // A quarter of a report bin: f0 / 32 at k f0.
        const double off = cents(stiff_partial(k, b, f), k * stiff_partial(1, b, f));
        if (off > cents(1 + 1.0 / (4 * 8 * k), 1)) return b;
    }
    return 0;
}

// Where the pitch follower loses the note (check.h), s in the report's time; infinite when it
// does not. The share of the recording's power its harmonics hold, window by window, against its
// median over the windows within 20 dB of the loudest.
double lost_at(const double* x, long n, int rate, const report_table& report) {
    const int m = report.windows();
    std::vector<double> sum(std::size_t(n) + 1, 0.0);  // of the squared samples
    for (long i = 0; i < n; ++i) sum[std::size_t(i) + 1] = sum[std::size_t(i)] + x[i] * x[i];
    std::vector<double> power(std::size_t(m), 0.0), share(std::size_t(m), 0.0);
    for (int w = 0; w < m; ++w) {
        const auto a = std::clamp<long>(std::lround(report.t[std::size_t(w)] * rate), 0, n);
        const auto b = std::clamp<long>(std::lround(report.t_last[std::size_t(w)] * rate), 0, n);
        if (b <= a) continue;
        power[std::size_t(w)] = (sum[std::size_t(b)] - sum[std::size_t(a)]) / double(b - a);
        double held = 0;  // the harmonics' mean square: half their amplitude squared
        for (int k = 0; k < harmonics; ++k) {
            const std::size_t at = report.at(w, k);
            const double f = report.frequency[at];
            if (f > 0 && f < rate / 2.0 && std::isfinite(report.power[at]))
                held += std::pow(10, level_dbfs(report.power[at], k + 1, f, rate, 1) / 10) / 2;
        }
        share[std::size_t(w)] = power[std::size_t(w)] > 0 ? held / power[std::size_t(w)] : 0;
    }
    const double loudest = m > 0 ? *std::max_element(power.begin(), power.end()) : 0;
    std::vector<int> loud;
    std::vector<double> shares;
    for (int w = 0; w < m; ++w)
        if (power[std::size_t(w)] > 0 && power[std::size_t(w)] >= loudest * loud_range)
            loud.push_back(w), shares.push_back(share[std::size_t(w)]);
    if (shares.empty()) return INFINITY;
    std::nth_element(shares.begin(), shares.begin() + std::ptrdiff_t(shares.size() / 2),
                     shares.end());
    const double held = shares[shares.size() / 2];
    // From the first loud window on which every loud window for lost_for_s holds under
    // lost_share of that, and no more than half of the loud windows after it hold more; back to
    // where the share began to fall under kept_share of it.
    for (std::size_t i = 0; i < loud.size(); ++i) {
        const double t0 = report.t[std::size_t(loud[i])];
        std::size_t more = 0, after = 0;
        bool lost = true;
        for (std::size_t j = i; j < loud.size(); ++j) {
            const bool kept = share[std::size_t(loud[j])] >= lost_share * held;
            if (report.t[std::size_t(loud[j])] <= t0 + lost_for_s) lost = lost && !kept;
            more += kept, ++after;
        }
        if (!(lost && 2 * more <= after && report.t[std::size_t(loud.back())] >= t0 + lost_for_s))
            continue;
        // From where the share begins to fall.
        while (i > 0 && share[std::size_t(loud[i - 1])] < kept_share * held) --i;
        return report.t[std::size_t(loud[i])];
    }
    return INFINITY;
}

}  // namespace

check_result check_fundamental(const double* x, long n, int rate, const report_table& report,
                               const check_request& q) {
    check_result c;
    c.v = q.found_before > 0 ? verdict::corrected : q.hint ? verdict::hint : verdict::ok;
    const int len = frame_length(rate, frame_seconds);
    const double df = double(rate) / len;
    const std::vector<peak> peaks = spectral_peaks(welch_power(x, n, len, max_frames(len)), df);
    const fundamental_guess g = best_fundamental(peaks, q.f0);
    const bool harmonics_clear = clear_harmonics(report, rate) > 0;

    if (g.score < min_score && !harmonics_clear) {
        c.v = verdict::no_note;
        c.why = "no harmonic tone stands out of the noise";
        return c;
    }
    if (g.score >= convincing && (g.f < lowest_note * std::pow(2.0, -1.0 / 48) ||
                                  g.f > highest_note * std::pow(2.0, 1.0 / 48))) {
        c.v = verdict::no_note;
        c.why = "the tone at " + hz_text(g.f) + " Hz lies outside 27.5 to 1760 Hz";
        return c;
    }
    if (!q.partials) c.sharp_b = sharp_partials(peaks, q.f0, rate);
    if (q.followed) c.lost_s = lost_at(x, n, rate, report);
    if (q.found_before > 0)
        c.lines = "  fundamental: the search found " + named(q.found_before) + ", " +
                  how_wrong(q.found_before, q.f0) + ": used " + named(q.f0) +
                  " instead (--no-check keeps " + hz_text(q.found_before) + " Hz)\n";
    if (q.no_check) return c;

    const bool same_note = g.score > 0 && std::abs(cents(g.f, q.f0)) < same_note_cents;
    if (same_note || g.score < min_score) {
        if (!harmonics_clear) {
            c.v = verdict::doubtful;
            c.lines += "  fundamental doubtful: no harmonic of " + hz_text(q.f0) +
                       " Hz stands clear of the floor for long; give the note with -f\n";
            return c;
        }
        if (same_note && !q.followed) {
            const std::string bend = bend_line(x, n, rate, q, g.f, peaks);
            if (!bend.empty()) c.v = verdict::doubtful;
            c.lines += bend;
        }
        return c;
    }
    const double found_score = harmonic_score(peaks, q.f0);
    const note_name other = nearest_note(g.f);
    if (q.hint || q.found_before > 0) {
        c.v = verdict::doubtful;
        c.lines += std::string("  fundamental doubtful: ") +
                   (q.hint ? "the hint was followed" : "the candidate was followed") + " (" +
                   hz_text(q.f0) + " Hz), but the harmonics point to " + named(g.f) + "\n";
    } else if (g.score >= convincing && g.score >= found_score + better_by) {
        c.v = verdict::rerun;
        c.candidate = g.f;
    } else {
        c.v = verdict::doubtful;
        c.lines +=
            "  fundamental doubtful: it may be " + named(g.f) + ": try -f " + other.name + "\n";
    }
    return c;
}
