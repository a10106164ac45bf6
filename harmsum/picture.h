#pragma once
// The picture of one note: what `harmplot --levels` writes and plot.gp draws. Every
// number the picture shows, and every word about the note, is here, computed as the summary
// computes it; plot.gp only draws.
//
// Text, fields apart by tabs, in blocks apart by two empty lines (gnuplot's index 0, 1, ...). A
// line that begins with # is a comment; a number that is not there is NaN.
//
//   index 0, the picture: one item a line, its name first
//     title       TEXT          the recording as the summary names it (control bytes, and the
//                               double quote that gnuplot cannot read in a field, as \xNN), its
//                               note, cents and fundamental
//     kind        TEXT          the summary's line of what kind of note it is
//     time        FROM TO       s in the recording: the stretch analysed
//     level       BOTTOM TOP    dBFS: the level axis (below)
//     key         WORD          harmonic, or partial (--partials)
//     lost        FROM          s in the recording: where the pitch follower loses the note
//                               (check.h), nothing of it measured after; only when it does
//     pitch       BOTTOM TOP LABEL   cents: the pitch panel's axis; a followed note only
//     pitch_note  TEXT          what the summary says of its pitch (a glide, where the follower
//                               loses the note, its vibrato and bent attack); only when it says
//                               anything
//   index 1, the harmonics: a line each, 1 to 10
//     K LOOK LEGEND
//       LOOK fit    its level, and its stages (index 2)
//            faint  its level, drawn faint: no rate for its first stage (never clear of the
//                   floor, too weak, clear too briefly)
//            none   nothing to draw: at or above the Nyquist frequency, or not in the report
//       LEGEND "1: 220.0 Hz, -8.9 ± 0.4 dB/s", its stages' rates, or why there is no rate
//   index 2, the stages: a line each, the first the note's onset
//     K WHAT FROM_S FROM_DBFS TO_S TO_DBFS
//       WHAT onset       (K 0) a mark across the levels at FROM_S; the rest NaN
//            held        the held part's level, its median, from FROM_S to TO_S
//            swing       a band about it, FROM_DBFS to TO_DBFS: the median less and plus the
//                        standard deviation of its levels
//            decay       the prompt decay's line, from (FROM_S, FROM_DBFS) to (TO_S, TO_DBFS):
//                        the summary's fit_from_s and start_dbfs, its fit_to_s and the line
//                        there (for a held note, the held part's line)
//            aftersound  the aftersound's line, from the knee on
//            release     the release's line, from where it begins
//            attack      a mark where the attack ends, at (TO_S, TO_DBFS); FROM_S the onset
//            knee        a mark at the knee, at (TO_S, TO_DBFS)
//       a stage only where the summary gives its rate, and for harmonics drawn as fit
//   index 3, the windows: a line each
//     TIME LEVEL_1 .. LEVEL_10   the window's centre (s in the recording), where its level
//                                belongs, and each harmonic's level (dBFS)
//   index 4, the pitch: a followed note only, a line for each two periods in which it stands
//   clear (held.h), up to where the pitch follower loses the note
//     TIME CENTS                 their middle (s in the recording), their pitch from the held
//                                pitch
//
// The level axis spans the levels drawn: from 2 dB over the highest, down to picture_floor_db
// under the lowest at which a harmonic with a level stands clear (so that the floor it sinks into
// shows) but not below the lowest level drawn, out to whole 10 dB. The pitch axis spans the
// pitch, 2 cents beyond, at least pitch_least_cents either way, out to whole 5 cents.

#include "output.h"
#include "report.h"
#include "summary.h"

// The first line, a comment, by which a file of the picture's numbers is known.
constexpr char picture_heading[] =
    "# harmsum's picture of one note (harmsum/picture.h): the picture, the harmonics, the "
    "windows, the pitch";

constexpr double picture_floor_db = 20;
constexpr double pitch_least_cents = 10;

// Typical use: write_picture(table, request, out);
void write_picture(const report_table& report, const summary_request& q, output& out);
