#include "picture.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "error_report.h"
#include "held.h"
#include "note.h"

namespace {

constexpr double none = std::numeric_limits<double>::quiet_NaN();
// The axes' ends (picture.h): beyond the highest level, in steps; beyond the pitch, in steps.
constexpr double level_margin_db = 2, level_step_db = 10;
constexpr double pitch_margin_cents = 2, pitch_step_cents = 5;

// A text field: gnuplot takes a double quote in a data field for the start of a string.
std::string field(const std::string& s) {
    std::string f;
    for (char c : s) f += c == '"' ? std::string("\\x22") : std::string(1, c);
    return f;
}

void put_number(output& out, double v, int decimals) {
    if (std::isfinite(v))
        out.print("\t%.*f", decimals, v);
    else
        out.put("\tNaN");
}

// Where the axis spanning lo .. hi ends, `margin` beyond, in steps of `step`.
double axis_top(double hi, double margin, double step) {
    return step * std::ceil((hi + margin) / step);
}
double axis_bottom(double lo, double margin, double step) {
    return step * std::floor((lo - margin) / step);
}

std::string title_of(const summary_request& q) {
    const note_name note = nearest_note(q.f0);
    std::string t = printable_name(q.name) + ": " + note.name + " " + (note.cents >= 0 ? "+" : "") +
                    std::to_string(note.cents) + " cents, " + hz_text(q.f0) + " Hz";
    if (summary_verdict(q) == verdict::doubtful) t += " (doubtful)";
    return t;
}

// Whether a harmonic is drawn with its stages: its first stage has a rate.
bool drawn(const harmonic_result& h) {
    return h.has_level && h.env.main.has_rate;
}

// The legend of a harmonic drawn with its stages: held, its held level and swing; decaying, its
// rate with its interval, or its two rates; and its release.
std::string legend_of(const harmonic_result& h, bool held) {
    const harmonic_envelope& e = h.env;
    std::string s;
    if (held && std::isfinite(e.held_db))
        s = "held " + fixed_text(e.held_db, 1) + " ±" + fixed_text(e.held_sd, 1) + " dBFS";
    else if (e.after.has_rate)
        s = fixed_text(e.main.rate(), 1) + " then " + fixed_text(e.after.rate(), 1) + " dB/s";
    else
        s = rate_text(e.main) + " dB/s";
    if (e.release.has_rate) s += ", release " + fixed_text(e.release.rate(), 0) + " dB/s";
    return s;
}

}  // namespace

void write_picture(const report_table& report, const summary_request& q, output& out) {
    const analysis_info& a = q.info;
    const int n = report.windows();
    const std::size_t count = std::size_t(n);
    const note_fits fits = fit_note(report, a, q.check.lost_s);
    const bool held = fits.shape.kind == note_kind::held;

    // Each harmonic's levels, NaN for one with nothing to draw; and the levels the axis spans.
    std::vector<double> level(count * harmonics, none);
    const harmonic_result* shown[harmonics] = {};
    double highest = -INFINITY, lowest = INFINITY, lowest_clear = INFINITY;
    for (const harmonic_result& h : fits.found) {
        const int k = h.k - 1;
        shown[k] = &h;
        std::vector<double> one(count);
        harmonic_levels(report, a, k, one.data());
        for (int w = 0; w < n; ++w) {
            const double v = one[std::size_t(w)];
            level[report.at(w, k)] = v;
            if (!std::isfinite(v)) continue;
            highest = std::max(highest, v);
            lowest = std::min(lowest, v);
            if (h.has_level && stands_clear(report.ratio[report.at(w, k)]))
                lowest_clear = std::min(lowest_clear, v);
        }
    }
    double top = 0, bottom = -100;  // nothing to draw
    if (std::isfinite(highest)) {
        top = axis_top(highest, level_margin_db, level_step_db);
        bottom = axis_bottom(std::max(lowest, lowest_clear - picture_floor_db), 0, level_step_db);
        if (bottom >= top) bottom = top - level_step_db;
    }

    // The pitch over each two periods in which the note stands clear, from the held pitch.
    std::vector<double> at, cents;
    double low_c = -pitch_least_cents, high_c = pitch_least_cents;
    const bool followed = q.pitch && q.f0 > 0;
    if (followed) {
        stepped_pitch(report.t, note_windows(report, a.facts.rate), at, cents);
        // Nothing of the note is followed from where the follower loses it.
        std::size_t kept = 0;
        while (kept < at.size() && at[kept] < q.check.lost_s) ++kept;
        at.resize(kept);
        cents.resize(kept);
        for (double& c : cents) {
            c = 1200 * std::log2(c / q.f0);
            if (!std::isfinite(c)) continue;
            low_c = std::min(low_c, axis_bottom(c, pitch_margin_cents, pitch_step_cents));
            high_c = std::max(high_c, axis_top(c, pitch_margin_cents, pitch_step_cents));
        }
    }

    out.put(std::string(picture_heading) + "\n");
    out.put("title\t" + field(title_of(q)) + "\n");
    out.put("kind\t" + field(kind_line(fits)) + "\n");
    out.put("time");
    put_number(out, stretch_from(a), 6);
    put_number(out, stretch_to(a), 6);
    out.put("\nlevel");
    put_number(out, bottom, 0);
    put_number(out, top, 0);
    out.put(std::string("\nkey\t") + (q.partials ? "partial" : "harmonic") + "\n");
    if (std::isfinite(q.check.lost_s)) {
        out.put("lost");
        put_number(out, stretch_from(a) + q.check.lost_s, 6);
        out.put("\n");
    }
    if (followed) {
        out.put("pitch");
        put_number(out, low_c, 0);
        put_number(out, high_c, 0);
        out.put("\tcents from " + hz_text(q.f0) + " Hz\n");
        std::string note;
        const pitch_reading until = pitch_until(report, a.facts.rate, *q.pitch, q.check.lost_s);
        for (const std::string& s : pitch_notes(&until, stretch_from(a), q.check.lost_s))
            note += (note.empty() ? "" : "; ") + s;
        if (!note.empty()) out.put("pitch_note\t" + field(note) + "\n");
    }

    out.put("\n\n");
    for (int k = 0; k < harmonics; ++k) {
        const harmonic_result* h = shown[k];
        const std::string number = std::to_string(k + 1) + ": ";
        out.print("%d", k + 1);
        if (!h) {
            out.put("\tnone\t" + number +
                    (report.freq[k] > 0 ? "above the Nyquist frequency" : "not found") + "\n");
            continue;
        }
        const std::string hz = hz_text(h->freq) + " Hz, ";
        if (!drawn(*h)) {
            out.put("\tfaint\t" + field(number + hz + h->why) + "\n");
            continue;
        }
        out.put("\tfit\t" + field(number + hz + legend_of(*h, held)) + "\n");
    }

    // The stages of each harmonic drawn, after the note's onset.
    out.put("\n\n0\tonset");
    put_number(out, fits.shape.onset, 6);
    out.put("\tNaN\tNaN\tNaN\n");
    for (const harmonic_result& h : fits.found) {
        if (!drawn(h)) continue;
        const harmonic_envelope& e = h.env;
        auto put = [&](const char* what, double t1, double l1, double t2, double l2) {
            out.print("%d\t%s", h.k, what);
            put_number(out, t1, 6);
            put_number(out, l1, 3);
            put_number(out, t2, 6);
            put_number(out, l2, 3);
            out.put("\n");
        };
        const stage& m = e.main;
        const bool two = e.after.has_rate;
        if (held && std::isfinite(e.held_db))
            put("swing", m.from, e.held_db - e.held_sd, m.to, e.held_db + e.held_sd);
        const double to = two ? e.knee : m.to;
        put(held ? "held" : "decay", m.from, m.line.at(m.from), to, m.line.at(to));
        if (two) {
            put("aftersound", e.knee, e.after.line.at(e.knee), e.after.to,
                e.after.line.at(e.after.to));
            put("knee", e.knee, e.after.line.at(e.knee), e.knee, e.after.line.at(e.knee));
        }
        if (e.release.has_rate)
            put("release", e.released, e.release.line.at(e.released), e.release.to,
                e.release.line.at(e.release.to));
        if (std::isfinite(e.attack_s)) {
            const double ends = fits.shape.onset + e.attack_s;
            put("attack", fits.shape.onset, none, ends,
                (held ? e.held_db : e.top_db) - attack_within_db);
        }
    }

    out.put("\n\n");
    for (int w = 0; w < n; ++w) {
        out.print("%.6f", fits.centre[std::size_t(w)]);
        for (int k = 0; k < harmonics; ++k) put_number(out, level[report.at(w, k)], 3);
        out.put("\n");
    }
    if (!followed) return;
    out.put("\n\n");
    for (std::size_t j = 0; j < at.size(); ++j) {
        out.print("%.6f", at[j] + stretch_from(a));
        put_number(out, cents[j], 2);
        out.put("\n");
    }
}
