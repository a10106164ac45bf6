#pragma once
// The summary of one note: a text block for the reader and, for many files at once, CSV rows of
// one harmonic each, under the header summary_columns (summary_columns.h).
//
// Levels are in dBFS (report_scale.h), each window's from that window's own frequency of the
// harmonic; harmonics at or above the Nyquist frequency are left out. Times come from the
// report's own time fields: a window's level belongs to its centre, halfway between its first
// and last grid point. A harmonic's start level is its decay line's value at the start of the
// first window fitted (fit_from_s), so that start level, rate and span describe one line.
//
// The note is described as it is played (envelope.h): a line says whether it is held or decaying;
// a held note's table gives each harmonic's attack, held level and swing, slope and release, a
// decaying note's its start level and rate, and, when it dies away in two stages, its
// aftersound's rate and knee.
//
// For a report that follows the pitch (harmtrace --follow), f0 is the pitch the note is held at
// (held.h); a line gives the vibrato, and one a bent attack, when there are; a pitch that glides
// by more than a semitone, or that the follower loses, makes the fundamental doubtful.
//
// For partials (harmtrace --partials), each line also gives the partial's deviation from k times
// partial 1 in cents, and a line gives the inharmonicity B, fitted to the median over the
// windows of each partial's frequency over partial 1's.

#include <cmath>
#include <string>
#include <vector>

#include "check.h"
#include "envelope.h"
#include "held.h"
#include "info.h"
#include "output.h"
#include "report.h"

struct summary_request {
    std::string name;  // the file as the user gave it
    analysis_info info;
    check_result check;
    double f0 = 0;
    bool partials = false;  // the report measures partials where they lie
    // For a report that follows the pitch: the held pitch (f0), the vibrato and the attack.
    const pitch_reading* pitch = nullptr;
};

// The windows in which some harmonic below the Nyquist frequency stands clear of its floor,
// within 40 dB of the note's loudest: where the note's pitch can be read.
std::vector<bool> note_windows(const report_table& report, int rate);

// Harmonic k + 1's level in dBFS in each window, from that window's own frequency; NaN where it
// has none (at or above the Nyquist frequency, or not in the window's block).
void harmonic_levels(const report_table& report, const analysis_info& a, int k, double* level);

// The analysed stretch, s in the recording.
double stretch_from(const analysis_info& a);
double stretch_to(const analysis_info& a);

// A harmonic below the Nyquist frequency as the summary gives it.
struct harmonic_result {
    int k = 0;
    double freq = 0;  // Hz, the median of its windows' frequencies
    harmonic_envelope env;
    bool has_level = false;  // a level: clear long enough, and not too weak
    std::string why;         // without a rate for its first stage, why: "never clear of the floor"
};

// Every harmonic's envelope, with the windows' times and the note's shape.
struct note_fits {
    std::vector<double> start, centre;  // each window's, s in the recording
    std::vector<harmonic_result> found;
    double strongest = 0;  // the highest level of a harmonic's run, dBFS (-inf when none)
    note_shape shape;      // the note's onset, kind, held part and release
    int two_stage = 0;     // harmonics that die away in two stages
};
// The windows from `lost` on (s in the stretch: where the pitch follower loses the note) are
// left out of every fit.
// Typical use: note_fits n = fit_note(table, info, request.check.lost_s);
note_fits fit_note(const report_table& report, const analysis_info& a, double lost = INFINITY);

// A stage's rate and its interval as the summary shows them: "-8.9 ± 0.4".
std::string rate_text(const stage& s);

// The line that says what kind of note it is, with its onset, held part and release.
std::string kind_line(const note_fits& fits);

// The pitch of a followed note read only up to where the follower loses it (s in the stretch),
// p itself when it does not.
pitch_reading pitch_until(const report_table& report, int rate, const pitch_reading& p,
                          double lost);

// What the summary says of a followed note's pitch (p may be null), a line each: a glide, where
// the follower loses the note (`lost`, s in the stretch), its vibrato and its bent attack;
// `from` is the stretch's start, s in the recording.
std::vector<std::string> pitch_notes(const pitch_reading* p, double from, double lost = INFINITY);

// The check's verdict as the summary gives it: a pitch that glides, or that the follower loses,
// is no pitch held, and the fundamental is doubtful.
verdict summary_verdict(const summary_request& q);

// The inharmonicity B of the partials in the report: 0 when they lie on the harmonics or no
// string fits them.
double report_inharmonicity(const report_table& report, int rate);

// Typical use: write_summary(table, request, out, &csv);  // csv may be null
void write_summary(const report_table& report, const summary_request& q, output& text, output* csv);

// The CSV row of a file that gave no summary: its name, what was analysed when that is known
// (info may be null), and the reason.
void write_failed_row(const std::string& name, const analysis_info* info, const std::string& why,
                      output& csv);

// What prepare noticed of the recording that the reader should know (data cut short, a silent
// or cancelling channel), as "; "-separated text, empty when nothing.
std::string recording_notes(const analysis_info& a);
