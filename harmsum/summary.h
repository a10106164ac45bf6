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
// For a report that follows the pitch (harmtrace --follow), f0 is the pitch the note is held at
// (held.h); a line gives the vibrato, and one a bent attack, when there are.
//
// For partials (harmtrace --partials), each line also gives the partial's deviation from k times
// partial 1 in cents, and a line gives the inharmonicity B, fitted to the median over the
// windows of each partial's frequency over partial 1's.

#include <string>
#include <vector>

#include "check.h"
#include "decay.h"
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
    decay_fit fit;
    bool has_level = false;  // a start level: clear long enough, and not too weak
    std::string rate_shown;  // "-8.9 ± 0.4" (dB/s), empty without a rate
    std::string why;         // without a rate, why: "never clear of the floor", ...
};

// Every harmonic's fit, with the windows' times.
struct note_fits {
    std::vector<double> start, centre;  // each window's, s in the recording
    std::vector<harmonic_result> found;
    double strongest = 0;  // the highest level of a harmonic's run, dBFS (-inf when none)
};
// Typical use: note_fits n = fit_note(table, info);
note_fits fit_note(const report_table& report, const analysis_info& a);

// What the summary says of a followed note's pitch (p may be null), a line each: its vibrato and
// its bent attack; `from` is the stretch's start, s in the recording.
std::vector<std::string> pitch_notes(const pitch_reading* p, double from);

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
