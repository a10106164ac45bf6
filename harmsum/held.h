#pragma once
// The pitch a followed note is held at, its vibrato and its attack, read from harmtrace
// --follow's report.
//
// A followed report's windows start every two periods of the note's own pitch, so the times at
// which they start give the pitch: f_j = 2 m / (t_{j+m} - t_j), at the middle of the 2 m periods,
// m windows' steps that last 20 ms at least (the times carry a microsecond: a tenth of a cent
// over 20 ms).
//
//   vibrato  over the note held, after the first 0.3 s (or third) that may hold the attack, the
//            pitch in cents is fitted by a quadratic (a drift) plus a sine of 3 to 9 Hz; the sine
//            is a vibrato when it swings at least vibrato_least cents either side, explains at
//            least half of what the drift leaves, and makes two swings or more. Its extent is
//            the sine's amplitude (half the peak-to-peak swing), put back for the 2 m periods'
//            mean, which takes sinc(rate 2 m / f) of it away.
//   vibrato  (as above, segment by segment: the pitch over 0.75 s at a time, a third apart; a
//            real vibrato wanders in rate and extent, and a sampled instrument's loop breaks
//            its phase. There is a vibrato when half the segments or more hold one; its rate and
//            extent are their medians.)
//   attack   the pitch less the held pitch and the vibrato: the attack starts at its value in
//            its second step (the first two periods lie before the first frame that measured
//            the pitch), and settles where the pitch first stays within
//            max(5 cents, three times the wander of the held note) for 0.1 s.
//   held     the median of the pitch less the vibrato, after the attack.

#include <vector>

struct pitch_reading {
    double held_hz = 0;  // 0 when the note never stands clear
    bool vibrato = false;
    double vibrato_hz = 0, vibrato_cents = 0;
    double attack_cents = 0;  // the attack's start against the held pitch, vibrato aside
    double settled_s = 0;     // when it settles, in the report's time
    bool bent = false;        // the attack lies more than bent_attack_cents off, and further
                              // than the held note wanders
    double swing_cents = 0;   // how far the held note's pitch moves: half the range from its
                              // 5th to its 95th percentile, vibrato and drift included
    // A pitch that glides (or steps) over more than glide_cents, vibrato aside, from its 5th to
    // its 95th percentile: no one pitch is held. From and to: the medians of the pitch over the
    // first and the last tenth of the note.
    bool glides = false;
    double glide_from_hz = 0, glide_to_hz = 0;
};

constexpr double vibrato_least = 4;                        // cents either side
constexpr double vibrato_lowest = 3, vibrato_highest = 9;  // Hz
constexpr double bent_attack_cents = 10;                   // a bend worth a line
constexpr double steady_cents = 3;   // a held note whose pitch swings less holds still
constexpr double glide_cents = 100;  // a semitone

// The pitch over each step of m windows (2 m periods, at least 20 ms: see above) in which the
// note stands clear (present in every window of the step and the next): f in Hz at times s, the
// middle of the step. Returns m.
// Typical use: stepped_pitch(table.t, clear, s, f);
int stepped_pitch(const std::vector<double>& t, const std::vector<bool>& present,
                  std::vector<double>& s, std::vector<double>& f);

// t: the windows' start times (s, rising), present: the windows in which the note stands clear.
// Typical use: pitch_reading p = read_pitch(table.t, clear);
pitch_reading read_pitch(const std::vector<double>& t, const std::vector<bool>& present);
