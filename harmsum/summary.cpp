#include "summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "envelope.h"
#include "error_report.h"
#include "note.h"
#include "stiff_string.h"

namespace {

constexpr double none = std::numeric_limits<double>::quiet_NaN();
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

// `s` right-aligned in `width` characters (± is one character of two bytes).
std::string right(const std::string& s, std::size_t width) {
    std::size_t chars = 0;
    for (unsigned char c : s) chars += (c & 0xC0) != 0x80;
    return chars >= width ? s : std::string(width - chars, ' ') + s;
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

std::string shown_or_dash(const std::string& v) {
    return v.empty() ? "-" : v;
}

// What the summary gives of one harmonic: each value as the CSV has it (empty where there is
// none) and as the text shows it, and why one is missing.
struct row {
    // The first stage's line (the held part or the prompt decay): the first 20 columns.
    std::string start, rate, ci, t60, from, to;
    std::string attack, peak, held, held_sd, rate2, ci2, knee, release, release_ci, release_from;
    std::string start_shown, rate_shown, t60_shown, attack_shown, held_shown, sd_shown;
    std::string rate2_shown, knee_shown, t60_2_shown, release_shown, release_from_shown;
    std::string span;    // the span fitted, s, or why there is none
    std::string said;    // why a rate is missing, as the text says it after the span
    std::string reason;  // everything missing, for the CSV
};

void add_reason(row& r, const std::string& why, bool say) {
    r.reason += (r.reason.empty() ? "" : "; ") + why;
    if (say) r.said += (r.said.empty() ? "" : "; ") + why;
}

// A stage's T60, when its level falls measurably (3 dB or more over its span, and the whole
// interval under 0): it would lie far beyond anything measured otherwise.
bool t60_of(const stage& s, std::string& csv, std::string& text) {
    if (!(s.rate() * (s.to - s.from) <= -3 && s.rate() + s.ci95 < 0)) return false;
    const double v = t60(s.rate());
    csv = fixed_text(v, 2);
    text = fixed_text(v, v < 9.995 ? 2 : v < 99.95 ? 1 : 0);  // three digits
    return true;
}

// Why a stage gives no rate (envelope.h: no rate from a sliver).
std::string too_brief(const std::string& what, const stage& s) {
    if (s.windows < s.needs) return what + " clear too briefly for a rate";
    const double length = s.to - s.from;
    return what + " too brief for a rate: " + fixed_text(length, 2) + " s, " +
           fixed_text(std::abs(s.rate()) * length, 0) + " dB";
}

row row_of(const harmonic_result& h, const note_fits& fits) {
    const harmonic_envelope& e = h.env;
    row r;
    if (e.windows == 0) {
        r.reason = r.span = "never clear of the floor";
        return r;
    }
    if (e.top_db < fits.strongest - weakest_db) {
        r.reason = r.span =
            "too weak: " + fixed_text(fits.strongest - e.top_db, 0) + " dB under the strongest";
        return r;
    }
    const bool held = fits.shape.kind == note_kind::held;
    const stage& m = e.main;
    const double level = m.has_rate ? m.line.at(m.from) : e.first_db;
    r.start = fixed_text(level, 2);
    r.start_shown = fixed_text(level, 1);
    r.peak = fixed_text(e.top_db, 2);
    if (std::isfinite(e.attack_s))
        r.attack = fixed_text(e.attack_s, 3), r.attack_shown = fixed_text(e.attack_s, 2);
    if (held && std::isfinite(e.held_db)) {
        r.held = fixed_text(e.held_db, 2), r.held_shown = fixed_text(e.held_db, 1);
        r.held_sd = fixed_text(e.held_sd, 2), r.sd_shown = fixed_text(e.held_sd, 1);
    }
    r.span = fixed_text(m.from, 2) + "-" + fixed_text(e.after.found() ? e.after.to : m.to, 2);
    const note_shape& note = fits.shape;
    const double held_length = note.main_to - note.main_from;
    if (e.held_too_little) {
        add_reason(r,
                   "clear over only " + fixed_text(e.held_over, 2) + " s of the " +
                       fixed_text(held_length, 2) + " s held part",
                   true);
    } else if (!m.has_rate) {
        if (m.windows < m.needs)
            add_reason(r, "clear too briefly for a rate", true);
        else
            add_reason(r, too_brief(held ? "held part" : "decay", m), true);
    } else {
        r.rate = fixed_text(m.rate(), 2);
        r.ci = fixed_text(m.ci95, 2);
        r.rate_shown = rate_text(m);
        r.from = fixed_text(m.from, 3);
        r.to = fixed_text(m.to, 3);
        if (!t60_of(m, r.t60, r.t60_shown) && !held)
            add_reason(r, "the level hardly falls: no T60", false);
    }
    if (e.after.found() && e.after.has_rate) {
        r.rate2 = fixed_text(e.after.rate(), 2);
        r.ci2 = fixed_text(e.after.ci95, 2);
        r.rate2_shown = rate_text(e.after);
        r.knee = fixed_text(e.knee, 3);
        r.knee_shown = fixed_text(e.knee, 2);
        std::string csv;
        t60_of(e.after, csv, r.t60_2_shown);
    } else if (e.after.found()) {
        add_reason(r, too_brief("aftersound", e.after), true);
    }
    if (e.release.found() && e.release.has_rate) {
        r.release = fixed_text(e.release.rate(), 2);
        r.release_ci = fixed_text(e.release.ci95, 2);
        r.release_shown = rate_text(e.release);
        r.release_from = fixed_text(e.released, 3);
        r.release_from_shown = fixed_text(e.released, 2);
    } else if (e.release.found()) {
        add_reason(r, too_brief("release", e.release), held);
    }
    return r;
}

// The columns of the summary's table, each right-aligned in its width, two blanks apart; the
// span and what is said of it follow the last.
struct column {
    std::string head;
    std::size_t width;
};

std::vector<column> table_columns(note_kind kind, bool two_stage, bool partials) {
    std::vector<column> c = {{partials ? "partial" : "harmonic", 8}, {"Hz", 8}};
    if (partials) c.push_back({"cents", 6});
    if (kind == note_kind::held) {
        for (const column& more : std::vector<column>{{"attack s", 8},
                                                      {"held dBFS", 9},
                                                      {"swing dB", 8},
                                                      {"slope dB/s", 12},
                                                      {"release dB/s", 12},
                                                      {"from s", 6}})
            c.push_back(more);
        return c;
    }
    c.push_back({"start dBFS", 10});
    c.push_back({two_stage ? "prompt dB/s" : "dB/s", 12});
    c.push_back({"T60 s", 7});
    if (two_stage)
        for (const column& more :
             std::vector<column>{{"aftersound dB/s", 15}, {"knee s", 6}, {"T60 s", 7}})
            c.push_back(more);
    return c;
}

std::string table_line(const std::vector<column>& c, const std::vector<std::string>& cells,
                       const std::string& last) {
    std::string line;
    for (std::size_t i = 0; i < c.size(); ++i) line += "  " + right(cells[i], c[i].width);
    return line + "  " + last + "\n";
}

// "1-4, 7": the harmonics numbered in `k`, runs joined.
std::string numbers_text(const std::vector<int>& k) {
    std::string s;
    for (std::size_t i = 0; i < k.size();) {
        std::size_t j = i;
        while (j + 1 < k.size() && k[j + 1] == k[j] + 1) ++j;
        s += (s.empty() ? "" : ", ") + std::to_string(k[i]) +
             (j > i ? (j == i + 1 ? ", " : "-") + std::to_string(k[j]) : "");
        i = j + 1;
    }
    return s;
}

}  // namespace

verdict summary_verdict(const summary_request& q) {
    const bool moves = (q.pitch && q.pitch->glides) || std::isfinite(q.check.lost_s);
    return moves ? verdict::doubtful : q.check.v;
}

std::string rate_text(const stage& s) {
    const int decimals = s.ci95 < 0.05 ? 2 : 1;  // an interval shown as more than 0
    return fixed_text(s.rate(), decimals) + " ± " + fixed_text(s.ci95, decimals);
}

std::string kind_line(const note_fits& fits) {
    const note_shape& s = fits.shape;
    std::string line = std::string(s.kind == note_kind::held ? "held" : "decaying") +
                       " note: begins at " + fixed_text(s.onset, 2) + " s";
    if (s.kind == note_kind::held) {
        line += ", held " + fixed_text(s.main_from, 2) + "-" + fixed_text(s.main_to, 2) + " s";
    } else {
        std::vector<int> two;
        for (const harmonic_result& h : fits.found)
            if (h.has_level && h.env.after.has_rate) two.push_back(h.k);
        line += two.empty() ? ", dies away in one stage"
                            : ", dies away in two stages (" +
                                  std::string(two.size() == 1 ? "harmonic " : "harmonics ") +
                                  numbers_text(two) + ")";
    }
    if (std::isfinite(s.released))
        line += ", released from " + fixed_text(s.released, 2) + " s";
    else if (s.kind == note_kind::held)
        line += ", not released";
    return line;
}

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

note_fits fit_note(const report_table& report, const analysis_info& a, double lost) {
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
    // Each harmonic's levels and ratios, none from where the pitch follower loses the note;
    // and the note's level, the power of its harmonics together.
    std::vector<std::vector<double>> level, ratio;
    // The note stands clear where any harmonic does (a release falls on past the 40 dB of the
    // note's windows for its pitch).
    std::vector<double> power(count, 0.0), total(count), total_ratio(count, none);
    std::vector<bool> clear(count, false);
    for (int k = 0; k < harmonics; ++k) {
        if (!below_nyquist(report.freq[k], rate)) continue;
        level.emplace_back(count);
        ratio.emplace_back(count);
        harmonic_levels(report, a, k, level.back().data());
        std::vector<double> freqs;
        for (int w = 0; w < n; ++w) {
            const std::size_t i = std::size_t(w);
            const bool kept = report.t[i] < lost;
            ratio.back()[i] = kept ? report.ratio[report.at(w, k)] : none;
            const double f = report.frequency[report.at(w, k)];
            if (below_nyquist(f, rate)) freqs.push_back(f);
            if (kept && std::isfinite(level.back()[i])) {
                power[i] += std::pow(10, level.back()[i] / 10);
                clear[i] = clear[i] || stands_clear(ratio.back()[i]);
            }
        }
        harmonic_result h;
        h.k = k + 1;
        h.freq = median(freqs);
        fits.found.push_back(h);
    }
    for (std::size_t i = 0; i < count; ++i) {
        total[i] = power[i] > 0 ? 10 * std::log10(power[i]) : none;
        if (clear[i] && report.t[i] < lost) total_ratio[i] = 1;
    }
    fits.shape =
        read_note(fits.start.data(), fits.centre.data(), total.data(), total_ratio.data(), n);
    fits.strongest = -std::numeric_limits<double>::infinity();
    for (std::size_t j = 0; j < fits.found.size(); ++j) {
        harmonic_result& h = fits.found[j];
        h.env = fit_envelope(fits.start.data(), fits.centre.data(), level[j].data(),
                             ratio[j].data(), n, fits.shape);
        if (h.env.windows > 0) fits.strongest = std::max(fits.strongest, h.env.top_db);
    }
    for (harmonic_result& h : fits.found) {
        const row r = row_of(h, fits);
        h.has_level = !r.start.empty();
        if (r.rate.empty()) h.why = r.said.empty() ? r.reason : r.said;
        if (!r.rate2.empty()) ++fits.two_stage;
    }
    return fits;
}

pitch_reading pitch_until(const report_table& report, int rate, const pitch_reading& p,
                          double lost) {
    if (!std::isfinite(lost)) return p;
    std::vector<bool> clear = note_windows(report, rate);
    for (std::size_t w = 0; w < clear.size(); ++w) clear[w] = clear[w] && report.t[w] < lost;
    return read_pitch(report.t, clear);
}

std::vector<std::string> pitch_notes(const pitch_reading* p, double from, double lost) {
    std::vector<std::string> notes;
    if (p && p->glides)
        notes.push_back("the pitch glides from " + hz_text(p->glide_from_hz) + " to " +
                        hz_text(p->glide_to_hz) + " Hz (" +
                        fixed_text(std::abs(cents(p->glide_to_hz, p->glide_from_hz)), 0) +
                        " cents): no one pitch is held");
    if (std::isfinite(lost))
        notes.push_back("the pitch follower loses the note at " + fixed_text(from + lost, 2) +
                        " s: nothing after is measured");
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
    const note_fits fits = fit_note(report, a, q.check.lost_s);
    const bool held = fits.shape.kind == note_kind::held;

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
    if (!q.check.remark.empty()) notes += (notes.empty() ? "" : "; ") + q.check.remark;
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
    // What is said of the pitch: up to where the follower loses the note.
    const pitch_reading until =
        q.pitch ? pitch_until(report, rate, *q.pitch, q.check.lost_s) : pitch_reading{};
    const pitch_reading* p = q.pitch ? &until : nullptr;
    for (const std::string& line : pitch_notes(p, from, q.check.lost_s))
        text.put("  " + line + "\n");
    if (!sharp.empty()) text.put("  " + sharp + "\n");
    if (a.stretch.onset >= onset_shown)
        text.put("  the note begins at " + fixed_text(from + a.stretch.onset, 2) +
                 " s; the search looked from there on\n");
    const double b = q.partials ? report_inharmonicity(report, rate) : 0;
    if (q.partials)
        text.put(b > 0 ? "  partials of a stiff string: inharmonicity B = " + sig_text(b, 3) + "\n"
                       : "  partials: no stiff string found (too few partials, or none lie "
                         "sharp); measured as harmonics\n");
    text.put("  " + kind_line(fits) + "\n");
    const std::vector<column> columns =
        table_columns(fits.shape.kind, fits.two_stage > 0, q.partials);
    std::vector<std::string> heads;
    for (const column& c : columns) heads.push_back(c.head);
    text.put(table_line(columns, heads, held ? "held, s" : "fitted, s"));

    const std::string vibrato_fields =
        p && p->vibrato ? fixed_text(p->vibrato_hz, 2) + "," + fixed_text(p->vibrato_cents, 1)
                        : ",";
    const std::string file_fields = csv_field(q.name) + "," + fixed_text(q.f0, 3) + "," +
                                    note.name + "," + fixed_text(note.exact_cents, 1) + "," +
                                    check_word(summary_verdict(q)) + ",";
    for (const harmonic_result& h : fits.found) {
        const row r = row_of(h, fits);
        std::vector<std::string> cells = {std::to_string(h.k), hz_text(h.freq)};
        // The partial's deviation from k times partial 1, in cents.
        if (q.partials) cells.push_back(signed_text(cents(h.freq, h.k * q.f0), 1));
        if (held) {
            for (const std::string* v : {&r.attack_shown, &r.held_shown, &r.sd_shown, &r.rate_shown,
                                         &r.release_shown, &r.release_from_shown})
                cells.push_back(shown_or_dash(*v));
        } else {
            for (const std::string* v : {&r.start_shown, &r.rate_shown, &r.t60_shown})
                cells.push_back(shown_or_dash(*v));
            if (fits.two_stage > 0)
                for (const std::string* v : {&r.rate2_shown, &r.knee_shown, &r.t60_2_shown})
                    cells.push_back(shown_or_dash(*v));
        }
        text.put(table_line(columns, cells, r.span + (r.said.empty() ? "" : " (" + r.said + ")")));
        if (!csv) continue;
        std::string reason = notes;
        if (!r.reason.empty()) reason += (reason.empty() ? "" : "; ") + r.reason;
        csv->put(file_fields + std::to_string(h.k) + "," + fixed_text(h.freq, 3) + "," + r.start +
                 "," + r.rate + "," + r.t60 + "," + r.from + "," + r.to + "," +
                 (q.partials ? sig_text(b, 4) : "") + "," + r.ci + "," + vibrato_fields + "," +
                 analysed_fields(a) + "," + csv_field(reason) + "," + (held ? "held" : "decaying") +
                 "," + r.attack + "," + r.peak + "," + r.held + "," + r.held_sd + "," + r.rate2 +
                 "," + r.ci2 + "," + r.knee + "," + r.release + "," + r.release_ci + "," +
                 r.release_from + "\n");
    }
    // Harmonics at or above half the sampling rate are not in the recording: said, a row each.
    int first_above = harmonics + 1;
    for (int k = harmonics; k >= 1 && !below_nyquist(k * q.f0, rate); --k) first_above = k;
    if (first_above > harmonics) return;
    const std::string above = "at or above half the sampling rate, " + hz_text(rate / 2.0) + " Hz";
    text.put("  " + std::string(first_above == harmonics ? "harmonic " : "harmonics ") +
             std::to_string(first_above) +
             (first_above == harmonics ? "" : " to " + std::to_string(harmonics)) + " (" +
             hz_text(first_above * q.f0) + " Hz" + (first_above == harmonics ? "" : " and up") +
             (first_above == harmonics ? ") lies " : ") lie ") + above +
             ": not in the recording\n");
    if (!csv) return;
    for (int k = first_above; k <= harmonics; ++k)
        csv->put(file_fields + std::to_string(k) + "," + fixed_text(k * q.f0, 3) + ",,,,,,,," +
                 vibrato_fields + "," + analysed_fields(a) + "," +
                 csv_field(notes + (notes.empty() ? "" : "; ") + above + ": not in the recording") +
                 "," + (held ? "held" : "decaying") + ",,,,,,,,,,\n");
}

void write_failed_row(const std::string& name, const analysis_info* info, const std::string& why,
                      output& csv) {
    std::string reason = why;
    if (info) {
        const std::string notes = recording_notes(*info);
        if (!notes.empty()) reason += "; " + notes;
    }
    csv.put(csv_field(name) + ",,,,,,,,,,,,,,,," + (info ? analysed_fields(*info) : ",,") + "," +
            csv_field(reason) + ",,,,,,,,,,,\n");
}
