#pragma once
// The report line "(i4,3f10.6,f16.8,2e18.8,f12.6)" that harmtrace writes once per harmonic found
// and blockcsv reads back: eight right-justified fields, 98 columns, no separator of their own.
//
//   columns  1-4   5-14     15-24     25-34   35-50      51-68   69-86       87-98
//   field    k     t_first  t_middle  t_last  frequency  power   excess_sum  ratio
//   form     I4    F10.6    F10.6     F10.6   F16.8      E18.8   E18.8       F12.6
//
// t_first, t_middle and t_last are the times of the window's grid points 1, 4096 and 8192;
// frequency and power those of the harmonic's bin; excess_sum the excess of that bin and its two
// neighbours over the local floor; ratio is power / excess_sum. A value too wide for its field
// fills it with asterisks, and a value that fills its field touches the field before it.
//
// This table is the one place that says where a field lies and how it is written.
// Typical use: line.substr(report_fields[power].first, report_fields[power].width)

enum class field_form {
    integer,   // Iw: decimal digits
    fixed,     // Fw.d: d decimals
    exponent,  // Ew.d: 0.d1...dd, then E and a signed two-digit exponent
};

struct report_field {
    int first;  // first column, 0-based
    int width;
    field_form form;
    int digits;  // decimals (fixed) or significant digits (exponent)
};

// The fields in line order. The seven after k are reals; a line's reals are kept in that order
// as v[0..6], so field f is v[f - 1].
enum report_field_name {
    harmonic,
    t_first,
    t_middle,
    t_last,
    frequency,
    power,
    excess_sum,
    ratio,
    report_field_count
};
constexpr int report_reals = report_field_count - 1;

inline constexpr report_field report_fields[report_field_count] = {
    {0, 4, field_form::integer, 0},    {4, 10, field_form::fixed, 6},
    {14, 10, field_form::fixed, 6},    {24, 10, field_form::fixed, 6},
    {34, 16, field_form::fixed, 8},    {50, 18, field_form::exponent, 8},
    {68, 18, field_form::exponent, 8}, {86, 12, field_form::fixed, 6},
};

// Length of one report line without its line end.
constexpr int report_line_width = report_fields[ratio].first + report_fields[ratio].width;

// Each field starts where the one before it ends.
static_assert([] {
    for (int f = 1; f < report_field_count; ++f)
        if (report_fields[f].first != report_fields[f - 1].first + report_fields[f - 1].width)
            return false;
    return report_fields[0].first == 0 && report_line_width == 98;
}());
