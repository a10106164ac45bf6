#pragma once
// harmtrace's report read back from its text as a table (report_table.h).

#include <string>

#include "record_reader.h"
#include "report_table.h"

// Reads report lines in harmtrace's layout until the end of input; a line of harmonic 1 opens a
// window. False, with the reason in `why`, on any other line or a harmonic out of order.
// Typical use: record_reader in; open_reader(in, fd); read_report(in, table, why);
bool read_report(record_reader& in, report_table& r, std::string& why);
