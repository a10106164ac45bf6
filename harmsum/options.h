#pragma once
// harmsum's command line:
//
//   harmsum prepare [-c N] [-t FROM:TO] --info INFO HEADER SAMPLES > MONO
//   harmsum summary --info INFO --name NAME [--hint] [--no-check] [--found HZ] [-s SECONDS]
//                   [--partials] [--follow] [--csv FILE] [--levels FILE] MONO REPORT
//   harmsum failed --name NAME --reason WHY [--info INFO] --csv FILE
//   harmsum columns
//   harmsum join TABLE ...
//   harmsum args [-c N] [-t FROM:TO]
//   harmsum name NAME

#include <string>
#include <vector>

#include "mono.h"

struct harmsum_options {
    enum {
        prepare,
        summary,
        failed,
        columns,
        join,
        check_args,
        show_name,
        help,
        version
    } command = help;
    stretch_request stretch;  // prepare, args: -c, -t
    std::string info, name, csv, levels, reason;
    bool hint = false, no_check = false;
    double found = 0;        // --found: the search's fundamental, when this run is at a candidate
    double search_from = 0;  // -s
    bool partials = false;   // --partials: the report measures partials where they lie
    bool follow = false;     // --follow: the report follows the pitch (harmtrace --follow)
    std::vector<std::string> files;
};

struct parsed_options {
    harmsum_options o;
    std::string error;  // empty when the arguments are good
};

parsed_options parse_options(const std::vector<std::string>& args);

// FROM:TO in seconds, either end left out, 0 <= FROM < TO <= max_seconds: -t of harmsum and of
// harmplot (which asks `harmsum args`).
constexpr double max_seconds = 1e7;
bool parse_stretch(const std::string& text, stretch_request& r);

// The help text, and the line a usage error ends with.
extern const char harmsum_usage[];
extern const char harmsum_usage_line[];
