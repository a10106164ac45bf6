#pragma once
// harmtrace's report of an input as text, and its lines and fields, for the tests.
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "constants.h"
#include "output.h"
#include "report.h"
#include "report_layout.h"

// The report of x0 (sampled with step dt0) at the fundamental f0 and the search's step dt.
inline std::string report_text(const std::vector<double>& x0, double f0, double dt, int workers = 1,
                               double dt0 = default_dt0) {
    std::string text;
    output out(text);
    worker_pool pool(workers);
    harmonic_report(x0.data(), int(x0.size()), dt0, f0, dt, out, pool);
    out.flush();
    return text;
}

inline std::vector<std::string> lines_of(const std::string& s) {
    std::vector<std::string> v;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
}

// Field f of a report line, as text and as a number.
inline std::string field(const std::string& line, report_field_name f) {
    return line.substr(std::size_t(report_fields[f].first), std::size_t(report_fields[f].width));
}
inline double number(const std::string& line, report_field_name f) {
    return std::stod(field(line, f));
}

// Sizes of the successive blocks: a block starts at each harmonic 1.
inline std::vector<int> block_sizes(const std::vector<std::string>& lines) {
    std::vector<int> sizes;
    for (const std::string& l : lines) {
        if (number(l, harmonic) == 1) sizes.push_back(0);
        ++sizes.back();
    }
    return sizes;
}
