#pragma once
// The partials of a stiff string, measured where they lie (harmtrace --partials).
//
// A stiff string's partials lie sharp of the harmonics, f_k = k F sqrt(1 + B k^2), with an
// inharmonicity B of about 1e-4 to 1e-3 on pianos and guitars: above the sixth or seventh
// partial, k f0 falls between the report's bins, and the window measures the partial's leakage.
// So, after the search:
//
// 1. Locate: in the averaged Hann spectrum of a long stretch of the note (from the search's
//    start, up to 2^19 samples in frames of up to 2^16), partial k is the peak within 25 cents
//    of where the partials located so far put it (k f0 at first): at least 2.5 bins where the
//    bins are coarser, at most f0 / 4, and above the peak of the partial below, so that no two
//    partials share a peak. It must stand 10 dB or more over the median of the bins within
//    f0 / 2 and within 80 dB of the strongest bin; its frequency is the vertex of the parabola
//    through the log powers around it.
// 2. Fit: (f_k / k)^2 = F^2 + F^2 B k^2 is a straight line in k^2 (stiff_string.h); its
//    least-squares fit over the located partials gives B, once more without the partials more
//    than 5 cents off it. A partial not located lies where the fit puts it. The fit describes no
//    string, and every partial lies at k f0 (measured as the plain report measures the
//    harmonics, B = 0), when fewer than three partials are located, or the line's intercept is
//    not positive, or B comes out negative or above 0.01 (the tenth partial more than half an
//    octave sharp: stray peaks, not a string). So every frequency is finite and positive.
// 3. Measure: partial k is measured window by window as harmonic k is, on a grid of its own
//    whose step dt_k = (1 / 1024) / (f_k / k) puts f_k exactly on bin 8k + 1 of an 8192-point
//    window: the same formulas, in the same precision, as for an exact harmonic. The window of
//    grid k nearest in time to the report's window w starts at point round(2048 w dt / dt_k) + 1;
//    each line keeps the times of the report's window, so the blocks stay aligned.

#include "constants.h"
#include "output.h"
#include "parallel.h"

struct partial_set {
    double freq[harmonics + 1] = {};   // freq[k]: where partial k lies, Hz (1-based)
    bool located[harmonics + 1] = {};  // seen as a peak, rather than placed by the fit
    int located_count = 0;
    double b = 0;  // the inharmonicity, 0 to 0.01; 0 when the fit describes no string
};

// Where partials 1 .. harmonics of a note whose fundamental lies near f0 are, from the input
// x0[0 .. nx0-1] sampled with step dt0 (the part the search looked at).
// Typical use: partial_set p = locate_partials(x0 + s0, nx0 - s0, dt0, s.f0);
partial_set locate_partials(const double* x0, int nx0, double dt0, double f0);

// The report of harmonic_report (report.h), each partial measured where p puts it: ten lines a
// window, with the report's times and the partial's bin frequency.
// Typical use: partial_report(x0, nx0, dt0, s.dt, p, out, pool);
void partial_report(const double* x0, int nx0, double dt0, double dt, const partial_set& p,
                    output& out, worker_pool& pool);
