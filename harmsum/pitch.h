#pragma once
// Which note sounds, read from an averaged power spectrum (welch.h) by a harmonic
// sieve, independently of the fundamental search: the check of a found fundamental weighs the two.
//
// A candidate fundamental f is scored by how well its harmonics explain the spectrum's peaks:
//
//     score(f) = explained * filled
//     explained  the amplitude of the peaks that lie near a harmonic k f, k = 1 .. K, over the
//                amplitude of all peaks from f / 4 to (K + 1/2) f, the peaks below f among them
//                (further below lies no harmonic of a tone an octave or a twelfth under f, and a
//                tone of its own so far under the note, a hum, is no part of it; by power, weak
//                odd harmonics beside strong even ones would count for too little)
//     filled     the share of the K harmonics that have a peak near them
//
// with K the number of harmonics of f up to the highest peak (at most 10). The right fundamental
// explains every peak with every harmonic (1); an octave too high explains only the even
// harmonics, an octave too low leaves every other harmonic empty (both about 1/2).

#include <vector>

struct peak {
    double freq;   // Hz, refined between bins
    double power;  // of the peak bin
};

// Peaks of a power spectrum (bins 0 .. n-1, bin width df Hz) above 20 Hz: local maxima that
// stand at least 15 dB above the median of the bins within 12 % of their frequency and lie
// within 50 dB of the strongest. The frequency is the vertex of the parabola through the log
// powers of the peak bin and its two neighbours.
std::vector<peak> spectral_peaks(const std::vector<double>& power, double df);

// The score above; 0 when no harmonic of f lies at or below the highest peak. `spread`: the share
// of its frequency a moving pitch (vibrato, drift) smears a harmonic's peak over, which widens its
// slot beyond 3 %.
double harmonic_score(const std::vector<peak>& peaks, double f, double spread = 0);

struct fundamental_guess {
    double f = 0;      // Hz; 0 when there are no peaks
    double score = 0;  // of f, 0 to 1
};

// The best-scoring candidate among the ten strongest peaks divided by 1 to 10 (and `extra`,
// when positive), candidates below 20 Hz left out; a tie goes to the higher frequency. The
// frequency is refined on the lowest harmonic whose peak has at least a tenth of the power of
// the strongest harmonic's.
// Typical use: fundamental_guess g = best_fundamental(spectral_peaks(p, df), f0);
fundamental_guess best_fundamental(const std::vector<peak>& peaks, double extra = 0,
                                   double spread = 0);

// The share of the amplitude of the peaks up to harmonic 10 of f that its harmonics k not a
// multiple of m explain: what tells f from m f, whose harmonics are f's multiples of m. Near 0
// when f is a subharmonic of the tone (m f the note), well over it when f is the note.
double harmonic_share(const std::vector<peak>& peaks, double f, int m, double spread = 0);

// The peaks from f / 4 (further under it, a hum is no partial of the tone) to 8.5 f within
// `within` of the strongest's power that lie more than f / 10 off
// every harmonic of f (or than the share `spread` of it that a moving pitch smears it over): a
// bar's, a bell's, a membrane's partials, or another note's.
std::vector<peak> unharmonic_peaks(const std::vector<peak>& peaks, double f, double within,
                                   double spread = 0);

// The notes of a chord, lowest first, read from the peaks within 20 dB of the strongest: each
// note the lowest of them that no lower note's harmonics explain (nor lie within twice the slot
// of one, as a vibrato's extremes do), heading a series of at least three of them near its
// harmonics (its own or shared with a lower note's). A chord when two to four such notes explain
// every one of them up to 8 times the lowest. A single tone is none: the notes its harmonics seem
// to form leave a harmonic no series explains (a missing fundamental's 5th or 7th), as the partials
// of a bar or a bell do. count = 0 when no chord. `spread` as for harmonic_score. Typical use:
// chord ch = chord_of(spectral_peaks(p, df)); if (ch.count > 1) ...
constexpr int chord_most = 4;
struct chord {
    int count = 0;
    double f[chord_most] = {};  // Hz, each note's lowest partial
};
chord chord_of(const std::vector<peak>& peaks, double spread = 0);

// How many of the peaks lie within `share` of a harmonic k f, k >= 1.
int series_members(const std::vector<peak>& peaks, double f, double share);

// The harmonic number on which best_fundamental refines f, and that harmonic's peak frequency;
// k = 0 when no harmonic of f has a peak.
struct refined_harmonic {
    int k = 0;
    double freq = 0;
};
refined_harmonic refining_harmonic(const std::vector<peak>& peaks, double f);

// Where the partials of a note near `near` Hz put its fundamental: harmonics 1 .. 10 looked for
// among the peaks, each in its slot about k times the estimate of those below it, fitted as a
// stiff string's (stiff_string.h: partial 1 of the fit, F sqrt(1 + B)) when three or more are
// found and the fit is a string, else the least-squares k f that the found ones give. The
// frequency resolved to a fraction of a cent by the many partials of a long averaged spectrum,
// where the search's trials, which look at harmonic 1 alone, may land beside a weak one. 0 with
// fewer than two partials found, or when a fitted string leaves one more than 10 cents off
// (partials that are no string's, nor harmonics: a bar's, a bell's); `count` tells how many.
// Typical use: double f1 = partials_fundamental(peaks, 82.4, count);
double partials_fundamental(const std::vector<peak>& peaks, double near, int& count);

// The frequency of the strongest bin within 60 cents of `near` in a power spectrum, refined as
// above; 0 when the range holds no interior maximum.
double peak_near(const std::vector<double>& power, double df, double near);
