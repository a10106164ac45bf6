#include "summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>
#include <vector>

#include "decay.h"
#include "note.h"

namespace {

constexpr int window_points = 8192;
constexpr int period_points = 1024;
// Quantisation leaves faint harmonics of its own in a dying note; nothing this far under the
// strongest harmonic is taken for one of the note's.
constexpr double weakest_db = 80;
constexpr double onset_shown = 0.05;  // s: a shorter lead-in is no silence before the note

const char* check_word(verdict v) {
    switch (v) {
        case verdict::corrected:
            return "corrected";
        case verdict::doubtful:
            return "doubtful";
        case verdict::hint:
            return "hint";
        default:
            return "ok";
    }
}

// A CSV field: quoted, with its quotes doubled, when it holds a comma, a quote or a line end.
std::string csv_field(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

std::string channel_text(const analysis_info& a) {
    if (a.facts.channels == 1) return "mono";
    if (a.channel > 0)
        return "channel " + std::to_string(a.channel) + " of " + std::to_string(a.facts.channels);
    return "mean of " + std::to_string(a.facts.channels) + " channels";
}

std::string stretch_text(const analysis_info& a) {
    const double rate = a.facts.rate;
    const double from = double(a.stretch.first) / rate, to = from + double(a.stretch.count) / rate;
    const double whole = double(a.stretch.frames) / rate;
    if (a.stretch.first == 0 && a.stretch.count == a.stretch.frames)
        return fixed_text(to, 2) + " s";
    std::string s =
        fixed_text(from, 2) + " to " + fixed_text(to, 2) + " s of " + fixed_text(whole, 2) + " s";
    if (a.stretch.capped) s += " (harmtrace reads at most 2097152 samples)";
    return s;
}

// A harmonic's values as text, empty where it has none, and what the summary says of its span.
struct row {
    std::string start, rate, t60, from, to, span;
};

std::string shown(const std::string& v) {
    return v.empty() ? "-" : v;
}

row row_of(const decay_fit& d, const double* t, double strongest) {
    row r;
    if (d.windows == 0) {
        r.span = "never clear of the floor";
        return r;
    }
    if (d.top_db < strongest - weakest_db) {
        r.span = "too weak: " + fixed_text(strongest - d.top_db, 0) + " dB under the strongest";
        return r;
    }
    r.start = fixed_text(d.start_db, 1);
    r.span = fixed_text(t[d.first], 2) + "-" + fixed_text(t[d.last], 2);
    if (!d.has_rate) {
        r.span += " (clear too briefly for a rate)";
        return r;
    }
    r.rate = fixed_text(d.rate, 1);
    r.from = fixed_text(t[d.first], 3);
    r.to = fixed_text(t[d.last], 3);
    // A level that does not fall measurably (3 dB over the span, three standard errors) has no
    // T60: it would lie far beyond anything measured.
    if (d.rate * (t[d.last] - t[d.first]) <= -3 && d.rate + 3 * d.rate_error < 0) {
        const double s = t60(d.rate);
        r.t60 = fixed_text(s, s < 9.995 ? 2 : s < 99.95 ? 1 : 0);  // three digits
    }
    return r;
}

struct harmonic_result {
    int k;
    double freq;
    decay_fit fit;
};

}  // namespace

double level_dbfs(double p, int k, double f, int rate, double full_scale) {
    const double dt = k / (period_points * f);
    const double full =
        full_scale * full_scale * window_points * window_points * dt / (2.0 * (window_points - 1));
    const double x = std::numbers::pi * f / rate;
    const double sinc = x > 0 ? std::sin(x) / x : 1;
    return 10 * std::log10(p / full) - 40 * std::log10(sinc);
}

void write_summary(const report_table& report, const summary_request& q, output& text,
                   output* csv) {
    const analysis_info& a = q.info;
    const int rate = a.facts.rate, n = report.windows();
    const double from = double(a.stretch.first) / rate;
    const std::size_t count = std::size_t(n);
    std::vector<double> t(count), level(count), ratio(count);
    for (int w = 0; w < n; ++w) t[std::size_t(w)] = report.t[std::size_t(w)] + from;

    std::vector<harmonic_result> found;
    for (int k = 0; k < report_harmonics; ++k) {
        const double f = report.freq[k];
        if (!(f > 0 && f < rate / 2.0)) continue;
        for (int w = 0; w < n; ++w) {
            const std::size_t at = std::size_t(w) * report_harmonics + std::size_t(k);
            level[std::size_t(w)] =
                level_dbfs(report.power[at], k + 1, f, rate, a.facts.full_scale);
            ratio[std::size_t(w)] = report.ratio[at];
        }
        found.push_back({k + 1, f, fit_decay(t.data(), level.data(), ratio.data(), n)});
    }

    const note_name note = nearest_note(q.f0);
    const std::string cents = (note.cents >= 0 ? "+" : "") + std::to_string(note.cents);
    text.put(q.name + ": " + hz_text(q.f0) + " Hz, " + note.name + " " + cents + " cents, " +
             channel_text(a) + ", " + stretch_text(a) + ", " + std::to_string(n) + " windows\n");
    text.put(q.check.lines);
    if (a.stretch.onset >= onset_shown)
        text.put("  the note begins at " + fixed_text(from + a.stretch.onset, 2) +
                 " s; the search looked from there on\n");
    if (q.partials)
        text.put("  partials of a stiff string: inharmonicity B = " + sig_text(q.b, 3) + "\n");
    text.put(q.partials ? "   partial        Hz   cents  start dBFS     dB/s    T60 s  fitted, s\n"
                        : "  harmonic        Hz  start dBFS     dB/s    T60 s  fitted, s\n");
    double strongest = -std::numeric_limits<double>::infinity();
    for (const harmonic_result& h : found)
        if (h.fit.windows > 0) strongest = std::max(strongest, h.fit.top_db);
    const std::string b_field = q.partials ? "," + sig_text(q.b, 3) : "";
    for (const harmonic_result& h : found) {
        const row r = row_of(h.fit, t.data(), strongest);
        char stretch[16] = "";  // the partial's deviation from k times partial 1, in cents
        if (q.partials)
            std::snprintf(stretch, sizeof stretch, "%8s",
                          signed_text(1200 * std::log2(h.freq / (h.k * q.f0)), 1).c_str());
        text.print("  %8d  %8s%s  %10s  %7s  %7s  %s\n", h.k, hz_text(h.freq).c_str(), stretch,
                   shown(r.start).c_str(), shown(r.rate).c_str(), shown(r.t60).c_str(),
                   r.span.c_str());
        if (csv)
            csv->put(csv_field(q.name) + "," + hz_text(q.f0) + "," + note.name + "," +
                     std::to_string(note.cents) + "," + check_word(q.check.v) + "," +
                     std::to_string(h.k) + "," + hz_text(h.freq) + "," + r.start + "," + r.rate +
                     "," + r.t60 + "," + r.from + "," + r.to + b_field + "\n");
    }
}
