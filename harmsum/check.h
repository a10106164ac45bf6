#pragma once
// The check of a found fundamental: does a note sound at all, and is it the one found?
//
// The evidence is an averaged spectrum of the analysed samples read by a harmonic sieve
// (pitch.h), and the report itself. Silence, a spectrum in which no harmonic tone stands out of
// the noise, or a tone outside the search's range is no note. A fundamental the sieve places
// more than a semitone from the found one, whose harmonics explain the spectrum clearly better
// (by at least 0.2 in score, and to at least 0.5), is taken instead: harmplot runs the search
// again near it. A candidate that does not convince leaves the found one, called doubtful. A
// found fundamental that the sieve confirms may still come from a bent attack: unless the report
// follows the pitch, its pitch is compared with the sustained pitch, measured after the 64
// periods the search looked at, and a later start for the search suggested.
//
// The same spectrum tells a stiff string: partials that run sharp, f_k = k F sqrt(1 + B k^2)
// (stiff_string.h), each found within 3 % of where those below it put it. When four or more are
// found and the fit puts one more than a quarter of a report bin (f0 / 32) off k f0, the report
// measures it off its peak, and the summary suggests --partials.

#include <limits>
#include <string>

#include "report.h"

enum class verdict {
    ok,         // the search's fundamental kept
    corrected,  // the search's was wrong; this is the run at a better candidate
    doubtful,   // kept, with a warning
    hint,       // the user's -f, and nothing contradicts it
    rerun,      // run the search again near `candidate`
    no_note,    // nothing to summarise; `why` says so
};

struct check_request {
    double f0 = 0;            // the found fundamental: the bin of harmonic 1
    double search_from = 0;   // -s, seconds from the stretch's start
    bool hint = false;        // the user gave -f
    bool no_check = false;    // keep the search's fundamental unweighed
    double found_before = 0;  // > 0: this run is at a candidate, and the search had found this
    bool partials = false;    // the report measures partials where they lie (--partials)
    bool followed = false;    // the report follows the pitch: a bent attack needs no -s
    // The followed pitch moves (vibrato, drift): the averaged spectrum's peaks widen and move
    // with it, and tell the fundamental less well than the pitch followed. swing_cents: how far
    // (held.h), which widens the slots of the sieve.
    bool moving = false;
    double swing_cents = 0;
};

struct check_result {
    verdict v = verdict::ok;
    double candidate = 0;  // Hz, for rerun
    std::string why;       // for no_note
    std::string lines;     // what the summary says of the fundamental (may be empty)
    // Without --partials: the inharmonicity of partials that run sharp of the report's bins (a
    // stiff string, whose upper partials the report measures off their peaks), else 0.
    double sharp_b = 0;
    // A followed report: where (s in the stretch) the pitch follower loses the note, its pitch
    // moving faster than it follows: from there the harmonics' share of the recording's power
    // falls under half of what it was, while the recording stays loud. Infinite when it does not.
    double lost_s = std::numeric_limits<double>::infinity();
    // The fundamental the partials give (pitch.h, partials_fundamental) when the one found lies
    // more than refine_cents off it: the note is then analysed again from there. 0 when not.
    double refine = 0;
    // What the summary table's reason says of the note besides (an absent fundamental, two
    // notes at once, partials far from harmonic); empty when nothing.
    std::string remark;
};

// A fundamental this far from where the partials put it is analysed again from there.
constexpr double refine_cents = 3;

// x: the n analysed samples at `rate`; report: harmtrace's report at f0.
// Typical use: check_result c = check_fundamental(x.data(), n, 44100, table, {.f0 = 220.05});
check_result check_fundamental(const double* x, long n, int rate, const report_table& report,
                               const check_request& q);

// The search's scan: quarter tones from 27.5 to 1760 Hz. A note the sieve finds beyond it, within
// lowest_pitch .. highest_pitch (report_scale.h), is analysed from its partials.
constexpr double lowest_note = 27.5, highest_note = 1760;
