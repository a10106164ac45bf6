#pragma once
// harmtrace's report read back as a table: one row per window, one column per harmonic.

#include <string>
#include <vector>

#include "record_reader.h"
#include "report_scale.h"

struct report_table {
    double freq[harmonics] = {};  // Hz, harmonic k + 1 where the report first gives it; 0 if never
    // Each window's times, s: of its first and its last grid point.
    std::vector<double> t, t_last;
    // [w * harmonics + k]: frequency, power and power / S of harmonic k + 1 in window w; NaN
    // where the window's block ends before it.
    std::vector<double> frequency, power, ratio;
    int windows() const { return int(t.size()); }
    std::size_t at(int w, int k) const { return std::size_t(w) * harmonics + std::size_t(k); }
    double centre(int w) const { return (t[std::size_t(w)] + t_last[std::size_t(w)]) / 2; }
};

// Reads report lines in harmtrace's layout until the end of input; a line of harmonic 1 opens a
// window. False, with the reason in `why`, on any other line or a harmonic out of order.
// Typical use: record_reader in; open_reader(in, fd); read_report(in, table, why);
bool read_report(record_reader& in, report_table& r, std::string& why);
