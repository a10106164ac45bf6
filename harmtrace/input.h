#pragma once
// The input phase: one sample per line of the text sample stream.

#include "constants.h"
#include "record_reader.h"

// Input times lie at (i - 1) * dt0 for sample i, one multiplication each.
// dt0 is a single-precision step (sampling_step), so the product of its 24-bit
// significand and i - 1 < 2^22 is exact in double: plain double arithmetic
// gives the same value as extended precision.
inline double input_time(int i, double dt0) {
    return double(ext(i - 1) * dt0);
}

// Reads up to `cap` samples into x0[0..], the first value of each line.
// Returns the number read; `status` is end_of_input when the input ran out,
// ok when the cap was reached (the rest left unread), or the error.
int read_samples(record_reader& in, double* x0, int cap, read_status& status);

// The statement numbers that harmtrace's messages name: the sample read and the report write.
constexpr int read_statement = 20;
constexpr int write_statement = 143;

// The input phase of the program: up to max_samples samples from standard
// input into x0. On a malformed number or a failed read, writes the fatal
// input error report (naming read_statement) to stderr and returns -1.
int read_standard_input(double* x0);
