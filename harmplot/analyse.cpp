#include "analyse.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "check.h"
#include "harmtrace/analysis.h"
#include "held.h"
#include "mono.h"
#include "note.h"
#include "output.h"
#include "picture.h"
#include "stiff_string.h"
#include "summary.h"

namespace {

// Samples this many times beyond full scale are none (take_wild_samples).
constexpr double wild_scale = 1000;
// A note that sounds for less is too short for its pitch to be told: the search looks at 64
// periods, a tenth of a second of a 440 Hz note.
constexpr double shortest_note_s = 0.1;

// "3 samples are no numbers or lie far beyond full scale (up to 1e+300 times it)".
std::string wild_text(const analysis_info& a) {
    return std::to_string(a.wild) +
           (a.wild == 1 ? " sample is no number or lies" : " samples are no numbers or lie") +
           " far beyond full scale" +
           (a.wildest > 0 ? " (up to " + sig_text(a.wildest, 3) + " times it)" : std::string());
}

// Samples that are no numbers, or lie more than wild_scale times beyond full scale (a float file's
// garbage: one sample of 1e300 would swamp every spectrum), are taken as 0; their count, and the
// largest beyond full scale into `wildest`.
long long take_wild_samples(double* x, long long n, double full_scale, double& wildest) {
    long long wild = 0;
    wildest = 0;
    for (long long i = 0; i < n; ++i)
        if (!std::isfinite(x[i]) || std::abs(x[i]) > wild_scale * full_scale) {
            if (std::isfinite(x[i])) wildest = std::max(wildest, std::abs(x[i]) / full_scale);
            x[i] = 0;
            ++wild;
        }
    return wild;
}

// v to `decimals` decimals, as a number printed so and read back: the note's onset to the
// millisecond where the search starts, a candidate to the microhertz.
double to_decimals(double v, int decimals) {
    char buf[400];
    const int n = std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    double r = v;
    std::from_chars(buf, buf + n, r);
    return r;
}

// Reads the stretch's frames a block at a time: each(block, n) for each block, in order.
template <class Each>
bool each_block(recording& rec, const stretch_result& r, std::string& why, Each each) {
    const long long channels = rec.facts.channels;
    const long long frames = std::max(1LL, block_samples / channels);
    std::vector<double> block(std::size_t(frames * channels));
    for (long long at = 0; at < r.count;) {
        const long long want = std::min(frames, r.count - at);
        const long long got = read_frames(rec, r.first + at, want, block.data(), why);
        if (got < 0) return false;
        each(block.data(), at, got);
        at += got;
        if (got < want) break;  // the recording ends sooner than its header said
    }
    return true;
}

// The analysed samples of the recording into x, as the options ask; what was analysed into
// info. False, with the reason.
bool prepare_samples(recording& rec, const plot_options& o, analysis_info& info,
                     std::vector<double>& x, std::string& why, bool& info_known) {
    const wav_facts& facts = rec.facts;
    if (!channel_exists(facts, o.stretch.channel, why)) return false;
    info.facts = facts;
    info.channel = o.stretch.channel;
    stretch_request want = o.stretch;
    stretch_result r = place_stretch(facts, want, facts.frames);
    if (want.channel == 0 && facts.channels > 1) {
        channel_energy e;
        e.energy.assign(std::size_t(facts.channels), 0.0);
        if (!each_block(rec, r, why, [&](const double* b, long long, long long n) {
                add_energy(e, b, n, facts.channels);
            }))
            return false;
        const channel_choice c = choose_channels(e);
        want.use = c.use;
        info.silent_channels = c.silent;
        info.cancel = c.cancel;
        // One channel left: analysed as -c names it.
        if (std::count(c.use.begin(), c.use.end(), true) == 1)
            info.channel = int(std::find(c.use.begin(), c.use.end(), true) - c.use.begin()) + 1;
    }
    x.resize(std::size_t(r.count));
    long long read = 0;
    if (!each_block(rec, r, why, [&](const double* b, long long at, long long n) {
            mix_frames(b, n, facts, want, x.data() + at);
            read = at + n;
        }))
        return false;
    x.resize(std::size_t(read));
    r.count = read;
    info.wild = take_wild_samples(x.data(), r.count, facts.full_scale, info.wildest);
    find_onset(x.data(), r.count, facts.rate, r);
    info.stretch = r;
    info_known = true;
    if (r.count == 0) {
        why = "nothing to analyse: the recording is " +
              std::to_string(double(r.frames) / facts.rate).substr(0, 6) + " s long";
        return false;
    }
    return true;
}

// harmtrace on the samples: its report into `table`. False, with the reason.
// `at` > 0: from that fundamental, rather than the search's.
bool trace(const std::vector<double>& x, int rate, double hint, double from, const plot_options& o,
           worker_pool& pool, report_table& table, std::string& why, double at = 0) {
    options opt;
    opt.rate = rate;
    opt.hint = hint;
    opt.start_seconds = from;
    opt.partials = o.partials;
    opt.follow = o.follow;
    note_analysis a;
    const int n = int(x.size());
    if (at > 0)
        analyse_note_at(x.data(), n, opt, at, pool, a);
    else
        analyse_note(x.data(), n, opt, pool, a);
    if (collect_report(x.data(), n, sampling_step(rate), report_plan_of(a, opt), pool, table))
        return true;
    why = "the report would hold more than " + std::to_string(max_report_windows) + " windows";
    return false;
}

}  // namespace

void analyse_recording(const byte_source& bytes, const std::string& name, const plot_options& o,
                       worker_pool& pool, bool picture, note_outcome& out) {
    out = {};
    auto fail = [&](std::string why) {
        out.reason = std::move(why);
        out.rows = failed_row(name, out);
    };
    recording rec;
    std::string why;
    std::vector<double> x;
    const bool opened = open_recording(bytes, rec, why);
    const bool prepared = opened && prepare_samples(rec, o, out.info, x, why, out.info_known);
    close_recording(rec);
    if (!prepared) return fail(why);

    const analysis_info& a = out.info;
    const int rate = a.facts.rate;
    // The search from the note's onset unless -s says otherwise.
    const double from = o.start >= 0              ? o.start
                        : a.stretch.onset >= 0.05 ? to_decimals(a.stretch.onset, 3)
                                                  : 0;
    auto no_note = [&](const std::string& reason) { fail("no note: " + reason); };
    if (a.stretch.silent)
        return no_note(a.wild > 0 ? "silence, but for " + wild_text(a) : "silence");
    const double sounding = double(x.size()) / rate - a.stretch.onset;
    if (sounding < shortest_note_s)
        return no_note("too short: " + fixed_text(sounding, 3) +
                       " s of sound from its onset, and a "
                       "pitch takes " +
                       fixed_text(shortest_note_s, 1) + " s to tell");
    if (from * rate >= double(x.size()))
        return no_note("nothing left after -s " + fixed_text(from, 2) + ": the stretch is " +
                       fixed_text(double(x.size()) / rate, 2) + " s long");
    plot_options use = o;  // as the note asks: one that goes its own way is not followed
    report_table& report = out.report;
    if (!trace(x, rate, o.hint, from, use, pool, report, why)) return fail(why);

    check_request q;
    q.followed = o.follow;
    q.search_from = from;
    q.hint = o.hint > 0;
    q.no_check = o.no_check;
    q.partials = o.partials;
    pitch_reading pitch;
    check_result c;
    // The check; the note analysed again from a better candidate's partials, or from the
    // partials of the one kept where they lie off it, each at most once.
    bool moved = false, refined = false;
    double drifted = 0;  // cents the followed pitch went off the partials' fundamental
    for (;;) {
        if (report.windows() == 0)
            return no_note("shorter than eight periods of the fundamental found");
        // A report harmtrace made gives its fundamental within the range of notes.
        if (!(report.freq[0] >= lowest_pitch / 2 && report.freq[0] <= highest_pitch * 2))
            return fail("harmonic 1 at " + sig_text(report.freq[0], 6) +
                        " Hz: not a fundamental harmtrace finds");
        // A report that follows the pitch: its fundamental is the pitch the note is held at.
        q.f0 = report.freq[0];
        if (use.follow) {
            pitch = read_pitch(report.t, note_windows(report, rate));
            if (pitch.held_hz > 0) q.f0 = pitch.held_hz;
            q.moving = pitch.vibrato || pitch.swing_cents > steady_cents;
            q.swing_cents = pitch.swing_cents;
        }
        c = check_fundamental(x.data(), long(x.size()), rate, report, q);
        // A pitch that moves (vibrato, drift) widens the averaged spectrum's peaks and moves
        // them: they tell nothing of a stiff string then, and strings that are stiff hold their
        // pitch.
        if (use.follow && pitch.swing_cents > steady_cents) c.sharp_b = 0;
        if (c.v == verdict::no_note) return no_note(c.why);
        double at = 0;
        if (c.v == verdict::rerun && !moved) {
            q.found_before = to_decimals(q.f0, 8);
            at = c.candidate;
            moved = true;
        } else if (c.v != verdict::rerun && c.refine > 0 && !refined) {
            at = c.refine;
            refined = true;
        } else if (c.v != verdict::rerun && c.refine > 0 && use.follow) {
            // Followed from the partials' fundamental, the pitch still goes its own way: the note
            // is measured at that fundamental alone.
            at = c.refine;
            use.follow = false;
            q.followed = false;
            drifted = cents(q.f0, c.refine);
        }
        if (at == 0) break;
        if (!trace(x, rate, o.hint, from, use, pool, report, why, at)) return fail(why);
    }
    if (c.v == verdict::rerun) return fail("the check found no fundamental it keeps");

    output text(out.summary), csv(out.rows);
    if (drifted != 0)
        c.lines += "  the pitch follower went " + fixed_text(std::abs(drifted), 0) + " cents " +
                   (drifted > 0 ? "sharp" : "flat") +
                   " of the partials: measured at their fundamental, " + hz_text(q.f0) +
                   " Hz, without following the pitch\n";
    if (a.wild > 0) {
        c.lines += "  " + wild_text(a) + ": taken as 0\n";
        c.remark += (c.remark.empty() ? "" : "; ") + wild_text(a) + " taken as 0";
    }
    out.followed = use.follow;
    const summary_request request{name, a, c, q.f0, o.partials, use.follow ? &pitch : nullptr};
    write_summary(report, request, text, &csv);
    text.flush();
    csv.flush();
    if (picture) {
        output levels(out.picture);
        write_picture(report, request, levels);
        levels.flush();
    }
    out.summarised = true;
}

std::string failed_row(const std::string& name, const note_outcome& out) {
    std::string row;
    output csv(row);
    write_failed_row(name, out.info_known ? &out.info : nullptr, out.reason, csv);
    csv.flush();
    return row;
}

std::vector<note_span> take_notes(const byte_source& bytes, const plot_options& o) {
    recording rec;
    std::string why;
    std::vector<note_span> notes;
    if (o.one_note || !open_recording(bytes, rec, why) || rec.facts.frames == 0) {
        close_recording(rec);
        return notes;
    }
    const wav_facts& facts = rec.facts;
    // The whole take, however long: only its notes are capped.
    stretch_result whole;
    whole.count = whole.frames = facts.frames;
    stretch_request want;
    want.channel = o.stretch.channel <= facts.channels ? o.stretch.channel : 0;
    bool read = true;
    if (want.channel == 0 && facts.channels > 1) {
        channel_energy e;
        e.energy.assign(std::size_t(facts.channels), 0.0);
        read = each_block(rec, whole, why, [&](const double* b, long long, long long n) {
            add_energy(e, b, n, facts.channels);
        });
        want.use = choose_channels(e).use;
    }
    take_pass pass;
    start_take(pass, facts.rate);
    std::vector<double> mono(static_cast<std::size_t>(block_samples));
    read = read && each_block(rec, whole, why, [&](const double* b, long long, long long n) {
               mix_frames(b, n, facts, want, mono.data());
               for (long long i = 0; i < n; ++i) mono[std::size_t(i)] /= facts.full_scale;
               add_take_samples(pass, mono.data(), n);
           });
    close_recording(rec);
    if (!read) return notes;
    end_take(pass);
    notes = find_notes(pass.hops);
    return notes.size() > 1 ? notes : std::vector<note_span>();
}

std::string with_note(const std::string& rows, int index, double from, double to) {
    std::string fields(1, ',');
    fields.append(std::to_string(index)).append(1, ',');
    if (from >= 0)
        fields.append(fixed_text(from, 4)).append(1, ',').append(fixed_text(to, 4));
    else
        fields.append(1, ',');
    std::string out;
    bool quoted = false;
    for (char c : rows) {
        if (c == '"') quoted = !quoted;
        if (c == '\n' && !quoted) out += fields;
        out += c;
    }
    return out;
}
