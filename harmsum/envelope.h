#pragma once
// The note as it is played: each harmonic's level, window by window, described stage by stage.
//
// The note. Its level is the power of its harmonics together (the loudest ones weigh most); it
// stands clear where any harmonic does.
//
//   onset     in the first window whose level comes within onset_range_db (60 dB) of the
//             note's highest and onset_floor_db (10 dB) over the floor before it: a window
//             reaches that level as soon as it holds a little of the note, so the note begins
//             that share of the window (its power's share of the highest) before its end. The
//             floor is the lowest level before the highest (noise, or silence); a note that rises
//             from the recording's first window, already within the range, with no floor held
//             by two windows before it, begins with that window.
//   kind      held (the player keeps it going: bowed, blown, sung, an organ) or decaying (it
//             dies away from the attack on: plucked, struck). The note's level, smoothed by a
//             median of five windows, from the first window within 6 dB of its highest to the
//             last within 10 dB of it, is cut in thirds; the note decays when the median of the
//             last third lies under that of the first by more than held_fade_db_per_s (dB/s)
//             times the time between them. Medians, so that an attack's overshoot, a swing or
//             the start of a release do not decide it.
//
// Each harmonic, over its span (decay.h: the windows where it stands clear, from the end of its
// attack down to where it nears its floor), as a few straight lines of its level in dB against
// time, the number of them chosen by an information criterion:
//
//   main        the held part (held) or the prompt decay (decaying): a line
//   aftersound  (decaying only) a second sound that dies away clearly more slowly (a struck
//               string's coupled unison strings, its two polarisations) and takes over at the
//               knee. Where both sound the level is that of their sum: two sounds of one
//               frequency whose phases lie apart by an angle whose cosine is c have the power
//               A^2 + B^2 + 2 c A B, so the two lines and c (0 to 1: a quarter turn apart at
//               most) are fitted together (least squares, Levenberg and Marquardt); the knee is
//               where the two lines cross (the two sounds equally loud). Fitting two lines apart
//               bends both near the knee, where the sum lies up to 6 dB over each. Or the two
//               lines meet at a break (the louder of them: a sampled note's loop under its
//               volume envelope), the windows that straddle the knee left out of both.
//   release     the level falls clearly faster from a time on (the player stops, a damper
//               stops the string): from there the level follows the release's line; the two
//               cross at the release's start. The windows that straddle it (a window is a mean
//               over its eight periods) are left out of both.
//
// The lines to try come from the best split of the span into two and three straight pieces
// (least squares over a grid of at most split_grid breaks); each model is then fitted as above
// and scored by BIC = n_eff ln(RSS / n) + p ln(n_eff): p parameters (2 a line, 5 with an
// aftersound as a sum and 4 at a break, 2 more with a release), n windows, n_eff what the
// residuals of the most flexible model are worth (decay.h: the windows overlap and the level's
// ripple lasts). The model with the least BIC among those whose stages are real is taken: an
// aftersound that falls, at least knee_db_per_s more slowly than the prompt and at most at two
// thirds of its rate, with min_stage_windows on either side of its knee, and no sliver after it;
// a release at least knee_db_per_s and release_least_db_per_s faster than what comes before,
// over min_stage_windows, and no sliver unless it begins with the note's own. A noise floor under
// a single decay bends its last windows like a flat aftersound, but its knee would lie where the
// harmonic is no longer clear: no second stage is found in it.
//
// The span stops short of the floor (decay.h), but two lowest levels are no floor: a level still
// falling, with its noise (the ratio's distance from 1) more than floor_margin under it, where
// the recording ends, and one that plunges on after its run to floor_margin under the run's
// lowest within plunge_seconds (a release whose windows the loud harmonics' spread leaves
// unclear). There the stages are looked for up to the run's end. A note of one stage keeps
// decay.h's line over decay.h's span, window for window.
//
// A held note's held part starts once the note has sounded twice as long as the harmonic's
// attack took (the rise is then within about 1 dB; after the attack's peak, where the level
// comes within attack_db of its held level, when the attack overshoots by more than
// overshoot_db), and the held level is the median of the held part's windows, found again once
// with that start; their standard deviation is its swing. A harmonic whose held part covers
// under a quarter (fair_share) of the note's own has none, unless it falls by sliver_db or more
// from the first quarter of it on (the harmonic's own decay in a held note). A
// decaying note's prompt decay starts within attack_db of the harmonic's highest level.
//
//   attack      from the note's onset to where the level first comes within attack_within_db
//               (3 dB) of the held level (held) or the peak (decaying), between two windows
//               by a straight line, in a window where it stands clear (before, the onset of its
//               loud neighbours spreads over its bin): the order in which the harmonics rise is
//               a property of the instrument (brass: the upper ones later). 0 when the first
//               window already does.
//   rates       each stage's rate with its 95 % interval (decay.h: for the sum's two lines from
//               the fit's covariance, widened as a line's). No rate from a sliver: a stage gives
//               its rate only over min_fit_windows windows or more (min_stage_windows for one of
//               several) that fall by sliver_db or more, or last sliver_seconds and a quarter of
//               the note's own stage (for a held part and a release: the note's held part and
//               release).
//
// Times are those of the arrays given (s): windows' centres, where a window's level belongs.
// Typical use: note_shape s = read_note(start, centre, total, total_ratio, n);
//              harmonic_envelope e = fit_envelope(start, centre, level, ratio, n, s);

#include <limits>

#include "decay.h"

enum class note_kind { held, decaying };

constexpr double onset_range_db = 60, onset_floor_db = 10;
constexpr double held_fade_db_per_s = 3;
constexpr double attack_within_db = 3, overshoot_db = 3;
constexpr int split_grid = 256;
constexpr int min_stage_windows = 8;
constexpr double knee_db_per_s = 6, release_least_db_per_s = 10;
constexpr double sliver_db = 6, sliver_seconds = 0.25, fair_share = 0.25;

// One straight line of the level, dB against s.
struct level_line {
    double t = 0, level = 0, slope = 0;
    double at(double x) const { return level + slope * (x - t); }
};

// A stage of a harmonic's envelope.
struct stage {
    int first = -1, last = -1;  // its first and last window; first < 0 when there is none
    int windows = 0;            // windows its line was fitted to
    level_line line;
    double ci95 = 0;              // the half-width of the rate's 95 % interval, dB/s
    double from = 0, to = 0;      // s: the starts of its first and last window
    bool has_rate = false;        // its rate holds (not a sliver, enough windows)
    int needs = min_fit_windows;  // the windows a rate needs (fewer for one of several stages)
    bool found() const { return first >= 0; }
    double rate() const { return line.slope; }
};

struct harmonic_envelope {
    int windows = 0;  // usable windows in the harmonic's run; 0 when it is never clear for long
    double top_db = -std::numeric_limits<double>::infinity();  // the run's highest level
    double first_db = 0;  // the level of the main stage's first window
    double attack_s = std::numeric_limits<double>::quiet_NaN();  // s from the note's onset
    stage main, after, release;
    double knee = std::numeric_limits<double>::quiet_NaN();  // s: where the aftersound takes over
    double released = std::numeric_limits<double>::quiet_NaN();  // s: where the release begins
    double held_db = std::numeric_limits<double>::quiet_NaN();   // a held part's median level
    double held_sd = std::numeric_limits<double>::quiet_NaN();   // and its standard deviation
    // s of the note's held part that the harmonic's covers; under a fair share of it (unless it
    // falls by sliver_db or more from the first fair share of it on: a harmonic that dies away
    // in a held note), the harmonic has no held part (no held level, swing, slope or attack)
    double held_over = std::numeric_limits<double>::quiet_NaN();
    bool held_too_little = false;
};

struct note_shape {
    note_kind kind = note_kind::decaying;
    double onset = 0;  // s
    // The note's own held part (or prompt decay) and release, from its level as a whole: what a
    // harmonic's stage must cover a fair share of (0 long when there is none); where the release
    // begins (NaN without one), and its rate.
    double main_from = 0, main_to = 0, release_from = 0, release_to = 0;
    double released = std::numeric_limits<double>::quiet_NaN(), release_rate = 0;
};

// start, centre: the windows' start and centre (s); total: the note's level (dB) and
// total_ratio a ratio that stands clear (decay.h) where the note does, each n long.
note_shape read_note(const double* start, const double* centre, const double* total,
                     const double* total_ratio, int n);

// One harmonic's envelope: level (dB) and ratio (power / S) of each of the n windows.
harmonic_envelope fit_envelope(const double* start, const double* centre, const double* level,
                               const double* ratio, int n, const note_shape& note);
