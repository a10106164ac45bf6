#pragma once
// Report line writer: the fixed-width form "(i4,3f10.6,f16.8,2e18.8,f12.6)".
//
// Every field is right-justified in exactly w columns with blanks on the left, and is filled
// with asterisks when the value does not fit. The writers store w characters at out and no
// terminator. Reals are rounded from their exact binary value to nearest, ties to even, and a
// negative value keeps its minus sign even when all its written digits are zero (-0.000000).
// A non-finite real is written as NaN, Infinity or -Infinity, shortened to Inf and -Inf when
// the field is narrower than the long word.
//
//   form   example (w = 18, d = 8 for E; w = 10, d = 6 for F)
//   Iw     "   7"
//   Fw.d   "  0.250000"   "-10.500000"   " -0.000000"
//   Ew.d   "    0.12345678E+03"   "   -0.15000000-119" (a three-digit exponent drops the E)

#include "report_layout.h"

// Iw: decimal digits, a minus sign when negative.
// Typical use: format_i(line, 4, k);
void format_i(char* out, int w, long long v);

// Fw.d: d decimals (0 <= d), at least one digit before the point. With d = 0 the point is
// still written ("3.").
// Typical use: format_f(line + 4, 10, 6, t);
void format_f(char* out, int w, int d, double v);

// Ew.d: d significant digits (d >= 1) as 0.d1d2...dd with d1 non-zero (all zeros for zero),
// then E, the exponent's sign and two digits; exponents of three digits are written as sign and
// three digits without the E.
// Typical use: format_e(line + 50, 18, 8, power);
void format_e(char* out, int w, int d, double v);

// One report line for harmonic k and the reals v in the order of report_fields (t_first to
// ratio), each in its field's form, then '\n'. Writes report_line_width + 1 characters at out and
// returns that count.
// Typical use: p += format_report_line(p, k, v);
int format_report_line(char* out, int k, const double v[report_reals]);

// The reals of a report line of harmonic k as a reader of the line gets them back
// (report_columns.h): each rounded to the digits its field shows, NaN where it fills the field
// with asterisks. What harmplot measures in memory is what the report says to the last digit.
// Typical use: as_reported(k, v);
void as_reported(int k, double v[report_reals]);
