#pragma once
// The notes of a take: a recording of several notes (a scale, a phrase, a string plucked again
// and again) cut into one stretch a note, each then analysed as its own recording would be.
//
// One pass over the take, as it is read, measures every hop of take_hop seconds:
//   level   the mean square of the samples of the last level_hops hops, in dB
//   pitch   every pitch_hops hops, by the difference function of YIN (de Cheveigne and
//           Kawahara) over frames of take_frame seconds, lags up to a period of take_lowest_hz,
//           on the samples averaged down to take_pitch_rate or under; the lag whose normalised
//           difference first
//           falls under yin_threshold (else the least), refined by a parabola; none where even
//           the least lies above unvoiced_difference
// and the notes are read from them:
//   onset   the level rises by onset_rise_db within onset_within seconds, to within
//           note_range_db of the take's loudest hop, after it has fallen by onset_dip_db from
//           the highest since the last onset: by gap_db or more (a gap between two notes),
//           slowly (a pluck dying and plucked again: it fell by less than onset_rise_db over
//           fall_seconds before the rise), or into another pitch. A dip that falls fast and
//           not deep into a rise to the same pitch is a sampled note's loop or a tremolo.
//   step    the pitch, each hop the median over step_median hops, moves by more than
//           step_cents within step_within seconds and holds there, within hold_cents, for
//           hold_seconds, the level within note_range_db of the loudest: a legato note change.
//           A vibrato (the median spans more than one of its periods), a glide (slower) or a
//           bent attack (within attack_seconds of an onset) is no step, nor a leap to a
//           harmonic of the pitch or from one, k = 2 to highest_leap (an octave, an octave and
//           a fifth, ...: a weak fundamental can fake it, or a harmonic that outlasts the
//           others), without an onset, nor a leap up beyond an octave after which the whole
//           period (period_hz) stays the old pitch's. The median spans a
//           quarter of a second: a note held shorter than half of that is not told by its pitch.
//           The step lies after the last hop that still has the old note's pitch.
//   end     a note ends at the next note's start, or where the level stays silent for
//           silence_seconds: its tail and reverberation stay the note's.

#include <vector>

constexpr double take_hop = 0.01;  // s
constexpr int level_hops = 4;
constexpr double take_frame = 0.04;
constexpr double take_lowest_hz = 27;
constexpr int take_pitch_rate = 12000;  // at most
constexpr int pitch_hops = 2;           // a pitch every pitch_hops hops
constexpr double yin_threshold = 0.15, unvoiced_difference = 0.4, period_margin = 0.05;
constexpr double onset_rise_db = 12, onset_within = 0.05, onset_dip_db = 6;
constexpr double gap_db = 25, fall_seconds = 0.1;
constexpr double onset_begun_db = 2;  // an onset lies where the rise has come this far
constexpr double note_range_db = 45, silence_db = 12, silence_seconds = 0.15;
constexpr double step_cents = 70, step_within = 0.06, hold_cents = 40, hold_seconds = 0.1;
constexpr int step_median = 25;
constexpr int highest_leap = 8;
constexpr double attack_seconds = 0.15;
constexpr double shortest_note = 0.1;

// What the pass measures, hop by hop.
struct take_hops {
    int rate = 0;
    std::vector<float> level_db;  // -inf for a hop of zeros
    std::vector<float> pitch_hz;  // 0 where there is none
    // The frame's whole period as a frequency: the shortest lag whose difference comes within
    // period_margin of the least. A note's harmonics whose lowest have died keep the note's
    // period there, where the pitch (the first dip under yin_threshold) may take a shorter one.
    std::vector<float> period_hz;
};

// The pass itself, fed the take's samples as they are read.
struct take_pass {
    take_hops hops;
    int factor = 1;                     // samples averaged into one for the pitch
    long hop = 0, frame = 0, lags = 0;  // in the pitch's samples
    double hop_exact = 0;               // the same hop, unrounded
    long first_frame = 0;               // the hop of the first frame's pitch
    long level_hop = 0;                 // in the take's samples
    double recent[level_hops] = {};     // the last hops' sums of squares
    double level_sum = 0;
    long level_count = 0;
    double down_sum = 0;
    int down_count = 0;
    std::vector<double> pending;  // the pitch's samples not yet past a whole hop
};

// Typical use: take_pass p; start_take(p, 44100); add_take_samples(p, x, n); ... end_take(p);
void start_take(take_pass& p, int rate);
void add_take_samples(take_pass& p, const double* x, long n);
void end_take(take_pass& p);

struct note_span {
    double from = 0, to = 0;  // s from the take's start
};

// The notes of the hops measured; one note from start to end when none begins again.
std::vector<note_span> find_notes(const take_hops& h);
