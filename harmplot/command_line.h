#pragma once
// harmplot's command line:
//
//   harmplot [-f HZ|NOTE] [-s SECONDS] [-t FROM:TO] [-c N] [-o DIR] [-j N] [--no-check]
//            [--partials] [--fixed] [--force] [--levels] [--one-note] [--summary FILE] FILE ...

#include <string>
#include <vector>

#include "mono.h"

struct plot_options {
    double hint = 0;          // -f, Hz; 0 for none
    double start = -1;        // -s, s from the stretch's start; negative for the note's onset
    stretch_request stretch;  // -c, -t
    std::string outdir;       // -o; empty: beside each file
    int jobs = 0;             // -j; 0: one per core
    bool no_check = false, partials = false, follow = true;
    bool force = false;     // --force: replace files where tables and pictures go
    bool levels = false;    // --levels: also write each picture's numbers
    bool one_note = false;  // --one-note, or -t: the recording is one note
    std::string summary;    // --summary
    std::vector<std::string> files;
};

struct parsed_command {
    enum { run, help, version, usage_error } what = run;
    plot_options o;
    std::string error;  // for usage_error
};

// Reads the arguments after the program's name. Options and files may come in any order; `--`
// ends the options. A later option overrides an earlier one.
// Typical use: parsed_command c = parse_command(std::vector<std::string>(argv + 1, argv + argc));
parsed_command parse_command(const std::vector<std::string>& args);

// -t's FROM:TO in seconds, either end left out, 0 <= FROM < TO <= max_seconds.
constexpr double max_seconds = 1e7;
bool parse_stretch(const std::string& text, stretch_request& r);

extern const char harmplot_usage_line[];
extern const char harmplot_help[];
