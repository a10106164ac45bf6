#pragma once
// The windowed harmonic report: the whole input resampled at the found
// fundamental, cut into windows of 8192 grid points (eight periods) that
// advance by 2048 (two periods), and for each window one report line per
// harmonic 1..10 found in its spectrum.

#include <cstdint>

#include "fft.h"
#include "output_buffer.h"

// Number of points of the final grid: trunc(nx0 * dt0 / dt).
std::int64_t final_grid_points(int nx0, double dt0, double dt);

// Frequencies of bins 2..4096 of a window (1-based; the same for every window).
void window_frequencies(double dt, double* frq);

// The report lines of window w (0-based) from its grid values x1[0..8191],
// which are overwritten. Returns the number of characters written at out
// (at most 10 lines of 99). `fast` computes only the bins the lines read.
int window_report(double* x1, std::int64_t w, double f0, double dt, const double* frq, char* out,
                  spectrum_work& work, bool fast);

// Writes the report for the input x0[0 .. nx0-1], sampled with step dt0. The final grid is made as
// a stream, a window at a time, so a grid of any length takes the same memory. Stops early when the
// output fails (out.failed). Uses `threads` workers.
void harmonic_report(const double* x0, int nx0, double dt0, double f0, double dt,
                     output_buffer& out, bool fast = true, int threads = 1);
