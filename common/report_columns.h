#pragma once
// The column reading of harmtrace's report line "(i4,3f10.6,f16.8,2e18.8,f12.6)".
//
// Free-form reading splits a line at blanks, so it cannot read a report line in which a value
// fills its field and touches the one before it (a time of 100 s or more, a ratio of 10000 or
// more), nor a field of asterisks. A line in the exact layout (report_layout.h) is read by its
// columns instead, k and the seven reals v[0..6] in field order.
//
// k is blanks, then an optional sign and digits. Each real is blanks, then one run without
// blanks: a number as the free-form reader takes it (so also 0.15000000-119, the three-digit
// exponent written without the E, and NaN, Inf, Infinity), or asterisks only, read as NaN.
// A field of blanks only, a blank inside a field or a line of any other length is not the
// layout. Where no two fields touch, the free-form reading gives the same values.

#include <cstdint>
#include <string_view>

#include "report_layout.h"

// Reads a line (without its line end) in the report layout into k and v[0..6]; false when the
// line has any other layout (k and v may then hold anything).
// Typical use: if (read_report_columns(line, k, v)) skip_line(in); else read_record(in, ...);
bool read_report_columns(std::string_view line, std::int32_t& k, double v[report_reals]);
