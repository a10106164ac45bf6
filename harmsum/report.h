#pragma once
// harmtrace's report read back as a table: one row per window, one column per harmonic.

#include <string>
#include <vector>

#include "record_reader.h"

constexpr int report_harmonics = 10;

struct report_table {
    double freq[report_harmonics] = {};  // Hz, the bin of harmonic k + 1; 0 if never found
    std::vector<double> t;               // each window's start time, s
    // [w * report_harmonics + k]: power and power / S of harmonic k + 1 in window w; NaN where
    // the window's block ends before it.
    std::vector<double> power, ratio;
    int windows() const { return int(t.size()); }
};

// Reads report lines in harmtrace's layout until the end of input; a line of harmonic 1 opens a
// window. False, with the reason in `why`, on any other line or a harmonic out of order.
// Typical use: record_reader in; open_reader(in, fd); read_report(in, table, why);
bool read_report(record_reader& in, report_table& r, std::string& why);
