#include "summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "decay.h"
#include "error_report.h"
#include "note.h"
#include "stiff_string.h"

namespace {

// Quantisation leaves faint harmonics of its own in a dying note; nothing this far under the
// strongest harmonic is taken for one of the note's.
constexpr double weakest_db = 80;
constexpr double onset_shown = 0.05;
// Windows whose strongest clear harmonic lies this far under the note's loudest (40 dB) are no
// longer the note's, for its pitch.
constexpr double note_range = 1e-4;  // s: a shorter lead-in is no silence before the note
// Ratios to partial 1 this close to whole numbers are harmonics, not a string's partials.
constexpr double harmonic_ratio = 1e-9;

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
    const int n = a.facts.channels;
    const std::string of = " of " + std::to_string(n);
    if (n == 1) return "mono";
    if (a.cancel) return "channel " + std::to_string(a.channel) + of + " (the channels cancel)";
    const std::string silent = a.silent_channels == 1
                                   ? "1 silent channel"
                                   : std::to_string(a.silent_channels) + " silent channels";
    if (a.channel > 0)
        return "channel " + std::to_string(a.channel) + of +
               (a.silent_channels > 0 ? " (" + silent + " left out)" : "");
    if (a.silent_channels > 0)
        return "mean of " + std::to_string(n - a.silent_channels) + of + " channels (" + silent +
               " left out)";
    return "mean of " + std::to_string(n) + " channels";
}

std::string stretch_text(const analysis_info& a) {
    const double rate = a.facts.rate;
    const double from = stretch_from(a), to = stretch_to(a);
    const double whole = double(a.stretch.frames) / rate;
    if (a.stretch.first == 0 && a.stretch.count == a.stretch.frames)
        return fixed_text(to, 2) + " s";
    std::string s =
        fixed_text(from, 2) + " to " + fixed_text(to, 2) + " s of " + fixed_text(whole, 2) + " s";
    if (a.stretch.capped)
        s += " (harmtrace reads at most " + std::to_string(max_samples) + " samples)";
    return s;
}

// The CSV's channels, from_s and to_s.
std::string analysed_fields(const analysis_info& a) {
    return csv_field(channel_text(a)) + "," + fixed_text(stretch_from(a), 4) + "," +
           fixed_text(stretch_to(a), 4);
}

// A harmonic's values for the CSV, empty where it has none, and what the summary says of them.
struct row {
    std::string start, rate, ci, t60, from, to;  // CSV precision
    std::string start_shown, rate_shown, t60_shown, span;
    std::string reason;  // why a value is missing
};

row row_of(const decay_fit& d, const double* start, double strongest) {
    row r;
    if (d.windows == 0) {
        r.reason = r.span = "never clear of the floor";
        return r;
    }
    if (d.top_db < strongest - weakest_db) {
        r.reason = r.span =
            "too weak: " + fixed_text(strongest - d.top_db, 0) + " dB under the strongest";
        return r;
    }
    const double from = start[d.first], to = start[d.last];
    const double level = d.has_rate ? d.line.at(from) : d.first_db;
    r.start = fixed_text(level, 2);
    r.start_shown = fixed_text(level, 1);
    r.span = fixed_text(from, 2) + "-" + fixed_text(to, 2);
    if (!d.has_rate) {
        r.reason = "clear too briefly for a rate";
        r.span += " (" + r.reason + ")";
        return r;
    }
    r.rate = fixed_text(d.rate, 2);
    r.ci = fixed_text(d.ci95, 2);
    const int decimals = d.ci95 < 0.05 ? 2 : 1;  // an interval shown as more than 0
    r.rate_shown = fixed_text(d.rate, decimals) + " ± " + fixed_text(d.ci95, decimals);
    r.from = fixed_text(from, 3);
    r.to = fixed_text(to, 3);
    // A level that does not fall measurably (3 dB over the span, and the interval all below 0)
    // has no T60: it would lie far beyond anything measured.
    if (d.rate * (to - from) <= -3 && d.rate + d.ci95 < 0) {
        const double s = t60(d.rate);
        r.t60 = fixed_text(s, 2);
        r.t60_shown = fixed_text(s, s < 9.995 ? 2 : s < 99.95 ? 1 : 0);  // three digits
    } else {
        r.reason = "the level hardly falls: no T60";
    }
    if (d.knee >= 0) {
        // A second rate after the first: said, not fitted.
        const std::string then = "then " + fixed_text(d.after_rate, 0) + " dB/s from " +
                                 fixed_text(start[d.knee], 2) + " s";
        r.span += " (" + then + ")";
        r.reason += std::string(r.reason.empty() ? "" : "; ") + "fitted up to a knee: " + then;
    }
    return r;
}

// `s` right-aligned in `width` characters (± is one character of two bytes).
std::string right(const std::string& s, std::size_t width) {
    std::size_t chars = 0;
    for (unsigned char c : s) chars += (c & 0xC0) != 0x80;
    return chars >= width ? s : std::string(width - chars, ' ') + s;
}

std::string shown(const std::string& v) {
    return v.empty() ? "-" : v;
}

double median(std::vector<double> v) {
    if (v.empty()) return std::numeric_limits<double>::quiet_NaN();
    auto mid = v.begin() + std::ptrdiff_t(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

bool below_nyquist(double f, int rate) {
    return f > 0 && f < rate / 2.0;
}

}  // namespace

double stretch_from(const analysis_info& a) {
    return double(a.stretch.first) / a.facts.rate;
}
double stretch_to(const analysis_info& a) {
    return double(a.stretch.first + a.stretch.count) / a.facts.rate;
}

void harmonic_levels(const report_table& report, const analysis_info& a, int k, double* level) {
    for (int w = 0; w < report.windows(); ++w) {
        const std::size_t at = report.at(w, k);
        const double f = report.frequency[at];
        level[w] = f > 0 && f < a.facts.rate / 2.0 && std::isfinite(f)
                       ? level_dbfs(report.power[at], k + 1, f, a.facts.rate, a.facts.full_scale)
                       : std::numeric_limits<double>::quiet_NaN();
    }
}

note_fits fit_note(const report_table& report, const analysis_info& a) {
    const int rate = a.facts.rate, n = report.windows();
    const double from = stretch_from(a);
    const std::size_t count = std::size_t(n);
    note_fits fits;
    fits.start.resize(count);
    fits.centre.resize(count);
    for (int w = 0; w < n; ++w) {
        fits.start[std::size_t(w)] = report.t[std::size_t(w)] + from;
        fits.centre[std::size_t(w)] = report.centre(w) + from;
    }
    std::vector<double> level(count), ratio(count);
    for (int k = 0; k < harmonics; ++k) {
        if (!below_nyquist(report.freq[k], rate)) continue;
        harmonic_levels(report, a, k, level.data());
        std::vector<double> freqs;
        for (int w = 0; w < n; ++w) {
            ratio[std::size_t(w)] = report.ratio[report.at(w, k)];
            const double f = report.frequency[report.at(w, k)];
            if (below_nyquist(f, rate)) freqs.push_back(f);
        }
        harmonic_result h;
        h.k = k + 1;
        h.freq = median(freqs);
        h.fit = fit_decay(fits.centre.data(), level.data(), ratio.data(), n);
        fits.found.push_back(h);
    }
    fits.strongest = -std::numeric_limits<double>::infinity();
    for (const harmonic_result& h : fits.found)
        if (h.fit.windows > 0) fits.strongest = std::max(fits.strongest, h.fit.top_db);
    for (harmonic_result& h : fits.found) {
        const row r = row_of(h.fit, fits.start.data(), fits.strongest);
        h.has_level = !r.start.empty();
        h.rate_shown = r.rate_shown;
        if (r.rate.empty()) h.why = r.reason;
    }
    return fits;
}

std::vector<std::string> pitch_notes(const pitch_reading* p, double from) {
    std::vector<std::string> notes;
    if (p && p->vibrato)
        notes.push_back("vibrato " + fixed_text(p->vibrato_hz, 1) + " Hz, ±" +
                        fixed_text(p->vibrato_cents, 0) + " cents");
    if (p && p->bent)
        notes.push_back("the attack starts " + fixed_text(std::abs(p->attack_cents), 0) +
                        " cents " + (p->attack_cents > 0 ? "sharp" : "flat") + " and settles by " +
                        fixed_text(from + p->settled_s, 2) + " s");
    return notes;
}

std::vector<bool> note_windows(const report_table& report, int rate) {
    const std::size_t n = std::size_t(report.windows());
    std::vector<bool> clear(n, false);
    std::vector<double> loudest(n, 0.0);  // the power of the window's strongest clear harmonic
    double top = 0;
    for (std::size_t w = 0; w < n; ++w) {
        for (int k = 0; k < harmonics; ++k) {
            const std::size_t at = report.at(int(w), k);
            if (below_nyquist(report.frequency[at], rate) && stands_clear(report.ratio[at]) &&
                report.power[at] > loudest[w])
                loudest[w] = report.power[at], clear[w] = true;
        }
        top = std::max(top, loudest[w]);
    }
    // A harmonic of the note's tail, long after it has died into the noise, stands clear only
    // by chance, and the pitch there is the noise's.
    for (std::size_t w = 0; w < n; ++w) clear[w] = clear[w] && loudest[w] >= top * note_range;
    return clear;
}

std::string recording_notes(const analysis_info& a) {
    std::string s;
    if (a.facts.cut_bytes >= 0)
        s = "data cut short: " + std::to_string(a.facts.cut_bytes) + " of " +
            std::to_string(a.facts.data_bytes) + " bytes";
    if (a.cancel)
        s += std::string(s.empty() ? "" : "; ") + "the channels cancel in the mean: channel " +
             std::to_string(a.channel) + " alone";
    else if (a.silent_channels > 0)
        s += std::string(s.empty() ? "" : "; ") + channel_text(a);
    return s;
}

double report_inharmonicity(const report_table& report, int rate) {
    double ratio[harmonics + 1] = {};
    bool use[harmonics + 1] = {};
    bool harmonic = true;
    for (int k = 1; k <= harmonics; ++k) {
        std::vector<double> r;
        for (int w = 0; w < report.windows(); ++w) {
            const double f1 = report.frequency[report.at(w, 0)];
            const double f = report.frequency[report.at(w, k - 1)];
            if (f1 > 0 && below_nyquist(f, rate) && std::isfinite(f / f1)) r.push_back(f / f1);
        }
        if (r.empty()) continue;
        ratio[k] = median(r);
        use[k] = true;
        harmonic = harmonic && std::abs(ratio[k] / k - 1) < harmonic_ratio;
    }
    double b = 0, f = 0;
    if (harmonic || !fit_inharmonicity(ratio, use, harmonics, b, f) || !(b > 0)) return 0;
    return b;
}

void write_summary(const report_table& report, const summary_request& q, output& text,
                   output* csv) {
    const analysis_info& a = q.info;
    const int rate = a.facts.rate, n = report.windows();
    const double from = stretch_from(a);
    const note_fits fits = fit_note(report, a);

    const note_name note = nearest_note(q.f0);
    const std::string name = printable_name(q.name);
    std::string notes = recording_notes(a);
    const std::string sharp =
        q.check.sharp_b > 0
            ? "the partials run sharp (a stiff string, B = " + sig_text(q.check.sharp_b, 2) +
                  "): the upper ones lie off the harmonics' bins; try "
                  "--partials"
            : "";
    if (!sharp.empty()) notes += (notes.empty() ? "" : "; ") + sharp;
    text.put(name + ": " + hz_text(q.f0) + " Hz, " + note.name + " " +
             (note.cents >= 0 ? "+" : "") + std::to_string(note.cents) + " cents, " +
             channel_text(a) + ", " + stretch_text(a) + ", " + std::to_string(n) + " windows\n");
    if (a.facts.cut_bytes >= 0)
        text.put("  the file ends inside its data: " + std::to_string(a.facts.cut_bytes) + " of " +
                 std::to_string(a.facts.data_bytes) + " bytes; analysed as far as it goes\n");
    if (a.cancel)
        text.put("  the channels cancel in the mean (opposite phase): channel " +
                 std::to_string(a.channel) + ", the loudest, analysed alone\n");
    text.put(q.check.lines);
    const pitch_reading* p = q.pitch;
    for (const std::string& line : pitch_notes(p, from)) text.put("  " + line + "\n");
    if (!sharp.empty()) text.put("  " + sharp + "\n");
    if (a.stretch.onset >= onset_shown)
        text.put("  the note begins at " + fixed_text(from + a.stretch.onset, 2) +
                 " s; the search looked from there on\n");
    const double b = q.partials ? report_inharmonicity(report, rate) : 0;
    if (q.partials)
        text.put(b > 0 ? "  partials of a stiff string: inharmonicity B = " + sig_text(b, 3) + "\n"
                       : "  partials: no stiff string found (too few partials, or none lie "
                         "sharp); measured as harmonics\n");
    text.put(q.partials
                 ? "   partial        Hz   cents  start dBFS          dB/s    T60 s  fitted, s\n"
                 : "  harmonic        Hz  start dBFS          dB/s    T60 s  fitted, s\n");
    const std::string vibrato_fields =
        p && p->vibrato ? fixed_text(p->vibrato_hz, 2) + "," + fixed_text(p->vibrato_cents, 1)
                        : ",";
    const std::string file_fields = csv_field(q.name) + "," + fixed_text(q.f0, 3) + "," +
                                    note.name + "," + fixed_text(note.exact_cents, 1) + "," +
                                    check_word(q.check.v) + ",";
    for (const harmonic_result& h : fits.found) {
        const row r = row_of(h.fit, fits.start.data(), fits.strongest);
        std::string stretch;  // the partial's deviation from k times partial 1, in cents
        if (q.partials) stretch = right(signed_text(cents(h.freq, h.k * q.f0), 1), 8);
        text.put("  " + right(std::to_string(h.k), 8) + "  " + right(hz_text(h.freq), 8) + stretch +
                 "  " + right(shown(r.start_shown), 10) + "  " + right(shown(r.rate_shown), 12) +
                 "  " + right(shown(r.t60_shown), 7) + "  " + r.span + "\n");
        if (!csv) continue;
        std::string reason = notes;
        if (!r.reason.empty()) reason += (reason.empty() ? "" : "; ") + r.reason;
        csv->put(file_fields + std::to_string(h.k) + "," + fixed_text(h.freq, 3) + "," + r.start +
                 "," + r.rate + "," + r.t60 + "," + r.from + "," + r.to + "," +
                 (q.partials ? sig_text(b, 4) : "") + "," + r.ci + "," + vibrato_fields + "," +
                 analysed_fields(a) + "," + csv_field(reason) + "\n");
    }
}

void write_failed_row(const std::string& name, const analysis_info* info, const std::string& why,
                      output& csv) {
    std::string reason = why;
    if (info) {
        const std::string notes = recording_notes(*info);
        if (!notes.empty()) reason += "; " + notes;
    }
    csv.put(csv_field(name) + ",,,,,,,,,,,,,,,," + (info ? analysed_fields(*info) : ",,") + "," +
            csv_field(reason) + "\n");
}
