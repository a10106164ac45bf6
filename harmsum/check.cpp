#include "check.h"

#include <algorithm>
#include <cmath>
#include <numeric>
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
// Partials within 20 dB of the strongest that lie far from every harmonic tell a second note or an
// inharmonic tone.
constexpr double loud_partial = 0.01;
// A candidate m times the found fundamental, or 1/m of it, within multiple_cents; harmonics
// between its multiples holding between_share of the peaks' amplitude are a note's own.
constexpr double multiple_cents = 30, between_share = 0.1;
// A candidate up to 64 times the found fundamental may be one of its partials (a marimba's
// high one, 16 times the note).
constexpr int highest_multiple = 64;
constexpr double widest_swing = 100;  // cents
// Of a moving pitch's harmonics 1 to 3, two clear for a rate keep it.
constexpr int moving_lowest = 3, moving_clear = 2;
// The fundamental is absent when its bin lies absent_db (40 dB) under the strongest harmonic.
constexpr double absent_range = 1e-4;
// A candidate's series among far partials: those within 1 % of its harmonics (a weak or absent
// fundamental's odd harmonics lie on them; a bar's partials miss them by more).
constexpr double series_share = 0.01;
constexpr double series_range = 1e-3;  // among the far partials within 30 dB of the strongest
// The fundamental kept is a chord's lowest note within chord_cents of its lowest partial.
constexpr double chord_cents = 50;
constexpr double chord_reach = 8;  // partials up to 8 times a chord's lowest note are weighed

std::string named(double hz) {
    return hz_text(hz) + " Hz (" + nearest_note(hz).name + ")";
}

// How the found fundamental relates to the one taken instead.
std::string how_wrong(double found, double used) {
    if (used > highest_note * std::pow(2.0, 1.0 / 48) ||
        used < lowest_note * std::pow(2.0, -1.0 / 48))
        return "and the note lies beyond its scan of 27.5 to 1760 Hz";
    const double r = found / used;
    if (std::abs(cents(r, 2)) < same_note_cents) return "an octave high";
    if (std::abs(cents(r, 3)) < same_note_cents) return "a twelfth high";
    return r < 1 ? "far too low" : "too high";
}

// Harmonics 1 to `upto` below the Nyquist frequency that stand clear long enough for a decay
// rate.
int clear_harmonics(const report_table& report, int rate, int upto = harmonics) {
    const int n = report.windows();
    std::vector<double> level(std::size_t(n), 0.0), ratio(std::size_t(n), 0.0);
    int clear = 0;
    for (int k = 0; k < upto; ++k) {
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

// Partials far from the harmonics of the fundamental kept, in no series (chord_of found no
// chord): a bar's, a bell's, a membrane's. Said, with what the harmonics' rows then are. True
// when it said so.
bool describe_partials(const std::vector<peak>& far, double f0, bool own_first, check_result& c) {
    if (far.empty() || !own_first) return false;
    std::vector<peak> strong = far;
    std::sort(strong.begin(), strong.end(),
              [](const peak& a, const peak& b) { return a.freq < b.freq; });
    std::string ratios;
    for (std::size_t i = 0; i < strong.size() && i < 4; ++i)
        ratios += (ratios.empty() ? "" : ", ") + fixed_text(strong[i].freq / f0, 2);
    // Partials under the one taken as the fundamental (a bell's hum, a tubular bell's): which of
    // them is the note is the ear's to say.
    const bool below = strong.front().freq < f0;
    if (below) c.v = verdict::doubtful;
    c.lines +=
        "  its partials lie far from harmonic (a bar, a bell, a membrane): besides the "
        "fundamental at " +
        ratios + " times it" +
        (below ? " (partials under the one taken as fundamental: which is the note, the ear "
                 "says)"
               : "") +
        "; harmonic k's row measures the spectrum at k times the fundamental, "
        "where such a tone has no partial but the first and those that happen to lie on "
        "a harmonic\n";
    c.remark =
        "partials far from harmonic (a bar, a bell, a membrane): the harmonics' rows are "
        "the spectrum at k times the fundamental";
    c.sharp_b = 0;
    return true;
}

// The partials in `far` that are no harmonics of a loud tone more than two octaves under f0 (a
// hum's, a rumble's: no part of the note).
std::vector<peak> without_hum(std::vector<peak> far, const std::vector<peak>& peaks, double f0) {
    double strongest = 0;
    for (const peak& p : peaks) strongest = std::max(strongest, p.power);
    for (const peak& hum : peaks) {
        if (hum.freq >= f0 / 4 || hum.power < loud_partial * strongest) continue;
        std::erase_if(far, [&](const peak& p) {
            const double k = std::round(p.freq / hum.freq);
            return std::abs(p.freq - k * hum.freq) <= series_share * k * hum.freq;
        });
    }
    return far;
}

// "82.41 Hz (E2), 123.5 Hz (B2) and 207.7 Hz (G#3)".
std::string notes_text(const chord& ch) {
    std::string text;
    for (int i = 0; i < ch.count; ++i)
        text += std::string(i == 0 ? "" : i + 1 == ch.count ? " and " : ", ") + named(ch.f[i]);
    return text;
}

// A chord whose notes are all harmonics of the fundamental kept is none, but one note's harmonics
// (its fundamental weak, more than 20 dB under the strongest partial, or a vibrato's extremes).
// Where some are, and the fundamental has a peak of its own under the chord's lowest note, it is
// the lowest note, and those its own.
chord with_bass(const chord& ch, double f0, const std::vector<peak>& peaks, double spread) {
    if (ch.count == 0) return ch;
    chord bass;
    bass.f[bass.count++] = f0;
    int own = 0;
    for (int i = 0; i < ch.count; ++i) {
        const double k = std::round(ch.f[i] / f0);
        if (k >= 2 && std::abs(ch.f[i] - k * f0) <= std::max(partial_share, spread) * k * f0)
            ++own;
        else if (bass.count < chord_most)
            bass.f[bass.count++] = ch.f[i];
    }
    if (own == ch.count) return {};
    if (own == 0 || !(f0 < ch.f[0] * (1 - 2 * partial_share)) ||
        nearest_peak(peaks, f0, partial_share) == 0)
        return ch;
    return bass;
}

// No chord where its notes are all harmonics of a fundamental f under its lowest, and at least
// two partials (however weak) lie on harmonics of f prime to the notes' multiples of it: one note
// whose fundamental and some harmonics lie more than 20 dB under the strongest (a piano's lowest
// strings, their 7th, 11th and 13th harmonics weak). A chord's notes leave those harmonics of
// their common root empty.
chord one_note_or(const chord& ch, const std::vector<peak>& peaks, double spread) {
    if (ch.count == 0) return ch;
    const auto on = [&](double p, double f) {
        const double k = std::round(p / f);
        return k >= 1 && std::abs(p - k * f) <= std::max(partial_share, spread) * k * f;
    };
    for (int m = 2; m <= harmonics && ch.f[0] / m >= lowest_pitch; ++m) {
        const double f = ch.f[0] / m;
        bool all = true;
        for (int i = 0; i < ch.count; ++i) all = all && on(ch.f[i], f);
        if (!all) continue;
        // On a harmonic j of f that shares no factor with any note's multiple of f (a partial
        // at 2 f beside notes at 4 f and 3 f may be a bass note's, an octave under one).
        int between = 0;
        for (const peak& p : peaks) {
            const long j = std::lround(p.freq / f);
            bool explained = p.freq > chord_reach * ch.f[0] || !on(p.freq, f);
            for (int i = 0; i < ch.count && !explained; ++i)
                explained = on(p.freq, ch.f[i]) || std::gcd(j, std::lround(ch.f[i] / f)) > 1;
            between += !explained;
        }
        if (between >= 2) return {};
    }
    return ch;
}

// The line on a fundamental that is not there: its bin's power far under the strongest harmonic's
// (an organ's mixture, a telephone's band, a small loudspeaker).
void absent_line(const std::vector<double>& power, double df, const std::vector<peak>& peaks,
                 double f0, check_result& c) {
    const std::size_t bin = std::size_t(std::lround(f0 / df));
    if (bin + 1 >= power.size() || bin < 1) return;
    const double own = std::max({power[bin - 1], power[bin], power[bin + 1]});
    double strongest = 0;
    int k_top = 0;
    for (const peak& p : peaks) {
        const int k = int(std::lround(p.freq / f0));
        if (k >= 2 && k <= harmonics && std::abs(p.freq - k * f0) <= partial_share * k * f0 &&
            p.power > strongest)
            strongest = p.power, k_top = k;
    }
    if (k_top == 0 || !(own < absent_range * strongest)) return;
    const std::string under = own > 0 ? fixed_text(10 * std::log10(strongest / own), 0) : "far";
    c.lines += "  the fundamental itself is absent (" + under + " dB under harmonic " +
               std::to_string(k_top) + "): the pitch is the harmonics' common period\n";
    c.remark = "the fundamental itself is absent (" + under + " dB under harmonic " +
               std::to_string(k_top) + ")";
}

// The check of a chord's note (with_bass): the search run again at the lowest note unless the
// user's hint is followed or this run is at a candidate; said, the check doubtful, as its
// numbers are one note's among the others' partials.
check_result& chord_check(const chord& ch, const check_request& q, check_result& c) {
    // Where the lowest partial lies: the others' partials, where they meet its harmonics, would
    // pull a fit over them.
    const double lowest = ch.f[0];
    const bool on_lowest = std::abs(cents(q.f0, lowest)) < chord_cents;
    if (!on_lowest && !q.hint && q.found_before == 0) {
        c.v = verdict::rerun;
        c.candidate = lowest;
        return c;
    }
    c.v = verdict::doubtful;
    if (q.found_before > 0)
        c.lines = "  fundamental: the search found " + named(q.found_before) +
                  (on_lowest ? " in a chord: used its lowest note, "
                             : ", " + how_wrong(q.found_before, q.f0) + ": used ") +
                  named(q.f0) + (on_lowest ? ", " : " ") + "instead (--no-check keeps " +
                  hz_text(q.found_before) + " Hz)\n";
    chord named_notes = ch;
    if (on_lowest) named_notes.f[0] = q.f0;  // as analysed, which its partials put best
    const std::string said = "two or more pitches at once: " + notes_text(named_notes);
    c.lines += "  " + said + "; the numbers are those of the " + hz_text(q.f0) +
               " Hz note's harmonics, which the other" + (ch.count > 2 ? "s'" : "'s") +
               " partials may blur or hide\n";
    c.remark = said;
    // A run that lands beside the lowest note (the follower pulled by the other notes) is made
    // again at it; a hint is followed where it leads.
    if (!q.hint && std::abs(cents(q.f0, lowest)) > refine_cents) c.refine = lowest;
    return c;
}

}  // namespace

check_result check_fundamental(const double* x, long n, int rate, const report_table& report,
                               const check_request& q) {
    check_result c;
    c.v = q.found_before > 0 ? verdict::corrected : q.hint ? verdict::hint : verdict::ok;
    const int len = frame_length(rate, frame_seconds);
    const double df = double(rate) / len;
    const std::vector<double> power = welch_power(x, n, len, max_frames(len));
    const std::vector<peak> peaks = spectral_peaks(power, df);
    // A moving pitch smears each harmonic's peak over its swing (a vibrato's of up to 100 cents;
    // a pitch that swings further is no held note's, and widens nothing).
    const double spread = std::exp2(std::min(q.swing_cents, widest_swing) / 1200) - 1 + 0.01;
    const fundamental_guess g = best_fundamental(peaks, q.f0, spread);
    const bool harmonics_clear = clear_harmonics(report, rate) > 0;
    // Partials far from the found fundamental's harmonics, within 20 dB of the strongest: a
    // second series of harmonics is a second note; partials in no series, a bar's or a bell's.
    const std::vector<peak> far =
        without_hum(unharmonic_peaks(peaks, q.f0, loud_partial, spread), peaks, q.f0);
    const bool own_first = nearest_peak(peaks, q.f0, partial_share) > 0;
    const bool inharmonic = !far.empty() && own_first;

    if (g.score < min_score && !harmonics_clear) {
        c.v = verdict::no_note;
        c.why = "no harmonic tone stands out of the noise";
        return c;
    }
    if (q.followed) c.lost_s = lost_at(x, n, rate, report);
    // A chord: its lowest note analysed (the search run again there, unless at the user's hint
    // or already at a candidate), the others named.
    const chord ch =
        q.no_check
            ? chord{}
            : one_note_or(with_bass(chord_of(peaks, spread), q.f0, peaks, spread), peaks, spread);
    if (ch.count >= 2) return chord_check(ch, q, c);
    if (g.score >= convincing && !inharmonic && (g.f < lowest_pitch || g.f > highest_pitch)) {
        c.v = verdict::no_note;
        c.why = "the tone at " + hz_text(g.f) + " Hz lies outside " + fixed_text(lowest_pitch, 0) +
                " to " + fixed_text(highest_pitch, 0) + " Hz (A0 to C8)";
        return c;
    }
    if (!q.partials) c.sharp_b = sharp_partials(peaks, q.f0, rate);
    if (q.found_before > 0)
        c.lines = "  fundamental: the search found " + named(q.found_before) + ", " +
                  how_wrong(q.found_before, q.f0) + ": used " + named(q.f0) +
                  " instead (--no-check keeps " + hz_text(q.found_before) + " Hz)\n";
    absent_line(power, df, peaks, q.f0, c);
    if (q.no_check) return c;
    // A fundamental kept means harmonics at k times it: where the partials lie elsewhere, the
    // note is analysed again from them.
    const auto settled = [&]() -> check_result& {
        int count = 0;
        const double f1 = c.v == verdict::ok || c.v == verdict::hint || c.v == verdict::corrected
                              ? partials_fundamental(peaks, q.f0, count)
                              : 0;
        const double off = f1 > 0 ? std::abs(cents(q.f0, f1)) : 0;
        if (count >= 4 && off > refine_cents && off < same_note_cents && !q.moving) c.refine = f1;
        return c;
    };
    // The fundamental kept: what its partials say besides (a second note, no harmonics).
    const auto kept = [&]() -> check_result& {
        if (describe_partials(far, q.f0, own_first, c)) return c;
        return settled();
    };
    const bool same_note = g.score > 0 && std::abs(cents(g.f, q.f0)) < same_note_cents;
    if (same_note || g.score < min_score) {
        if (!harmonics_clear) {
            c.v = verdict::doubtful;
            c.lines += "  fundamental doubtful: no harmonic of " + hz_text(q.f0) +
                       " Hz stands clear of the floor for long; give the note with -f\n";
            return settled();
        }
        if (same_note && !q.followed) {
            const std::string bend = bend_line(x, n, rate, q, g.f, peaks);
            if (!bend.empty()) c.v = verdict::doubtful;
            c.lines += bend;
        }
        return kept();
    }
    // A candidate that is a multiple m of the found fundamental explains only its multiples of
    // m: it is the note only where the found one's other harmonics are not there (it was a
    // subharmonic). One that the found fundamental is a multiple of is the note only where its
    // own harmonics between the found one's are there (the found one an octave or a twelfth
    // high); where they are merely absent (odd harmonics only) the found one stays.
    const int up = int(std::lround(g.f / q.f0)), down = int(std::lround(q.f0 / g.f));
    const double found_score = harmonic_score(peaks, q.f0, spread);
    // Beyond harmonic 10 only of a found fundamental that explains the spectrum (not a hum's).
    const bool multiple =
        up >= 2 && (up <= harmonics || (up <= highest_multiple && found_score >= convincing)) &&
        std::abs(cents(g.f, up * q.f0)) < multiple_cents;
    const bool divisor =
        down >= 2 && down <= harmonics && std::abs(cents(q.f0, down * g.f)) < multiple_cents;
    if ((multiple && harmonic_share(peaks, q.f0, up, spread) >= between_share) ||
        (divisor && harmonic_share(peaks, g.f, down, spread) < between_share))
        return kept();
    // Partials far from harmonic that the candidate gathers into no series of its own (three of
    // them on its harmonics, or two and a partial of its own at it) are a bar's or a bell's: the
    // sieve's candidate is one of them, or a divisor of a few.
    if (inharmonic &&
        series_members(unharmonic_peaks(peaks, q.f0, series_range, spread), g.f, series_share) <
            (nearest_peak(peaks, g.f, partial_share) > 0 ? 2 : 3))
        return kept();
    // A pitch that moves smears the averaged spectrum (a wide vibrato's sidebands fill it), where
    // the followed report still measures its harmonics: a followed note whose own first
    // harmonics stand clear keeps its fundamental against a candidate no octave or twelfth away.
    if (q.moving && !multiple && !divisor &&
        clear_harmonics(report, rate, moving_lowest) >= moving_clear)
        return kept();
    // A candidate no instrument plays is none: the high partials of a bar or a bell.
    if (g.f < lowest_pitch || g.f > highest_pitch) return kept();
    const note_name other = nearest_note(g.f);
    if (q.hint || q.found_before > 0) {
        c.v = verdict::doubtful;
        c.lines += std::string("  fundamental doubtful: ") +
                   (q.hint ? "the hint was followed" : "the candidate was followed") + " (" +
                   hz_text(q.f0) + " Hz), but the harmonics point to " + named(g.f) + "\n";
    } else if (g.score >= convincing && g.score >= found_score + better_by) {
        c.v = verdict::rerun;
        int count;
        const double f1 = partials_fundamental(peaks, g.f, count);
        c.candidate = f1 > 0 ? f1 : g.f;
    } else {
        c.v = verdict::doubtful;
        c.lines += "  fundamental doubtful: " + named(q.f0) + " or " + named(g.f) +
                   ", which the harmonics explain about as well: for the second, try -f " +
                   other.name + "\n";
    }
    return settled();
}
