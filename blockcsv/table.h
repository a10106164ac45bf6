#pragma once
// The block table: harmtrace's harmonic blocks as comma-separated rows.
//
// Input, a line at a time: a line in the exact layout of the report line is read by its columns
// (report_columns.h); any other line is a free-form record of one integer and seven reals, which
// may go on over the following lines. Ten lines make a block. A report line of harmonic 1 also
// opens a new block and ends the one before it early, so that a window with fewer than ten
// harmonics does not push its neighbour's lines into its row. Free-form lines are grouped by
// counting alone. A block cut off by the end of input is dropped; a last block of report lines
// as long as the short block before it is complete (harmtrace's blocks of one run are all alike).
//
// Output, one line per row, each opening with a blank and ending with a comma:
//
//   row     items
//   header  "," then the 4th real (bin frequency) of lines 1..10 of the first block, each
//           followed by ","; written just before the first data row
//   data    the 1st real (window start time) of the block's 2nd line (of its only line in a
//           block of one), ",", then the 5th real (spectral power) of lines 1..10, each followed
//           by ","
//
// With `fundamental` (blockcsv --fundamental) every row ends with one more item: "fundamental"
// in the header, the frequency of the block's first line (harmonic 1: the window's fundamental,
// which harmtrace --follow gives window by window) in a data row.
//
// Line r of a block fills column r; the columns after a short block's last line are empty
// items. Reals are written in the shortest form that reads back to the same double, non-finite
// ones as NaN, Infinity and -Infinity:
//
//    ,440.00190616,880.00381232,1320.00571848,...,4400.01906159,
//    0,908609.47,2.7791701e-05,7.1887773e-06,...,1.3700401e-06,

#include "output.h"
#include "record_reader.h"
#include "report_table.h"

constexpr int block_lines = 10;
// The statement numbers that blockcsv's messages name: the block read, the header row's write
// and a data row's write.
constexpr int read_statement = 6;
constexpr int header_statement = 8;
constexpr int row_statement = 9;
constexpr int max_blocks = 999999;

enum class table_end {
    input_ended,   // the end of input: any unfinished block was dropped
    block_limit,   // max_blocks rows written; nothing after the last block was read
    bad_input,     // a free-form value is not the number asked for, or the read failed
    write_failed,  // out could not be written
};

struct table_result {
    table_end end = table_end::input_ended;
    long rows = 0;                       // data rows written
    read_status read = read_status::ok;  // for bad_input: bad_value or io_error
    int statement = 0;                   // for write_failed: header_statement or row_statement
};

// Converts the blocks from in to rows in out, and flushes out before it returns, also after a
// bad input (the rows before it stay written).
// Typical use:
//     table_result r = write_table(in, *out);
//     if (r.end == table_end::bad_input)
//         write_error(describe_read_error(in, r.read, "blockcsv", read_statement));
table_result write_table(record_reader& in, output& out, bool fundamental = false);

// The same table of a report held in memory (harmplot's): its windows are its blocks, each with
// the harmonics that have a frequency. False when out could not be written.
// Typical use: write_report_table(table, out, true);
bool write_report_table(const report_table& report, output& out, bool fundamental = false);
