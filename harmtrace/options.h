#pragma once
// harmtrace's command line: the sampling rate of the input, a hint for the
// fundamental, the time from which the search looks at the input, and the
// number of threads (which changes no result).

#include <string>

#include "constants.h"

struct options {
    enum class action { run, help, version, usage_error };
    action what = action::run;
    std::string error;         // what was wrong, for usage_error
    int rate = default_rate;   // -r: samples per second, 1000 .. 1000000
    double hint = 0;           // -f: the fundamental is near this (Hz); 0 for no hint
    double start_seconds = 0;  // -s: the search gets the input from this time on
    int threads = 0;           // -j: threads to use, 1 .. 1024 (at most one per core); 0 for
                               // one per core
    bool partials = false;     // --partials: each partial measured where it lies
    bool follow = false;       // --follow: each window measured at its own fundamental
};

// Reads argv[1 .. argc-1]: -r RATE, -f HZ|NOTE, -s SECONDS, -j THREADS (each also
// written without the blank, -r48000), --partials, -h or --help, --version. A later option
// overrides an earlier one; anything else is a usage error.
// Typical use: const options o = parse_options(argc, argv);
options parse_options(int argc, const char* const* argv);

// Frequency of a note name: a letter A-G (either case), an optional # or b
// and an octave 0-9, in equal temperament with A4 = 440 Hz. 0 when `s` is
// not such a name.
double note_frequency(const std::string& s);

// -f's value: a note name or a frequency of digits and a point, from lowest_hint to
// highest_hint; 0 otherwise.
double parse_hint(const std::string& s);

// -s's value: digits with at most one decimal point, at least one digit; no sign, no exponent,
// nothing else. -1 otherwise.
double parse_decimal(const std::string& s);

// What a bad -f or -s is told.
extern const char* const hint_error;
extern const char* const start_error;

// Index of the first sample the search gets: round(start_seconds * rate),
// at most nx0 (then the search gets no samples).
int search_start(const options& o, int nx0);

// One line naming the options, and the text of --help.
extern const char* const usage_line;
extern const char* const help_text;
