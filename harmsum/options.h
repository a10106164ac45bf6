#pragma once
// harmsum's command line:
//
//   harmsum prepare [-c N] [-t FROM:TO] --info INFO HEADER SAMPLES > MONO
//   harmsum summary --info INFO --name NAME [--hint] [--no-check] [--found HZ] [-s SECONDS]
//                   [--csv FILE] MONO REPORT

#include <string>
#include <vector>

#include "mono.h"

struct harmsum_options {
    enum { prepare, summary, help, version } command = help;
    stretch_request stretch;  // prepare: -c, -t
    std::string info, name, csv;
    bool hint = false, no_check = false;
    double found = 0;        // --found: the search's fundamental, when this run is at a candidate
    double search_from = 0;  // -s
    bool partials = false;   // --inharmonicity: the report measures partials where they lie
    double b = 0;            // their inharmonicity
    std::vector<std::string> files;
};

struct parsed_options {
    harmsum_options o;
    std::string error;  // empty when the arguments are good
};

parsed_options parse_options(const std::vector<std::string>& args);

// The help text, and the line a usage error ends with.
extern const char harmsum_usage[];
extern const char harmsum_usage_line[];
